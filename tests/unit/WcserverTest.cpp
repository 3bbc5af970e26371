// The host program run as a separate process: creating and inspecting a
// host, and holding it as the configuration utility.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/HostAdmin.h"
#include "platform/FileTime.h"
#include "server/WcApi.h"
#include "tests/support/TestSupport.h"

namespace {

using nlohmann::json;
using qmtest::Wcserver;

void ExpectOk(const qmtest::ProcessResult& r) {
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

// A failure: non-zero exit and exactly one line on the error stream.
void ExpectFailure(const qmtest::ProcessResult& r) {
  EXPECT_NE(r.exitCode, 0);
  ASSERT_FALSE(r.err.empty());
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

class WcserverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = dir / "home";
    ExpectOk(Wcserver({"init", home, "--password", "pw", "--sysop", "Ann",
                       "--bbs", "Night Owl"}));
  }
  json ListJson(const std::vector<std::string>& args) {
    auto r = Wcserver(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return json::parse(r.out);
  }

  qmtest::TempDir dir;
  std::string home;
};

TEST_F(WcserverTest, InitMakesAHostWithTheServerProgram) {
  struct stat st {};
  ASSERT_EQ(stat((home + "/wcserver").c_str(), &st), 0);
  EXPECT_TRUE(st.st_mode & S_IXUSR);
  EXPECT_EQ(qmtest::ReadFile(home + "/wcserver"),
            qmtest::ReadFile(qmtest::BinDir() + "/wcserver"));

  qmtest::HostLogin login(home, "pw");
  ASSERT_TRUE(login.ok);
  TMakewild makewild{};
  ASSERT_TRUE(GetMakewild(makewild));
  EXPECT_STREQ(makewild.SystemName, "Night Owl");
  EXPECT_STREQ(makewild.SysopName, "Ann");

  ExpectFailure(Wcserver({"init", home}));  // never over an existing host
  EXPECT_NE(Wcserver({"bogus"}).exitCode, 0);
  // Asked for its usage or version, it answers on standard output.
  const std::pair<const char*, const char*> asked[] = {
      {"--help", "usage: wcserver init HOME"},
      {"-h", "usage: wcserver init HOME"},
      {"--version", "wcserver (Quillmar) "},
      {"-V", "wcserver (Quillmar) "}};
  for (const auto& [ask, answer] : asked) {
    const auto r = Wcserver({ask});
    ExpectOk(r);
    EXPECT_EQ(r.out.rfind(answer, 0), 0u) << r.out;
  }
  ExpectFailure(Wcserver({"area", "list", dir / "nothing"}));

  // A mistyped option makes no host with a default in its place.
  ExpectFailure(Wcserver({"init", dir / "typo", "--pasword", "x"}));
  EXPECT_FALSE(qmtest::Exists(dir / "typo"));
  ExpectFailure(Wcserver({"area", "list", home, "--jsn"}));
  ExpectFailure(Wcserver({"area", "add", home, "--number", "3", "--name", "X",
                          "--path", "x", "--offline"}));
  EXPECT_TRUE(ListJson({"area", "list", home, "--json"}).empty());
}

TEST_F(WcserverTest, AreasAndVolumesAreAddedAndListed) {
  ExpectOk(Wcserver({"volume", "add", home, "--name", "CD1", "--path",
                     dir / "cd/", "--offline"}));
  ExpectOk(Wcserver({"area", "add", home, "--number", "4", "--name", "Games",
                     "--path", "files\\games"}));
  ExpectOk(Wcserver({"area", "add", home, "--number", "2", "--name", "Disc",
                     "--path", "[cd1]\\disc"}));
  ExpectFailure(Wcserver(
      {"area", "add", home, "--number", "4", "--name", "X", "--path", "x"}));
  ExpectFailure(Wcserver(
      {"area", "add", home, "--number", "five", "--name", "X", "--path", "x"}));
  // Places this system cannot reach are stored, never made under the
  // directory the program was started in or under the home.
  const std::string program = qmtest::BinDir() + "/wcserver";
  const std::pair<const char*, const char*> far[] = {
      {"7", "D:\\WinApps\\Games"}, {"8", "\\\\server\\share"}};
  for (const auto& [number, path] : far)
    ExpectOk(qmtest::RunProcess({program, "area", "add", home, "--number",
                                 number, "--name", "Far", "--path", path},
                                {}, 60, dir.path()));
  EXPECT_FALSE(qmtest::Exists(dir / "D:"));
  EXPECT_FALSE(qmtest::Exists(home + "/server"));

  json areas = ListJson({"area", "list", home, "--json"});
  ASSERT_EQ(areas.size(), 4u);
  EXPECT_EQ(areas[0]["number"], 2);
  EXPECT_EQ(areas[0]["name"], "Disc");
  EXPECT_EQ(areas[0]["directory"], dir / "cd/disc");
  EXPECT_EQ(areas[1]["number"], 4);
  EXPECT_EQ(areas[1]["path"], "files\\games");
  EXPECT_EQ(areas[1]["directory"], home + "/files/games");
  EXPECT_TRUE(qmtest::Exists(home + "/files/games"));
  EXPECT_EQ(areas[2]["path"], "D:\\WinApps\\Games");
  EXPECT_EQ(areas[3]["path"], "\\\\server\\share");

  json volumes = ListJson({"volume", "list", home, "--json"});
  ASSERT_EQ(volumes.size(), 1u);
  EXPECT_EQ(volumes[0]["name"], "CD1");
  EXPECT_EQ(volumes[0]["offline"], true);
}

TEST_F(WcserverTest, FilesAreAddedWithDescriptionsAndListedInKeyOrder) {
  ExpectOk(Wcserver({"area", "add", home, "--number", "1", "--name", "One",
                     "--path", "one"}));
  std::string local = dir / "upload.zip";
  qmtest::WriteFile(local, std::string(321, 'z'));
  qmtest::SetMTime(local, 1500000000);
  std::string longLine(100, 'L');
  ExpectOk(Wcserver({"file", "add", home, "--area", "1", "--name", "Zed.zip",
                     "--desc", std::string(90, 'S'), "--desc", longLine,
                     "--desc", "", "--desc", "last", "--from", local}));
  ExpectOk(Wcserver({"file", "add", home, "--area", "1", "--name", "alpha.txt",
                     "--desc", "just short"}));
  EXPECT_EQ(qmtest::ReadFile(home + "/one/Zed.zip"), std::string(321, 'z'));

  json files = ListJson({"file", "list", home, "--area", "1", "--json"});
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0]["name"], "alpha.txt");
  EXPECT_EQ(files[0]["short"], "just short");
  EXPECT_EQ(files[0]["longFlag"], 0);
  EXPECT_TRUE(files[0]["long"].empty());
  const json& zed = files[1];
  EXPECT_EQ(zed["area"], 1);
  EXPECT_EQ(zed["size"], 321);
  uint64_t local0 = 0;
  ASSERT_TRUE(
      qm::FileTimeToLocalFileTime(qm::UnixToFileTime(1500000000), local0));
  EXPECT_EQ(zed["time"], qm::FileTimeToIsoText(local0));
  EXPECT_EQ(zed["short"], std::string(75, 'S'));
  EXPECT_EQ(zed["longFlag"], 1);
  EXPECT_EQ(zed["long"],
            json({std::string(79, 'S'), std::string(79, 'L'), "", "last"}));

