// The bar graph of a column: collecting the categories, the graph window and its picture, the
// category operations the owners build their categories with, and the copy of the window's image.
#include "browse_ext/graph.h"

#include "browse_ext/colours.h"
#include "browse_ext/listrecords.h"
#include "browse_ext/preferences.h"
#include "browse_ext/progress.h"
#include "browse_ext/sorvex.h"
#include "data/view.h"
#include "runtime/decimal.h"
#include "runtime/picture.h"
#include "windowing/canvas.h"
#include "windowing/desktop.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <map>

namespace sorv::bx {

namespace {

constexpr const char* ProgressResource = "SORVEX|P14$PROGRESSWINDOW";
constexpr std::size_t NameMax = 80;
// The progress caption names the record and its category; more often than this it could not be
// read, and every change is a trip to the desktop.
constexpr auto CaptionEvery = std::chrono::milliseconds(100);
constexpr std::int64_t LookEvery = 16;

// The window of resource "SORVEX|P14$WINDOW".
win::WindowSpec graphDesign() {
    win::WindowSpec s;
    s.kind = win::WindowKind::Window;
    s.caption = "Graph";
    s.at = {-1, -1, 400, 240};
    s.maximized = true;
    s.modal = true;
    s.add("CANVAS", graphctl::Canvas, {0, 0, 0, 0});
    s.add("STRING", graphctl::Heading, {4, 4, 200, 10});
    s.add("STRING", graphctl::Filter, {4, 14, 300, 10});
    s.add("BUTTON", graphctl::Ok, {244, 4, 40, 14}, "OK").defaultButton = true;
    s.add("BUTTON", graphctl::Preferences, {288, 4, 56, 14}, "Pre&ferences").tip =
        "Change Colors and/or Font";
    s.add("BUTTON", graphctl::Output, {348, 4, 48, 14}, "&Ouput").tip =
        "Copies an Window Image to the ClipBoard";
    return s;
}

class ListGraph {
public:
    explicit ListGraph(Sorvex& s) : s_(s) {}

    void run() {
        if (!s_.displayedColumn(s_.CURRENTCOL, column_)) return;
        description_ = std::string(trimmedRight(column_.DESCRIPTION));
        if (!collect()) return;
        if (categories_.empty()) return say("There are no categories to Graph of '" + description_ + "'");
        if (categories_.size() == 1)
            return say("There is only one category to Graph of '" + description_ + "'");
        show();
    }

private:
    void say(const std::string& text) {
        win::message(text, std::string(MessageCaption), win::icon::Asterisk);
    }

    // Reads every record into the categories; false when the graph ends here without a word of
    // its own (a fatal read, which the browse has reported, or too many categories, said here).
    bool collect() {
        const bool browse = s_.LISTTYPE == 1 && s_.BC;
        total_ = expectedRecords(s_);
        if (browse && s_.BC->VIEW) filter_ = s_.BC->VIEW->filter();
        ProgressWindow progress;
        progress.open(ProgressResource);
        bool tooMany = false;
        auto lastCaption = std::chrono::steady_clock::time_point{};
        std::string text;
        const WalkEnd end = walkRecords(s_, [&] {
            ++read_;
            progress.show(read_, total_);
            text.clear();
            s_.GraphCategory(column_.QNOS, column_.PICTURE, text);
            std::string name(trimmedRight(std::string_view(text).substr(0, NameMax)));
            // The clock and the user's "Cancel" are looked at every few records: each look costs
            // more than counting a record does.
            const bool look = read_ % LookEvery == 1;
            if (browse && look) {
                const auto now = std::chrono::steady_clock::now();
                if (now - lastCaption >= CaptionEvery) {
                    progress.setCaption("Record=" + std::to_string(read_) + " - " + name);
                    lastCaption = now;
                }
            }
            ++categories_[std::move(name)];
            if (categories_.size() > std::size_t(MaxCategories)) {
                tooMany = true;
                return false;
            }
            // "Cancel", Esc or the close box ask first.
            if (look && progress.cancelled()) {
                if (win::message("Are you sure you want to quit this Graphing Procedure?",
                                 std::string(MessageCaption), win::icon::Asterisk,
                                 win::button::Yes + win::button::No, win::button::No) == win::button::Yes) {
                    categories_.clear();
                    return false;
                }
                progress.goOn();
            }
            return true;
        });
        progress.close();
        if (end == WalkEnd::Fatal) return false;
        showPageAgain(s_);
        if (tooMany) {
            categories_.clear();
            say("Too complex to graph - exceeds max number of categories: " + std::to_string(MaxCategories) +
                " - '" + description_ + "'");
            return false;
        }
        return true;
    }

