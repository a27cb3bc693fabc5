// message() without the toolkit: it shows its box through whatever presenter the desktop set, so
// that code which may report to the user links without a display's libraries.
#include "windowing/desktop.h"

#include <atomic>

namespace sorv::win {

namespace {
std::atomic<MessagePresenter> presenter{nullptr};
} // namespace

void setMessagePresenter(MessagePresenter p) {
    presenter.store(p);
}

int message(const std::string& text, const std::string& caption, int icon, int buttons, int defaultButton) {
    if (MessagePresenter p = presenter.load()) return p(text, caption, icon, buttons, defaultButton);
    return defaultButton ? defaultButton : button::Ok;
}

} // namespace sorv::win