  ExpectFailure(
      Wcserver({"file", "add", home, "--area", "1", "--name", "ZED.ZIP"}));
  // A name the host would cut is refused, and nothing is stored for it.
  for (size_t length : {16u, 40u}) {
    const std::string name(length, 'n');
    ExpectFailure(Wcserver(
        {"file", "add", home, "--area", "1", "--name", name, "--from", local}));
    EXPECT_FALSE(qmtest::Exists(home + "/one/" + name));
  }
  EXPECT_EQ(qmtest::ListDir(home + "/one"),
            std::vector<std::string>{"Zed.zip"});
  ExpectFailure(Wcserver({"file", "add", home, "--area", "9", "--name", "a"}));
  ExpectFailure(
      Wcserver({"file", "add", home, "--area", "1", "--name", "../evil"}));
  ExpectFailure(Wcserver({"file", "list", home, "--area", "9"}));
  EXPECT_FALSE(qmtest::Exists(home + "/evil"));

  // --from a FIFO or a directory fails at once, adding nothing.
  qmtest::MakeFifo(dir / "pipe.zip");
  for (const std::string& from : {dir / "pipe.zip", dir.path()}) {
    auto r = qmtest::RunProcess(
        {qmtest::BinDir() + "/wcserver", "file", "add", home, "--area", "1",
         "--name", "pipe.zip", "--from", from},
        {}, 20);
    EXPECT_FALSE(r.timedOut);
    ExpectFailure(r);
  }
  EXPECT_FALSE(qmtest::Exists(home + "/one/pipe.zip"));
  EXPECT_EQ(ListJson({"file", "list", home, "--area", "1", "--json"}).size(),
            2u);
}

TEST_F(WcserverTest, HoldKeepsOtherUtilitiesOutButNotReaders) {
  ExpectOk(Wcserver({"area", "add", home, "--number", "1", "--name", "One",
                     "--path", "one"}));
  ExpectOk(Wcserver({"file", "add", home, "--area", "1", "--name", "a.zip"}));
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  std::string program = qmtest::BinDir() + "/wcserver";
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(program.c_str(), program.c_str(), "hold", home.c_str(), "--seconds",
          "60", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string said;
  char c;
  while (said.find('\n') == std::string::npos && read(out[0], &c, 1) == 1)
    said += c;
  EXPECT_EQ(said, "holding\n");

  {
    qmtest::HostLogin second(home, "pw");
    EXPECT_FALSE(second.ok);
    EXPECT_EQ(WcGetLastError(), WC_ALREADY_LOGGED_IN);
  }
  json areas = ListJson({"area", "list", home, "--json"});
  EXPECT_EQ(areas.size(), 1u);
  json files = ListJson({"file", "list", home, "--area", "1", "--json"});
  EXPECT_EQ(files.size(), 1u);
  ExpectFailure(Wcserver({"hold", home, "--seconds", "1"}));

  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(out[0]);
  qmtest::HostLogin third(home, "pw");
  EXPECT_TRUE(third.ok);
}

}  // namespace
