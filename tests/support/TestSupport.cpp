#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "host/HostAdmin.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace qmtest {

TempDir::TempDir(const std::string& base) {
  std::string pattern =
      (base.empty() ? fs::temp_directory_path().string() : base) +
      "/qmtest.XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only directories behind; make them removable.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add,
                      ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

AsUnprivileged::AsUnprivileged() {
  if (geteuid() == 0) active_ = seteuid(65534) == 0;
}

AsUnprivileged::~AsUnprivileged() {
  // Every later test would run without its rights.
  if (active_ && seteuid(0) != 0) std::abort();
}

FileSizeLimit::FileSizeLimit(uint64_t bytes) {
  previous_ = signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0)
    throw std::runtime_error("getrlimit failed");
  saved_ = limit.rlim_cur;
  limit.rlim_cur = bytes;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
    throw std::runtime_error("setrlimit failed");
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = saved_;
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, previous_);
}

bool MountSmallTmpfs(const std::string& dir, uint64_t bytes) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  return mount("tmpfs", dir.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
               options.c_str()) == 0;
}

void Unmount(const std::string& dir) { umount2(dir.c_str(), MNT_DETACH); }

bool ProcessEnds(int pid, int waitSeconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  for (;;) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return true;
    const size_t close = line.rfind(')');
    if (close != std::string::npos && close + 2 < line.size() &&
        line[close + 2] == 'Z')
      return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<int> PidsIn(const std::string& path) {
  std::vector<int> pids;
  std::ifstream in(path);
  for (int pid = 0; in >> pid;) pids.push_back(pid);
  return pids;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

void MakeDirs(const std::string& path) { fs::create_directories(path); }

void MakeFifo(const std::string& path) {
  if (mkfifo(path.c_str(), 0666) != 0)
    throw std::runtime_error("cannot make FIFO " + path);
}

Watchdog::Watchdog(unsigned seconds) { alarm(seconds); }
Watchdog::~Watchdog() { alarm(0); }

void SetMTime(const std::string& path, int64_t seconds) {
  timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = times[1].tv_nsec = 0;
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set time of " + path);
}

std::vector<std::string> ListDir(const std::string& path) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(path, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int IndexRows(const std::string& db) {
  sqlite3* handle = nullptr;
  int rows = -1;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) ==
      SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(handle, "SELECT count(*) FROM stored", -1, &stmt,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
      rows = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(handle);
  return rows;
}

std::vector<std::string> LogEntries(const std::string& file) {
  if (!Exists(file)) return {};
  const std::string text = ReadFile(file);
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {  // an unfinished last line still counts
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  if (lines.size() < 2) return lines;  // no full header: show what is there
  return {lines.begin() + 2, lines.end()};
}

qm::AreaConfigEntry ConfigEntry(int32_t area, const std::string& action,
                                const std::string& param,
                                const std::string& spec,
                                const std::string& descAction,
                                const std::string& descSpec,
                                const std::string& path) {
  qm::AreaConfigEntry entry;
  entry.AreaNum = area;
  entry.AreaName = "Area " + std::to_string(area);
  entry.FileAction = action;
  entry.FileActionParam = param;
  entry.FileActionSpec = spec;
  entry.DescAction = descAction;
  entry.DescActionSpec = descSpec;
  entry.Path = path;
  entry.Volume = "NA";
  return entry;
}

void MakeZip(const std::string& path,
             const std::vector<std::pair<std::string, std::string>>& members) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!archive) throw std::runtime_error("cannot create zip " + path);
  for (const auto& [name, bytes] : members) {
    // libzip owns (and frees) the copy; an empty member needs none.
    void* copy = nullptr;
    if (!bytes.empty()) {
      copy = std::malloc(bytes.size());
      std::memcpy(copy, bytes.data(), bytes.size());
    }
    zip_source_t* source =
        zip_source_buffer(archive, copy, bytes.size(), copy != nullptr);
    if (!source || zip_file_add(archive, name.c_str(), source,
                                ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
      zip_source_free(source);
      zip_discard(archive);
      throw std::runtime_error("cannot add " + name + " to " + path);
    }
  }
  if (zip_close(archive) != 0) {
    zip_discard(archive);
    throw std::runtime_error("cannot write zip " + path);
  }
}

void MakeBsdtar(const std::string& path,
                const std::vector<std::pair<std::string, std::string>>& members,
                const std::vector<std::string>& options) {
  const std::string upper = qm::UpperCase(path);
  auto endsWith = [&](const std::string& tail) {
    return upper.size() >= tail.size() &&
           upper.compare(upper.size() - tail.size(), tail.size(), tail) == 0;
  };
  std::vector<std::string> argv = {"/usr/bin/env", "bsdtar", "-c", "-f", path};
  if (endsWith(".7Z"))
    argv.push_back("--format=7zip");
  else if (endsWith(".TGZ") || endsWith(".TAR.GZ"))
    argv.push_back("-z");
  argv.insert(argv.end(), options.begin(), options.end());
  TempDir scratch;
  for (const auto& [name, bytes] : members) {
    std::filesystem::path file = scratch / name;
    std::filesystem::create_directories(file.parent_path());
    if (bytes.rfind("-> ", 0) == 0)
      std::filesystem::create_symlink(bytes.substr(3), file);
    else if (bytes.rfind("=> ", 0) == 0)
      std::filesystem::create_hard_link(scratch / bytes.substr(3), file);
    else
      WriteFile(file.string(), bytes);
    argv.push_back(name);
  }
  ProcessResult made = RunProcess(argv, {}, 120, scratch.path());
  if (made.exitCode != 0)
    throw std::runtime_error("bsdtar could not make " + path + ": " + made.err);
}

void MakeWithArchiver(
    const std::string& path,
    const std::vector<std::pair<std::string, std::string>>& members) {
  const bool arj = qm::UpperCase(path).ends_with(".ARJ");
  std::vector<std::string> argv = {"/usr/bin/env"};
  if (arj)
    argv.insert(argv.end(), {"arj", "a", "-y", path});
  else
    argv.insert(argv.end(), {"arc", "a", path});
  TempDir scratch;
  for (const auto& [name, bytes] : members) {
    std::filesystem::path file = scratch / name;
    std::filesystem::create_directories(file.parent_path());
    WriteFile(file.string(), bytes);
    argv.push_back(name);
  }
  ProcessResult made = RunProcess(argv, {}, 120, scratch.path());
  if (made.exitCode != 0)
    throw std::runtime_error(argv[1] + " could not make " + path + ": " +
                             made.out + made.err);
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& env,
                         int timeoutSeconds, const std::string& workingDir) {
  ProcessResult result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (!workingDir.empty() && chdir(workingDir.c_str()) != 0) _exit(127);
    for (const auto& entry : env) putenv(strdup(entry.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, static_cast<int>(left)) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, size_t(n));
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.maxResidentKiB = usage.ru_maxrss;
  return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(pipeFds[1], 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  out_ = pipeFds[0];
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

bool BackgroundProcess::WaitForOutput(const std::string& text,
                                      int timeoutSeconds) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  char buffer[256];
  while (seen_.find(text) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) return false;
    pollfd fd{out_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
    ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    seen_.append(buffer, static_cast<size_t>(n));
  }
  return true;
}

std::string BuildLocale(const std::string& name, const std::string& dir) {
  // A directory of its own: the C library remembers where a locale was
  // missing.
  const std::string path = dir + "/" + name;
  MakeDirs(path);
  const std::string source = name.substr(0, name.find('.'));
  ProcessResult built = RunProcess(
      {"/bin/sh", "-c",
       "command -v localedef >/dev/null || exit 127; exec localedef -c -i " +
           source + " -f UTF-8 '" + path + "/" + name + "'"},
      {}, 120);
  if (built.exitCode == 127) return kNoLocaledef;
  if (!Exists(path + "/" + name + "/LC_TIME"))
    return "no " + name + " locale: " + built.err;
  return {};
}

std::string BinDir() {
  if (const char* dir = std::getenv("QM_BIN_DIR")) return dir;
  return QM_BUILD_BIN_DIR;
}

std::string SourceDir() {
  if (const char* dir = std::getenv("QM_SOURCE_DIR")) return dir;
  return QM_BUILD_SOURCE_DIR;
}

std::string CopyProgramDir(const std::string& dir) {
  std::string target = dir + "/bin";
  fs::copy(BinDir(), target,
           fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  return target;
}

ProcessResult Wcserver(const std::vector<std::string>& args) {
  std::vector<std::string> argv{BinDir() + "/wcserver"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv);
}

void MakeHost(const std::string& home, const std::vector<AreaSpec>& areas,
              const std::string& password) {
  std::string error;
  if (!qm::host::InitHost(home, password, "Test Sysop", "Test BBS", "", error))
    throw std::runtime_error("InitHost: " + error);
  for (const auto& area : areas)
    if (!qm::host::AddArea(home, area.number, area.name, area.path, error))
      throw std::runtime_error("AddArea: " + error);
}

HostLogin::HostLogin(const std::string& home, const std::string& password) {
  WcSetHostHome(home.c_str());
  ok = WildcatServerConnect(nullptr) && WildcatServerCreateContext() &&
       MwLogin(password.c_str());
}

HostLogin::~HostLogin() {
  LogoutUser();
  WildcatServerDeleteContext();
}

std::vector<TFullFileRecord> AreaRecords(int32_t area) {
  std::vector<TFullFileRecord> records;
  TFileRecord rec{};
  uint32_t position = 0;
  bool found = SearchFileRecByAreaName(area, "", rec, position);
  while (found && rec.Area == area) {
    TFullFileRecord full{};
    if (GetFullFileRec(rec, full)) records.push_back(full);
    found = GetNextFileRec(1, rec, position);
  }
  return records;
}

ProcessResult CheckWebListing(const std::string& html,
                              const std::string& json) {
  return RunProcess({"/usr/bin/python3",
                     SourceDir() + "/tests/check_web_listing.py", html, json});
}

bool AddRecord(int32_t area, const std::string& name,
               const std::vector<std::string>& longLines) {
  TFullFileRecord full{};
  full.Info.Area = area;
  std::strncpy(full.Info.Name, name.c_str(), sizeof full.Info.Name - 1);
  if (!longLines.empty())
    std::strncpy(full.Info.Description, longLines[0].c_str(),
                 sizeof full.Info.Description - 1);
  if (longLines.size() > 1) {
    full.Info.HasLongDescription = 1;
    for (size_t i = 0; i < longLines.size() && i < 15; ++i)
      std::strncpy(full.LongDescription[i], longLines[i].c_str(),
                   sizeof full.LongDescription[i] - 1);
  }
  return AddFileRec(full);
}

namespace {

class RecordingProgress : public qm::ProgressView {
 public:
  RecordingProgress(RecordingRunView& view, size_t index)
      : view_(view), index_(index) {}
  void SetMaximum(int maximum) override {
    view_.progressMaxima[index_] = maximum;
  }
  void SetPosition(int position) override {
    view_.progressLastPositions[index_] = position;
  }
  bool Cancelled() override { return view_.cancelProgress; }

 private:
  RecordingRunView& view_;
  size_t index_;
};

}  // namespace

void RecordingRunView::AddTestRunLine(const std::string& line) {
  testRunLines.push_back(line);
}

void RecordingRunView::ProcessEvents() {
  ++eventsProcessed;
  if (state && cancelAfterEvents >= 0 && eventsProcessed > cancelAfterEvents)
    state->cancelRequest = true;
}

void RecordingRunView::SetPanels(const std::string& area,
                                 const std::string& action,
                                 const std::string& spec) {
  panelArea = area;
  panelAction = action;
  panelSpec = spec;
}

void RecordingRunView::ClearPanels() {
  panelArea = panelAction = panelSpec = "";
}

void RecordingRunView::SetExtractingVisible(bool visible) {
  if (visible && !extractingVisible) ++extractingShown;
  extractingVisible = visible;
}

std::unique_ptr<qm::ProgressView> RecordingRunView::OpenProgress(
    const std::string& caption) {
  progressCaptions.push_back(caption);
  progressMaxima.push_back(0);
  progressLastPositions.push_back(0);
  return std::make_unique<RecordingProgress>(*this,
                                             progressCaptions.size() - 1);
}

void RecordingRunView::ShowMessage(const std::string& text) {
  messages.push_back(text);
}
void RecordingRunView::ShowWarning(const std::string& text) {
  messages.push_back(text);
}
void RecordingRunView::ShowError(const std::string& text) {
  messages.push_back(text);
}

TestRun::TestRun(const std::string& programDir) {
  state.programDir = qm::TrailingBackslash(programDir);
  state.homeDir = state.programDir;
  view.state = &state;
}

}  // namespace qmtest
