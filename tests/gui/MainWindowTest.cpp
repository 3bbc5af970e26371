// The main window over a real host: layout, login, command line, runs,
// closing, and the program's exit codes.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <filesystem>
#include <sstream>

#include "actions/FileActions.h"
#include "config/ConfigFile.h"
#include "configtool/CfgUnit.h"
#include "mainwindow/MainUnit.h"
#include "server/Session.h"
#include "server/WcApi.h"
#include "settings/IniFile.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "windows/AboutUnit.h"
#include "windows/AppSetup.h"
#include "windows/Dialogs.h"
#include "windows/Gauge.h"
#include "windows/PasswordDialog.h"
#include "windows/ProgressUnit.h"
#include "windows/TextBytes.h"
#include "windows/oxForm.h"

using namespace qm::gui;
using qmtest::Exists;
using qmtest::Q;
using qmtest::ReadFile;
using qmtest::SavePicture;
using qmtest::WriteFile;

namespace {

const QColor kGray(0x80, 0x80, 0x80);
const QColor kBlue(0, 0, 0xFF);

QColor TextColor(const QWidget* widget) {
  return widget->palette().color(QPalette::WindowText);
}

qm::AreaConfigEntry NaEntry(int area, const std::string& name) {
  qm::AreaConfigEntry entry;
  entry.AreaNum = area;
  entry.AreaName = name;
  entry.FileAction = "NA";
  entry.FileActionParam = "NA";
  entry.FileActionSpec = "*.*";
  entry.DescAction = "NA";
  entry.Path = "/nowhere/";
  return entry;
}

void WriteConfig(const std::string& path,
                 const std::vector<qm::AreaConfigEntry>& entries) {
  std::string message;
  if (!qm::WriteConfigFile(path, entries, message))
    throw std::runtime_error(message);
}

bool Shown(const QString& text) {
  for (const auto& box : Seam().shown)
    if (box.text == text) return true;
  return false;
}

// A program directory with the ZIP library and a host in "host".
struct Program {
  qmtest::TempDir dir;
  std::string programDir = dir.path() + "/";
  std::vector<int> endCodes;
  bool realEnd = false;            // also end the running message loop
  std::ostream* report = nullptr;  // an unattended run's summary
  QPointer<QWidget> splash;
  std::unique_ptr<TMainForm> form;

  explicit Program(const std::string& password = "", bool withHost = true) {
    std::filesystem::copy_file(qmtest::BinDir() + "/libdunzip.so",
                               programDir + "libdunzip.so");
    if (withHost)
      qmtest::MakeHost(programDir + "host",
                       {{1, "Uploads", "uploads"}, {2, "Games", "games"}},
                       password);
  }
  ~Program() {
    form.reset();
    qm::ServerLogout();
    qm::TheSession() = qm::Session{};
  }

  TMainForm& Start(const QStringList& arguments = {},
                   const std::string& exeName = "quillmar") {
    qm::TheSession() = qm::Session{};
    MainFormOptions options;
    options.programDir = programDir;
    options.exeName = exeName;
    options.arguments = arguments;
    options.report = report;
    splash = new QWidget;
    options.splash = splash;
    options.endApplication = [this](int code) {
      endCodes.push_back(code);
      if (realEnd) QCoreApplication::exit(code);
    };
    form = std::make_unique<TMainForm>(std::move(options));
    return *form;
  }
  std::string Settings() const { return programDir + "quillmar.ini"; }
  // Settings present and "areas.cfg" with an NA entry for each area.
  std::string TwoAreaConfig() const {
    WriteFile(Settings(), "[General]\r\n");
    const std::string cfg = programDir + "areas.cfg";
    WriteConfig(cfg, {NaEntry(1, "Uploads"), NaEntry(2, "Games")});
    return cfg;
  }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qmtest::SetUpGuiApplication(); }
  void init() { qmtest::ResetDialogSeam(); }

