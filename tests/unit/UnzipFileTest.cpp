// The unzip component: its texts, its command block, and its calls into the
// real library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <type_traits>

#include "actions/UnzipFile.h"
#include "tests/support/TestSupport.h"

using qmtest::ListDir;
using qmtest::ReadFile;
using qmtest::TempDir;

namespace {

// A text property is changed through SetText only.
static_assert(!std::is_copy_assignable_v<qm::TLPStr>);
static_assert(!std::is_move_assignable_v<qm::TLPStr>);

TEST(TLPStr, GrowingTextAndPointers) {
  qm::TLPStr text;
  EXPECT_EQ(text.Pointer(), nullptr);  // never set
  EXPECT_FALSE(text.Fixed());
  text.SetText("");
  ASSERT_NE(text.Pointer(), nullptr);
  EXPECT_STREQ(text.Pointer(), "");
  std::string longText(1000, 'q');
  text.SetText(longText);
  EXPECT_EQ(text.Text(), longText);
  text.SetText("short");
  EXPECT_STREQ(text.Pointer(), "short");
  text.Clear();
  EXPECT_EQ(text.Pointer(), nullptr);
  EXPECT_EQ(text.Text(), "");
}

TEST(TLPStr, FixedTextIsCutToSizeMinusOne) {
  qm::TLPStr text(8);
  EXPECT_TRUE(text.Fixed());
  text.SetText("ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(text.Text(), "ABCDEFG");
  EXPECT_EQ(text.Size(), 8);
  text.Clear();
  ASSERT_NE(text.Pointer(), nullptr);  // a fixed buffer stays
  EXPECT_EQ(text.Text(), "");
  text.SetFixedSize(3);
  text.SetText("xyz");
  EXPECT_EQ(text.Text(), "xy");
}

int32_t At(const DunzipBlock& block, size_t offset) {
  int32_t value;
  std::memcpy(&value, reinterpret_cast<const char*>(&block) + offset,
              sizeof value);
  return value;
}

const void* PointerAt(const DunzipBlock& block, size_t offset) {
  const void* value;
  std::memcpy(&value, reinterpret_cast<const char*>(&block) + offset,
              sizeof value);
  return value;
}

TEST(UnzipFile, CommandBlockFromProperties) {
  TUnzipFile unzip(qmtest::BinDir());
  unzip.Options = {qm::OverWriteFlag, qm::QuietFlag, qm::NoDirectoryNamesFlag};
  unzip.wUnzipSubOptions = {qm::USO_FORCEREMOVEABLE};
  unzip.lpszFileSpec.SetText("");
  unzip.IndexofItem = 5;
  unzip.PrepareCommand(3);
  const DunzipBlock& block = unzip.CommandBlock();
  ASSERT_EQ(sizeof(void*), 8u);
  EXPECT_EQ(At(block, 0), 202);
  EXPECT_EQ(At(block, 4), 3);
  EXPECT_EQ(At(block, 32), 5);
  for (size_t offset = 44; offset < 76; offset += 4) {
    bool set = offset == 52 || offset == 56 || offset == 64;
    EXPECT_EQ(At(block, offset), set ? 1 : 0) << offset;
  }
  for (size_t offset : {120, 124, 128}) EXPECT_EQ(At(block, offset), 0);
  uint16_t mask;
  std::memcpy(&mask, reinterpret_cast<const char*>(&block) + 156, 2);
  EXPECT_EQ(mask, 128);
  EXPECT_EQ(PointerAt(block, 8), nullptr);  // lpszZipFile never set
  ASSERT_NE(PointerAt(block, 24), nullptr);
  EXPECT_STREQ(static_cast<const char*>(PointerAt(block, 24)), "");
  EXPECT_NE(PointerAt(block, 16), nullptr);  // the information buffer
  EXPECT_EQ(PointerAt(block, 84), &unzip);   // user value of the callbacks

  unzip.Options = {qm::bDiagnostic, qm::DecryptFlag};
  unzip.wUnzipSubOptions = {qm::USO_OVERWRITE_RO, qm::USO_LOGZIPRESULTS};
  unzip.PrepareCommand(8);
  EXPECT_EQ(At(unzip.CommandBlock(), 120), 1);
  EXPECT_EQ(At(unzip.CommandBlock(), 124), 0);
  EXPECT_EQ(At(unzip.CommandBlock(), 128), 1);
  EXPECT_EQ(At(unzip.CommandBlock(), 52), 0);
  std::memcpy(&mask, reinterpret_cast<const char*>(&unzip.CommandBlock()) + 156,
              2);
  EXPECT_EQ(mask, 1 + 256);
}

class UnzipCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    zip_ = dir_ / "GAME.ZIP";
    dest_ = dir_ / "dest/";
    qmtest::MakeDirs(dest_);
    qmtest::MakeZip(zip_, {{"FILE_ID.DIZ", "Game of the year\r\n"},
                           {"extra/file_id.diz", "second"},
                           {"GAME.EXE", "MZ"}});
    qm::ApplyStoredUnzipSettings(unzip_);
    unzip_.lpszZipFile.SetText(zip_);
    unzip_.lpszDestination.SetText(dest_);
    unzip_.lpszFileSpec.SetText("file_id.diz");
  }

  TempDir dir_;
  std::string zip_, dest_;
  TUnzipFile unzip_{qmtest::BinDir()};
};

