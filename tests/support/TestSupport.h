// Helpers shared by the tests: temporary directories, a recording run view,
// ZIP archives, child processes and hosts built in place.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "config/ConfigFile.h"
#include "run/RunContext.h"
#include "server/WcApi.h"

namespace qmtest {

// A fresh directory under the system's temp folder (or under base),
// removed at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& base = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }  // no trailing "/"
  std::string operator/(const std::string& name) const {
    return path_ + "/" + name;
  }

 private:
  std::string path_;
};

// Permission checks do not apply to root: acts as "nobody" for the object's
// lifetime (a no-op for other users).
class AsUnprivileged {
 public:
  AsUnprivileged();
  ~AsUnprivileged();
  AsUnprivileged(const AsUnprivileged&) = delete;
  AsUnprivileged& operator=(const AsUnprivileged&) = delete;

 private:
  bool active_ = false;
};

// A full disk: while the object lives, no file of the process (or of a child
// it starts) grows past bytes; such writes fail instead of signalling.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(uint64_t bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  uint64_t saved_ = 0;
  void (*previous_)(int) = nullptr;
};

// A disk that fills up: a tmpfs of bytes mounted on dir. False when this
// machine does not allow it (not root, no mount rights).
bool MountSmallTmpfs(const std::string& dir, uint64_t bytes);
void Unmount(const std::string& dir);

// True once the process is gone (or a zombie nobody reaps) within the
// time; false when it still runs then.
bool ProcessEnds(int pid, int waitSeconds = 5);
// The numbers in a file of one process id per line.
std::vector<int> PidsIn(const std::string& path);

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
void MakeDirs(const std::string& path);
// Sets a file's modification time (seconds since 1970, UTC).
void SetMTime(const std::string& path, int64_t seconds);
std::vector<std::string> ListDir(const std::string& path);  // sorted names
void MakeFifo(const std::string& path);

// Ends the test process (SIGALRM) when its scope outlasts the given time, so
// a call that blocks on a FIFO fails the test instead of hanging it.
class Watchdog {
 public:
  explicit Watchdog(unsigned seconds = 20);
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
};

// The entries of a run log (CRLF lines) after its two header lines; none
// when the file does not exist.
std::vector<std::string> LogEntries(const std::string& file);
// The rows of the duplicate index at db; -1 when it cannot be read.
int IndexRows(const std::string& db);

// A configuration entry for area "Area <area>", on no volume.
qm::AreaConfigEntry ConfigEntry(int32_t area, const std::string& action,
                                const std::string& param,
                                const std::string& spec,
                                const std::string& descAction = "NA",
                                const std::string& descSpec = "NA",
                                const std::string& path = "");

// A ZIP archive with the given members (name -> bytes).
void MakeZip(const std::string& path,
             const std::vector<std::pair<std::string, std::string>>& members);

// An archive made by bsdtar from the given members (name -> bytes, folders
// in names made too), added in the given order: 7z for a name ending in
// .7Z, gzipped tar for .TGZ and .TAR.GZ, else tar. A member given as
// "-> target" is a symbolic link, as "=> member" a hard link to an earlier
// member. Options ("-s" name rewrites, say) come before the member names.
void MakeBsdtar(const std::string& path,
                const std::vector<std::pair<std::string, std::string>>& members,
                const std::vector<std::string>& options = {});

// An archive made by the Debian archivers from the given members (name ->
// bytes, folders in names made too), added in the given order: `arj a` for
// a name ending in .ARJ, else `arc a` (ARC keeps no folders).
void MakeWithArchiver(
    const std::string& path,
    const std::vector<std::pair<std::string, std::string>>& members);

struct ProcessResult {
  int exitCode = -1;  // -1: killed by a signal or timed out
  bool timedOut = false;
  std::string out;
  std::string err;
  long maxResidentKiB = 0;  // its peak, or that of a child it waited for
};
// Runs argv[0] with arguments; env entries "K=V" are added to the current
// environment. Kills the process after timeoutSeconds.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env = {},
                         int timeoutSeconds = 60,
                         const std::string& workingDir = "");

// tests/check_web_listing.py on an HTML and a JSON listing of the same
// areas, run by the system's Python (where Debian puts python3-html5lib).
ProcessResult CheckWebListing(const std::string& html, const std::string& json);

