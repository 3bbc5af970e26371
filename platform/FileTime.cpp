#include "platform/FileTime.h"

#include <langinfo.h>

#include <clocale>

namespace qm {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days from 1970-01-01 to a civil date and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
}

std::string Format(const char* format, const std::tm& tm) {
  char buffer[128];
  size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

// The locale's own date order and separators with a two-digit year, so
// the date fits eight columns.
std::string ShortDateFormat() {
  const std::string full = nl_langinfo(D_FMT);
  std::string format;
  for (size_t i = 0; i < full.size(); ++i) {
    if (full[i] != '%') {
      format += full[i];
      continue;
    }
    // Flags, width and the E/O modifier stand before the conversion.
    size_t end = full.find_first_not_of("_-0^#123456789EO", i + 1);
    if (end == std::string::npos) end = full.size() - 1;
    if (full[end] == 'Y')
      format += "%y";
    else if (full[end] == 'F')
      format += "%y-%m-%d";
    else
      format += full.substr(i, end - i + 1);
    i = end;
  }
  return format;
}

std::tm Now() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return tm;
}

}  // namespace

uint64_t UnixToFileTime(int64_t seconds, int64_t nanoseconds) {
  return static_cast<uint64_t>(seconds * static_cast<int64_t>(kTicksPerSecond) +
                               nanoseconds / 100) +
         kUnixEpochTicks;
}

int64_t FileTimeToUnix(uint64_t fileTime) {
  return (static_cast<int64_t>(fileTime) -
          static_cast<int64_t>(kUnixEpochTicks)) /
         static_cast<int64_t>(kTicksPerSecond);
}

bool FileTimeToLocalFileTime(uint64_t utc, uint64_t& local) {
  std::time_t t = static_cast<std::time_t>(FileTimeToUnix(utc));
  std::tm tm{};
  if (!localtime_r(&t, &tm)) return false;
  int64_t offset = tm.tm_gmtoff;
  local = static_cast<uint64_t>(static_cast<int64_t>(utc) +
                                offset * static_cast<int64_t>(kTicksPerSecond));
  return true;
}

std::tm FileTimeToCalendar(uint64_t fileTime) {
  int64_t seconds = FileTimeToUnix(fileTime);
  int64_t days = seconds / kSecondsPerDay;
  int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  std::tm tm{};
  int y, m, d;
  CivilFromDays(days, y, m, d);
  tm.tm_year = y - 1900;
  tm.tm_mon = m - 1;
  tm.tm_mday = d;
  tm.tm_hour = static_cast<int>(rest / 3600);
  tm.tm_min = static_cast<int>(rest % 3600 / 60);
  tm.tm_sec = static_cast<int>(rest % 60);
  tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01: Thu
  tm.tm_yday = static_cast<int>(days - DaysFromCivil(y, 1, 1));
  tm.tm_isdst = -1;
  return tm;
}

std::string FileTimeToDateText(uint64_t fileTime) {
  return Format(ShortDateFormat().c_str(), FileTimeToCalendar(fileTime));
}

std::string FileTimeToIsoText(uint64_t fileTime) {
  return Format("%Y-%m-%d %H:%M:%S", FileTimeToCalendar(fileTime));
}

std::string CurrentDateText() { return Format("%x", Now()); }
std::string CurrentTimeText() { return Format("%X", Now()); }

}  // namespace qm
