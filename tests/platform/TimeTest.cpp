#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <thread>

#include "support/TestSupport.h"
#include "platform/Time.h"

namespace tessavar::platform {
namespace {

// Switches the local time zone for one test and back.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& tz) : env_("TZ", tz) { ::tzset(); }

 private:
  // Members are destroyed in reverse: TZ is put back first, then re-read.
  struct Reread {
    ~Reread() { ::tzset(); }
  } reread_;
  test::ScopedEnv env_;
};

// The zoneinfo name when the database is installed, else the same rules
// spelled out, so the test does not depend on tzdata.
std::string Berlin() {
  return std::ifstream("/usr/share/zoneinfo/Europe/Berlin").good() ? "Europe/Berlin" : "CET-1CEST,M3.5.0,M10.5.0/3";
}

uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  const uint32_t date = (static_cast<uint32_t>(y - 1980) << 9) | (static_cast<uint32_t>(mo) << 5) | static_cast<uint32_t>(d);
  const uint32_t time = (static_cast<uint32_t>(h) << 11) | (static_cast<uint32_t>(mi) << 5) | static_cast<uint32_t>(s / 2);
  return date << 16 | time;
}

int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  struct tm tm {};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<int64_t>(::timegm(&tm));
}

TEST(Time, DosDateTimeAndUnixInUtc) {
  ScopedTimeZone tz("UTC");
  struct Case {
    int y, mo, d, h, mi, s;
  } cases[] = {
      {1980, 1, 1, 0, 0, 0}, {1980, 1, 1, 0, 1, 0},   {2000, 2, 29, 12, 30, 58},
      {2024, 12, 31, 23, 59, 58}, {2038, 1, 19, 3, 14, 8}, {2107, 12, 31, 23, 59, 58},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi << ":" << c.s);
    const uint32_t dos = Dos(c.y, c.mo, c.d, c.h, c.mi, c.s);
    const int64_t unix = Utc(c.y, c.mo, c.d, c.h, c.mi, c.s);
    EXPECT_TRUE(IsValidDosDateTime(dos));
    int64_t back = 0;
    ASSERT_TRUE(DosDateTimeToUnix(dos, back));
    EXPECT_EQ(back, unix);
    EXPECT_EQ(UnixToDosDateTime(unix), dos);
    EXPECT_EQ(UnixToDosDateTime(unix + 1), dos) << "an odd second rounds down";
  }
  EXPECT_EQ(Dos(2107, 12, 31, 23, 59, 58), 0xFF9FBF7Du);
  EXPECT_EQ(UnixToDosDateTime(Utc(1979, 12, 31, 23, 59, 59)), kDosDate1980);
  EXPECT_EQ(UnixToDosDateTime(-1), kDosDate1980);
  EXPECT_EQ(UnixToDosDateTime(Utc(2108, 1, 1, 0, 0, 0)), 0xFF9FBF7Du);
  EXPECT_EQ(UnixToDosDateTime(INT64_MAX), 0xFF9FBF7Du);
  EXPECT_EQ(UnixToDosDateTime(INT64_MIN), kDosDate1980);
}

TEST(Time, InvalidDosFieldsAreRejected) {
  const uint32_t invalid[] = {
      0,                          // month 0, day 0
      Dos(1990, 13, 1, 0, 0, 0),  // month 13
      Dos(1990, 4, 31, 0, 0, 0),  // April has 30 days
      Dos(2001, 2, 29, 0, 0, 0),  // not a leap year
      Dos(2100, 2, 29, 0, 0, 0),  // nor is a century
      Dos(1990, 1, 0, 0, 0, 0),   // day 0
      Dos(1990, 1, 1, 24, 0, 0),  // hour 24
      Dos(1990, 1, 1, 0, 60, 0),  // minute 60
      Dos(1990, 1, 1, 0, 0, 60),  // seconds field 30
  };
  for (uint32_t dos : invalid) {
    SCOPED_TRACE(testing::Message() << std::hex << dos);
    EXPECT_FALSE(IsValidDosDateTime(dos));
    int64_t unix = 12345;
    EXPECT_FALSE(DosDateTimeToUnix(dos, unix));
    double dt = 1.5;
    EXPECT_FALSE(DosDateTimeToDateTime(dos, dt));
  }
  EXPECT_TRUE(IsValidDosDateTime(Dos(2000, 2, 29, 23, 59, 58)));
  EXPECT_TRUE(IsValidDosDateTime(kDosDate1980));
}

