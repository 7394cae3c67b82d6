#include "platform/Time.h"

#include <cstdlib>

#include <cmath>
#include <ctime>

namespace tessavar::platform {

void PinLocalTimeZone() {
  if (!std::getenv("TZ")) ::setenv("TZ", ":/etc/localtime", 0);
  ::tzset();
}
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kMsPerDay = kSecondsPerDay * 1000;
// Day number of 1970-01-01 counted from 1899-12-30.
constexpr int64_t kUnixEpochDay = 25569;
constexpr uint32_t kDosDateMax = 0xFF9FBF7Du;  // 2107-12-31 23:59:58
// Dates outside 0001-01-01 .. 9999-12-31 mean nothing to anyone; clamping
// keeps the integer arithmetic below far from overflow for any double.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDay = 2958465.0;

// Days since 1970-01-01 of a proleptic Gregorian date, and back
// (the algorithms of H. Hinnant's "chrono-compatible low-level date
// algorithms", valid far beyond the range used here).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// A date-time as a calendar day (days since 1899-12-30) and the time of
// day in `unit`s (1000 for milliseconds, 1 for seconds), rounded to the
// nearest unit. Before 1899-12-30 the sign belongs to the day only: -1.25
// is 1899-12-29 06:00.
void SplitDateTime(double dateTime, int64_t unitsPerDay, int64_t& day, int64_t& units) {
  if (!std::isfinite(dateTime)) dateTime = 0;
  if (dateTime < kFirstDay) dateTime = kFirstDay;
  if (dateTime > kLastDay + 0.999999) dateTime = kLastDay + 0.999999;
  double whole = std::trunc(dateTime);
  double frac = std::fabs(dateTime - whole);
  day = static_cast<int64_t>(whole);
  units = static_cast<int64_t>(std::llround(frac * static_cast<double>(unitsPerDay)));
  if (units >= unitsPerDay) {  // 23:59:59.9996 rounds into the next day
    units -= unitsPerDay;
    day += 1;
  }
}

double JoinDateTime(int64_t day, int64_t units, int64_t unitsPerDay) {
  double frac = static_cast<double>(units) / static_cast<double>(unitsPerDay);
  return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

struct Fields {
  int year, month, day, hour, minute, second;
};

Fields UnpackDos(uint32_t dos) {
  const uint32_t date = dos >> 16;
  const uint32_t time = dos & 0xFFFF;
  return Fields{static_cast<int>(1980 + (date >> 9)), static_cast<int>((date >> 5) & 0x0F),
                static_cast<int>(date & 0x1F),         static_cast<int>(time >> 11),
                static_cast<int>((time >> 5) & 0x3F),  static_cast<int>((time & 0x1F) * 2)};
}

uint32_t PackDos(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return kDosDate1980;
  if (year > 2107) return kDosDateMax;
  const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(month) << 5) |
                        static_cast<uint32_t>(day);
  const uint32_t time = (static_cast<uint32_t>(hour) << 11) | (static_cast<uint32_t>(minute) << 5) |
                        static_cast<uint32_t>(second / 2);
  return (date << 16) | time;
}

// Local calendar fields to Unix seconds. tm_isdst = -1 lets the C library
// decide whether daylight saving time was in force at that moment.
bool LocalToUnix(int64_t year, int month, int day, int hour, int minute, int second, int64_t& unixSeconds) {
  struct tm tm {};
  tm.tm_year = static_cast<int>(year - 1900);
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  tm.tm_wday = -1;  // mktime may legitimately return -1; a set weekday tells success
  time_t t = ::mktime(&tm);
  if (t == static_cast<time_t>(-1) && tm.tm_wday == -1) return false;
  unixSeconds = static_cast<int64_t>(t);
  return true;
}

bool UnixToLocal(int64_t unixSeconds, struct tm& tm) {
  time_t t = static_cast<time_t>(unixSeconds);
  return ::localtime_r(&t, &tm) != nullptr;
}

}  // namespace

uint32_t TickCount() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec / 1000000);
  return static_cast<uint32_t>(ms);
}

