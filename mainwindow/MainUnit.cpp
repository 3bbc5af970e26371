#include "mainwindow/MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <iostream>
#include <optional>

#include "actions/FileActions.h"
#include "actions/UnzipFile.h"
#include "actions/UploadScreen.h"
#include "configtool/CfgUnit.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "run/RunCounts.h"
#include "run/RunLog.h"
#include "runner/PrintedTestRun.h"
#include "runner/RunDriver.h"
#include "server/Session.h"
#include "server/WcApi.h"
#include "settings/IniFile.h"
#include "windows/AboutUnit.h"
#include "windows/AppSetup.h"
#include "windows/Dialogs.h"
#include "windows/Gauge.h"
#include "windows/TextBytes.h"
#include "windows/oxForm.h"

namespace qm::gui {

namespace {

constexpr int kNormalWidth = 286, kNormalHeight = 290;
constexpr int kTestRunWidth = 600, kTestRunHeight = 400;

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text,
                  int left, int top) {
  auto* label = Named(new QLabel(text, parent), name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLabel* MakePanel(QWidget* parent, const char* name, int top) {
  auto* panel = Named(new QLabel(parent), name);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setTextFormat(Qt::PlainText);  // a name such as "<Games>" is a name
  panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  panel->setIndent(4);
  panel->setGeometry(56, top, 209, 23);
  return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name,
                        const QString& caption, int left) {
  auto* button = Named(new QPushButton(caption, parent), name);
  button->setGeometry(left, 208, 75, 25);
  return button;
}

QTimer* MakeTimer(QObject* parent, const char* name, int interval) {
  auto* timer = Named(new QTimer(parent), name);
  timer->setInterval(interval);
  return timer;
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::WindowText, color);
  widget->setPalette(palette);
}

}  // namespace

void UseApplicationFont() {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  QApplication::setFont(font);
}

MainFormOptions MainFormOptions::FromCommandLine(int argc,
                                                 const char* const* argv) {
  MainFormOptions options;
  const ProgramFolders folders = FindProgramFolders(ProgramDirectory());
  options.programDir = folders.files;
  options.stateDir = folders.state;
  options.refused = folders.refused;
  options.exeName = ProgramFileName();
  // From the bytes, not from Qt's list, which would lose a job file's name
  // that is not UTF-8.
  for (int i = 1; i < argc; ++i) options.arguments << ToText(argv[i]);
  return options;
}

TMainForm::TMainForm(MainFormOptions options)
    : QWidget(nullptr), options_(std::move(options)) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Quillmar"));
  if (!options_.endApplication) {
    options_.endApplication = [](int code) { QCoreApplication::exit(code); };
  }
  automatic_ = !options_.arguments.isEmpty();
  CreateControls();

  // Without the unzip library the program does not start.
  const TUnzipFile::LoadResult unzip = TUnzipFile::Load(options_.programDir);
  if (!unzip.ok) {
    ReleaseSplash();
    ShowWarning(this, ToText(unzip.error));
    startupExitCode_ = 1;
    return;
  }
  UnzipFile1 = std::make_unique<TUnzipFile>(options_.programDir);
  ApplyStoredUnzipSettings(*UnzipFile1);
  ctx_.unzip = UnzipFile1.get();

  FormCreate();
}

TMainForm::~TMainForm() { ReleaseSplash(); }

