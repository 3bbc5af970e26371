// The longest time the windows go without processing events:
//   bench_gaps run PROGDIR CFG       the main window runs CFG unattended
//   bench_gaps config PROGDIR CFG    the configuration tool fills its list
//                                    from the host, then opens CFG
// A 5 ms timer fires only when events are processed, so the largest gap
// between its firings is the longest the windows went unanswered. Prints
// "max_gap_ms M passes P over_100ms K cpu_ms C during WHAT": C is the
// process's own CPU time in that gap (the rest is waiting for the disk or
// for a core), WHAT the action the main window showed at its end.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <ctime>
#include <functional>
#include <iostream>
#include <string>

#include "configtool/CfgUnit.h"
#include "mainwindow/MainUnit.h"
#include "server/Session.h"
#include "server/WcApi.h"
#include "windows/Dialogs.h"
#include "windows/TextBytes.h"

namespace {

qint64 CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

struct GapProbe {
  QElapsedTimer clock;
  QTimer timer;
  qint64 last = 0, maxGap = 0, passes = 0, over = 0;
  qint64 lastCpu = 0, maxGapCpu = 0;
  std::function<QString()> where;
  QString maxGapWhere;

  GapProbe() {
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] { Pass(); });
  }
  void Start() {
    clock.start();
    last = 0;
    lastCpu = CpuMs();
    timer.start();
  }
  void Pass() {
    const qint64 now = clock.elapsed();
    const qint64 gap = now - last;
    const qint64 cpu = CpuMs();
    last = now;
    ++passes;
    if (gap > maxGap) {
      maxGap = gap;
      maxGapCpu = cpu - lastCpu;
      if (where) maxGapWhere = where();
    }
    lastCpu = cpu;
    if (gap > 100) ++over;
  }
  int Report() {
    Pass();  // the stretch up to the end counts too
    std::cout << "max_gap_ms " << maxGap << " passes " << passes
              << " over_100ms " << over << " cpu_ms " << maxGapCpu << " during "
              << maxGapWhere.toStdString() << std::endl;
    return 0;
  }
};

int MainWindowRun(const std::string& programDir, const std::string& cfg) {
  qm::gui::Seam().unattended = true;
  qm::gui::MainFormOptions options;
  options.programDir = programDir;
  options.exeName = "quillmar";
  options.arguments = {qm::gui::ToText(cfg)};
  options.report = &std::cerr;
  qm::gui::TMainForm form(std::move(options));
  if (form.StartupExitCode() != 0) return form.StartupExitCode();
  GapProbe probe;
  probe.where = [&form] { return form.pan_Action->text(); };
  form.show();
  probe.Start();
  int code = QApplication::exec();
  probe.Report();
  if (code == 0) code = form.RunExitCode();
  WildcatServerDeleteContext();
  return code;
}

int ConfigTool(const std::string& programDir, const std::string& cfg) {
  qm::RunState state;
  state.programDir = programDir;
  state.homeDir = qm::FindHostHome(programDir) + "/";
  WcSetHostHome(state.homeDir.c_str());
  if (!qm::ServerConnect(nullptr) || !qm::ServerLogin("")) {
    std::cerr << "login failed: " << qm::TheSession().ServerMessage << '\n';
    return 2;
  }
  auto& seam = qm::gui::Seam();
  seam.testMode = true;
  seam.fileNames.push_back(qm::gui::ToText(cfg));
  int code = 0;
  {
    qm::gui::TCfgForm form(nullptr, state);
    GapProbe probe;
    form.show();
    probe.Start();
    QTimer::singleShot(50, &form, [&] {
      form.New1->trigger();
      const int filled = form.FileListView->topLevelItemCount();
      seam.answers.push_back(0);  // no saving of the filled list
      form.Open1->trigger();
      std::cerr << "areas " << filled << " entries "
                << form.FileListView->topLevelItemCount() << '\n';
      if (filled == 0 || form.FileListView->topLevelItemCount() == 0) code = 1;
      QTimer::singleShot(50, [] { QApplication::exit(0); });
    });
    QApplication::exec();
    probe.Report();
  }
  qm::ServerLogout();
  WildcatServerDeleteContext();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 3 && a[0] == "run") return MainWindowRun(a[1], a[2]);
  if (a.size() == 3 && a[0] == "config") return ConfigTool(a[1], a[2]);
  std::cerr << "usage: bench_gaps run|config PROGDIR CFG\n";
  return 2;
}
