// The 64-bit file-time layout: 100 ns ticks since 1601-01-01.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace qm {

constexpr uint64_t kTicksPerSecond = 10000000ull;
constexpr uint64_t kUnixEpochTicks = 116444736000000000ull;

uint64_t UnixToFileTime(int64_t seconds, int64_t nanoseconds = 0);
int64_t FileTimeToUnix(uint64_t fileTime);
// Shifts a UTC file time by the local zone's offset at that moment.
bool FileTimeToLocalFileTime(uint64_t utc, uint64_t& local);
// Calendar fields of a file time taken as stored (no zone conversion).
std::tm FileTimeToCalendar(uint64_t fileTime);
// The locale's short date of a file time taken as stored, in the locale's
// order and separators but with a two-digit year (C locale: mm/dd/yy).
std::string FileTimeToDateText(uint64_t fileTime);
// "YYYY-MM-DD HH:MM:SS" of a file time taken as stored.
std::string FileTimeToIsoText(uint64_t fileTime);
// The current local date ("%x") and time ("%X").
std::string CurrentDateText();
std::string CurrentTimeText();

}  // namespace qm
