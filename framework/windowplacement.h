// The desktop's window handle as the INI manager sees it.
#pragma once
#include "framework/inimanager.h"
#include "windowing/window.h"

namespace sorv::fw {

class WindowPlacement : public PlacedWindow {
public:
    explicit WindowPlacement(win::Window window) : window_(window) {}
    bool isIconized() const override { return window_.state() == win::WindowState::Iconized; }
    bool isMaximized() const override { return window_.state() == win::WindowState::Maximized; }
    bool isResizable() const override { return window_.resizable(); }
    Placement placement() const override {
        win::Rect r = window_.rect();
        return {r.x, r.y, r.width, r.height};
    }
    void maximize() override { window_.setState(win::WindowState::Maximized); }
    void place(std::optional<int> x, std::optional<int> y, std::optional<int> width,
               std::optional<int> height) override {
        win::Rect r = window_.rect();
        window_.setRect(
            {x.value_or(r.x), y.value_or(r.y), width.value_or(r.width), height.value_or(r.height)});
    }

private:
    mutable win::Window window_;
};

} // namespace sorv::fw