void TMainForm::CreateControls() {
  resize(kNormalWidth, kNormalHeight);

  Label1 = MakeLabel(this, "Label1", QStringLiteral("File Area:"), 8, 18);
  Label4 = MakeLabel(this, "Label4", QStringLiteral("Action:"), 8, 45);
  Label5 = MakeLabel(this, "Label5", QStringLiteral("Spec:"), 8, 73);
  pan_FileArea = MakePanel(this, "pan_FileArea", 13);
  pan_Action = MakePanel(this, "pan_Action", 40);
  pan_Spec = MakePanel(this, "pan_Spec", 68);

  gb_Progress =
      Named(new QGroupBox(QStringLiteral("Progress"), this), "gb_Progress");
  gb_Progress->setGeometry(16, 104, 249, 89);
  Gauge1 = Named(new TGauge(gb_Progress), "Gauge1");
  Gauge1->setGeometry(8, 22, 233, 21);
  Gauge1->SetMaxValue(100);

  QFont black(QStringLiteral("Arial Black"));
  black.setStyleHint(QFont::SansSerif);
  black.setFamilies(
      {QStringLiteral("Arial Black"), QStringLiteral("Liberation Sans")});
  black.setPointSize(8);
  black.setWeight(QFont::Black);
  const QColor gray(0x80, 0x80, 0x80);
  l_Add = MakeLabel(gb_Progress, "l_Add", QStringLiteral("ADD"), 24, 61);
  l_Delete =
      MakeLabel(gb_Progress, "l_Delete", QStringLiteral("DELETE"), 95, 61);
  l_Move = MakeLabel(gb_Progress, "l_Move", QStringLiteral("MOVE"), 185, 61);
  for (QLabel* label : {l_Add, l_Delete, l_Move}) {
    label->setFont(black);
    label->adjustSize();
    SetTextColor(label, gray);
  }
  L_Extracting = MakeLabel(
      gb_Progress, "L_Extracting",
      QStringLiteral("Standby: Extracting File Description...."), 35, 47);
  SetTextColor(L_Extracting, QColor(0, 0, 0xFF));
  L_Extracting->hide();

  b_Config = MakeButton(this, "b_Config", QStringLiteral("Config..."), 16);
  b_Cancel = MakeButton(this, "b_Cancel", QStringLiteral("&Quit"), 103);
  b_RunCfg = MakeButton(this, "b_RunCfg", QStringLiteral("Run..."), 190);
  connect(b_Config, &QPushButton::clicked, this, [this] { b_ConfigClick(); });
  connect(b_Cancel, &QPushButton::clicked, this, [this] { b_CancelClick(); });
  connect(b_RunCfg, &QPushButton::clicked, this, [this] { b_RunCfgClick(); });

  L_ConfigFile = Named(new QLabel(this), "L_ConfigFile");
  L_ConfigFile->setTextFormat(Qt::PlainText);
  L_ConfigFile->setGeometry(6, 240, 179, 17);
  cb_TestRun =
      Named(new QCheckBox(QStringLiteral("Test Run"), this), "cb_TestRun");
  cb_TestRun->move(192, 240);
  cb_TestRun->adjustSize();
  connect(cb_TestRun, &QCheckBox::clicked, this, [this] { cb_TestRunClick(); });

  l_TestRunOutput = MakeLabel(this, "l_TestRunOutput",
                              QStringLiteral("Test Run Output:"), 280, 8);
  l_TestRunOutput->hide();
  memo_TestRun = Named(new QPlainTextEdit(this), "memo_TestRun");
  memo_TestRun->setGeometry(280, 24, 305, 345);
  memo_TestRun->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_TestRun->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_TestRun->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo_TestRun->hide();

  FailedLogin = MakeTimer(this, "FailedLogin", 500);
  AutoRun = MakeTimer(this, "AutoRun", 1000);
  Quit = MakeTimer(this, "Quit", 1000);
  connect(FailedLogin, &QTimer::timeout, this, [this] { FailedLoginTimer(); });
  connect(AutoRun, &QTimer::timeout, this, [this] { AutoRunTimer(); });
  connect(Quit, &QTimer::timeout, this, [this] { QuitTimer(); });

  // Made last: it moves the controls down below its caption strip.
  oxForm1 = new ToxForm(this);
  oxForm1->SetCustomButtons({QStringLiteral("About"), QStringLiteral("Setup")});
  oxForm1->SetActiveText(ox3Raised);
  oxForm1->SetActiveBorder(ox3Ridged);
  oxForm1->OnButtonClick = [this](ToxForm*, const QString& caption) {
    oxForm1ButtonClick(caption);
  };
  oxForm1->OnHelpSelect = [this](ToxForm*, QWidget*, int, bool&) {
    oxForm1HelpSelect();
  };
}

void TMainForm::FormCreate() {
  state_.cancelRequest = false;
  AllFilesListed(state_).clear();
  state_.programDir = TrailingBackslash(options_.programDir);
  if (!options_.stateDir.empty())
    state_.stateDir = TrailingBackslash(options_.stateDir);
  // The home directory in effect starts as the host's own home.
  state_.homeDir = TrailingBackslash(FindHostHome(StateFolder(state_)));
  WcSetHostHome(state_.homeDir.c_str());

  LoginPrompts prompts;
  prompts.passwordQuery = [this](const std::string& title,
                                 const std::string& prompt,
                                 std::string& value) {
    QString typed = ToText(value);
    if (!PasswordQuery(this, ToText(title), ToText(prompt), typed,
                       QLatin1Char('*')))
      return false;
    value = ToBytes(typed);
    return true;
  };
  prompts.showMessage = [this](const std::string& text) {
    ShowMessage(this, ToText(text));
  };
  prompts.showWcError = [this](uint32_t code) {
    ShowWarning(this, ToText(WcErrorName(code)));
  };

  if (StartupLogin(this, automatic_, prompts)) {
    QThread::msleep(50);
    ReleaseSplash();
  } else {
    loginFailed_ = true;
    ReleaseSplash();
    FailedLogin->start();
  }
}