uint32_t UnixToDosDateTime(int64_t unixSeconds) {
  struct tm tm {};
  if (!UnixToLocal(unixSeconds, tm)) return unixSeconds < 0 ? kDosDate1980 : kDosDateMax;
  return PackDos(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

bool IsValidDosDateTime(uint32_t dos) {
  const Fields f = UnpackDos(dos);
  return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= DaysInMonth(f.year, f.month) && f.hour < 24 &&
         f.minute < 60 && f.second < 60;
}

bool DosDateTimeToUnix(uint32_t dos, int64_t& unixSeconds) {
  if (!IsValidDosDateTime(dos)) return false;
  const Fields f = UnpackDos(dos);
  return LocalToUnix(f.year, f.month, f.day, f.hour, f.minute, f.second, unixSeconds);
}

bool DosDateTimeToDateTime(uint32_t dos, double& dateTime) {
  if (!IsValidDosDateTime(dos)) return false;
  const Fields f = UnpackDos(dos);
  dateTime = EncodeDateTime(DateTimeParts{f.year, f.month, f.day, f.hour, f.minute, f.second, 0});
  return true;
}

uint32_t DateTimeToDosDateTime(double dateTime) {
  if (std::isnan(dateTime)) return kDosDate1980;
  const DateTimeParts p = DecodeDateTime(dateTime);
  return PackDos(p.year, p.month, p.day, p.hour, p.minute, p.second);
}

double UnixToLocalDateTime(int64_t unixSeconds) {
  struct tm tm {};
  if (!UnixToLocal(unixSeconds, tm)) {
    // Beyond what the C library can break down: no local offset applies.
    const int64_t day = unixSeconds / kSecondsPerDay - (unixSeconds % kSecondsPerDay < 0 ? 1 : 0);
    const int64_t secs = unixSeconds - day * kSecondsPerDay;
    return JoinDateTime(day + kUnixEpochDay, secs, kSecondsPerDay);
  }
  return EncodeDateTime(DateTimeParts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                      tm.tm_sec, 0});
}

int64_t LocalDateTimeToUnix(double dateTime) {
  int64_t day = 0, secs = 0;
  SplitDateTime(dateTime, kSecondsPerDay, day, secs);
  int64_t year = 0;
  int month = 0, mday = 0;
  CivilFromDays(day - kUnixEpochDay, year, month, mday);
  const int hour = static_cast<int>(secs / 3600);
  const int minute = static_cast<int>(secs / 60 % 60);
  const int second = static_cast<int>(secs % 60);
  int64_t unixSeconds = 0;
  if (LocalToUnix(year, month, mday, hour, minute, second, unixSeconds)) return unixSeconds;
  // mktime refuses years it cannot represent in a tm; UTC is the best left.
  return (day - kUnixEpochDay) * kSecondsPerDay + secs;
}

double Now() {
  struct timespec ts {};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm {};
  if (!UnixToLocal(ts.tv_sec, tm)) return UnixToLocalDateTime(ts.tv_sec);
  return EncodeDateTime(DateTimeParts{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                      tm.tm_sec, static_cast<int>(ts.tv_nsec / 1000000)});
}

uint32_t NowDosDateTime() { return UnixToDosDateTime(static_cast<int64_t>(::time(nullptr))); }

DateTimeParts DecodeDateTime(double dateTime) {
  int64_t day = 0, ms = 0;
  SplitDateTime(dateTime, kMsPerDay, day, ms);
  int64_t year = 0;
  int month = 0, mday = 0;
  CivilFromDays(day - kUnixEpochDay, year, month, mday);
  return DateTimeParts{static_cast<int>(year),
                       month,
                       mday,
                       static_cast<int>(ms / 3600000),
                       static_cast<int>(ms / 60000 % 60),
                       static_cast<int>(ms / 1000 % 60),
                       static_cast<int>(ms % 1000)};
}

double EncodeDateTime(const DateTimeParts& parts) {
  const int64_t day = DaysFromCivil(parts.year, parts.month, parts.day) + kUnixEpochDay;
  const int64_t ms = ((static_cast<int64_t>(parts.hour) * 60 + parts.minute) * 60 + parts.second) * 1000 +
                     parts.millisecond;
  return JoinDateTime(day, ms, kMsPerDay);
}

}  // namespace tessavar::platform
