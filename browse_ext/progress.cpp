// The progress window of the list's long jobs.
#include "browse_ext/progress.h"

#include "windowing/window_spec.h"

#include <algorithm>

namespace sorv::bx {

namespace {

win::WindowSpec progressDesign() {
    win::WindowSpec s;
    s.kind = win::WindowKind::Window;
    s.caption = "Progress...";
    s.at = {-1, -1, 160, 46};
    s.resizable = false;
    s.modal = true;
    s.center = true;
    s.add("PROGRESS", progressctl::Bar, {8, 8, 144, 10});
    s.add("BUTTON", progressctl::Cancel, {56, 26, 48, 14}, "Cancel");
    return s;
}

} // namespace

bool ProgressWindow::open(std::string_view resource) {
    close();
    win::registerWindowResource(std::string(resource), progressDesign); // once per name
    percent_ = -1;
    cancelled_ = false;
    if (!window_.open(resource)) return false;
    show(0, 0);
    return true;
}

void ProgressWindow::show(std::int64_t done, std::int64_t expected) {
    if (!window_.isOpen()) return;
    const int percent = expected > 0 ? int(std::clamp<std::int64_t>(done * 100 / expected, 0, 100)) : 0;
    if (percent == percent_) return;
    percent_ = percent;
    window_.setProperty(progressctl::Bar, win::prop::Progress, std::to_string(percent));
}

void ProgressWindow::setCaption(const std::string& caption) {
    if (window_.isOpen()) window_.setCaption(caption);
}

bool ProgressWindow::cancelled() {
    win::Event e;
    while (!cancelled_ && window_.poll(e))
        if ((e.code == win::event::Accepted && e.control == progressctl::Cancel) ||
            e.code == win::event::CloseWindow || e.code == win::event::CloseDown)
            cancelled_ = true;
    return cancelled_;
}

void ProgressWindow::close() {
    window_.close();
    window_ = win::Window();
}

} // namespace sorv::bx
