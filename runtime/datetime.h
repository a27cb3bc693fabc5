// Day numbers and time numbers of the language: day 4 is 1 January 1801 (so day 1 is 29 December
// 1800); a time is hundredths of a second since midnight plus 1 (1 is 00:00:00.00).
#pragma once
#include <cstdint>
#include <string_view>

namespace sorv {

struct CivilDate {
    int year = 0, month = 0, day = 0;
};

struct ClockTime {
    int hour = 0, minute = 0, second = 0, hundredth = 0;
};

// Dates from 1 January 1801 to 31 December 9999 are valid day numbers.
constexpr std::int32_t FirstDay = 4;
std::int32_t lastDay();
bool isValidDay(std::int64_t day);
bool isValidCivil(int year, int month, int day);
// The day number of a civil date (month and day are not checked; use isValidCivil).
std::int32_t dayNumber(int year, int month, int day);
// The civil date of a day number; out of range days answer {0, 0, 0}.
CivilDate civilOf(std::int64_t day);
// 0 Sunday .. 6 Saturday.
int weekdayOf(std::int64_t day);
bool isLeapYear(int year);
int daysInMonth(int year, int month);

// Times 1 to 8640000 are valid.
constexpr std::int32_t LastTime = 8640000;
bool isValidTime(std::int64_t time);
std::int32_t timeNumber(int hour, int minute, int second, int hundredth = 0);
ClockTime clockOf(std::int64_t time);

// "Jan" .. "Dec" and "January" .. "December" (month 1 to 12; anything else "").
std::string_view monthAbbrev(int month);
std::string_view monthName(int month);

// Today's day number and the time now, from the local clock.
std::int32_t today();
std::int32_t clockNow();

} // namespace sorv
