#pragma once
// Local time and the MS-DOS packed date-time (date in the high 16 bits, time
// in the low 16 bits, two-second resolution, years 1980 to 2107). Date-times
// are days since 1899-12-30 as a double.
#include <cstdint>

namespace tessavar::platform {

// 1 January 1980, 00:01 (time field 0x0020): the floor every archive date is raised to.
inline constexpr uint32_t kDosDate1980 = 0x00210020;

// Without TZ the C library looks at /etc/localtime again on every local-time
// conversion; naming it in TZ once, at program start before any thread
// runs, gives the same zone without a system call per file. An existing TZ
// is left alone.
void PinLocalTimeZone();

// Milliseconds since an arbitrary start, wrapping at 32 bits.
uint32_t TickCount();

// Unix seconds (UTC) to a packed DOS date-time in local time. Times before
// 1980 give kDosDate1980; times after 2107 give the last valid value.
uint32_t UnixToDosDateTime(int64_t unixSeconds);
// Packed DOS date-time read as local time to Unix seconds; false when the
// fields are not a valid date and time.
bool DosDateTimeToUnix(uint32_t dos, int64_t& unixSeconds);
// Field check: month 1-12, day 1-31 within the month, hour < 24, minute < 60,
// second/2 < 30.
bool IsValidDosDateTime(uint32_t dos);

// Packed DOS date-time to a date-time (no time zone involved); false when invalid.
bool DosDateTimeToDateTime(uint32_t dos, double& dateTime);
// Date-time to packed DOS date-time; values before 1980 give kDosDate1980.
uint32_t DateTimeToDosDateTime(double dateTime);

// Unix seconds (UTC) to a local date-time and back.
double UnixToLocalDateTime(int64_t unixSeconds);
int64_t LocalDateTimeToUnix(double dateTime);

// The current local time.
double Now();
uint32_t NowDosDateTime();

// Calendar fields of a date-time (for display and tests).
struct DateTimeParts {
  int year, month, day, hour, minute, second, millisecond;
};
DateTimeParts DecodeDateTime(double dateTime);
double EncodeDateTime(const DateTimeParts& parts);

}  // namespace tessavar::platform
