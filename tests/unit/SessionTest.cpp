#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <optional>
#include <set>

#include "server/Session.h"
#include "server/WcApi.h"
#include "tests/support/TestSupport.h"

namespace {

const std::string kIncorrect =
    "Incorrect Password: for login to Wildcat Server as a wcConfig Utility.";
const std::string kBusy =
    "A utility program is currently loggin to wcServer as a wcConfig "
    "utility.\rYou must quit the current wcConfig program before Quillmar "
    "can login.";

// Records what the login shows and answers the prompts from a queue
// (nullopt cancels; an empty queue cancels too).
struct ScriptedPrompts {
  std::deque<std::optional<std::string>> answers;
  std::vector<std::string> prefilled;  // the value each prompt started with
  std::vector<std::string> messages;
  std::vector<uint32_t> errors;

  qm::LoginPrompts Prompts() {
    qm::LoginPrompts p;
    p.passwordQuery = [this](const std::string& title,
                             const std::string& prompt, std::string& value) {
      EXPECT_EQ(title, "Quillmar Login");
      EXPECT_EQ(prompt, "Please enter your wcConfig Password:");
      prefilled.push_back(value);
      if (answers.empty() || !answers.front()) {
        if (!answers.empty()) answers.pop_front();
        return false;
      }
      value = *answers.front();
      answers.pop_front();
      return true;
    };
    p.showMessage = [this](const std::string& text) {
      messages.push_back(text);
    };
    p.showWcError = [this](uint32_t code) { errors.push_back(code); };
    return p;
  }
};

// Another process holding the host as its configuration utility.
class HostHolder {
 public:
  HostHolder(const std::string& home, int seconds) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      const std::string exe = qmtest::BinDir() + "/wcserver";
      const std::string secs = std::to_string(seconds);
      execl(exe.c_str(), exe.c_str(), "hold", home.c_str(), "--seconds",
            secs.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    // Wait for its word that the lock is taken.
    std::string said;
    pollfd pfd{out[0], POLLIN, 0};
    while (said.find("holding") == std::string::npos &&
           poll(&pfd, 1, 10000) > 0) {
      char buf[256];
      const ssize_t n = read(out[0], buf, sizeof(buf));
      if (n <= 0) break;
      said.append(buf, n);
    }
    close(out[0]);
    holding_ = said.find("holding") != std::string::npos;
  }
  ~HostHolder() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool holding() const { return holding_; }

 private:
  pid_t pid_ = -1;
  bool holding_ = false;
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override { qm::TheSession() = {}; }
  void TearDown() override {
    qm::ServerLogout();
    qm::TheSession() = {};
  }

  void UseHost(const std::string& password) {
    qmtest::MakeHost(home_.path(), {{0, "Uploads", "uploads"}}, password);
    WcSetHostHome(home_.path().c_str());
  }

  qmtest::TempDir home_;
  ScriptedPrompts ui_;
};

TEST_F(SessionTest, EmptyPasswordLogsInWithoutPrompt) {
  UseHost("");
  for (const bool automatic : {false, true}) {
    SCOPED_TRACE(automatic ? "automatic" : "interactive");
    qm::TheSession() = {};
    EXPECT_TRUE(qm::StartupLogin(nullptr, automatic, ui_.Prompts()));
    EXPECT_TRUE(qm::TheSession().ServerConnected);
    EXPECT_TRUE(qm::TheSession().ServerLoggedIn);
    EXPECT_TRUE(ui_.prefilled.empty());
    EXPECT_TRUE(ui_.messages.empty());
    TFileArea area{};
    EXPECT_TRUE(MwGetFileAreas(0, 1, &area));
    qm::ServerLogout();
  }
}

TEST_F(SessionTest, WrongPasswordPromptsAgainPrefilled) {
  UseHost("secret");
  ui_.answers = {"wrong", "secret"};
  EXPECT_TRUE(qm::StartupLogin(nullptr, false, ui_.Prompts()));
  EXPECT_EQ(ui_.prefilled, (std::vector<std::string>{"", "wrong"}));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kIncorrect});
  EXPECT_TRUE(qm::TheSession().ServerLoggedIn);
}

TEST_F(SessionTest, RightPasswordAtFirstPromptShowsNothing) {
  UseHost("secret");
  ui_.answers = {"secret"};
  EXPECT_TRUE(qm::StartupLogin(nullptr, false, ui_.Prompts()));
  EXPECT_EQ(ui_.prefilled.size(), 1u);
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(SessionTest, CancelledPromptsEndFailed) {
  UseHost("secret");
  ui_.answers = {std::nullopt, std::nullopt};
  EXPECT_FALSE(qm::StartupLogin(nullptr, false, ui_.Prompts()));
  // The first cancel still shows the refusal of the empty password.
  EXPECT_EQ(ui_.prefilled, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kIncorrect});
  EXPECT_FALSE(qm::TheSession().ServerLoggedIn);
  EXPECT_EQ(qm::TheSession().ServerMessage,
            "Failed to Login to Wildcat Server!");
}

