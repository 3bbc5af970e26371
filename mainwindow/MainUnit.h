// The main window: start-up and login, the command line, the timers of an
// unattended run, the run display and the orderly end of the process.
#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "config/ConfigFile.h"
#include "mainwindow/QtRunView.h"
#include "run/RunContext.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TUnzipFile;

namespace qm::gui {

class TGauge;
class ToxForm;

// The application font the window layouts were made for: a sans serif
// near 8 points.
void UseApplicationFont();

struct MainFormOptions {
  std::string programDir;  // with a trailing separator
  std::string stateDir;    // the state folder; empty: programDir
  // Why the file naming the state folder is not used; the start then ends.
  std::string refused;
  std::string exeName;        // names the settings file
  QStringList arguments;      // after the program name; any makes it unattended
  QWidget* splash = nullptr;  // taken over; released when the login ends
  // Ends the message loop with an exit code.
  std::function<void(int)> endApplication;

  bool testRun = false;           // the unattended run is a test run
  bool duplicatesReport = false;  // prints the duplicates report instead
  // Where an unattended run reports: a test run's lines, else its summary.
  std::ostream* report = nullptr;

  // The running program's folders, name and arguments (as the
  // application object leaves them).
  static MainFormOptions FromCommandLine(int argc, const char* const* argv);
};

class TMainForm : public QWidget {
  Q_OBJECT
 public:
  explicit TMainForm(MainFormOptions options);
  ~TMainForm() override;

  // Non-zero when the program must end before its window is shown: 1 when
  // the unzip library is missing.
  int StartupExitCode() const { return startupExitCode_; }
  // 3 when the unattended run stopped on an error, 4 when it was
  // cancelled, else 0.
  int RunExitCode() const;
  bool Running() const { return running_; }
  RunState& State() { return state_; }
  RunContext& Context() { return ctx_; }
  const std::string& SettingsPath() const { return settingsPath_; }

  // The window's outer size; the decorator's strip is its caption bar.
  void SetOuterSize(int width, int height);

  // Event handlers.
  void FormShow();
  void FormClose();
  void FailedLoginTimer();
  void AutoRunTimer();
  void QuitTimer();
  void b_CancelClick();
  void b_RunCfgClick();
  void b_ConfigClick();
  void cb_TestRunClick();
  void oxForm1ButtonClick(const QString& caption);
  void oxForm1HelpSelect();

  QLabel* Label1;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* pan_FileArea;
  QLabel* pan_Action;
  QLabel* pan_Spec;
  QGroupBox* gb_Progress;
  TGauge* Gauge1;
  QLabel* l_Add;
  QLabel* l_Delete;
  QLabel* l_Move;
  QLabel* L_Extracting;
  QPushButton* b_Config;
  QPushButton* b_Cancel;
  QPushButton* b_RunCfg;
  QLabel* L_ConfigFile;
  QCheckBox* cb_TestRun;
  QLabel* l_TestRunOutput;
  QPlainTextEdit* memo_TestRun;
  QTimer* FailedLogin;
  QTimer* AutoRun;
  QTimer* Quit;
  ToxForm* oxForm1 = nullptr;
  std::unique_ptr<TUnzipFile> UnzipFile1;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateControls();
  void FormCreate();
  void ReleaseSplash();
  void EndApplication(int code);
  // Runs with "Run..." and "Config..." disabled; a close asked for during
  // the run takes effect when it is over.
  void Guarded(const std::function<void()>& run);
  // "--duplicates": the groups of stored files with the same content.
  void ReportDuplicates();

  MainFormOptions options_;
  bool automatic_ = false;
  int startupExitCode_ = 0;
  bool loginFailed_ = false;
  bool shown_ = false;
  bool closed_ = false;
  bool running_ = false;
  bool closePending_ = false;
  std::string settingsPath_;
  RunState state_;
  RecordFile recordFile_{kConfigRecordSize};
  QtRunView view_{*this};
  RunContext ctx_{state_, view_, nullptr};
};

}  // namespace qm::gui
