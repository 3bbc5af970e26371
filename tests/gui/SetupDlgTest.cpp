// The setup dialog on a real host: defaults, the home directory check,
// trimming and what reaches the settings file.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "mainwindow/MainUnit.h"
#include "run/DescriptionExtras.h"
#include "run/ListingExtras.h"
#include "run/UploadExtras.h"
#include "settings/IniFile.h"
#include "tests/support/GuiTestSupport.h"
#include "tests/support/TestSupport.h"
#include "windows/AppSetup.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"

using namespace qm::gui;
using qmtest::Q;
using qmtest::SavePicture;

namespace {

QString NotHomeQuestion(const QString& path) {
  return QStringLiteral("The path: \r") + path +
         QStringLiteral(
             "\r does not appear to be your Wildcat Server home "
             "directory. Would you like to enter a different "
             "path?");
}

// An Extras page control, by its name.
template <typename Widget>
Widget* Extra(TSetupDlg& dialog, const char* name) {
  auto* control = dialog.Extras->findChild<Widget*>(QLatin1String(name));
  if (!control) qFatal("no control %s on the Extras page", name);
  return control;
}

QComboBox* Charset(TSetupDlg& dialog) {
  return Extra<QComboBox>(dialog, "cb_Charset");
}
QComboBox* Duplicates(TSetupDlg& dialog) {
  return Extra<QComboBox>(dialog, "cb_Duplicates");
}
QLineEdit* UploadCheck(TSetupDlg& dialog) {
  return Extra<QLineEdit>(dialog, "e_UploadCheck");
}
QSpinBox* UploadCheckSeconds(TSetupDlg& dialog) {
  return Extra<QSpinBox>(dialog, "e_UploadCheckSeconds");
}

}  // namespace

class SetupDlgTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<qmtest::TempDir> dir_;
  std::unique_ptr<qmtest::HostLogin> login_;
  std::string programDir_, home_;
  qm::RunState state_;

  std::string Settings() const { return programDir_ + "tool.ini"; }

  std::unique_ptr<TSetupDlg> Shown() {
    // The settings are named after the executable, up to its first dot.
    auto dialog = std::make_unique<TSetupDlg>(nullptr, state_, "tool.second");
    dialog->show();
    return dialog;
  }

 private slots:
  void initTestCase() { qmtest::SetUpGuiApplication(); }

  void init() {
    qmtest::ResetDialogSeam();
    dir_ = std::make_unique<qmtest::TempDir>();
    programDir_ = *dir_ / "prog/";
    home_ = *dir_ / "wc/";
    qmtest::MakeDirs(programDir_);
    qmtest::MakeHost(home_, {});
    qmtest::WriteFile(home_ + "wcserver", "#!/bin/sh\n");
    login_ = std::make_unique<qmtest::HostLogin>(home_);
    QVERIFY(login_->ok);
    state_ = qm::RunState{};
    state_.programDir = programDir_;
    state_.homeDir = home_;
  }

  void cleanup() {
    login_.reset();
    dir_.reset();
  }

  void showsDefaultsThenStoredValues() {
    auto dialog = Shown();
    QCOMPARE(dialog->SettingsPath(), Settings());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Setup"));
    QCOMPARE(dialog->PageControl1->currentWidget(), dialog->General);
    QCOMPARE(dialog->PageControl1->tabText(0), QStringLiteral("General"));
    QCOMPARE(dialog->GroupBox1->title(), QStringLiteral("Wildcat Properties"));
    QCOMPARE(dialog->e_SysopName->text(), QStringLiteral("Test Sysop"));
    QCOMPARE(dialog->e_BBSName->text(), QStringLiteral("Test BBS"));
    QCOMPARE(dialog->e_wcHomeDir->text(), Q(home_));
    QVERIFY(SavePicture(dialog.get(), QStringLiteral("SetupDlg")));

    // Opened from the small main window at the top left, it still comes
    // up in the middle of the screen.
    QWidget mainWindow;
    mainWindow.setGeometry(15, 15, 286, 290);
    mainWindow.show();
    TSetupDlg fromMain(&mainWindow, state_, "tool.second");
    fromMain.show();
    QVERIFY2(qmtest::CentredOnScreen(&fromMain), "not centred");
    fromMain.close();

    qmtest::WriteFile(Settings(),
                      "[General]\r\nSysopName=Ann\r\nBBSName=Board\r\n"
                      "wcHomeDir=/elsewhere/\r\n");
    auto again = Shown();
    QCOMPARE(again->e_SysopName->text(), QStringLiteral("Ann"));
    QCOMPARE(again->e_BBSName->text(), QStringLiteral("Board"));
    QCOMPARE(again->e_wcHomeDir->text(), QStringLiteral("/elsewhere/"));
    // Showing it makes the stored home directory the one in effect.
    QCOMPARE(state_.homeDir, std::string("/elsewhere/"));
  }

  void okSavesTrimmedWithTrailingSeparator() {
    auto dialog = Shown();
    dialog->e_SysopName->setText("  Jane Doe  ");
    dialog->e_BBSName->setText(" My Board");
    dialog->e_wcHomeDir->setText(Q(*dir_ / "wc"));  // no separator typed
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QVERIFY(Seam().shown.empty());  // wcserver is there: no question
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(dialog->e_wcHomeDir->text(), Q(home_));
    const qm::IniFile settings(Settings());
    QCOMPARE(settings.ReadString("General", "SysopName", "?"),
             std::string("Jane Doe"));
    QCOMPARE(settings.ReadString("General", "BBSName", "?"),
             std::string("My Board"));
    QCOMPARE(settings.ReadString("General", "wcHomeDir", "?"), home_);
    // Saving does not change the home directory in effect.
    QCOMPARE(state_.homeDir, home_);

    // Names in any code page are saved back as they were stored.
    std::string every;
    for (int byte = 0x80; byte < 0x100; ++byte) every.push_back(char(byte));
    qmtest::WriteFile(Settings(),
                      "[General]\r\nSysopName=" + every +
                          "\r\nBBSName=Caf\xE9\r\nwcHomeDir=" + home_ + "\r\n");
    auto again = Shown();
    QTest::mouseClick(again->BitBtn1, Qt::LeftButton);
    const qm::IniFile stored(Settings());
    QCOMPARE(stored.ReadString("General", "SysopName", "?"), every);
    QCOMPARE(stored.ReadString("General", "BBSName", "?"),
             std::string("Caf\xE9"));
  }

  // "Extras": DOS text is chosen here; left as it is, the settings file
  // gets no "[Extras]" section.
  void extrasPageChoosesTheCharset() {
    auto dialog = Shown();
    QCOMPARE(dialog->PageControl1->tabText(1), QStringLiteral("Extras"));
    // The extras take room only while their page is shown.
    QCoreApplication::sendPostedEvents();
    const QSize general = dialog->size();
    dialog->PageControl1->setCurrentWidget(dialog->Extras);
    QCoreApplication::sendPostedEvents();
    QVERIFY(dialog->height() > general.height());
    dialog->PageControl1->setCurrentWidget(dialog->General);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(dialog->size(), general);
    QCOMPARE(Charset(*dialog)->currentText(), QStringLiteral("Windows-1252"));
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QVERIFY(!qmtest::ReadFile(Settings()).empty());
    QVERIFY(qmtest::ReadFile(Settings()).find("Extras") == std::string::npos);

    auto dos = Shown();
    dos->PageControl1->setCurrentWidget(dos->Extras);
    Charset(*dos)->setCurrentIndex(1);
    QTest::mouseClick(dos->BitBtn1, Qt::LeftButton);
    QCOMPARE(qm::IniFile(Settings()).ReadString("Extras", "Charset", "?"),
             std::string("CP437"));
    QVERIFY(state_.listingExtras.charset == qm::Charset::Cp437);
    QVERIFY(qm::gui::ShownCharset() == qm::Charset::Cp437);

    auto back = Shown();
    QCOMPARE(Charset(*back)->currentText(), QStringLiteral("CP437"));
    Charset(*back)->setCurrentIndex(0);
    QTest::mouseClick(back->BitBtn1, Qt::LeftButton);
    QCOMPARE(qm::IniFile(Settings()).ReadString("Extras", "Charset", "?"),
             std::string("Windows-1252"));
    QVERIFY(qm::gui::ShownCharset() == qm::Charset::Windows1252);
  }

  void extrasPageStoresAndShowsTheSettings() {
    // All off, OK leaves the file without [Extras]: as it would be without
    // the page.
    auto dialog = Shown();
    const int extrasPage = dialog->PageControl1->indexOf(dialog->Extras);
    QCOMPARE(dialog->PageControl1->tabText(extrasPage),
             QStringLiteral("Extras"));
    QCOMPARE(Duplicates(*dialog)->currentText(), QStringLiteral("Off"));
    QCOMPARE(UploadCheckSeconds(*dialog)->value(), 120);
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
    QVERIFY(qmtest::ReadFile(Settings()).find("Extras") == std::string::npos);

    auto again = Shown();
    again->PageControl1->setCurrentWidget(again->Extras);
    QTest::keyClick(Duplicates(*again), Qt::Key_End);  // the last: Refuse
    UploadCheck(*again)->setFocus();
    // Blanks around it go; quotes around each word stay.
    QTest::keyClicks(UploadCheck(*again),
                     QStringLiteral(R"( "/bin/scan" -d "/x/sig dir" "%f" )"));
    UploadCheckSeconds(*again)->clear();
    QTest::keyClicks(UploadCheckSeconds(*again), QStringLiteral("30"));
    // The archivers in effect follow the names as they are typed; the
    // file's own [Archiver NAME] sections count and stay.
    qmtest::WriteFile(Settings(), qmtest::ReadFile(Settings()) +
                                      "[Archiver LBR]\r\nSignature=00 20\r\n"
                                      "List=no-lbr l %a\r\n"
                                      "Extract=no-lbr e %a %m\r\n");
    auto* inEffect = Extra<QLabel>(*again, "l_ArchiversInEffect");
    QCOMPARE(inEffect->text(), QStringLiteral("none"));
    QTest::keyClicks(Extra<QLineEdit>(*again, "e_Archivers"),
                     QStringLiteral("ARJ LBR NOPE"));
    QCOMPARE(inEffect->text(),
             QStringLiteral("Archiver NOPE not used: no such archiver and no "
                            "section [Archiver NOPE]\n"
                            "ARJ: arj (found), Debian package arj\n"
                            "LBR: no-lbr (not found)"));
    QTest::mouseClick(again->BitBtn1, Qt::LeftButton);
    QCOMPARE(again->result(), int(QDialog::Accepted));
    const qm::IniFile settings(Settings());
    QCOMPARE(settings.ReadString("Extras", "Duplicates", "?"),
             std::string("Refuse"));
    const std::string command = R"("/bin/scan" -d "/x/sig dir" "%f")";
    QCOMPARE(settings.ReadString("Extras", "UploadCheck", "?"), command);
    QCOMPARE(settings.ReadString("Extras", "UploadCheckSeconds", "?"),
             std::string("30"));
    // OK puts them into effect at once.
    QVERIFY(state_.uploadExtras.duplicates == qm::DuplicateMode::Refuse);
    QCOMPARE(state_.uploadExtras.uploadCheck, command);
    QCOMPARE(settings.ReadString("Extras", "Archivers", "?"),
             std::string("ARJ LBR NOPE"));
    QCOMPARE(settings.ReadString("Archiver LBR", "List", "?"),
             std::string("no-lbr l %a"));
    QCOMPARE(state_.descriptionExtras.archiverSections.size(), size_t{1});

    auto shown = Shown();
    QCOMPARE(Duplicates(*shown)->currentText(), QStringLiteral("Refuse"));
    QCOMPARE(UploadCheck(*shown)->text(), qm::gui::ToText(command));
    QCOMPARE(UploadCheckSeconds(*shown)->value(), 30);
    shown->PageControl1->setCurrentWidget(shown->Extras);
    QVERIFY(SavePicture(shown.get(), QStringLiteral("SetupDlgExtras")));
  }

  void homeWithoutServerProgramAsksFirst() {
    auto dialog = Shown();
    dialog->e_wcHomeDir->setText("C:/WC5");
    Seam().answers = {1};  // Yes: enter a different path
    dialog->BitBtn1->click();
    QCOMPARE(dialog->e_wcHomeDir->text(), QStringLiteral("C:/WC5/"));
    QCOMPARE(Seam().shown.size(), size_t(1));
    QCOMPARE(Seam().shown[0].kind, Box::YesNo);
    QCOMPARE(Seam().shown[0].text, NotHomeQuestion("C:/WC5/"));
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->result() != QDialog::Accepted);
    QVERIFY(!qmtest::Exists(Settings()));

    Seam().answers = {0};  // No: saved as it is
    dialog->BitBtn1->click();
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(qm::IniFile(Settings()).ReadString("General", "wcHomeDir", "?"),
             std::string("C:/WC5/"));
  }

  void emptyHomeStaysEmpty() {
    auto dialog = Shown();
    dialog->e_wcHomeDir->clear();
    Seam().answers = {0};
    dialog->BitBtn1->click();
    QCOMPARE(Seam().shown.at(0).text, NotHomeQuestion(QString()));
    QCOMPARE(dialog->e_wcHomeDir->text(), QString());
    QCOMPARE(qm::IniFile(Settings()).ReadString("General", "wcHomeDir", "?"),
             std::string());
  }

  void cancelSavesNothing() {
    auto dialog = Shown();
    dialog->e_SysopName->setText("Changed");
    dialog->e_wcHomeDir->setText("/changed/");
    dialog->BitBtn2->click();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QVERIFY(!qmtest::Exists(Settings()));
    QCOMPARE(state_.homeDir, home_);  // taken when it was shown
  }

  void writeFailureReachesTheErrorBox() {
    state_.programDir = *dir_ / "missing/";
    auto dialog = Shown();
    dialog->BitBtn1->click();
    QCOMPARE(Seam().shown.size(), size_t(1));
    QCOMPARE(Seam().shown[0].kind, Box::Error);
    QCOMPARE(Seam().shown[0].text, QStringLiteral("Unable to write to ") +
                                       Q(*dir_ / "missing/tool.ini"));
    QVERIFY(dialog->result() != QDialog::Accepted);
  }

  void withoutTheHostNothingIsRead() {
    qmtest::WriteFile(Settings(), "[General]\r\nSysopName=Ann\r\n");
    login_.reset();
    auto dialog = Shown();
    QCOMPARE(dialog->e_SysopName->text(), QString());
    QCOMPARE(dialog->e_wcHomeDir->text(), QString());
    QCOMPARE(state_.homeDir, std::string());
  }
};

QTEST_MAIN(SetupDlgTest)
#include "SetupDlgTest.moc"