    void show() {
        // The window of the resource, captioned with the column from the start.
        win::WindowSpec design = graphDesign();
        design.caption = "Graph on " + description_;
        if (!window_.open(design)) return;
        draw();
        win::Event e;
        while (window_.accept(e)) {
            if (e.code == win::event::Accepted && e.control == graphctl::Ok) break;
            if (e.code == win::event::Accepted && e.control == graphctl::Preferences) {
                s_.Preferences();
                draw();
            } else if (e.code == win::event::Accepted && e.control == graphctl::Output) {
                s_.CopyGraphImage(window_);
            } else if (e.code == win::event::Sized || e.code == win::event::Maximized) {
                draw();
            } else {
                window_.defaultAction(e);
            }
        }
        window_.close();
    }

    // The whole picture, from the window's present size and the preferences as they stand.
    void draw() {
        const int width = toInt(window_.property(graphctl::Canvas, win::canvasprop::Width));
        const int height = toInt(window_.property(graphctl::Canvas, win::canvasprop::Height));
        const GraphPreferences prefs = GraphPreferences::read(s_.INIFILENAME, 12);
        std::array<std::int32_t, 8> colours{}; // black until a preference names a colour
        for (std::size_t i = 0; i < colours.size(); ++i)
            if (auto v = colourValue(prefs.colours[i])) colours[i] = *v;
        const win::ReportFont font{prefs.fontName, prefs.fontSize, prefs.fontStyle};

        const int n = int(categories_.size());
        std::int64_t largest = 0;
        for (const auto& [name, count] : categories_) largest = std::max(largest, count);
        window_.setText(graphctl::Heading,
                        (std::to_string(read_) + " Categories of Field: " + description_).substr(0, 40));
        window_.setText(graphctl::Filter, ("Filter: " + filter_).substr(0, 100));

        placeButtons(width);
        const GraphGeometry g = graphGeometry(width, height, n);
        auto picture = std::make_shared<win::CanvasData>();
        const int lineHeight = win::screenTextExtent(font, "0").height;
        auto text = [&](int x, int y, int w, std::string t, bool centred) {
            picture->texts.push_back(
                {x, y, w, lineHeight, std::move(t), font, prefs.fontColor, centred, false});
        };
        text(g.x0 - 70, g.base + 4, 66, "Count", false);
        text(g.x0 - 70, g.base + 20, 66, "Percent", false);
        const bool wide = g.barWidth + g.gap > 25;
        int i = 1;
        for (const auto& [name, count] : categories_) {
            const int x = g.barX(i);
            const int h = g.barHeight(count, largest);
            picture->boxes.push_back({x, g.base - h + 2, g.barWidth, h, colours[std::size_t((i - 1) % 8)]});
            // " 1 =January" shows as "January": the number only keeps the categories in order.
            const std::string shown =
                name.size() >= 4 && name.compare(2, 2, " =") == 0 ? name.substr(4) : name;
            const win::TextExtent e = win::screenTextExtent(font, shown);
            picture->texts.push_back({x + g.barWidth / 2 - 3 * e.height / 2 + 2, g.base - 10 - e.width,
                                      2 * e.height, e.width + 4, shown, font, prefs.fontColor, true, true});
            text(x, g.base + 4, g.barWidth, std::to_string(count), true);
            text(x, g.base + 20, g.barWidth, percentLabel(count, read_, wide), true);
            ++i;
        }
        picture->lines.push_back({g.x0, g.base + 2, g.x0 + g.baseLineLength(n), g.base + 2, 4, 0});
        window_.setData(graphctl::Canvas, picture);
    }