  void layout() {
    Program program;
    WriteFile(program.Settings(), "[General]\r\n");
    TMainForm& form = program.Start();
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Quillmar"));
    QCOMPARE(form.size(), QSize(286, 290));
    QTRY_COMPARE(form.pos(), QPoint(15, 15));

    // The specified places: in the client area below the caption strip, or
    // in the progress box; sizes where specified (-1: any).
    const int top = form.oxForm1->CaptionBar()->height();
    QVERIFY(top > 0);
    auto at = [top](int left, int y) { return QPoint(left, y + top); };
    struct Placed {
      const char* name;
      QPoint pos;
      QSize size;
    };
    const Placed placed[] = {
        {"pan_FileArea", at(56, 13), {209, 23}},
        {"pan_Action", at(56, 40), {209, 23}},
        {"pan_Spec", at(56, 68), {209, 23}},
        {"gb_Progress", at(16, 104), {249, 89}},
        {"b_Config", at(16, 208), {75, 25}},
        {"b_Cancel", at(103, 208), {75, 25}},
        {"b_RunCfg", at(190, 208), {75, 25}},
        {"memo_TestRun", at(280, 24), {305, 345}},
        {"L_ConfigFile", at(6, 240), {179, -1}},
        {"cb_TestRun", at(192, 240), {}},
        {"l_TestRunOutput", at(280, 8), {}},
        {"Gauge1", {8, 22}, {233, 21}},
        {"l_Add", {24, 61}, {}},
        {"l_Delete", {95, 61}, {}},
        {"l_Move", {185, 61}, {}},
        {"L_Extracting", {35, 47}, {}},
    };
    for (const Placed& p : placed) {
      auto* widget = form.findChild<QWidget*>(QLatin1String(p.name));
      QVERIFY2(widget, p.name);
      QCOMPARE(widget->pos(), p.pos);
      if (p.size.width() >= 0) QCOMPARE(widget->width(), p.size.width());
      if (p.size.height() >= 0) QCOMPARE(widget->height(), p.size.height());
    }
    for (QWidget* inBox :
         std::initializer_list<QWidget*>{form.Gauge1, form.l_Add, form.l_Delete,
                                         form.l_Move, form.L_Extracting})
      QCOMPARE(inBox->parentWidget(), form.gb_Progress);

    // Captions, colours and what starts hidden.
    QCOMPARE(form.gb_Progress->title(), QStringLiteral("Progress"));
    QCOMPARE(form.b_Config->text(), QStringLiteral("Config..."));
    QCOMPARE(form.b_Cancel->text(), QStringLiteral("&Quit"));
    QCOMPARE(form.b_RunCfg->text(), QStringLiteral("Run..."));
    QCOMPARE(form.cb_TestRun->text(), QStringLiteral("Test Run"));
    QCOMPARE(form.l_TestRunOutput->text(), QStringLiteral("Test Run Output:"));
    QCOMPARE(form.L_Extracting->text(),
             QStringLiteral("Standby: Extracting File Description...."));
    QCOMPARE(TextColor(form.L_Extracting), kBlue);
    QVERIFY(form.L_Extracting->isHidden());
    QVERIFY(form.memo_TestRun->isHidden());
    QVERIFY(form.l_TestRunOutput->isHidden());
    QCOMPARE(form.memo_TestRun->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(form.Gauge1->Text(), QStringLiteral("0%"));
    for (QLabel* label : {form.l_Add, form.l_Delete, form.l_Move})
      QCOMPARE(TextColor(label), kGray);
    QCOMPARE(form.l_Add->text(), QStringLiteral("ADD"));
    QCOMPARE(form.l_Delete->text(), QStringLiteral("DELETE"));
    QCOMPARE(form.l_Move->text(), QStringLiteral("MOVE"));

    // Every caption fits its control and nothing overlaps.
    for (QLabel* label : {form.Label1, form.Label4, form.Label5}) {
      QVERIFY2(label->geometry().right() < 56, qPrintable(label->text()));
      QVERIFY(label->fontMetrics().horizontalAdvance(label->text()) <=
              label->width());
    }
    QCOMPARE(form.Label1->text(), QStringLiteral("File Area:"));
    QCOMPARE(form.Label4->text(), QStringLiteral("Action:"));
    QCOMPARE(form.Label5->text(), QStringLiteral("Spec:"));
    QVERIFY(form.l_Add->geometry().right() < form.l_Delete->x());
    QVERIFY(form.l_Delete->geometry().right() < form.l_Move->x());
    QVERIFY(form.l_Move->geometry().right() < form.gb_Progress->width());
    QVERIFY(form.L_Extracting->geometry().right() < form.gb_Progress->width());
    for (QPushButton* button : {form.b_Config, form.b_Cancel, form.b_RunCfg})
      QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) + 16 <=
              button->width());
    QVERIFY(form.cb_TestRun->geometry().right() < form.width());
    QVERIFY(form.cb_TestRun->width() >= form.cb_TestRun->sizeHint().width());
    QVERIFY(form.b_Cancel->geometry().bottom() < form.height());
    QVERIFY(form.cb_TestRun->geometry().bottom() < form.height());

    // Timers: all disabled, with their intervals.
    const std::pair<const char*, int> timers[] = {
        {"FailedLogin", 500}, {"AutoRun", 1000}, {"Quit", 1000}};
    for (const auto& [name, interval] : timers) {
      auto* timer = form.findChild<QTimer*>(QLatin1String(name));
      QVERIFY2(timer, name);
      QCOMPARE(timer->interval(), interval);
      QVERIFY(!timer->isActive());
    }
    QVERIFY(form.oxForm1->CustomButton(QStringLiteral("About")));
    QVERIFY(form.oxForm1->CustomButton(QStringLiteral("Setup")));
    QVERIFY(form.UnzipFile1);
    QCOMPARE(form.Context().unzip, form.UnzipFile1.get());