void TMainForm::ReleaseSplash() {
  delete options_.splash;
  options_.splash = nullptr;
}

void TMainForm::EndApplication(int code) {
  // Queued, so that an end asked for before the message loop runs still
  // ends it.
  QMetaObject::invokeMethod(
      this, [this, code] { options_.endApplication(code); },
      Qt::QueuedConnection);
}

void TMainForm::SetOuterSize(int width, int height) {
  // The decorator's strip is the caption bar, so the window's own area is
  // its outer size.
  resize(width, height);
}

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TMainForm::FormShow() {
  settingsPath_ = MainSettingsPath(StateFolder(state_), options_.exeName);
  view_.ClearPanels();
  state_.autoRun = false;

  // An unattended start never waits on the first-start setup; the values
  // it would offer are the ones already in effect. After a failed login the
  // program is about to end: a modal setup opened before the message loop
  // runs would swallow that end.
  if (!automatic_ && !loginFailed_ && !FileExists(settingsPath_)) {
    TSetupDlg setup(this, state_, options_.exeName);
    ExecModal(&setup);
  }

  ApplyExtras(state_, IniFile(settingsPath_));

  QPoint place(15, 15);
  TMakewild makewild{};
  if (GetMakewild(makewild)) {
    const IniFile settings(settingsPath_);
    place.setY(settings.ReadInteger("Main Window", "Top", place.y()));
    place.setX(settings.ReadInteger("Main Window", "Left", place.x()));
    state_.homeDir =
        settings.ReadString("General", "wcHomeDir", state_.homeDir);
  }
  SetOuterSize(kNormalWidth, kNormalHeight);
  PlaceFrame(this, place, oxForm1->CaptionBar()->height());
  if (options_.duplicatesReport) {
    if (!loginFailed_)
      QTimer::singleShot(0, this, [this] { ReportDuplicates(); });
    return;
  }

  // An empty first argument names no file, yet the start is unattended:
  // it is reported like a missing file rather than left waiting.
  if (!automatic_) return;
  const std::string argument = ToBytes(options_.arguments.first());
  std::string path = DirectoryPart(argument).empty()
                         ? StateFolder(state_) + argument
                         : argument;
  const std::string found = ResolveExisting(path);
  if (!found.empty() && FileExists(found)) {
    state_.commandLineFile = found;
    AutoRun->start();
    return;
  }
  state_.commandLineFile = path;
  const std::string message = "File: " + path + " not found.";
  ShowMessage(this, ToText(message));
  // Leave the reason beside the missing file too, where an unattended
  // job's log is looked for; a test run writes no log.
  if (!options_.testRun &&
      DirectoryExists(TrailingBackslash(DirectoryPart(path)))) {
    state_.logBaseName = path;
    LogRunError(ctx_, message);
  }
  // A failed login ends the program itself once it has logged why.
  if (!FailedLogin->isActive()) EndApplication(2);
}

void TMainForm::FailedLoginTimer() {
  FailedLogin->stop();
  // Asked for first: the end is queued, so a box that says the log could
  // not be written cannot hold it back.
  EndApplication(2);
  state_.logBaseName = StateFolder(state_) + "Login.err";
  const int unlogged = state_.counts.unlogged;
  LogRunError(ctx_, TheSession().ServerMessage);
  // What cron mails and the journal keeps: nothing ran, and why.
  if (automatic_)
    std::cerr << LoginFailureLine(state_.homeDir,
                                  LogFileName(state_.logBaseName),
                                  state_.counts.unlogged == unlogged)
              << std::endl;
}

void TMainForm::Guarded(const std::function<void()>& run) {
  running_ = true;
  b_RunCfg->setEnabled(false);
  b_Config->setEnabled(false);
  run();
  b_RunCfg->setEnabled(true);
  b_Config->setEnabled(true);
  running_ = false;
  if (closePending_) close();
}

