// Uploads that are hostile archives, added by a scan through the real ZIP
// library and libarchive: each is still added, nothing lands outside the
// temp directory, and time and memory stay bounded even for a member that
// inflates to 256 MiB, gigabytes of zeros in a solid block or millions of
// names.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>

#include "actions/AddNewFiles.h"
#include "actions/ArchiveReader.h"
#include "actions/ExternalArchive.h"
#include "actions/UnzipFile.h"
#include "host/HostAdmin.h"
#include "platform/Contained.h"
#include "platform/Paths.h"
#include "run/RunLog.h"
#include "tests/support/HandArchives.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using qmtest::ReadFile;
using qmtest::WriteFile;

namespace {

constexpr int64_t kBombSize = int64_t{256} << 20;

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error("building the archive: " + what);
}

// Changes an archive made by MakeZip through libzip.
void Alter(const std::string& path, const std::function<void(zip_t*)>& edit) {
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), 0, &error);
  Check(archive != nullptr, path);
  edit(archive);
  Check(zip_close(archive) == 0, zip_strerror(archive));
}

// Replaces every occurrence of a byte string of the same length (names in
// the local and central headers, say).
void Patch(const std::string& path, const std::string& from,
           const std::string& to) {
  std::string bytes = ReadFile(path);
  size_t count = 0;
  for (size_t at = 0; (at = bytes.find(from, at)) != std::string::npos;
       at += to.size(), ++count)
    bytes.replace(at, from.size(), to);
  Check(count > 0, "nothing to patch in " + path);
  WriteFile(path, bytes);
}

void PutLittle32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> 8 * i);
}

// One member of kBombSize zero bytes, deflated from a sparse file.
void MakeBomb(const std::string& path, const std::string& scratch) {
  int fd = open(scratch.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Check(fd >= 0 && ftruncate(fd, kBombSize) == 0, scratch);
  close(fd);
  int error = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  Check(archive != nullptr, path);
  zip_source_t* source = zip_source_file(archive, scratch.c_str(), 0, -1);
  Check(
      source != nullptr && zip_file_add(archive, "FILE_ID.DIZ", source, 0) >= 0,
      "bomb member");
  Check(zip_close(archive) == 0, zip_strerror(archive));
  unlink(scratch.c_str());
}

// One member of `size` zero bytes, packed by bsdtar from a sparse file
// (read as plain data, so the archive holds the compressed zeros).
void MakeBsdtarBomb(const std::string& path, const std::string& scratch,
                    int64_t size) {
  qmtest::MakeDirs(scratch);
  const std::string member = scratch + "/FILE_ID.DIZ";
  int fd = open(member.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Check(fd >= 0 && ftruncate(fd, size) == 0, member);
  close(fd);
  std::vector<std::string> argv = {
      "/usr/bin/env", "bsdtar", "-c", "-f", path, "--no-read-sparse"};
  if (qm::UpperCase(path).ends_with(".7Z"))
    argv.insert(argv.end(),
                {"--format=7zip", "--options", "7zip:compression=deflate"});
  else
    argv.push_back("-z");
  argv.push_back("FILE_ID.DIZ");
  Check(qmtest::RunProcess(argv, {}, 120, scratch).exitCode == 0, path);
  fs::remove_all(scratch);
}

// After names in an ARJ archive were patched: each header's CRC again.
void FixArjHeaders(std::string& bytes) {
  auto little = [&](size_t at, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i)
      value |= uint32_t{static_cast<uint8_t>(bytes[at + i])} << 8 * i;
    return value;
  };
  for (size_t at = 0, header = 0; at + 4 <= bytes.size(); ++header) {
    const size_t size = little(at + 2, 2);
    if (size == 0) break;
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + at + 4),
              static_cast<uInt>(size));
    PutLittle32(bytes, at + 4 + size, static_cast<uint32_t>(crc));
    const size_t data = header == 0 ? 0 : little(at + 4 + 12, 4);
    at += 4 + size + 4 + 2 + data;
  }
}

// Peak resident memory since the last reset, in bytes.
int64_t PeakMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  return -1;
}
bool ResetPeakMemory() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

// Every file below root, relative to it.
std::vector<std::string> Tree(const std::string& root) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (!entry.is_directory())
      files.push_back(fs::relative(entry.path(), root).string());
  std::sort(files.begin(), files.end());
  return files;
}

