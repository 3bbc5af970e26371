#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "config/AreaPaths.h"
#include "host/HostAdmin.h"
#include "platform/FieldText.h"
#include "tests/support/TestSupport.h"

namespace {

// A host with areas on a drive, on volumes, relative to the home and with
// an empty path, logged in for the test.
class AreaPathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Drive paths such as "D:\..." are plain names here: keep the storage
    // directories the host makes for them inside the temporary directory.
    ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    home_ = dir_ / "home";
    volumeRoot_ = dir_ / "vol1/";
    qmtest::MakeHost(home_, {{0, "Drive Area", "D:\\WinApps\\Games"},
                             {1, "Volume Area", "[cdrom1]\\games"},
                             {3, "Relative", "files\\misc"},
                             {4, "Unknown Volume", "[NOPE]\\x"},
                             {6, "UNC", "\\\\server\\share"},
                             {7, "Offline Vol", "[Archive]\\old"},
                             {8, "No Bracket", "[CDROM1\\games"}});
    std::string error;
    ASSERT_TRUE(qm::host::AddVolume(home_, "CDROM1", volumeRoot_, false, error))
        << error;
    ASSERT_TRUE(
        qm::host::AddVolume(home_, "ARCHIVE", dir_ / "arch/", true, error))
        << error;
    login_ = std::make_unique<qmtest::HostLogin>(home_);
    ASSERT_TRUE(login_->ok);
  }
  void TearDown() override {
    login_.reset();
    EXPECT_EQ(chdir(cwd_), 0);
  }

  qmtest::TempDir dir_;
  char cwd_[4096] = {};
  std::string home_, volumeRoot_;
  std::unique_ptr<qmtest::HostLogin> login_;
};

TEST_F(AreaPathsTest, ResolvesDriveVolumeAndRelativePaths) {
  const std::string home = "/srv/wc5/";
  qm::ResolvedAreaPath drive = qm::ResolveAreaPath("D:\\WinApps\\Games", home);
  EXPECT_EQ(drive.Path, "D:\\WinApps\\Games");
  EXPECT_EQ(drive.Volume, "NA");
  EXPECT_EQ(drive.Offline, "No");

  // The volume's own path ends in a separator; the one after "]" goes.
  qm::ResolvedAreaPath volume = qm::ResolveAreaPath("[cdrom1]\\games", home);
  EXPECT_EQ(volume.Path, volumeRoot_ + "games");
  EXPECT_EQ(volume.Volume, "CDROM1");  // as the host spells it
  EXPECT_EQ(volume.Offline, "No");

  qm::ResolvedAreaPath offline = qm::ResolveAreaPath("[archive]\\old", home);
  EXPECT_EQ(offline.Path, dir_ / "arch/old");
  EXPECT_EQ(offline.Offline, "Yes");

  for (const std::string unchanged : {"[NOPE]\\x", "[CDROM1\\games"}) {
    qm::ResolvedAreaPath r = qm::ResolveAreaPath(unchanged, home);
    EXPECT_EQ(r.Path, unchanged);
    EXPECT_EQ(r.Volume, "NA");
    EXPECT_EQ(r.Offline, "No");
  }

  EXPECT_EQ(qm::ResolveAreaPath("files\\misc", home).Path,
            "/srv/wc5/files\\misc");
  EXPECT_EQ(qm::ResolveAreaPath("\\\\server\\share", home).Path,
            "/srv/wc5/\\\\server\\share");
  EXPECT_EQ(qm::ResolveAreaPath("/srv/files", home).Path, "/srv/files");
  // A volume name with nothing after "]" leaves just the volume's path.
  EXPECT_EQ(qm::ResolveAreaPath("[CDROM1]", home).Path, volumeRoot_);
}

TEST_F(AreaPathsTest, FindVolumeIgnoresLetterCase) {
  auto volume = qm::FindVolume("Cdrom1");
  ASSERT_TRUE(volume.has_value());
  EXPECT_EQ(qm::FieldText(volume->Name), "CDROM1");
  EXPECT_EQ(qm::FieldText(volume->Path), volumeRoot_);
  EXPECT_FALSE(qm::FindVolume("CDROM").has_value());
  EXPECT_FALSE(qm::FindVolume("").has_value());
}

TEST_F(AreaPathsTest, FillFromHostListsAreasWithPathsInOrder) {
  std::string home = "/srv/wc5";  // no trailing separator yet
  const auto rows = qm::FillFromHost(home);
  EXPECT_EQ(home, "/srv/wc5/");
  ASSERT_EQ(rows.size(), 7u);
  std::vector<int32_t> numbers;
  for (const auto& row : rows) numbers.push_back(row.AreaNum);
  EXPECT_EQ(numbers, (std::vector<int32_t>{0, 1, 3, 4, 6, 7, 8}));
  const qm::AreaConfigEntry& relative = rows[2];
  EXPECT_EQ(relative.AreaName, "Relative");
  EXPECT_EQ(relative.FileAction, "NA");
  EXPECT_EQ(relative.FileActionParam, "NA");
  EXPECT_EQ(relative.FileActionSpec, "NA");
  EXPECT_EQ(relative.DescAction, "NA");
  EXPECT_EQ(relative.DescActionSpec, "NA");
  EXPECT_EQ(relative.Path, "/srv/wc5/files\\misc");
  EXPECT_EQ(relative.Volume, "NA");
  EXPECT_FALSE(relative.Offline);
  EXPECT_EQ(rows[1].Volume, "CDROM1");
  EXPECT_TRUE(rows[5].Offline);

  std::string empty;
  EXPECT_EQ(qm::FillFromHost(empty)[2].Path, "files\\misc");
  EXPECT_EQ(empty, "");
}

TEST_F(AreaPathsTest, AreasWithoutPathAreNotListed) {
  login_.reset();
  std::string error;
  ASSERT_TRUE(qm::host::AddArea(home_, 10, "Pathless", "", error)) << error;
  ASSERT_TRUE(qm::host::AddArea(home_, 11, "After", "x", error)) << error;
  login_ = std::make_unique<qmtest::HostLogin>(home_);
  ASSERT_TRUE(login_->ok);
  std::string home = "/h/";
  const auto rows = qm::FillFromHost(home);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.back().AreaNum, 11);
  EXPECT_EQ(rows[rows.size() - 2].AreaNum, 8);
}

TEST_F(AreaPathsTest, MoveTargetsOfferEveryOtherNamedArea) {
  const auto targets = qm::MoveTargets(3);
  EXPECT_EQ(targets, (std::vector<std::string>{
                         "0:Drive Area", "1:Volume Area", "4:Unknown Volume",
                         "6:UNC", "7:Offline Vol", "8:No Bracket"}));
  EXPECT_TRUE(qm::HostArea(6).has_value());
  EXPECT_FALSE(qm::HostArea(5).has_value());
}

TEST(MapDriveLetterTest, ReplacesTheFirstCharacter) {
  EXPECT_EQ(qm::MapDriveLetter("T", "D:\\WinApps\\Games"),
            "T:\\WinApps\\Games");
  EXPECT_EQ(qm::MapDriveLetter("", "D:\\WinApps\\Games"), ":\\WinApps\\Games");
  EXPECT_EQ(qm::MapDriveLetter("T", "[CDROM1]\\games"), "TCDROM1]\\games");
  EXPECT_EQ(qm::MapDriveLetter("T", ""), "T");
}

}  // namespace