TEST(Time, LocalTimeFollowsDaylightSaving) {
  ScopedTimeZone tz(Berlin());
  struct Case {
    int64_t unix;
    uint32_t local;
  } cases[] = {
      {Utc(2024, 1, 15, 12, 0, 0), Dos(2024, 1, 15, 13, 0, 0)},     // CET, +1
      {Utc(2024, 3, 31, 0, 59, 58), Dos(2024, 3, 31, 1, 59, 58)},   // just before the change
      {Utc(2024, 3, 31, 1, 0, 0), Dos(2024, 3, 31, 3, 0, 0)},       // 02:00 does not exist
      {Utc(2024, 7, 1, 22, 30, 10), Dos(2024, 7, 2, 0, 30, 10)},    // CEST, +2, next day
      {Utc(2024, 10, 26, 23, 59, 58), Dos(2024, 10, 27, 1, 59, 58)},  // before 02:00-03:00 comes twice
      {Utc(2024, 10, 27, 2, 0, 0), Dos(2024, 10, 27, 3, 0, 0)},       // after it, back in CET
      {Utc(1980, 1, 1, 0, 0, 0), Dos(1980, 1, 1, 1, 0, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unix);
    EXPECT_EQ(UnixToDosDateTime(c.unix), c.local);
    int64_t back = 0;
    ASSERT_TRUE(DosDateTimeToUnix(c.local, back));
    EXPECT_EQ(back, c.unix);
    // The date-time double takes the same way, exact to the second.
    EXPECT_EQ(LocalDateTimeToUnix(UnixToLocalDateTime(c.unix)), c.unix);
    EXPECT_EQ(LocalDateTimeToUnix(UnixToLocalDateTime(c.unix + 1)), c.unix + 1);
  }
  // Every second over the spring change survives the round trip.
  for (int64_t t = Utc(2024, 3, 31, 0, 58, 0); t < Utc(2024, 3, 31, 1, 2, 0); ++t) {
    ASSERT_EQ(LocalDateTimeToUnix(UnixToLocalDateTime(t)), t) << t;
  }
}

TEST(Time, DateTimeDoubles) {
  struct Case {
    DateTimeParts parts;
    double value;
  } cases[] = {
      {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
      {{1899, 12, 31, 18, 0, 0, 0}, 1.75},
      {{1899, 12, 29, 6, 0, 0, 0}, -1.25},  // before day 0 the fraction counts forward
      {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
      {{1980, 1, 1, 0, 0, 0, 0}, 29221.0},
      {{2000, 1, 1, 12, 0, 0, 0}, 36526.5},
      {{2000, 2, 29, 0, 0, 0, 0}, 36585.0},
      {{2107, 12, 31, 23, 59, 58, 0}, 75971.0 + 86398.0 / 86400.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_DOUBLE_EQ(EncodeDateTime(c.parts), c.value);
    const DateTimeParts p = DecodeDateTime(c.value);
    EXPECT_EQ(p.year, c.parts.year);
    EXPECT_EQ(p.month, c.parts.month);
    EXPECT_EQ(p.day, c.parts.day);
    EXPECT_EQ(p.hour, c.parts.hour);
    EXPECT_EQ(p.minute, c.parts.minute);
    EXPECT_EQ(p.second, c.parts.second);
    EXPECT_EQ(p.millisecond, 0);
  }
  // A value a hair below midnight belongs to the next day, not to 23:59:60.
  const DateTimeParts carry = DecodeDateTime(36526.0 - 1e-10);
  EXPECT_EQ(carry.day, 1);
  EXPECT_EQ(carry.hour, 0);
  EXPECT_EQ(carry.second, 0);
  // Garbage in gives some date, never a crash.
  (void)DecodeDateTime(std::nan(""));
  (void)DecodeDateTime(1e300);
  EXPECT_EQ(DateTimeToDosDateTime(std::nan("")), kDosDate1980);
  EXPECT_EQ(DateTimeToDosDateTime(-1e300), kDosDate1980);
  EXPECT_EQ(DateTimeToDosDateTime(1e300), 0xFF9FBF7Du);
}

TEST(Time, DosDateTimeAndDoubles) {
  double dt = 0;
  ASSERT_TRUE(DosDateTimeToDateTime(kDosDate1980, dt));
  EXPECT_DOUBLE_EQ(dt, 29221.0 + 60.0 / 86400.0);
  struct Case {
    double value;
    uint32_t dos;
  } cases[] = {
      {29221.0, Dos(1980, 1, 1, 0, 0, 0)},
      {EncodeDateTime({2024, 5, 1, 12, 30, 1, 0}), Dos(2024, 5, 1, 12, 30, 0)},   // odd second rounds down
      {EncodeDateTime({2024, 5, 1, 12, 30, 59, 999}), Dos(2024, 5, 1, 12, 30, 58)},
      {EncodeDateTime({2107, 12, 31, 23, 59, 59, 0}), 0xFF9FBF7Du},
      {29220.999, kDosDate1980},  // before 1980
      {-5.5, kDosDate1980},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(DateTimeToDosDateTime(c.value), c.dos);
  }
  // Every even second of a day survives the trip through a double.
  for (int s = 0; s < 86400; s += 2) {
    const uint32_t dos = Dos(2016, 2, 29, s / 3600, s / 60 % 60, s % 60);
    ASSERT_TRUE(DosDateTimeToDateTime(dos, dt));
    ASSERT_EQ(DateTimeToDosDateTime(dt), dos) << s;
  }
}

TEST(Time, ClocksMove) {
  ScopedTimeZone tz("UTC");
  const uint32_t t0 = TickCount();
  const double n0 = Now();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const uint32_t elapsed = TickCount() - t0;  // unsigned arithmetic survives the wrap
  EXPECT_GE(elapsed, 25u);
  EXPECT_LT(elapsed, 5000u);
  const double expected = 25569.0 + static_cast<double>(::time(nullptr)) / 86400.0;
  EXPECT_NEAR(n0, expected, 5.0 / 86400.0);
  EXPECT_TRUE(IsValidDosDateTime(NowDosDateTime()));
}

}  // namespace
}  // namespace tessavar::platform
