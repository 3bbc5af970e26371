#include "platform/FileTime.h"

#include <langinfo.h>

#include <cctype>
#include <chrono>
#include <clocale>

namespace qm {

namespace {

std::string Format(const char* format, const std::tm& tm) {
  char buffer[128];
  size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return std::string(buffer, n);
}

// The columns of the listing's date.
constexpr size_t kDateColumns = 8;

// The field a date conversion shows: 'd', 'm', 'y', or 0 for another.
char DateField(char conversion) {
  switch (conversion) {
    case 'd':
    case 'e':
      return 'd';
    case 'm':
    case 'b':
    case 'B':
    case 'h':
      return 'm';
    case 'y':
    case 'Y':
      return 'y';
    default:
      return 0;
  }
}

struct DateFormats {
  // The locale's own order and separators with a two-digit year, so that
  // the date mostly fits eight columns.
  std::string shortForm;
  // Two digits each for day, month and year in the locale's order, joined
  // by its first ASCII separator ("/" when it has none): always eight.
  std::string numeric;
};

DateFormats LocaleDateFormats() {
  std::string full = nl_langinfo(D_FMT);
  for (size_t at = full.find("%F"); at != std::string::npos;
       at = full.find("%F", at))
    full.replace(at, 2, "%Y-%m-%d");
  DateFormats formats;
  std::string order;
  char separator = 0;
  for (size_t i = 0; i < full.size(); ++i) {
    const auto c = static_cast<unsigned char>(full[i]);
    if (c != '%') {
      formats.shortForm += full[i];
      if (!separator && c < 0x80 && std::ispunct(c)) separator = full[i];
      continue;
    }
    // Flags, width and the E/O modifier stand before the conversion.
    size_t end = full.find_first_not_of("_-0^#123456789EO", i + 1);
    if (end == std::string::npos) end = full.size() - 1;
    formats.shortForm +=
        full[end] == 'Y' ? std::string("%y") : full.substr(i, end - i + 1);
    const char field = DateField(full[end]);
    if (field && order.find(field) == std::string::npos) order += field;
    i = end;
  }
  for (const char field : std::string("mdy"))  // a field it lacks, as in C
    if (order.find(field) == std::string::npos) order += field;
  for (const char field : order) {
    if (!formats.numeric.empty())
      formats.numeric += separator ? separator : '/';
    formats.numeric += field == 'd' ? "%d" : field == 'm' ? "%m" : "%y";
  }
  return formats;
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
  using namespace std::chrono;
  // Every file time lies within the years the civil calendar types hold.
  const sys_seconds time{seconds{FileTimeToUnix(fileTime)}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss<seconds> clock{time - day};
  std::tm tm{};
  tm.tm_year = static_cast<int>(date.year()) - 1900;
  tm.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
  tm.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
  tm.tm_hour = static_cast<int>(clock.hours().count());
  tm.tm_min = static_cast<int>(clock.minutes().count());
  tm.tm_sec = static_cast<int>(clock.seconds().count());
  tm.tm_wday = static_cast<int>(weekday{day}.c_encoding());
  tm.tm_yday =
      static_cast<int>((day - sys_days{date.year() / January / 1}).count());
  tm.tm_isdst = -1;
  return tm;
}

std::string FileTimeToDateText(uint64_t fileTime) {
  const std::tm calendar = FileTimeToCalendar(fileTime);
  const DateFormats formats = LocaleDateFormats();
  std::string text = Format(formats.shortForm.c_str(), calendar);
  // Cutting a longer form ("20年01月02日") would split a character.
  if (text.size() > kDateColumns)
    text = Format(formats.numeric.c_str(), calendar);
  return text;
}

std::string FileTimeToIsoText(uint64_t fileTime) {
  return Format("%Y-%m-%d %H:%M:%S", FileTimeToCalendar(fileTime));
}

std::string CurrentDateText() { return Format("%x", Now()); }
std::string CurrentTimeText() { return Format("%X", Now()); }

}  // namespace qm
