// "From File List" on an arbitrary path list, as a test run: it reports
// what it would add or refuse and changes nothing.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "actions/AddNewFiles.h"
#include "fuzz/FuzzSupport.h"
#include "host/HostAdmin.h"
#include "platform/Files.h"
#include "platform/Paths.h"

using qmfuzz::Check;

namespace {

constexpr int32_t kArea = 1;
constexpr const char* kListName = "list.qls";

// The host home is Workspace()/host, so list lines such as
// "host/files1/GAME.ZIP" and "upload/NEW.ZIP" resolve against the
// configuration file's directory, the workspace.
const std::string& Setup() {
  static const std::string home = [] {
    const std::string made = qmfuzz::FuzzHost({{kArea, "Uploads", "files1"}});
    const std::string area = qmfuzz::AreaDir(kArea);
    for (const char* name : {"GAME.ZIP", "README", "OLD.ZIP", "file.txt"})
      qmtest::WriteFile(area + "/" + name, name);
    const std::string upload = qmfuzz::Workspace() + "/upload";
    qmtest::MakeDirs(upload + "/sub");
    for (const char* name : {"NEW.ZIP", "game.zip", "old.zip", "sub/DEEP.TXT",
                             "VERYLONGNAME15.ZIP", ".hidden"})
      qmtest::WriteFile(upload + "/" + name, name);
    TFullFileRecord old{};
    old.Info.Area = kArea;
    std::strcpy(old.Info.Name, "OLD.ZIP");
    std::string error;
    Check(qm::host::AddFileRecord(made, old, error),
          "the area's existing record: " + error);
    return made;
  }();
  return home;
}

// "Add to FA# 1: NAME from: DIR" naming a file that exists; gives NAME.
std::string ReportedName(const std::string& line) {
  const std::string head = "Add to FA# " + std::to_string(kArea) + ": ";
  Check(line.compare(0, head.size(), head) == 0, "test-run line: " + line);
  const std::string rest = line.substr(head.size());
  for (size_t at = rest.find(" from: "); at != std::string::npos;
       at = rest.find(" from: ", at + 1)) {
    const std::string name = rest.substr(0, at);
    const std::string dir = rest.substr(at + 7);
    if (!name.empty() && qm::FileNamePart(name) == name &&
        qm::FileExists(dir + name))
      return name;
  }
  qmfuzz::Fail("a reported file exists: " + line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qmfuzz::HostSession session(Setup());
  const std::string area = qmfuzz::AreaDir(kArea);
  const std::string upload = qmfuzz::Workspace() + "/upload";
  const std::string bytes = qmfuzz::Bytes(data, size);
  qmtest::WriteFile(area + "/" + kListName, bytes);
  const std::vector<std::string> areaBefore = qmfuzz::Tree(area);
  const std::vector<std::string> uploadBefore = qmfuzz::Tree(upload);

  qmtest::TestRun run(qmfuzz::Workspace() + "/prog");
  run.view.testRun = true;
  run.state.configDir = qm::TrailingBackslash(qmfuzz::Workspace());
  run.state.logBaseName = qmfuzz::Workspace() + "/run.cfg";
  qm::AddNewFiles(run.ctx, kArea, "From File List", kListName,
                  "Extract from ZIP", "file_id.diz", area);

  Check(run.view.messages.empty(), "no box in a test run");
  size_t lines = 1;
  for (const char c : bytes) lines += c == '\r' || c == '\n';
  Check(run.view.testRunLines.size() <= lines, "at most one report a line");
  std::set<std::string> names;
  for (const std::string& line : run.view.testRunLines) {
    if (line.compare(0, 5, "ERR: ") == 0) continue;  // the run would refuse it
    const std::string name = qm::UpperCase(ReportedName(line));
    Check(name != "OLD.ZIP", "a name the area holds is not added");
    Check(names.insert(name).second, "no name is reported twice");
  }
  Check(qmtest::AreaRecords(kArea).size() == 1, "a test run adds no record");
  Check(
      qmfuzz::Tree(area) == areaBefore && qmfuzz::Tree(upload) == uploadBefore,
      "a test run changes no file");
  Check(!qm::FileExists(qmfuzz::Workspace() + "/run.err"),
        "a test run writes no log");
  return 0;
}
