// Start-up: the command line, splash, main window with its login, message
// loop, and the last release of the host context.
#include <QApplication>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "mainwindow/MainUnit.h"
#include "runner/CommandLine.h"
#include "server/WcApi.h"
#include "windows/Dialogs.h"
#include "windows/SplashUnit.h"
#include "windows/TextBytes.h"

namespace {

// Without a display the program still runs its configuration files.
void ChoosePlatform() {
  if (std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
}

// What an unattended start prints is mailed by cron: Qt's own notices
// (XDG_RUNTIME_DIR not set, and the like) are no part of it. Critical and
// fatal messages still go through.
QtMessageHandler toolkitMessages = nullptr;
void QuietToolkitMessages(QtMsgType type, const QMessageLogContext& context,
                          const QString& text) {
  if (type == QtCriticalMsg || type == QtFatalMsg)
    toolkitMessages(type, context, text);
}

// A reader of standard output that went away must not end a run halfway:
// writes then fail with EPIPE and the run finishes with its own result. A
// handler rather than SIG_IGN, so that programs started later get the
// default back.
void SurviveBrokenPipes() {
  struct sigaction action {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Before Qt sees the arguments, and before any login.
  const qm::CommandLine command =
      qm::ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  switch (command.mode) {
    case qm::CommandLine::Mode::Help:
      std::cout << qm::UsageText();
      return 0;
    case qm::CommandLine::Mode::Version:
      std::cout << qm::VersionText() << '\n';
      return 0;
    case qm::CommandLine::Mode::Refused:
      std::cerr << command.problem << '\n';
      return 2;
    default:
      break;
  }

  SurviveBrokenPipes();
  if (command.mode != qm::CommandLine::Mode::Window)
    toolkitMessages = qInstallMessageHandler(QuietToolkitMessages);
  ChoosePlatform();
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");

  qm::gui::UseApplicationFont();

  // Any argument makes the start unattended: nothing may wait for a person.
  qm::gui::Seam().unattended = QCoreApplication::arguments().size() > 1;

  auto options = qm::gui::MainFormOptions::FromCommandLine(argc, argv);
  if (!options.refused.empty()) {
    std::cerr << "quillmar: " << options.refused << '\n';
    if (!qm::gui::Seam().unattended)
      qm::gui::ShowWarning(nullptr, qm::gui::ToText(options.refused));
    return 2;
  }

  auto* splash = new qm::gui::TSplashForm;
  splash->show();
  splash->repaint();
  QCoreApplication::processEvents();

  QCoreApplication::setApplicationName(QStringLiteral("Quillmar"));

  int exitCode = 0;
  {
    options.splash = splash;
    options.report = &std::cout;
    if (command.mode == qm::CommandLine::Mode::TestRun) {
      options.testRun = true;
      options.arguments = {qm::gui::ToText(command.file)};
    }
    if (command.mode == qm::CommandLine::Mode::Duplicates)
      options.duplicatesReport = true;
    qm::gui::TMainForm form(std::move(options));
    exitCode = form.StartupExitCode();
    if (exitCode == 0) {
      form.show();
      exitCode = QApplication::exec();
      if (exitCode == 0) exitCode = form.RunExitCode();
    }
  }
  // Also covers a failed login, whose window never ran its close handler.
  WildcatServerDeleteContext();
  return exitCode;
}