TEST_F(SessionTest, AutomaticStartNeverPrompts) {
  UseHost("secret");
  ui_.answers = {"secret"};
  EXPECT_FALSE(qm::StartupLogin(nullptr, true, ui_.Prompts()));
  EXPECT_TRUE(ui_.prefilled.empty());
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(qm::TheSession().ServerMessage,
            "Failed to Login to Wildcat Server!");
  EXPECT_EQ(WcGetLastError(), uint32_t{WC_INCORRECT_PASSWORD});
}

TEST_F(SessionTest, BusyHostShowsTheTwoLineMessageEachTime) {
  UseHost("secret");
  HostHolder holder(home_.path(), 60);
  ASSERT_TRUE(holder.holding());
  ui_.answers = {"secret", "secret", std::nullopt};
  EXPECT_FALSE(qm::StartupLogin(nullptr, false, ui_.Prompts()));
  EXPECT_EQ(ui_.prefilled, (std::vector<std::string>{"", "secret", "secret"}));
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{kBusy, kBusy}));
}

TEST_F(SessionTest, LoginSucceedsOnceTheOtherUtilityQuits) {
  UseHost("secret");
  auto holder = std::make_unique<HostHolder>(home_.path(), 60);
  ASSERT_TRUE(holder->holding());
  ui_.answers = {"secret", "secret"};
  qm::LoginPrompts prompts = ui_.Prompts();
  const auto ask = prompts.passwordQuery;
  prompts.passwordQuery = [&](const std::string& title,
                              const std::string& prompt, std::string& value) {
    if (!ui_.messages.empty()) holder.reset();  // the other one quits
    return ask(title, prompt, value);
  };
  EXPECT_TRUE(qm::StartupLogin(nullptr, false, prompts));
  EXPECT_EQ(ui_.messages, std::vector<std::string>{kBusy});
  EXPECT_TRUE(qm::TheSession().ServerLoggedIn);
}

TEST_F(SessionTest, HostThatCannotBeReached) {
  // No host database in this home.
  WcSetHostHome(home_.path().c_str());
  EXPECT_FALSE(qm::StartupLogin(nullptr, false, ui_.Prompts()));
  EXPECT_EQ(ui_.messages,
            std::vector<std::string>{"Failed to create Server Context."});
  ASSERT_EQ(ui_.errors.size(), 1u);
  EXPECT_TRUE(ui_.prefilled.empty());

  qm::TheSession() = {};
  ui_ = {};
  EXPECT_FALSE(qm::StartupLogin(nullptr, true, ui_.Prompts()));
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_TRUE(ui_.errors.empty());
  EXPECT_EQ(qm::TheSession().ServerMessage, "Server Context Not Created.");
}

