// The progress window of long jobs.
#include "windowing/progress.h"

#include "windowing/window_spec.h"

#include <algorithm>

namespace sorv::win {

namespace {

WindowSpec progressDesign(bool modal) {
    WindowSpec s;
    s.kind = WindowKind::Window;
    s.caption = "Progress...";
    // Wide enough for a caption the job writes while it runs ("Record=1000000 - " and a category)
    // beside the window manager's buttons.
    s.at = {-1, -1, 220, 46};
    s.resizable = false;
    s.modal = modal;
    s.activates = modal;
    s.center = true;
    s.add("PROGRESS", progressctl::Bar, {8, 8, 204, 10});
    s.add("BUTTON", progressctl::Cancel, {86, 26, 48, 14}, "Cancel");
    return s;
}

} // namespace

bool ProgressWindow::open(std::string_view resource, bool modal) {
    close();
    registerWindowResource(std::string(resource), [modal] { return progressDesign(modal); }); // once per name
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
    window_.setProperty(progressctl::Bar, prop::Progress, std::to_string(percent));
}

void ProgressWindow::setCaption(const std::string& caption) {
    if (window_.isOpen()) window_.setCaption(caption);
}

bool ProgressWindow::cancelled() {
    Event e;
    while (!cancelled_ && window_.poll(e))
        if ((e.code == event::Accepted && e.control == progressctl::Cancel) || e.code == event::CloseWindow ||
            e.code == event::CloseDown)
            cancelled_ = true;
    return cancelled_;
}

void ProgressWindow::close() {
    window_.close();
    window_ = Window();
}

} // namespace sorv::win
