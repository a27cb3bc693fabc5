// Reading the desktop's "intl" settings once per run.
#include "runtime/intl.h"
#include "runtime/picture.h"
#include "runtime/profile.h"

#include <mutex>

namespace sorv {

namespace {

std::mutex intlMutex;
bool intlLoaded = false;
IntlSettings intlValue;

IntlSettings readIntl() {
    IntlSettings d, s;
    s.iTime = static_cast<int>(getProfileInt("intl", "iTime", d.iTime));
    s.iTLzero = static_cast<int>(getProfileInt("intl", "iTLzero", d.iTLzero));
    s.sTime = getProfileString("intl", "sTime", d.sTime);
    s.s1159 = getProfileString("intl", "s1159", d.s1159);
    s.s2359 = getProfileString("intl", "s2359", d.s2359);
    s.sShortDate = getProfileString("intl", "sShortDate", d.sShortDate);
    s.sLongDate = getProfileString("intl", "sLongDate", d.sLongDate);
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