class HostileArchive : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(home, {{1, "Uploads", "files/up"}});
    store = qm::host::AreaDirectory(home, 1) + "/";
    qmtest::MakeDirs(store);
    qmtest::MakeDirs(incoming);
    qmtest::MakeDirs(outside);
    qmtest::MakeDirs(dir / "prog");
    qm::ApplyStoredUnzipSettings(unzip);
    run.ctx.unzip = &unzip;
    run.state.autoRun = true;
    run.state.logBaseName = dir / "prog/nightly.cfg";
    run.state.configDir = dir / "prog/";
  }

  // Scans the uploads into area 1 with descriptions from file_id.diz.
  void AddUploads() {
    qmtest::HostLogin login(home);
    ASSERT_TRUE(login.ok);
    qm::AddNewFiles(run.ctx, 1, "Scan For New", incoming + "*.*",
                    "Extract from ZIP", "file_id.diz", store);
    for (const auto& record : qmtest::AreaRecords(1))
      added[record.Info.Name] = record;
  }

  std::string Log() {
    std::string path = qm::LogFileName(run.state.logBaseName);
    return qmtest::Exists(path) ? ReadFile(path) : "";
  }

  qmtest::TempDir dir;
  std::string home = dir / "host";
  std::string store;
  std::string incoming = dir / "incoming/";
  std::string outside = dir / "outside";
  qmtest::TestRun run{dir / "prog"};
  TUnzipFile unzip{qmtest::BinDir()};
  std::map<std::string, TFullFileRecord> added;
};