    QVERIFY(SavePicture(&form, QStringLiteral("MainForm")));
    QTest::mouseClick(form.cb_TestRun, Qt::LeftButton);
    form.memo_TestRun->appendPlainText(QStringLiteral("ERR: example line"));
    QVERIFY(SavePicture(&form, QStringLiteral("MainFormTestRun")));
  }

  void testRunToggle() {
    Program program;
    WriteFile(program.Settings(), "[General]\r\n");
    TMainForm& form = program.Start();
    form.show();
    form.memo_TestRun->setPlainText(QStringLiteral("kept text"));
    QVERIFY(!form.Context().view.IsTestRun());

    QTest::mouseClick(form.cb_TestRun, Qt::LeftButton);
    QCOMPARE(form.size(), QSize(600, 400));
    QVERIFY(form.memo_TestRun->isVisible());
    QVERIFY(form.l_TestRunOutput->isVisible());
    QVERIFY(form.Context().view.IsTestRun());

    QTest::mouseClick(form.cb_TestRun, Qt::LeftButton);
    QCOMPARE(form.size(), QSize(286, 290));
    QVERIFY(!form.memo_TestRun->isVisible());
    QVERIFY(!form.l_TestRunOutput->isVisible());
    QCOMPARE(form.memo_TestRun->toPlainText(), QStringLiteral("kept text"));
    QVERIFY(!form.Context().view.IsTestRun());
  }

  void loginEmptyPassword() {
    Program program;
    TMainForm& form = program.Start();
    QVERIFY(qm::TheSession().ServerLoggedIn);
    QVERIFY(program.splash.isNull());  // released at the end of the login
    QVERIFY(Seam().shown.empty());
    QVERIFY(!form.FailedLogin->isActive());
    QCOMPARE(form.State().homeDir, program.programDir + "host/");
    TFileArea area{};  // logged in to the program directory's own host
    QVERIFY(MwGetFileAreas(2, 1, &area));
    QCOMPARE(std::string(area.Name), std::string("Games"));
  }

  void loginWrongThenCorrectPassword() {
    Program program("secret");
    Seam().passwords = {QStringLiteral("wrong"), QStringLiteral("secret")};
    TMainForm& form = program.Start();
    QVERIFY(qm::TheSession().ServerLoggedIn);
    QVERIFY(Seam().passwords.empty());  // prompted twice
    QCOMPARE(Seam().shown.size(), size_t{1});
    QCOMPARE(Seam().shown[0].text,
             QStringLiteral("Incorrect Password: for login to Wildcat Server "
                            "as a wcConfig Utility."));
    QVERIFY(!form.FailedLogin->isActive());
    QVERIFY(program.splash.isNull());
  }

  void loginCancelledWritesLoginErr() {
    Program program("secret");
    Seam().passwords = {std::nullopt, std::nullopt};
    TMainForm& form = program.Start();
    QVERIFY(!qm::TheSession().ServerLoggedIn);
    QVERIFY(program.splash.isNull());
    QVERIFY(form.FailedLogin->isActive());
    QCOMPARE(form.FailedLogin->interval(), 500);
    WriteFile(program.Settings(), "[General]\r\n");
    form.show();

    QTRY_COMPARE_WITH_TIMEOUT(program.endCodes, std::vector<int>{2}, 3000);
    QVERIFY(!form.FailedLogin->isActive());
    const std::string log = ReadFile(program.programDir + "Login.err");
    QVERIFY(log.starts_with("Created on: "));
    QVERIFY(log.ends_with("\r\nFailed to Login to Wildcat Server!\r\n"));
  }

  void loginWithoutHost() {
    Program program("", false);
    TMainForm& form = program.Start();
    QVERIFY(form.FailedLogin->isActive());
    QCOMPARE(Seam().shown.size(), size_t{2});
    QCOMPARE(Seam().shown[0].text,
             QStringLiteral("Failed to create Server Context."));
    QCOMPARE(Seam().shown[1].kind, Box::Warning);
  }

  void unattendedLoginNeverPrompts() {
    Program program("secret");
    WriteConfig(program.programDir + "job.cfg", {NaEntry(1, "Uploads")});
    Seam().passwords = {QStringLiteral("secret")};
    TMainForm& form = program.Start({QStringLiteral("job.cfg")});
    QVERIFY(!qm::TheSession().ServerLoggedIn);
    QCOMPARE(Seam().passwords.size(), size_t{1});  // never asked
    QVERIFY(Seam().shown.empty());
    form.show();
    QVERIFY(form.AutoRun->isActive());
    // The failed login ends the program before the run starts.
    QTRY_COMPARE_WITH_TIMEOUT(program.endCodes, std::vector<int>{2}, 3000);
    QVERIFY(Exists(program.programDir + "Login.err"));
  }

  void missingCommandLineFile() {
    Program program;
    TMainForm& form = program.Start({QStringLiteral("nightly.cfg")});
    QVERIFY(qm::TheSession().ServerLoggedIn);
    form.show();
    // A bare name is looked up in the program directory.
    const QString message =
        Q("File: " + program.programDir + "nightly.cfg not found.");
    QVERIFY(Shown(message));
    QVERIFY(!form.AutoRun->isActive());
    QTRY_COMPARE(program.endCodes, std::vector<int>{2});
    // The unattended job's log beside the missing file says why.
    QVERIFY(ReadFile(program.programDir + "nightly.err")
                .ends_with(message.toStdString() + "\r\n"));
  }

  void emptyCommandLineArgument() {
    Program program;
    TMainForm& form = program.Start({QString()});
    QVERIFY(qm::TheSession().ServerLoggedIn);  // no prompt: unattended
    form.show();
    // It names no file: reported like a missing one, and the program ends.
    QVERIFY(Shown(Q("File: " + program.programDir + " not found.")));
    QVERIFY(!form.AutoRun->isActive());
    QTRY_COMPARE(program.endCodes, std::vector<int>{2});
  }

  void unattendedRun() {
    Program program;
    WriteConfig(program.programDir + "job.cfg",
                {NaEntry(1, "Uploads"), NaEntry(2, "Games")});
    TMainForm& form = program.Start({QStringLiteral("JOB.cfg")});
    form.show();
    QVERIFY(Seam().shown.empty());  // no setup dialog, no box
    QVERIFY(form.AutoRun->isActive());
    QCOMPARE(form.State().commandLineFile, program.programDir + "job.cfg");

    QTRY_VERIFY_WITH_TIMEOUT(form.Quit->isActive(), 3000);
    QVERIFY(!form.AutoRun->isActive());
    QVERIFY(form.State().autoRun);
    QCOMPARE(form.b_Cancel->text(), QStringLiteral("&Cancel"));
    QVERIFY(form.b_Config->isHidden());
    QVERIFY(form.b_RunCfg->isHidden());
    QVERIFY(form.cb_TestRun->isHidden());
    QCOMPARE(form.L_ConfigFile->text(), QStringLiteral("job.cfg"));
    QCOMPARE(form.Gauge1->MaxValue(), 2);  // both records were read
    QCOMPARE(form.Gauge1->Progress(), 0);

    // The Quit timer closes the window, which logs out and saves its place.
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 3000);
    QVERIFY(program.endCodes.empty());
    qmtest::HostLogin again(program.programDir + "host");
    QVERIFY(again.ok);
    QVERIFY(Exists(program.Settings()));
    QCOMPARE(
        qm::IniFile(program.Settings()).ReadInteger("Main Window", "Top", -1),
        15);
  }

  // Cancelled from its window, an unattended run says where in its summary
  // and ends with its own exit code.
  void unattendedRunCancelled() {
    Program program;
    const std::string cfg = program.programDir + "job.cfg";
    WriteConfig(cfg, {NaEntry(1, "Uploads"), NaEntry(2, "Games"),
                      NaEntry(1, "Uploads")});
    std::ostringstream report;
    program.report = &report;
    TMainForm& form = program.Start({QStringLiteral("job.cfg")});
    QTimer operatorPresses;  // once the second entry is shown
    operatorPresses.setInterval(0);
    connect(&operatorPresses, &QTimer::timeout, [&] {
      if (form.Gauge1->Progress() != 2) return;
      operatorPresses.stop();
      QTest::mouseClick(form.b_Cancel, Qt::LeftButton);
    });
    operatorPresses.start();
    form.show();
    QTRY_VERIFY_WITH_TIMEOUT(form.Quit->isActive(), 3000);
    QCOMPARE(report.str(),
             "Files added: 0, deleted: 0, moved: 0, copied: 0; listings "
             "written: 0; problems logged: 0; cancelled in entry 2 of 3 of " +
                 cfg + "\n");
    QCOMPARE(form.RunExitCode(), 4);
    QCOMPARE(form.pan_FileArea->text(), QStringLiteral("Games"));
  }

  void cancelAndQuitButtons() {
    Program program;
    WriteFile(program.Settings(), "[General]\r\n");
    TMainForm& form = program.Start();
    form.show();
    form.Context().view.SetBusyCursor(true);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    // "&Cancel" asks the run to stop; the window stays.
    form.b_Cancel->setText(QStringLiteral("&Cancel"));
    QTest::mouseClick(form.b_Cancel, Qt::LeftButton);
    QVERIFY(form.State().cancelRequest);
    QVERIFY(form.isVisible());
    QVERIFY(!QApplication::overrideCursor());

    // "&Quit" closes the window.
    form.b_Cancel->setText(QStringLiteral("&Quit"));
    form.move(70, 80);
    QTest::mouseClick(form.b_Cancel, Qt::LeftButton);
    QVERIFY(!form.isVisible());
    const qm::IniFile settings(program.Settings());
    QCOMPARE(settings.ReadInteger("Main Window", "Top", -1), 80);
    QCOMPARE(settings.ReadInteger("Main Window", "Left", -1), 70);
    qmtest::HostLogin again(program.programDir + "host");
    QVERIFY(again.ok);  // the session was released
  }

  void settingsOnShowAndClose() {
    Program program;
    WriteFile(program.Settings(),
              "[Main Window]\r\nTop=33\r\nLeft=-4\r\n"
              "[General]\r\nwcHomeDir=/srv/wc/\r\n");
    TMainForm& form = program.Start();
    form.show();
    QTRY_COMPARE(form.pos(), QPoint(-4, 33));
    QCOMPARE(form.State().homeDir, std::string("/srv/wc/"));
    QCOMPARE(form.size(), QSize(286, 290));
    QVERIFY(Seam().shown.empty());

    // Maximized: the stored place stays as it was.
    form.showMaximized();
    form.close();
    const qm::IniFile settings(program.Settings());
    QCOMPARE(settings.ReadInteger("Main Window", "Top", 0), 33);
    QCOMPARE(settings.ReadInteger("Main Window", "Left", 0), -4);
  }

  // The stored place is the frame's: starts and closes leave it where it
  // was, negative values included, and a title bar is never off-screen.
  void placeKeptOverStartsAndCloses() {
    Program program;
    // Where the frame is shown, and what is stored when the window closes.
    const auto startAndClose = [&program] {
      TMainForm& form = program.Start();
      form.show();
      QCoreApplication::processEvents();
      const QPoint shown = form.frameGeometry().topLeft();
      const bool belowBar = form.geometry().top() > shown.y();
      form.close();
      const qm::IniFile settings(program.Settings());
      const QPoint stored(settings.ReadInteger("Main Window", "Left", 9999),
                          settings.ReadInteger("Main Window", "Top", 9999));
      return belowBar ? std::pair{shown, stored}
                      : std::pair{QPoint(), QPoint()};
    };
    const auto place = [](int left, int top) {
      return std::pair{QPoint(left, top), QPoint(left, top)};
    };
    WriteFile(program.Settings(), "[Main Window]\r\nTop=300\r\nLeft=-4\r\n");
    for (int start = 0; start < 3; ++start)
      QCOMPARE(startAndClose(), place(-4, 300));
    WriteFile(program.Settings(), "[General]\r\n");
    QCOMPARE(startAndClose(), place(15, 15));
    // A bar partly above the screen is still in reach.
    WriteFile(program.Settings(), "[Main Window]\r\nTop=-10\r\nLeft=-4\r\n");
    QCOMPARE(startAndClose(), place(-4, -10));
    // With only a few rows of it on the screen it is not: pulled onto it.
    const int bar = program.form->oxForm1->CaptionBar()->height() +
                    program.form->geometry().top() -
                    program.form->frameGeometry().top();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    WriteFile(program.Settings(),
              "[Main Window]\r\nTop=" + std::to_string(screen.top() + 3 - bar) +
                  "\r\nLeft=20\r\n");
    QCOMPARE(startAndClose(), place(20, screen.top()));
    WriteFile(program.Settings(),
              "[Main Window]\r\nTop=" + std::to_string(screen.bottom()) +
                  "\r\nLeft=" + std::to_string(screen.right() + 50) + "\r\n");
    const auto [shown, stored] = startAndClose();
    QCOMPARE(shown, stored);
    QVERIFY(screen.contains(shown + QPoint(10, 1)));  // the bar can be grabbed
    QCOMPARE(startAndClose(), place(shown.x(), shown.y()));
  }

  // Before the main window shows, a start-up box opens in the middle of the
  // screen, not at the hidden window's corner.
  void startupBoxesCentred() {
    Program program("secret");
    Seam().testMode = false;
    QStringList texts;
    bool centred = true;
    int prompts = 0;
    QTimer operatorAnswers;
    operatorAnswers.setInterval(20);
    connect(&operatorAnswers, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        texts << box->text();
        centred = centred && qmtest::CentredOnScreen(box);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
      } else if (auto* prompt = qobject_cast<TPasswordDialog*>(modal)) {
        QTest::keyClicks(prompt->Edit, prompts++ == 0 ? "wrong" : "secret");
        QTest::mouseClick(prompt->b_OK, Qt::LeftButton);
      }
    });
    operatorAnswers.start();
    program.Start();
    operatorAnswers.stop();
    QVERIFY(qm::TheSession().ServerLoggedIn);
    QCOMPARE(prompts, 2);
    QCOMPARE(texts, QStringList({"Incorrect Password: for login to Wildcat "
                                 "Server as a wcConfig Utility."}));
    QVERIFY(centred);
  }

  void settingsNameFromExecutable() {
    Program program;
    TMainForm& form = program.Start({}, "tool.second.exe");
    form.show();
    QCOMPARE(form.SettingsPath(), program.programDir + "tool.ini");
  }

  void settingsWriteFailure() {
    Program program;
    // A directory in the settings file's place cannot be written.
    qmtest::MakeDirs(program.Settings());
    TMainForm& form = program.Start();
    form.show();
    form.close();
    QVERIFY(!form.isVisible());
    QVERIFY(!Seam().shown.empty());
    QCOMPARE(Seam().shown.back().kind, Box::Error);
    QVERIFY(Seam().shown.back().text.startsWith(
        QStringLiteral("Unable to write to")));
  }

  void firstStartShowsSetup() {
    std::vector<QString> opened;
    Seam().modalHook = [&opened](QDialog* dialog) {
      opened.push_back(QString::fromLatin1(dialog->metaObject()->className()));
      return int(QDialog::Rejected);
    };
    {
      Program program;
      program.Start().show();
      QCOMPARE(opened.size(), size_t{1});
      QCOMPARE(opened[0], QStringLiteral("qm::gui::TSetupDlg"));
    }
    {
      Program program;  // settings present: no setup
      WriteFile(program.Settings(), "[General]\r\n");
      program.Start().show();
      QCOMPARE(opened.size(), size_t{1});
    }
    {
      Program program;  // unattended: the setup never waits
      WriteConfig(program.programDir + "job.cfg", {NaEntry(1, "Uploads")});
      program.Start({QStringLiteral("job.cfg")}).show();
      QCOMPARE(opened.size(), size_t{1});
    }
  }

  // As main() starts the program: show, then the message loop. After a
  // failed first-start login no setup waits, and the end comes about 500 ms
  // later even with a modal window open (About, opened through its button
  // in a real modal loop). A watchdog breaks a hang: it closes what is
  // modal and ends the loop with 99.
  void failedFirstStartLoginEndsTheProgram() {
    Program program("secret");
    program.realEnd = true;
    Seam().passwords = {std::nullopt, std::nullopt};
    std::vector<QString> opened;
    Seam().modalHook = [&opened](QDialog* dialog) {
      opened.push_back(QString::fromLatin1(dialog->metaObject()->className()));
      return dialog->exec();
    };
    QElapsedTimer clock;
    TMainForm& form = program.Start();
    clock.start();
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [] {
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
      QCoreApplication::exit(99);
    });
    watchdog.start(3000);
    QTimer::singleShot(0, &form, [&form] {
      form.oxForm1->CustomButton(QStringLiteral("About"))->click();
    });
    form.show();
    QCOMPARE(QApplication::exec(), 2);
    QVERIFY2(clock.elapsed() >= 450 && clock.elapsed() < 3000,
             QByteArray::number(clock.elapsed()));
    QCOMPARE(opened,
             std::vector<QString>{QStringLiteral("qm::gui::TAboutForm")});
    QVERIFY(!Exists(program.Settings()));
    QVERIFY(ReadFile(program.programDir + "Login.err")
                .ends_with("\r\nFailed to Login to Wildcat Server!\r\n"));
  }

  void captionButtonsAndHelp() {
    Program program;
    WriteFile(program.Settings(), "[General]\r\n");
    TMainForm& form = program.Start();
    form.show();
    std::vector<QString> opened;
    Seam().modalHook = [&opened](QDialog* dialog) {
      opened.push_back(QString::fromLatin1(dialog->metaObject()->className()));
      return int(QDialog::Rejected);
    };
    form.oxForm1->CustomButton(QStringLiteral("About"))->click();
    form.oxForm1->CustomButton(QStringLiteral("Setup"))->click();
    form.oxForm1ButtonClick(QStringLiteral("about"));  // exact match only
    QTest::mouseClick(form.b_Config, Qt::LeftButton);
    const std::vector<QString> expected{QStringLiteral("qm::gui::TAboutForm"),
                                        QStringLiteral("qm::gui::TSetupDlg"),
                                        QStringLiteral("qm::gui::TCfgForm")};
    QCOMPARE(opened, expected);

    Seam().shellHook = [](const QString&) { return 33; };
    form.oxForm1HelpSelect();
    QCOMPARE(Seam().opened.back(), Q(program.programDir + "Help/Manual.htm"));
    QVERIFY(Seam().shown.empty());
    Seam().shellHook = [](const QString&) { return 32; };
    form.oxForm1HelpSelect();
    QVERIFY(Shown(QLatin1String(kBrowserFailed)));
  }

  void runFromButton() {
    Program program;
    const std::string cfg = program.TwoAreaConfig();
    TMainForm& form = program.Start();
    form.show();
    form.memo_TestRun->setPlainText(QStringLiteral("old output"));

    // A cancelled dialog changes nothing.
    qm::AllFilesListed(form.State()).insert("all.txt");
    QTest::mouseClick(form.b_RunCfg, Qt::LeftButton);
    QCOMPARE(form.memo_TestRun->toPlainText(), QStringLiteral("old output"));
    QVERIFY(qm::AllFilesListed(form.State()).empty());

    // During the run "Run..." and "Config..." are disabled. The manual's
    // picture of a running window is taken then, half way, showing what an
    // add with an archive shows.
    bool sawRun = false, runEnabled = true, configEnabled = true;
    bool pictured = false;
    QTimer halfWay;
    halfWay.setInterval(0);
    connect(&halfWay, &QTimer::timeout, [&] {
      if (form.Gauge1->Progress() != 1) return;
      halfWay.stop();
      sawRun = form.Running();
      runEnabled = form.b_RunCfg->isEnabled();
      configEnabled = form.b_Config->isEnabled();
      qm::RunView& view = form.Context().view;
      view.SetPanels("Uploads", "Add", "*.zip");
      view.LightActionLabel(qm::ActionLabel::Add);
      view.SetExtractingVisible(true);
      pictured = SavePicture(&form, QStringLiteral("MainFormRunning"));
      view.SetExtractingVisible(false);
    });
    halfWay.start();
    Seam().fileNames = {Q(cfg)};
    QTest::mouseClick(form.b_RunCfg, Qt::LeftButton);
    QVERIFY(sawRun);
    QVERIFY(!runEnabled);
    QVERIFY(!configEnabled);
    QVERIFY(pictured);
    QVERIFY(form.memo_TestRun->toPlainText().isEmpty());
    QCOMPARE(form.Gauge1->MaxValue(), 2);
    QVERIFY(form.b_RunCfg->isEnabled());
    QVERIFY(form.b_Config->isEnabled());
    QVERIFY(form.pan_FileArea->text().isEmpty());

    // A file without the marker is refused in a warning box.
    const std::string bogus = program.programDir + "bogus.cfg";
    WriteFile(bogus, "not a configuration\r\n");
    Seam().fileNames = {Q(bogus)};
    form.b_RunCfgClick();
    QCOMPARE(Seam().shown.size(), size_t{1});
    QCOMPARE(Seam().shown[0].kind, Box::Warning);
    QVERIFY(Seam().shown[0].text.contains(
        QStringLiteral(" does not appear to be a Quillmar Config File.")));
    // Its dialog starts where configuration files are kept.
    QCOMPARE(Seam().fileDialogStarts,
             std::vector<QString>(3, Q(program.programDir)));
  }

  void closeDuringRun() {
    Program program;
    const std::string cfg = program.TwoAreaConfig();
    TMainForm& form = program.Start();
    form.show();
    bool visibleAfterClose = false;
    QTimer::singleShot(0, &form, [&] {
      form.close();  // while the first entry is about to run
      visibleAfterClose = form.isVisible();
    });
    Seam().fileNames = {Q(cfg)};
    form.b_RunCfgClick();
    QVERIFY(visibleAfterClose);  // the close waited for the run
    QVERIFY(form.State().cancelRequest);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.Gauge1->Progress(), 0);
    qmtest::HostLogin again(program.programDir + "host");
    QVERIFY(again.ok);  // logged out after the run stopped
  }

  void runView() {
    Program program;
    WriteFile(program.Settings(), "[General]\r\n");
    TMainForm& form = program.Start();
    form.show();
    qm::RunView& view = form.Context().view;

    view.SetPanels("Uploads", "Add", "*.zip");
    QCOMPARE(form.pan_FileArea->text(), QStringLiteral("Uploads"));
    QCOMPARE(form.pan_Action->text(), QStringLiteral("Add"));
    view.SetSpecPanel("/files/FILES.BBS");
    QCOMPARE(view.SpecPanel(), std::string("/files/FILES.BBS"));
    // The actions get the file spec's bytes back, whatever their encoding.
    view.SetPanels("Uploads", "Delete", "/files/caf\xE9*.zip");
    QCOMPARE(view.SpecPanel(), std::string("/files/caf\xE9*.zip"));
    view.ClearPanels();
    QVERIFY(form.pan_Spec->text().isEmpty());

    view.LightActionLabel(qm::ActionLabel::Delete);
    QCOMPARE(TextColor(form.l_Delete), kBlue);
    QCOMPARE(TextColor(form.l_Add), kGray);
    QCOMPARE(TextColor(form.l_Move), kGray);
    view.LightActionLabel(qm::ActionLabel::None);
    QCOMPARE(TextColor(form.l_Delete), kGray);

    view.SetGaugeMaximum(4);
    view.SetGaugePosition(2);
    QCOMPARE(form.Gauge1->Text(), QStringLiteral("50%"));
    view.SetExtractingVisible(true);
    QVERIFY(form.L_Extracting->isVisible());
    view.SetExtractingVisible(false);
    QVERIFY(!form.L_Extracting->isVisible());

    view.AddTestRunLine("first");
    view.AddTestRunLine("second");
    QCOMPARE(form.memo_TestRun->toPlainText(), QStringLiteral("first\nsecond"));
    // Host texts in any code page are shown, and the shown text is theirs.
    std::string every;
    for (int byte = 0x80; byte < 0x100; ++byte) every.push_back(char(byte));
    view.SetPanels("Caf\xE9 Files", "Add", every);
    QVERIFY(form.pan_FileArea->text().startsWith(QStringLiteral("Café")));
    QCOMPARE(ToBytes(form.pan_FileArea->text()), "Caf\xE9 Files");
    QCOMPARE(ToBytes(form.pan_Spec->text()), every);
    form.memo_TestRun->clear();
    view.AddTestRunLine("Add to FA# 1: " + every);
    QCOMPARE(ToBytes(form.memo_TestRun->document()->toRawText()),
             "Add to FA# 1: " + every);

    auto progressWindows = [] {
      std::vector<TProgressForm*> found;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<TProgressForm*>(w)) found.push_back(p);
      return found;
    };
    {
      // A transfer shows its window only once it has run a moment.
      auto progress = view.OpenProgress("Copy File to FileArea #1");
      progress->SetMaximum(7);
      progress->SetPosition(1);
      QVERIFY(!progress->Cancelled());
      for (TProgressForm* w : progressWindows()) QVERIFY(!w->isVisible());
      QTest::qWait(350);
      progress->SetPosition(3);
      QCOMPARE(progressWindows().size(), size_t(1));
      TProgressForm* window = progressWindows().front();
      QVERIFY(window->isVisible());
      QVERIFY(!window->isModal());
      QCOMPARE(window->windowTitle(),
               QStringLiteral("Copy File to FileArea #1"));
      QCOMPARE(window->Bar->maximum(), 7);
      QCOMPARE(window->Bar->value(), 3);
      QVERIFY(!progress->Cancelled());
      QTest::mouseClick(window->b_Cancel, Qt::LeftButton);
      QVERIFY(progress->Cancelled());
    }
    QCOMPARE(progressWindows().size(), size_t(1));
    QVERIFY(!progressWindows().front()->isVisible());  // hidden with its view
    {
      // The next transfer reuses the window, uncancelled, with its caption.
      auto progress = view.OpenProgress("Copy File to FileArea #2");
      progress->SetMaximum(2);
      QTest::qWait(350);
      QVERIFY(!progress->Cancelled());
      QCOMPARE(progressWindows().size(), size_t(1));
      QVERIFY(progressWindows().front()->isVisible());
      QCOMPARE(progressWindows().front()->windowTitle(),
               QStringLiteral("Copy File to FileArea #2"));
    }
    QVERIFY(!progressWindows().front()->isVisible());

    // Boxes: shown interactively; an unattended error also reaches the log.
    view.ShowWarning("careful");
    QCOMPARE(Seam().shown.back().kind, Box::Warning);
    form.State().logBaseName = program.programDir + "job.cfg";
    view.ShowError("went wrong");
    QVERIFY(!Exists(program.programDir + "job.err"));
    Seam().unattended = true;
    view.ShowError("went wrong");
    Seam().unattended = false;
    QCOMPARE(Seam().shown.back().kind, Box::Error);
    QVERIFY(ReadFile(program.programDir + "job.err")
                .ends_with("\r\nwent wrong\r\n"));

    // Every unattended box reaches the log; one saying that the log cannot
    // be written is not logged again.
    Seam().unattended = true;
    view.ShowMessage("IO Error in ReadinFilesBBS");
    view.ShowWarning("be warned");
    QVERIFY(ReadFile(program.programDir + "job.err")
                .ends_with("\r\nIO Error in ReadinFilesBBS\r\nbe warned\r\n"));
    form.State().logBaseName = program.programDir + "gone/job.cfg";
    Seam().shown.clear();
    view.ShowMessage("IO Error in ReadinFilesBBS");
    Seam().unattended = false;
    QCOMPARE(Seam().shown.size(), size_t{2});
    QCOMPARE(Seam().shown[1].text, QStringLiteral("IO Error"));
  }

  // The program itself: its exit codes and what it says unattended.
  void programExitCodes() {
    if (!Exists(qmtest::BinDir() + "/quillmar"))
      QSKIP("the quillmar program is not built");
    qmtest::TempDir dir;
    const std::string bin = qmtest::CopyProgramDir(dir.path());
    qmtest::MakeHost(bin + "/host", {{1, "Uploads", "uploads"}});
    WriteConfig(bin + "/job.cfg", {NaEntry(1, "Uploads")});
    const std::string exe = bin + "/quillmar";

    auto run = qmtest::RunProcess({exe, "job.cfg"}, {}, 60);
    QCOMPARE(run.exitCode, 0);
    // A job file named in Latin-1 is found by its bytes.
    std::filesystem::rename(bin + "/job.cfg", bin + "/job\xE9.cfg");
    run = qmtest::RunProcess({exe, "job\xE9.cfg"}, {}, 60);
    QVERIFY2(run.exitCode == 0, run.err.c_str());
    std::filesystem::rename(bin + "/job\xE9.cfg", bin + "/job.cfg");

    run = qmtest::RunProcess({exe, "nightly.cfg"}, {}, 60);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(run.err.find("File: " + bin + "/nightly.cfg not found.") !=
            std::string::npos);

    qmtest::TempDir locked;
    const std::string bin2 = qmtest::CopyProgramDir(locked.path());
    qmtest::MakeHost(bin2 + "/host", {}, "secret");
    run = qmtest::RunProcess({bin2 + "/quillmar", "nightly.cfg"}, {}, 60);
    QCOMPARE(run.exitCode, 2);
    QVERIFY(ReadFile(bin2 + "/Login.err")
                .ends_with("Failed to Login to Wildcat Server!\r\n"));

    std::filesystem::remove(bin + "/libdunzip.so");
    run = qmtest::RunProcess({exe, "job.cfg"}, {}, 60);
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.find("Could not load DUNZIP32.DLL!") != std::string::npos);
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