// Builds the locale name ("ja_JP.UTF-8") with localedef into dir/name/,
// the LOCPATH that finds it. Empty when built, else why not; kNoLocaledef
// when the tool is missing.
inline constexpr char kNoLocaledef[] = "localedef is missing";
std::string BuildLocale(const std::string& name, const std::string& dir);

// A child process left running (for a host held by another utility).
class BackgroundProcess {
 public:
  explicit BackgroundProcess(const std::vector<std::string>& argv);
  ~BackgroundProcess();  // kills the child if it still runs
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  // Reads the child's standard output until it holds text (or timeout).
  bool WaitForOutput(const std::string& text, int timeoutSeconds = 20);

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string seen_;
};

// The build's program directory (QM_BIN_DIR) and a copy of it in dir.
std::string BinDir();
// The checkout (QM_SOURCE_DIR, which tests use as a macro).
std::string SourceDir();
std::string CopyProgramDir(const std::string& dir);  // returns dir + "/bin"

// Runs "wcserver" from the build with the given arguments.
ProcessResult Wcserver(const std::vector<std::string>& args);

// A host home created in place (host/HostAdmin.h), with areas added.
struct AreaSpec {
  int32_t number;
  std::string name;
  std::string path;  // raw host path; relative paths lie under the home
};
void MakeHost(const std::string& home, const std::vector<AreaSpec>& areas,
              const std::string& password = "");

// Logs in to the host at home for the object's lifetime (one at a time).
class HostLogin {
 public:
  explicit HostLogin(const std::string& home, const std::string& password = "");
  ~HostLogin();
  HostLogin(const HostLogin&) = delete;
  HostLogin& operator=(const HostLogin&) = delete;
  bool ok = false;
};

// Every record of an area in key order, with long descriptions (needs a
// login).
std::vector<TFullFileRecord> AreaRecords(int32_t area);
// Adds a record through the host (needs a login); false on failure.
bool AddRecord(int32_t area, const std::string& name,
               const std::vector<std::string>& longLines = {});

// A RunView that records everything; boxes go to lists instead of windows.
class RecordingRunView : public qm::RunView {
 public:
  bool testRun = false;
  std::vector<std::string> testRunLines;
  std::vector<std::string> messages;  // plain, warning and error boxes
  std::string panelArea, panelAction, panelSpec;
  qm::ActionLabel litLabel = qm::ActionLabel::None;
  int gaugeMax = 0, gaugePos = 0;
  bool extractingVisible = false;
  int extractingShown = 0;  // times made visible
  std::vector<std::string> progressCaptions;
  std::vector<int> progressMaxima;
  std::vector<int> progressLastPositions;
  int cancelAfterEvents = -1;     // request cancel after N ProcessEvents
  bool cancelProgress = false;    // progress windows report "cancelled"
  qm::RunState* state = nullptr;  // for cancelAfterEvents
  int eventsProcessed = 0;

  bool IsTestRun() const override { return testRun; }
  void AddTestRunLine(const std::string& line) override;
  void ProcessEvents() override;
  void SetPanels(const std::string& area, const std::string& action,
                 const std::string& spec) override;
  void SetSpecPanel(const std::string& spec) override { panelSpec = spec; }
  std::string SpecPanel() const override { return panelSpec; }
  void ClearPanels() override;
  void LightActionLabel(qm::ActionLabel label) override { litLabel = label; }
  void SetGaugeMaximum(int maximum) override { gaugeMax = maximum; }
  void SetGaugePosition(int position) override { gaugePos = position; }
  void SetBusyCursor(bool) override {}
  void SetExtractingVisible(bool visible) override;
  std::unique_ptr<qm::ProgressView> OpenProgress(
      const std::string& caption) override;
  void ShowMessage(const std::string& text) override;
  void ShowWarning(const std::string& text) override;
  void ShowError(const std::string& text) override;
};

// A run context over a recording view, with the program directory set to a
// temporary directory (logs and Temp/ go there).
struct TestRun {
  explicit TestRun(const std::string& programDir);
  qm::RunState state;
  RecordingRunView view;
  qm::RunContext ctx{state, view, nullptr};
};

}  // namespace qmtest