TEST_F(HostileArchive, EachIsAddedAndNothingLandsOutsideTemp) {
  // Names that try to leave the destination come out flat inside it.
  qmtest::MakeZip(incoming + "TRAVERSE.ZIP",
                  {{"../../outside/FILE_ID.DIZ", "Climbed out?"}});
  qmtest::MakeZip(incoming + "ABSOLUTE.ZIP",
                  {{outside + "/FILE_ID.DIZ", "Rooted?"}});
  // Members refused whole.
  qmtest::MakeZip(incoming + "SYMLINK.ZIP",
                  {{"FILE_ID.DIZ", outside + "/victim"}});
  Alter(incoming + "SYMLINK.ZIP", [](zip_t* z) {
    Check(zip_file_set_external_attributes(z, 0, 0, ZIP_OPSYS_UNIX,
                                           (S_IFLNK | 0777u) << 16) == 0,
          "link attributes");
  });
  qmtest::MakeZip(incoming + "SECRET.ZIP", {{"FILE_ID.DIZ", "hidden text"}});
  Alter(incoming + "SECRET.ZIP", [](zip_t* z) {
    uint16_t method = zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1)
                          ? ZIP_EM_TRAD_PKWARE
                          : ZIP_EM_AES_256;
    Check(zip_file_set_encryption(z, 0, method, "pw") == 0, "encryption");
  });
  const std::string text = "a description whose bytes get damaged";
  qmtest::MakeZip(incoming + "BADCRC.ZIP", {{"FILE_ID.DIZ", text}});
  Alter(incoming + "BADCRC.ZIP", [](zip_t* z) {
    Check(zip_set_file_compression(z, 0, ZIP_CM_STORE, 0) == 0, "store");
  });
  Patch(incoming + "BADCRC.ZIP", "damaged", "DAMAGED");
  qmtest::MakeZip(incoming + "CUT.ZIP", {{"FILE_ID.DIZ", "complete"}});
  std::string whole = ReadFile(incoming + "CUT.ZIP");
  WriteFile(incoming + "CUT.ZIP", whole.substr(0, whole.size() / 2));
  // Two members stored under one name: the archive is refused.
  qmtest::MakeZip(incoming + "TWINS.ZIP",
                  {{"FILE_ID.DIZ", "first twin"}, {"FILE_ID.DIY", "second"}});
  Patch(incoming + "TWINS.ZIP", "FILE_ID.DIY", "FILE_ID.DIZ");
  // Two members that come out under one name, neither at the root: the
  // first in the archive's order wins.
  qmtest::MakeZip(incoming + "SAMENAME.ZIP",
                  {{"a/FILE_ID.DIZ", "from a"}, {"b/FILE_ID.DIZ", "from b"}});
  // A bomb, honest about its size and lying about it.
  MakeBomb(incoming + "BOMB.ZIP", dir / "zeros");
  std::string bomb = ReadFile(incoming + "BOMB.ZIP");
  ASSERT_LT(bomb.size(), 2u << 20);
  ASSERT_EQ(bomb.compare(0, 4, "PK\3\4"), 0);
  size_t central = bomb.find("PK\1\2");
  ASSERT_NE(central, std::string::npos);
  PutLittle32(bomb, 22, 40);  // uncompressed size, local header
  PutLittle32(bomb, central + 24, 40);
  WriteFile(incoming + "LIAR.ZIP", bomb);

  // The same in the formats read through libarchive, made by bsdtar.
  for (const char* type : {".TAR", ".7Z"}) {
    qmtest::MakeBsdtar(incoming + "TRAVERSE" + type,
                       {{"FILE_ID.DIZ", "Climbed out?"}},
                       {"-P", "-s", ",^,../../outside/,"});
    qmtest::MakeBsdtar(incoming + "ABSOLUTE" + type,
                       {{"FILE_ID.DIZ", "Rooted?"}},
                       {"-P", "-s", ",^," + outside + "/,"});
    qmtest::MakeBsdtar(incoming + "SYMLINK" + type,
                       {{"FILE_ID.DIZ", "-> " + outside + "/victim"}});
    qmtest::MakeBsdtar(incoming + "CUT" + type,
                       {{"FILE_ID.DIZ", std::string(3000, 'c')}});
    // Cut inside the member: reading stops at the member that wins.
    std::string cut = ReadFile(incoming + "CUT" + type);
    WriteFile(incoming + "CUT" + type, cut.substr(0, cut.size() / 2));
    if (std::string(type) == ".TAR")
      WriteFile(incoming + "CUT.TAR", cut.substr(0, 2048));
  }
  qmtest::MakeBsdtar(
      incoming + "HARDLINK.TAR",
      {{"OTHER.TXT", "linked"}, {"FILE_ID.DIZ", "=> OTHER.TXT"}});
  MakeBsdtarBomb(incoming + "BOMB.TGZ", dir / "tgzbomb", int64_t{64} << 20);
  MakeBsdtarBomb(incoming + "BOMB.7Z", dir / "7zbomb", int64_t{64} << 20);
  // 10 GiB of zeros in one solid block after the description, and before
  // it; 10 million names in a 6 KiB header; 100,000 members.
  constexpr uint64_t kTenGiB = uint64_t{10} << 30;
  qmtest::MakeSevenZip(incoming + "SOLID.7Z",
                       {{"FILE_ID.DIZ", "Ten gigabytes of nothing"},
                        {"ZEROS.BIN", "", kTenGiB}});
  qmtest::MakeSevenZip(
      incoming + "LATEDIZ.7Z",
      {{"ZEROS.BIN", "", kTenGiB}, {"FILE_ID.DIZ", "Never reached"}});
  qmtest::MakeSevenZip(incoming + "NAMES.7Z", {}, 10'000'000);
  ASSERT_LT(ReadFile(incoming + "NAMES.7Z").size(), 8u << 10);
  qmtest::MakeSevenZip(incoming + "MANY.7Z",
                       {{"FILE_ID.DIZ", "The last of many"}}, 100'000,
                       "EMPTY.TXT");

  // The same through the archive programs: real archives patched after
  // arj made them, programs that never end, eat memory or leave a link.
  run.state.descriptionExtras.archivers = "ARJ ARC SLOW HOG LINKER";
  run.state.descriptionExtras.archiverSections = {
      {"SLOW", "53 4C 4F 57", "tail -f %a", "cat %a %m"},
      {"HOG", "48 4F 47", "perl -e \"$x = 'x' x (1 << 28)\" %a", "cat %a %m"},
      {"LINKER", "4C 4E 4B", "echo FILE_ID.DIZ %a", "ln -s %a %m"}};
  const std::string climb(outside.size() - 3, 'C');
  qmtest::MakeWithArchiver(incoming + "TRAVERSE.ARJ",
                           {{"AA/" + climb + "/FILE_ID.DIZ", "Climbed out?"}});
  qmtest::MakeWithArchiver(
      incoming + "ABSOLUTE.ARJ",
      {{std::string(outside.size(), 'R') + "/FILE_ID.DIZ", "Rooted?"}});
  for (const char* name : {"TRAVERSE.ARJ", "ABSOLUTE.ARJ"}) {
    std::string bytes = ReadFile(incoming + name);
    const bool climbs = std::string(name) == "TRAVERSE.ARJ";
    const std::string from =
        climbs ? "AA/" + climb : std::string(outside.size(), 'R');
    const std::string to = climbs ? "../../" + climb.substr(3) : outside;
    bytes.replace(bytes.find(from), from.size(), to);
    FixArjHeaders(bytes);
    WriteFile(incoming + name, bytes);
  }
  WriteFile(incoming + "FOREVER.DAT", "SLOW and never done");
  WriteFile(incoming + "GREEDY.DAT", "HOG");
  WriteFile(incoming + "LINK.DAT", "LNK");
  WriteFile(incoming + "MANY.ARC",
            qmtest::Arc({{"FILE_ID.DIZ", "One in a million"}}, 1'000'000));

  // A real RAR 5 on which a reader that goes on past errors yields the
  // same nameless entry forever: the first error ends the reading.
  WriteFile(incoming + "LOOP.RAR",
            ReadFile(qmtest::SourceDir() + "/tests/data/RAR5LOOP.RAR"));

  const std::vector<std::string> before = Tree(dir.path());
  ASSERT_TRUE(ResetPeakMemory());
  const int64_t resident = PeakMemory();
  const auto started = std::chrono::steady_clock::now();
  AddUploads();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
          .count();
  const int64_t grown = PeakMemory() - resident;
  EXPECT_LT(grown, int64_t{32} << 20) << "peak memory grew by " << grown;
  // Two uploads stopped by the time limit; the rest take a few seconds.
  EXPECT_LT(seconds, 2 * qm::kArchiveSeconds + 15.0);
  rusage children{};
  ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &children), 0);
  if (qm::kContainedMemoryLimited) {  // the readers, bsdtar
    EXPECT_LT(children.ru_maxrss, 200L << 10) << "KiB";
  }

  const std::map<std::string, std::string> described = {
      {"TRAVERSE.ZIP", "Climbed out?"},
      {"ABSOLUTE.ZIP", "Rooted?"},
      {"SAMENAME.ZIP", "from a"},
      {"TRAVERSE.TAR", "Climbed out?"},
      {"ABSOLUTE.TAR", "Rooted?"},
      {"TRAVERSE.7Z", "Climbed out?"},
      {"ABSOLUTE.7Z", "Rooted?"},
      {"SOLID.7Z", "Ten gigabytes of nothing"},
      {"MANY.7Z", "The last of many"},
      {"TRAVERSE.ARJ", "Climbed out?"},
      {"ABSOLUTE.ARJ", "Rooted?"},
      {"MANY.ARC", "One in a million"}};
  std::vector<std::string> uploads;
  for (const auto& name : qmtest::ListDir(incoming)) {
    uploads.push_back(name);
    SCOPED_TRACE(name);
    auto record = added.find(name);
    ASSERT_NE(record, added.end()) << "not added";
    auto description = described.find(name);
    EXPECT_STREQ(
        record->second.Info.Description,
        description == described.end() ? "" : description->second.c_str())
        << Log();
    EXPECT_EQ(ReadFile(store + name), ReadFile(incoming + name));
  }
  EXPECT_EQ(added.size(), uploads.size());
  for (const char* refused :
       {"TWINS.ZIP", "CUT.ZIP", "CUT.7Z", "LOOP.RAR", "GREEDY.DAT"})
    EXPECT_NE(Log().find("UnZip Count Failed. ZipFile: " + incoming + refused),
              std::string::npos)
        << Log();
  for (const char* refused :
       {"SYMLINK.ZIP", "SECRET.ZIP", "BADCRC.ZIP", "BOMB.ZIP", "LIAR.ZIP",
        "SYMLINK.TAR", "SYMLINK.7Z", "HARDLINK.TAR", "BOMB.TGZ", "BOMB.7Z",
        "CUT.TAR", "LINK.DAT"})
    EXPECT_NE(Log().find("UnZip Failed. ZipFile: " + incoming + refused +
                         "  fileDesc: file_id.diz"),
              std::string::npos)
        << Log();
  EXPECT_NE(Log().find("UnZip Stopped. ZipFile: " + incoming +
                       "LATEDIZ.7Z: reading it takes more than 5 seconds"),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("UnZip Stopped. ZipFile: " + incoming +
                       "FOREVER.DAT: reading it takes more than 5 seconds"),
            std::string::npos)
      << Log();
  EXPECT_NE(Log().find("UnZip Stopped. ZipFile: " + incoming + "NAMES.7Z: " +
                       (qm::kContainedMemoryLimited
                            ? "reading it needs more than 96 MiB of memory"
                            : "")),
            std::string::npos)
      << Log();

  // What the run wrote: the stored copies, the host's files and the log;
  // the temp directory is left empty.
  std::vector<std::string> after = Tree(dir.path());
  std::vector<std::string> written;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(written));
  for (const std::string& path : written) {
    bool expected = path.rfind("host/", 0) == 0 || path == "prog/nightly.err";
    EXPECT_TRUE(expected) << "written outside storage and temp: " << path;
  }
  EXPECT_TRUE(qmtest::ListDir(dir / "prog/Temp").empty());
  EXPECT_TRUE(qmtest::ListDir(outside).empty());
}

}  // namespace