// Refused at login, not found out file by file with the files copied.
TEST_F(SessionTest, HostThatCannotBeWrittenIsRefusedAndSaysWhy) {
  const std::string kCannot = " The host database cannot be written.";
  auto freshHost = [](const qmtest::TempDir& dir) {
    const std::string home = dir / "host";
    qmtest::MakeHost(home, {{0, "Uploads", "uploads"}});
    EXPECT_EQ(chmod(dir.path().c_str(), 0755), 0);
    EXPECT_EQ(chmod(home.c_str(), 0777), 0);
    WcSetHostHome(home.c_str());
    return home;
  };
  auto loginAs = [&](bool unprivileged) {
    qm::ServerLogout();
    qm::TheSession() = {};
    std::optional<qmtest::AsUnprivileged> nobody;
    if (unprivileged) nobody.emplace();
    return qm::StartupLogin(nullptr, true, ui_.Prompts());
  };

  qmtest::TempDir readOnlyFile;
  std::string home = freshHost(readOnlyFile);
  ASSERT_EQ(chmod((home + "/wchost.db").c_str(), 0444), 0);
  EXPECT_FALSE(loginAs(true));
  EXPECT_EQ(qm::TheSession().ServerMessage,
            "Failed to Login to Wildcat Server!" + kCannot);
  EXPECT_EQ(WcGetLastError(), uint32_t{WC_ACCESS_DENIED});

  // Without its journal the database cannot even be read.
  qmtest::TempDir readOnlyDirectory;
  home = freshHost(readOnlyDirectory);
  ASSERT_EQ(chmod(home.c_str(), 0555), 0);
  EXPECT_FALSE(loginAs(true));
  EXPECT_EQ(qm::TheSession().ServerMessage,
            "Server Context Not Created." + kCannot);

  // A full disk while the host program has the database open.
  qmtest::TempDir fullDisk;
  home = freshHost(fullDisk);
  sqlite3* host = nullptr;
  ASSERT_EQ(sqlite3_open((home + "/wchost.db").c_str(), &host), SQLITE_OK);
  ASSERT_EQ(
      sqlite3_exec(host, "SELECT * FROM settings", nullptr, nullptr, nullptr),
      SQLITE_OK);
  {
    qmtest::FileSizeLimit full(0);
    EXPECT_FALSE(loginAs(false));
  }
  EXPECT_EQ(qm::TheSession().ServerMessage,
            "Failed to Login to Wildcat Server!" + kCannot);
  EXPECT_TRUE(ui_.messages.empty());
  // With room again, the same host takes the login.
  EXPECT_TRUE(loginAs(false));

  // Another program holding a write lock longer than the host waits.
  ASSERT_EQ(sqlite3_exec(host, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_FALSE(loginAs(false));
  EXPECT_EQ(qm::TheSession().ServerMessage,
            "Failed to Login to Wildcat Server! The host database is locked "
            "by another program.");
  EXPECT_EQ(WcGetLastError(), uint32_t{WC_DATABASE_LOCKED});
  sqlite3_exec(host, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(host);
}

TEST_F(SessionTest, OperationsRefuseTheWrongState) {
  EXPECT_FALSE(qm::ServerLogin(""));
  EXPECT_EQ(qm::TheSession().ServerMessage, "Server Context Not Created.");

  UseHost("");
  ASSERT_TRUE(qm::ServerConnect(nullptr));
  EXPECT_FALSE(qm::ServerConnect(nullptr));
  EXPECT_EQ(qm::TheSession().ServerMessage, "Already logged in.");
  ASSERT_TRUE(qm::ServerLogin(""));
  EXPECT_FALSE(qm::ServerLogin(""));
  EXPECT_EQ(qm::TheSession().ServerMessage, "Already logged in.");

  // Logging out releases the host, and the flags stay as they were.
  qm::ServerLogout();
  EXPECT_TRUE(qm::TheSession().ServerLoggedIn);
  qmtest::HostLogin other(home_.path());
  EXPECT_TRUE(other.ok);
}

TEST(HostHome, FoundFromTheIniOrTheHostFolder) {
  qmtest::TempDir dir;
  std::string program = dir.path() + "/";
  EXPECT_EQ(qm::FindHostHome(program), program + "host");
  qmtest::WriteFile(dir / "wcsrv.ini",
                    "[Other]\nHome=nope\n[server]\r\n home = data/h \r\n");
  EXPECT_EQ(qm::FindHostHome(program), program + "data/h");
  qmtest::WriteFile(dir / "wcsrv.ini", "[Server]\nHome=/srv/bbs\n");
  EXPECT_EQ(qm::FindHostHome(program), "/srv/bbs");
}

TEST(WcErrorNameTest, NamesAndUnknownCodes) {
  EXPECT_EQ(qm::WcErrorName(0x20000001), "WC_UNSUPPORTED_VERSION");
  EXPECT_EQ(qm::WcErrorName(0x20000005), "WC_INCORRECT_PASSWORD");
  EXPECT_EQ(qm::WcErrorName(0x2000000A), "WC_GROUP_NOT_FOUND");
  EXPECT_EQ(qm::WcErrorName(0x2000000C), "WC_OBJECTID_ALREADY_EXISTS");
  EXPECT_EQ(qm::WcErrorName(0x2000000F), "WC_ALREADY_LOGGED_IN");
  EXPECT_EQ(qm::WcErrorName(0x20000017), "WC_USER_ALREADY_LOGGED_IN");
  EXPECT_EQ(qm::WcErrorName(0x2000001B), "WC_INVALID_FILEAREA");
  EXPECT_EQ(qm::WcErrorName(0x20000023), "WC_CONTEXT_ALREADY_INITIALIZED");
  for (const uint32_t code : {0x2000000Bu, 0x20000000u, 0x20000024u, 0u, 5u}) {
    EXPECT_EQ(qm::WcErrorName(code), "Unrecoginzed error.") << code;
  }
  // Every named code in the range has its own name.
  std::set<std::string> names;
  for (uint32_t code = 0x20000001; code <= 0x20000023; ++code) {
    if (code != 0x2000000B) names.insert(qm::WcErrorName(code));
  }
  EXPECT_EQ(names.size(), 34u);
  EXPECT_EQ(names.count("Unrecoginzed error."), 0u);
}

}  // namespace