void TMainForm::AutoRunTimer() {
  state_.autoRun = true;
  cb_TestRun->hide();
  AutoRun->stop();
  b_Config->hide();
  b_RunCfg->hide();
  b_Cancel->setText(QStringLiteral("&Cancel"));
  b_Cancel->repaint();
  const auto showName = [this](const std::string& name) {
    L_ConfigFile->setText(ToText(name));
    L_ConfigFile->repaint();
  };
  // Checked, the box also keeps the boxes of a test run out of the logs.
  cb_TestRun->setChecked(options_.testRun);
  std::optional<PrintedTestRun> printed;
  if (options_.testRun && options_.report)
    printed.emplace(view_, *options_.report);
  RunContext ctx{state_, printed ? *printed : static_cast<RunView&>(view_),
                 ctx_.unzip};
  Guarded([&] { AutoRunConfigs(ctx, recordFile_, showName); });
  if (options_.report && !options_.testRun)
    *options_.report << RunSummary(state_.counts) << std::endl;
  else if (options_.report && state_.counts.cancelled)
    *options_.report << "Test run " << CancelledText(*state_.counts.cancelled)
                     << std::endl;
  Quit->start();
}

void TMainForm::ReportDuplicates() {
  state_.autoRun = true;
  // Problems go to standard error as a test run's lines: nothing here
  // writes a log.
  std::ostream& problems = std::cerr;
  PrintedTestRun printed(view_, problems);
  RunContext ctx{state_, printed, ctx_.unzip};
  std::string report;
  Guarded([&] { report = DuplicatesReport(ctx); });
  if (options_.report) *options_.report << report << std::flush;
  EndApplication(0);
}

int TMainForm::RunExitCode() const {
  if (!automatic_) return 0;
  if (state_.stoppedOnError) return 3;
  return state_.counts.cancelled ? 4 : 0;
}

void TMainForm::QuitTimer() {
  Quit->start();
  close();
}

void TMainForm::b_CancelClick() {
  view_.SetBusyCursor(false);
  if (b_Cancel->text() == QLatin1String("&Quit"))
    close();
  else
    state_.cancelRequest = true;
}

void TMainForm::b_RunCfgClick() {
  AllFilesListed(state_).clear();
  const QString name =
      OpenFileName(this, QStringLiteral("Open Config File..."),
                   QStringLiteral("config files (*.cfg);;all files (*)"),
                   ToText(StateFolder(state_)));
  if (name.isEmpty()) return;
  memo_TestRun->clear();
  Guarded([this, &name] { RunConfig(ctx_, recordFile_, ToBytes(name)); });
}

void TMainForm::b_ConfigClick() {
  TCfgForm config(this, state_);
  ExecModal(&config);
}

void TMainForm::cb_TestRunClick() {
  const bool testRun = cb_TestRun->isChecked();
  if (testRun)
    SetOuterSize(kTestRunWidth, kTestRunHeight);
  else
    SetOuterSize(kNormalWidth, kNormalHeight);
  memo_TestRun->setVisible(testRun);
  l_TestRunOutput->setVisible(testRun);
}

void TMainForm::oxForm1ButtonClick(const QString& caption) {
  if (caption == QLatin1String("About")) {
    TAboutForm about(this);
    ExecModal(&about);
  } else if (caption == QLatin1String("Setup")) {
    TSetupDlg setup(this, state_, options_.exeName);
    ExecModal(&setup);
  }
}

void TMainForm::oxForm1HelpSelect() {
  if (ShellOpen(ToText(state_.programDir + "Help/Manual.htm")) <= 32)
    ShowMessage(this, QLatin1String(kBrowserFailed));
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The run stops at its next check; the close follows when it is over.
    state_.cancelRequest = true;
    closePending_ = true;
    event->ignore();
    return;
  }
  FormClose();
  event->accept();
}

void TMainForm::FormClose() {
  if (closed_) return;
  closed_ = true;
  ServerLogout();
  if (settingsPath_.empty() || isMinimized() || isMaximized()) return;
  try {
    IniFile settings(settingsPath_);
    const QPoint place = FramePlace(this);
    settings.WriteInteger("Main Window", "Top", place.y());
    settings.WriteInteger("Main Window", "Left", place.x());
  } catch (const SettingsWriteError& error) {
    ShowErrorBox(this, ToText(error.what()));
  }
}

}  // namespace qm::gui
