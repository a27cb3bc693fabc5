// Reading the desktop's "intl" settings once per run.
#include "runtime/intl.h"
#include "runtime/picture.h"

#include <mutex>

namespace sorv {

namespace {

std::mutex intlMutex;
bool intlLoaded = false;
IntlSettings intlValue;

// The one place that reads the desktop profile for these settings.
// TODO(profile): read sorv::getProfileString("intl", key, def) once runtime/profile.h lands.
std::string profileString(const char* key, const std::string& def) {
    (void)key;
    return def;
}

long profileInt(const char* key, long def) {
    std::string s = profileString(key, std::to_string(def));
    try {
        return std::stol(s);
    } catch (...) {
        return def;
    }
}

IntlSettings readIntl() {
    IntlSettings d, s;
    s.iTime = static_cast<int>(profileInt("iTime", d.iTime));
    s.iTLzero = static_cast<int>(profileInt("iTLzero", d.iTLzero));
    s.sTime = profileString("sTime", d.sTime);
    s.s1159 = profileString("s1159", d.s1159);
    s.s2359 = profileString("s2359", d.s2359);
    s.sShortDate = profileString("sShortDate", d.sShortDate);
    s.sLongDate = profileString("sLongDate", d.sLongDate);
    return s;
}

} // namespace

const IntlSettings& intlSettings() {
    std::lock_guard lock(intlMutex);
    if (!intlLoaded) {
        intlValue = readIntl();
        intlLoaded = true;
    }
    return intlValue;
}

void reloadIntlSettings() {
    {
        std::lock_guard lock(intlMutex);
        intlValue = readIntl();
        intlLoaded = true;
    }
    clearPictureCache();
}

void setIntlSettings(const IntlSettings& settings) {
    {
        std::lock_guard lock(intlMutex);
        intlValue = settings;
        intlLoaded = true;
    }
    clearPictureCache();
}

} // namespace sorv
