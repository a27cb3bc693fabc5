// Calendar arithmetic for day numbers (proleptic Gregorian) and time numbers.
#include "runtime/datetime.h"

#include <array>
#include <ctime>

namespace sorv {

namespace {
// Days since 1970-01-01 of a civil date (valid for any year).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {static_cast<int>(y + (m <= 2)), m, d};
}

const std::int64_t kEpoch = daysFromCivil(1801, 1, 1) - FirstDay; // day 0
} // namespace

std::int32_t lastDay() {
    return dayNumber(9999, 12, 31);
}

bool isValidDay(std::int64_t day) {
    return day >= FirstDay && day <= lastDay();
}

bool isLeapYear(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeapYear(year) ? 29 : days[static_cast<std::size_t>(month - 1)];
}

bool isValidCivil(int year, int month, int day) {
    return year >= 1801 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

std::int32_t dayNumber(int year, int month, int day) {
    return static_cast<std::int32_t>(daysFromCivil(year, month, day) - kEpoch);
}

CivilDate civilOf(std::int64_t day) {
    if (!isValidDay(day)) return {};
    return civilFromDays(day + kEpoch);
}

int weekdayOf(std::int64_t day) {
    // 1970-01-01 was a Thursday (4).
    std::int64_t z = day + kEpoch;
    std::int64_t w = (z % 7 + 7 + 4) % 7;
    return static_cast<int>(w);
}

bool isValidTime(std::int64_t time) {
    return time >= 1 && time <= LastTime;
}

std::int32_t timeNumber(int hour, int minute, int second, int hundredth) {
    return ((hour * 60 + minute) * 60 + second) * 100 + hundredth + 1;
}

ClockTime clockOf(std::int64_t time) {
    if (!isValidTime(time)) return {};
    std::int64_t t = time - 1;
    ClockTime c;
    c.hundredth = static_cast<int>(t % 100);
    t /= 100;
    c.second = static_cast<int>(t % 60);
    t /= 60;
    c.minute = static_cast<int>(t % 60);
    c.hour = static_cast<int>(t / 60);
    return c;
}

std::string_view monthAbbrev(int month) {
    static constexpr std::array<std::string_view, 12> m = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return month >= 1 && month <= 12 ? m[static_cast<std::size_t>(month - 1)] : std::string_view();
}

std::string_view monthName(int month) {
    static constexpr std::array<std::string_view, 12> m = {"January",   "February", "March",    "April",
                                                           "May",       "June",     "July",     "August",
                                                           "September", "October",  "November", "December"};
    return month >= 1 && month <= 12 ? m[static_cast<std::size_t>(month - 1)] : std::string_view();
}

std::int32_t today() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return dayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::int32_t clockNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    return timeNumber(tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ts.tv_nsec / 10000000));
}

} // namespace sorv