TEST_F(UnzipCalls, CountsThenExtracts) {
  ASSERT_TRUE(TUnzipFile::Loaded());
  ASSERT_TRUE(unzip_.Execute(3));
  EXPECT_EQ(unzip_.ReturnCount(), 2);
  EXPECT_EQ(unzip_.ReturnCode(), 0);
  EXPECT_TRUE(ListDir(dest_).empty());

  unzip_.lpszFileSpec.SetText("*.exe");
  ASSERT_TRUE(unzip_.Execute(8));
  EXPECT_EQ(ListDir(dest_), std::vector<std::string>{"GAME.EXE"});
  EXPECT_EQ(ReadFile(dest_ + "GAME.EXE"), "MZ");

  // A second instance shares the loaded library.
  {
    TUnzipFile other(dir_ / "nowhere");
    other.lpszZipFile.SetText(zip_);
    ASSERT_TRUE(other.Execute(3));
    EXPECT_EQ(other.ReturnCount(), 3);
  }
  EXPECT_TRUE(unzip_.Execute(3));
}

TEST_F(UnzipCalls, InvalidCodesAndFailuresKeepTheCount) {
  ASSERT_TRUE(unzip_.Execute(3));
  ASSERT_EQ(unzip_.ReturnCount(), 2);
  // Neither code reaches the library: its "unknown function" code would
  // replace the last return code.
  EXPECT_FALSE(unzip_.Execute(0));
  EXPECT_FALSE(unzip_.Execute(10));
  EXPECT_EQ(unzip_.ReturnCode(), 0);
  EXPECT_EQ(unzip_.ReturnCount(), 2);

  unzip_.lpszZipFile.SetText(dir_ / "missing.zip");
  EXPECT_FALSE(unzip_.Execute(3));
  EXPECT_EQ(unzip_.ReturnCode(), DZ_ERR_OPEN);
  EXPECT_EQ(unzip_.ReturnCount(), 2);
  EXPECT_FALSE(unzip_.InfoText().empty());

  // Code 6 gives the return text a fixed buffer of the count + 1.
  EXPECT_FALSE(unzip_.Execute(6));
  EXPECT_TRUE(unzip_.lpszReturnString.Fixed());
  EXPECT_EQ(unzip_.lpszReturnString.Size(), 3);
  const auto returnString = unzip_.CommandBlock().returnString;  // packed
  EXPECT_EQ(returnString, unzip_.lpszReturnString.Data());
}

TEST_F(UnzipCalls, StatusEventsDuringExtraction) {
  std::vector<std::string> majors, minors;
  std::vector<int32_t> percents;
  unzip_.OnMajorCallback = [&](const std::string& item, int32_t percent,
                               bool&) {
    majors.push_back(item);
    percents.push_back(percent);
  };
  unzip_.OnMinorCallback = [&](const std::string& item, int32_t, bool&) {
    minors.push_back(item);
  };
  // extra/file_id.diz lands on the root member's name and stays out.
  unzip_.lpszFileSpec.SetText("*");
  ASSERT_TRUE(unzip_.Execute(8));
  ASSERT_EQ(majors.size(), 3u);
  EXPECT_EQ(majors[0], "FILE_ID.DIZ");
  EXPECT_EQ(majors[1], "GAME.EXE");
  EXPECT_EQ(percents.front(), 0);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_FALSE(minors.empty());
  EXPECT_EQ(unzip_.ReturnCount(), 2);
}

TEST_F(UnzipCalls, CancelAndThrowingEventsStopTheCall) {
  unzip_.OnMajorCallback = [](const std::string&, int32_t, bool& cancel) {
    cancel = true;
  };
  EXPECT_FALSE(unzip_.Execute(8));
  EXPECT_EQ(unzip_.ReturnCode(), DZ_ERR_CANCELLED);
  EXPECT_TRUE(ListDir(dest_).empty());

  unzip_.OnMajorCallback = nullptr;
  unzip_.OnMinorCallback = [](const std::string&, int32_t, bool&) {
    throw std::runtime_error("handler failed");
  };
  EXPECT_THROW(unzip_.Execute(8), std::runtime_error);
  EXPECT_TRUE(ListDir(dest_).empty());
  // The failure is not raised again by the next call.
  unzip_.OnMinorCallback = nullptr;
  EXPECT_TRUE(unzip_.Execute(8));
}

// Loading happens once per process, so each failure runs in a fresh child.
void LoadAndExit(const std::string& dir) {
  TUnzipFile::LoadResult result = TUnzipFile::Load(dir);
  std::fputs(result.error.c_str(), stderr);
  std::exit(result.ok ? 0 : 1);
}

TEST(UnzipFileDeathTest, ReportsAMissingLibraryOrEntryPoint) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempDir dir;
  EXPECT_EXIT(LoadAndExit(dir.path()), ::testing::ExitedWithCode(1),
              "Could not load DUNZIP32.DLL!");

  qmtest::WriteFile(dir / "libdunzip.so", "not a shared library");
  EXPECT_EXIT(LoadAndExit(dir.path()), ::testing::ExitedWithCode(1),
              "Could not load DUNZIP32.DLL!");

  // A real shared library without the entry point.
  Dl_info info;
  ASSERT_NE(dladdr(reinterpret_cast<void*>(&zip_open), &info), 0);
  std::filesystem::copy_file(info.dli_fname, dir / "libdunzip.so",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EXIT(LoadAndExit(dir.path()), ::testing::ExitedWithCode(1),
              "Could not load dunzip function!");

  EXPECT_EXIT(LoadAndExit(qmtest::BinDir()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
