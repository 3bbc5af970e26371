#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "actions/FileActions.h"
#include "actions/WebListing.h"
#include "platform/Paths.h"
#include "run/ListingExtras.h"
#include "run/RunLog.h"
#include "tests/support/TestSupport.h"

namespace {

using qmtest::ReadFile;

// A host with areas 1, 2 and 12, logged in; the configuration file lives
// in dir, the per-area listings go to dir/lists.
class WebListing : public ::testing::Test {
 protected:
  void SetUp() override {
    qmtest::MakeHost(
        dir / "host",
        {{1, "Games", "games"}, {2, "Docs", "docs"}, {12, "Empty", "empty"}});
    login = std::make_unique<qmtest::HostLogin>(dir / "host");
    ASSERT_TRUE(login->ok);
    run.state.configDir = qm::TrailingBackslash(dir.path());
    run.state.logBaseName = dir / "run.cfg";
    qmtest::MakeDirs(listDir);
  }

  std::string LogText() {
    const std::string log = qm::LogFileName(run.state.logBaseName);
    return qmtest::Exists(log) ? ReadFile(log) : "";
  }

  qmtest::TempDir dir;
  std::string listDir = dir / "lists";
  qmtest::TestRun run{dir.path()};
  std::unique_ptr<qmtest::HostLogin> login;
};

// The web listings, checked by a real HTML parser and a JSON parser: per
// area, and one document for all areas of a run that never grows and
// replaces the earlier one only when the run ends.
TEST_F(WebListing, DocumentsAreValidAndHoldTheirAreas) {
  std::vector<std::string> dos;  // bytes 1-255, drawn as DOS text
  for (int from = 1; from < 256; from += 64) {
    std::string line;
    for (int b = from; b < from + 64 && b < 256; ++b)
      line += static_cast<char>(b);
    dos.push_back(line + "\xDB");
  }
  ASSERT_TRUE(qmtest::AddRecord(1, "ALLBYTES.TXT", dos));
  ASSERT_TRUE(qmtest::AddRecord(
      1, "<B>&.ZIP", {"<b>Tags</b> & \"quotes\"", "", "after an empty line"}));
  // UTF-8 with DOS pictures and line breaks; box art whose second line
  // alone would read as UTF-8.
  ASSERT_TRUE(qmtest::AddRecord(2, "MANUAL.TXT",
                                {"Caf\xC3\xA9 \x01\x7F\x09 \x0D\x0A"}));
  ASSERT_TRUE(qmtest::AddRecord(2, "ART.TXT",
                                {"\xC9\xCD\xBB Art", "\xCD\xBB \xC4\xBF"}));
  run.state.listingExtras.charset = qm::Charset::Cp437;
  qmtest::WriteFile(dir / "web.json", "from an earlier run");
  std::string firstHtml, firstJson;
  for (int runs = 1; runs <= 2; ++runs) {
    qm::AllFilesListed(run.state).clear();  // as every run starts
    for (const char* mode : {"HTML", "JSON"}) {
      const std::string name =
          mode == std::string("HTML") ? "web.html" : "web.json";
      for (const int32_t area : {1, 2, 12})
        qm::ListAction(run.ctx, area, mode, "*.*", "All Files List", name,
                       listDir);
      qm::ListAction(run.ctx, 1, mode, "*.*", "Per File Area", name, listDir);
    }
    if (runs == 1) {
      EXPECT_EQ(ReadFile(dir / "web.json"), "from an earlier run");
      EXPECT_FALSE(qmtest::Exists(dir / "web.html"));
    }
    qm::CompleteWebListings(run.ctx);  // as every run ends
    if (runs == 1) {
      firstHtml = ReadFile(dir / "web.html");
      firstJson = ReadFile(dir / "web.json");
    }
    EXPECT_EQ(ReadFile(dir / "web.html"), firstHtml);
    EXPECT_EQ(ReadFile(dir / "web.json"), firstJson);
  }
  const qmtest::ProcessResult all =
      qmtest::CheckWebListing(dir / "web.html", dir / "web.json");
  EXPECT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(all.out, "1 Games 2\n2 Docs 2\n12 Empty 0\n");
  const qmtest::ProcessResult one =
      qmtest::CheckWebListing(listDir + "/web.html", listDir + "/web.json");
  EXPECT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(one.out, "1 Games 2\n");
  EXPECT_NE(firstJson.find("[\"Caf\xC3\xA9 \u263A\u2302\u25CB \\r\\n\"]"),
            std::string::npos);
  EXPECT_NE(firstJson.find("[\"\u2554\u2550\u2557 Art\",\"\u2550\u2557 "
                           "\u2500\u2510\"]"),
            std::string::npos);
  EXPECT_EQ(LogText(), "");

  // Windows-1252, the default, takes each byte that is not UTF-8 alone.
  run.state.listingExtras.charset = qm::Charset::Windows1252;
  qm::ListAction(run.ctx, 1, "JSON", "*.*", "Per File Area", "1252.json",
                 listDir);
  EXPECT_NE(ReadFile(listDir + "/1252.json").find("\xC2\x81\xE2\x80\x9A"),
            std::string::npos);  // 0x81 0x82

  // A test run reports them as any listing and writes nothing.
  run.view.testRun = true;
  qm::ListAction(run.ctx, 2, "HTML", "*.*", "Per File Area", "t.html", listDir);
  qm::ListAction(run.ctx, 2, "JSON", "*.*", "All Files List", "t.json",
                 listDir);
  EXPECT_EQ(run.view.testRunLines,
            (std::vector<std::string>{"HTML File Listing for FA# 2",
                                      "JSON File Listing for FA# 2"}));
  EXPECT_FALSE(qmtest::Exists(listDir + "/t.html"));
  EXPECT_FALSE(qmtest::Exists(dir / "t.json"));
}

}  // namespace
