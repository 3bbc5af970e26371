// Start-up: the command line, splash, main window with its login, message
// loop, and the last release of the host context.
#include <QApplication>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "runner/CommandLine.h"
#include "runner/gui/MainUnit.h"
#include "server/WcApi.h"
#include "ui/gui/Dialogs.h"
#include "ui/gui/SplashUnit.h"
#include "ui/gui/TextBytes.h"

namespace {

// Without a display the program still runs its configuration files.
void ChoosePlatform() {
  if (std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
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

  ChoosePlatform();
  QApplication app(argc, argv);
  std::setlocale(LC_ALL, "");

  qm::gui::UseApplicationFont();

  // Any argument makes the start unattended: nothing may wait for a person.
  qm::gui::Seam().unattended = QCoreApplication::arguments().size() > 1;

  auto* splash = new qm::gui::TSplashForm;
  splash->show();
  splash->repaint();
  QCoreApplication::processEvents();

  QCoreApplication::setApplicationName(QStringLiteral("Quillmar"));

  int exitCode = 0;
  {
    auto options = qm::gui::MainFormOptions::FromCommandLine(argc, argv);
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