    // The buttons stand at the top right, where the bars leave the most room.
    void placeButtons(int width) {
        const win::Window::Factors f = window_.factors();
        const int right = width * f.xDiv / std::max(1, f.xMul);
        window_.setControlRects({{graphctl::Output, {right - 52, 4, 48, 14}},
                                 {graphctl::Preferences, {right - 112, 4, 56, 14}},
                                 {graphctl::Ok, {right - 156, 4, 40, 14}}});
    }

    static int toInt(const std::string& s) {
        try {
            return std::stoi(s);
        } catch (...) {
            return 0;
        }
    }

    Sorvex& s_;
    SorvexColumn column_;
    std::string description_, filter_;
    std::int64_t total_ = 0, read_ = 0;
    std::map<std::string, std::int64_t> categories_; // in the order of their names
    win::Window window_;
};

} // namespace

GraphGeometry graphGeometry(int width, int height, int n) {
    GraphGeometry g;
    if (n < 1) return g;
    if (n < 6) {
        g.slot = (width - 160) / n;
        g.gap = g.slot / 5;
        g.barWidth = 4 * g.gap;
    } else {
        g.gap = 4;
        g.barWidth = (width - 80) / n - 4;
        if (g.barWidth < 10) {
            g.gap = 2;
            g.barWidth = (width - 80) / n - 2;
        }
    }
    g.base = height - 50;
    g.x0 = (width - ((n - 1) * (g.barWidth + g.gap) + g.barWidth)) / 2 + 32;
    return g;
}

std::string percentLabel(std::int64_t count, std::int64_t read, bool wide) {
    if (read < 1) return {};
    // One decimal place, rounded as a DECIMAL(3,1) takes the quotient.
    const std::int64_t tenths = (count * 2000 + read) / (2 * read);
    const Value percent(Decimal::fromParts(tenths, 1));
    return std::string(trimmed(FORMAT(percent, wide ? "@n5.1" : "@n2")));
}

void Sorvex::Graph() {
    ListGraph(*this).run();
}

void Sorvex::GraphCategory(int qnos, const std::string& picture, std::string& text) {
    text.clear();
    if (!BQ || qnos < 1 || qnos > BQ->fieldCount()) return;
    FORMAT(BQ->field(qnos), *compilePicture(picture), text);
    trim(text);
}

void Sorvex::GraphMonthName(int month, std::string& target) {
    static const char* const names[] = {" 1 =January",   " 2 =February", " 3 =March",    " 4 =April",
                                        " 5 =May",       " 6 =June",     " 7 =July",     " 8 =August",
                                        " 9 =September", "10 =October",  "11 =November", "12 =December"};
    if (month >= 1 && month <= 12) target = names[month - 1];
}

void Sorvex::GraphWeekdayName(int day, std::string& target) {
    static const char* const names[] = {" 1 =Sunday",   " 2 =Monday", " 3 =Tuesday", " 4 =Wednesday",
                                        " 5 =Thursday", " 6 =Friday", " 7 =Saturday"};
    if (day >= 1 && day <= 7) target = names[day - 1];
}

namespace {

// Hours "00" to "23" into bands of `hours`, compared as text, bounds included.
void hourBand(std::string& text, int hours) {
    const std::string hour(trimmed(text));
    for (int low = 0; low < 24; low += hours) {
        char from[3], to[3], band[12];
        std::snprintf(from, sizeof from, "%02d", low);
        std::snprintf(to, sizeof to, "%02d", low + hours - 1);
        if (hour >= from && hour <= to) {
            std::snprintf(band, sizeof band, "%s:00-%s:59", from, to);
            text = band;
            return;
        }
    }
}

} // namespace

void Sorvex::GraphSixHourBand(std::string& text) {
    hourBand(text, 6);
}

void Sorvex::GraphFourHourBand(std::string& text) {
    hourBand(text, 4);
}

void Sorvex::CopyGraphImage(win::Window& graphWindow) {
    // The buttons are no part of the picture; the copy is taken at once, so they come back at once.
    const int buttons[] = {graphctl::Ok, graphctl::Preferences, graphctl::Output};
    for (int b : buttons) graphWindow.hide(b, true);
    win::copyWindowImage(graphWindow.id());
    for (int b : buttons) graphWindow.hide(b, false);
}

} // namespace sorv::bx
