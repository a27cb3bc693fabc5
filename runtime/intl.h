// The desktop's international date and time settings (section "intl" of the desktop profile), read
// once per run; pictures 17 and 18 (dates) and 7 and 8 (times) are built from them.
#pragma once
#include <string>

namespace sorv {

struct IntlSettings {
    int iTime = 0;   // 0: 12-hour clock with markers, 1: 24-hour clock
    int iTLzero = 1; // 1: hours with a leading zero
    std::string sTime = ":";
    std::string s1159 = "AM";
    std::string s2359 = "PM";
    std::string sShortDate = "MM/dd/yy";
    std::string sLongDate = "ddd', 'MMMM' 'dd', 'yyyy";
};

// The settings of this run, read from the desktop profile on first use.
const IntlSettings& intlSettings();
// Reads the desktop profile again (tests point $SORVDEMO_DESKTOP_PROFILE elsewhere first) and
// empties the picture cache.
void reloadIntlSettings();
// Replaces the settings of this run (tests) and empties the picture cache.
void setIntlSettings(const IntlSettings& settings);

} // namespace sorv
