#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/FileTime.h"
#include "tests/support/TestSupport.h"

using qmtest::TempDir;

namespace {

using qmtest::kNoLocaledef;

// Switches LC_ALL to name ("de_DE.UTF-8"), building the locale under dir
// (as LOCPATH) when it is not installed. Empty when switched, else why not.
std::string SwitchLocale(const std::string& name, const std::string& dir) {
  if (std::setlocale(LC_ALL, name.c_str())) return {};
  const std::string built = qmtest::BuildLocale(name, dir);
  if (!built.empty()) return built;
  setenv("LOCPATH", (dir + "/" + name).c_str(), 1);
  if (std::setlocale(LC_ALL, name.c_str())) return {};
  return "no " + name + " locale";
}

}  // namespace

TEST(PlatformFileTime, ConvertsAndFormatsWithoutZoneShift) {
  // 2000-01-02 03:04:05 UTC
  uint64_t ft = qm::UnixToFileTime(946782245);
  EXPECT_EQ(ft, 125912558450000000ull);
  EXPECT_EQ(qm::FileTimeToUnix(ft), 946782245);
  EXPECT_EQ(qm::FileTimeToIsoText(ft), "2000-01-02 03:04:05");
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(qm::FileTimeToDateText(ft), "01/02/00");
  setenv("TZ", "UTC-2", 1);
  tzset();
  uint64_t local = 0;
  ASSERT_TRUE(qm::FileTimeToLocalFileTime(ft, local));
  EXPECT_EQ(qm::FileTimeToIsoText(local), "2000-01-02 05:04:05");
  unsetenv("TZ");
  tzset();
}

TEST(PlatformFileTime, ShortDateHasTheLocalesOrderAndATwoDigitYear) {
  TempDir dir;
  const uint64_t lastDay = qm::UnixToFileTime(946641600);  // 1999-12-31 12:00
  const struct {
    const char* locale;
    const char* date;
  } rows[] = {{"C", "12/31/99"},
              {"en_US.UTF-8", "12/31/99"},
              {"de_DE.UTF-8", "31.12.99"},
              {"tr_TR.UTF-8", "31-12-99"},
              // Its own form ("99年12月31日") does not fit eight columns.
              {"ja_JP.UTF-8", "99/12/31"}};
  for (const auto& row : rows) {
    const std::string missing = SwitchLocale(row.locale, dir.path());
    if (missing == kNoLocaledef) GTEST_SKIP() << missing;
    ASSERT_EQ(missing, "");
    EXPECT_EQ(qm::FileTimeToDateText(lastDay), row.date) << row.locale;
  }
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
}
