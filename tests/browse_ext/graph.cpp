// The graph and its preferences on real lists under the offscreen platform: the geometry and the
// labels as the window computes them, the category operations and the colour table; a drawn
// graph read back from its pixels and its texts, the limits of its categories, its buttons; the
// preferences window driven as a user drives it, and what it leaves in the INI file.
#include "browse_ext/graph.h"
#include "browse_ext/colours.h"
#include "browse_ext/preferences.h"
#include "runtime/inifile.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/framework/browse_rig.h"
#include "tests/windowing/harness.h"
#include "tests/windowing/input_rig.h"
#include "windowing/listbox.h"

#include <QClipboard>
#include <QFontDialog>
#include <QImage>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

using namespace sorv;
using namespace sorv::bx;
using namespace sorv::test;

namespace {

using sorv::test::waitUntil;

TEST(GraphParts, GeometryLabelsCategoriesAndColours) {
    struct Geometry {
        int width, n;
        int slot, gap, bar, x0;
    };
    for (const Geometry c : {Geometry{1024, 5, 172, 34, 136, 136}, Geometry{1024, 10, 0, 4, 90, 76},
                             Geometry{924, 10, 0, 4, 80, 76}, Geometry{600, 50, 0, 2, 8, 83},
                             Geometry{1024, 2, 432, 86, 344, 157}}) {
        SCOPED_TRACE(testing::Message() << c.width << " pixels, " << c.n << " categories");
        const GraphGeometry g = graphGeometry(c.width, 700, c.n);
        EXPECT_EQ(g.slot, c.slot);
        EXPECT_EQ(g.gap, c.gap);
        EXPECT_EQ(g.barWidth, c.bar);
        EXPECT_EQ(g.x0, c.x0);
        EXPECT_EQ(g.base, 650);
        EXPECT_EQ(g.barX(2), c.x0 + c.bar + c.gap);
        EXPECT_EQ(g.baseLineLength(c.n), c.n * (c.bar + c.gap) - c.gap + 1);
    }
    EXPECT_EQ(graphGeometry(1024, 700, 5).barHeight(3, 4), 3 * 620 / 4);

    struct Label {
        int count, read;
        bool wide;
        const char* text;
    };
    for (const Label l : {Label{1, 4, true, "25.0"}, Label{2, 4, true, "50.0"}, Label{1, 4, false, "25"},
                          Label{2, 4, false, "50"}, Label{2, 3, true, "66.7"}, Label{1, 3, false, "33"}})
        EXPECT_EQ(percentLabel(l.count, l.read, l.wide), l.text) << l.count << "/" << l.read;

    Sorvex s;
    struct Named {
        int n;
        const char* month;
        const char* weekday;
    };
    for (const Named c :
         {Named{0, "x", "x"}, Named{1, " 1 =January", " 1 =Sunday"}, Named{7, " 7 =July", " 7 =Saturday"},
          Named{8, " 8 =August", "x"}, Named{12, "12 =December", "x"}, Named{13, "x", "x"}}) {
        std::string month = "x", day = "x";
        s.GraphMonthName(c.n, month);
        s.GraphWeekdayName(c.n, day);
        EXPECT_EQ(month, c.month) << c.n;
        EXPECT_EQ(day, c.weekday) << c.n;
    }
    struct Band {
        const char* hour;
        const char* six;
        const char* four;
    };
    for (const Band b : {Band{"00", "00:00-05:59", "00:00-03:59"}, Band{"03", "00:00-05:59", "00:00-03:59"},
                         Band{"04", "00:00-05:59", "04:00-07:59"}, Band{"05", "00:00-05:59", "04:00-07:59"},
                         Band{"06", "06:00-11:59", "04:00-07:59"}, Band{"12", "12:00-17:59", "12:00-15:59"},
                         Band{"19", "18:00-23:59", "16:00-19:59"}, Band{"23", "18:00-23:59", "20:00-23:59"},
                         Band{"24", "24", "24"}, Band{"7", "7", "7"}}) {
        std::string six = b.hour, four = b.hour;
        s.GraphSixHourBand(six);
        s.GraphFourHourBand(four);
        EXPECT_EQ(six, b.six) << b.hour;
        EXPECT_EQ(four, b.four) << b.hour;
    }

    EXPECT_EQ(colourValue("Maroon  "), 0x000080);
    EXPECT_EQ(colourValue("None"), -1);
    EXPECT_EQ(colourValue("Mauve"), std::nullopt);
    EXPECT_EQ(colourNumber(0x808080), 9);
    EXPECT_EQ(colourNameOf(0xFF00FF), "Fuschia");
    EXPECT_EQ(colourNameOf(0x123456), "");
    EXPECT_EQ(colourName(17), "White");
    EXPECT_EQ(colourName(18), "");
}

// ---- a graph of a list over a queue ----

// A list of one text column whose entries are the categories to graph, `counts[i]` entries of
// category i (named "C01", "C02", ... and `longer[i]` after it); the graph is taken on the column.
struct GraphRig {
    browsetest::TempDir dir;
    ListWindow window;
    Queue queue{[] {
        Layout l;
        l.add("Q:Category", FieldType::String, 40);
        return l;
    }()};
    NoPopup owner;
    TableSorvex sorvex;

    explicit GraphRig(const std::vector<int>& counts, const std::vector<std::string>& longer = {}) {
        window.format = "80L(2)~Category~@s40@";
        EXPECT_EQ(window.Init(), fw::LevelNone);
        for (std::size_t c = 0; c < counts.size(); ++c)
            for (int i = 0; i < counts[c]; ++i) {
                char name[8];
                std::snprintf(name, sizeof name, "C%02d", int(c) + 1);
                queue.record().set("Q:Category", Value(name + (c < longer.size() ? longer[c] : "")));
                queue.add();
            }
        showQueue(window.WINDOW, queue);
        sorvex.rows = {{"Q:Category", 80, "Category", "@s40", "Kind of Thing", 'L'}};
        sorvex.InitQueueList(window, owner, queue, window.WINDOW, QueueList, dir.file("graph.INI"),
                             VisualHeader, {});
        sorvex.CURRENTCOL = 1;
    }
    ~GraphRig() { window.Kill(); }
};

// What the user saw of a graph window: its picture, its texts and its size.
struct SeenGraph {
    QImage picture;
    std::vector<std::string> texts;
    int width = 0, height = 0;
    std::string heading;
    bool seen = false;
};

QWidget* canvasOf(QWidget* graph) {
    for (QWidget* w : graph->findChildren<QWidget*>())
        if (!w->accessibleDescription().isEmpty()) return w;
    return nullptr;
}

SeenGraph look(QWidget* graph) {
    SeenGraph s;
    QWidget* canvas = canvasOf(graph);
    if (!canvas) return s;
    s.seen = true;
    s.picture = canvas->grab().toImage();
    s.width = canvas->width();
    s.height = canvas->height();
    for (const QString& t : canvas->accessibleDescription().split('\n', Qt::SkipEmptyParts))
        s.texts.push_back(t.toStdString());
    for (QWidget* w : graph->findChildren<QWidget*>())
        if (w->accessibleName().contains("Categories of Field"))
            s.heading = w->accessibleName().toStdString();
    return s;
}

// The top-level window of that name once the program has drawn its picture (or sample), as a
// user sees it before acting; null when none comes.
QWidget* readyWindow(const QString& name, const QString& tip = {}) {
    QWidget* found = nullptr;
    const bool ready = waitUntil([&] {
        return win::onGui([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->accessibleName() == name && w->isVisible())
                    for (QWidget* c : w->findChildren<QWidget*>()) {
                        const QString d = c->accessibleDescription();
                        if (!d.isEmpty() && d != tip && d != c->toolTip()) {
                            found = w;
                            return true;
                        }
                    }
            return false;
        });
    });
    return ready ? found : nullptr;
}

void press(QWidget* window, const QString& text) {
    for (QPushButton* b : window->findChildren<QPushButton*>())
        if (b->text() == text) return b->click();
    ADD_FAILURE() << "no button " << text.toStdString();
}

std::vector<std::string> colourList(QWidget* w) {
    std::vector<std::string> out;
    auto* list = w->findChild<win::ListBox*>();
    for (int r = 1; list && r <= list->rowCount(); ++r)
        out.push_back(list->cellText(r, 1).trimmed().toStdString());
    return out;
}

QColor colour(std::int32_t v) {
    return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

// The colour in the middle of bar i (from 1) of a graph of n categories counting `counts`.
QColor barColour(const SeenGraph& s, const std::vector<int>& counts, int i) {
    const GraphGeometry g = graphGeometry(s.width, s.height, int(counts.size()));
    const int largest = *std::max_element(counts.begin(), counts.end());
    const int h = g.barHeight(counts[i - 1], largest);
    return s.picture.pixelColor(g.barX(i) + g.barWidth / 2, g.base + 2 - h / 2);
}

// The lowest row above the base line where the name written up bar i has a dark pixel.
int nameBottom(const SeenGraph& s, int n, int i) {
    const GraphGeometry g = graphGeometry(s.width, s.height, n);
    for (int y = g.base - 1; y > 0; --y)
        for (int x = g.barX(i); x < g.barX(i) + g.barWidth; ++x) {
            const QColor c = s.picture.pixelColor(x, y);
            if (c.red() < 60 && c.green() < 60 && c.blue() < 60) return y;
        }
    return 0;
}

TEST(Graph, NineCategoriesDrawnInThePreferencesColoursWithTheirCountsAndPercentages) {
    const std::vector<int> counts = {1, 2, 3, 4, 5, 6, 7, 8, 4};
    SeenGraph first, again;
    bool copied = false;
    std::thread user([&] {
        QWidget* graph = readyWindow("Graph on Kind of Thing");
        ASSERT_TRUE(graph);
        win::onGui([&] {
            first = look(graph);
            QApplication::clipboard()->clear();
            press(graph, "&Ouput");
        });
        // The clipboard holds the window's picture, and the buttons, hidden for it, come back.
        copied = waitUntil([&] {
            return win::onGui([&] {
                const QImage copy = QApplication::clipboard()->image();
                bool shown = true;
                for (QPushButton* b : graph->findChildren<QPushButton*>()) shown = shown && b->isVisible();
                return shown && copy.width() >= first.width && copy.height() >= first.height;
            });
        });
        win::onGui([&] { press(graph, "Pre&ferences"); });
        // The preferences put Gray before Teal; the graph is drawn again with them.
        QWidget* prefs = readyWindow("Sorvex Preferences", "Specify the font here to be used in the Graphs");
        ASSERT_TRUE(prefs);
        win::onGui([&] {
            prefs->findChild<win::ListBox*>()->setSelected(8);
            press(prefs, "&Up");
        });
        waitUntil([&] { return win::onGui([&] { return colourList(prefs)[6] == "Gray"; }); });
        win::onGui([&] { press(prefs, "OK"); });
        waitUntil([&] {
            return win::onGui([&] {
                again = look(graph);
                return again.seen && barColour(again, counts, 7) == colour(0x808080);
            });
        });
        win::onGui([&] { press(graph, "OK"); });
    });
    runWithDesktop([&] {
        GraphRig rig(counts, {"", " Longer", "", " A Much Longer Name", "", "", "", " Long Name Here"});
        rig.sorvex.HandleListEvent(sevent::GraphOn);
    });
    user.join();
    ASSERT_TRUE(first.seen);
    EXPECT_EQ(first.heading, "40 Categories of Field: Kind of Thing");
    // Bars 1 and 9 share colour 1 (Maroon); the others take Olive, Navy, ... in order.
    const std::int32_t defaults[] = {0x000080, 0x008080, 0x800000, 0xC0C0C0,
                                     0x800080, 0x008000, 0x808000, 0x808080};
    for (int i = 1; i <= 9; ++i)
        EXPECT_EQ(barColour(first, counts, i), colour(defaults[(i - 1) % 8])) << "bar " << i;
    // Bars stand where the geometry puts them: the pixel left of bar 2 is a gap.
    const GraphGeometry g = graphGeometry(first.width, first.height, 9);
    EXPECT_NE(first.picture.pixelColor(g.barX(2) - 1, g.base - 2), colour(defaults[1]));
    EXPECT_EQ(first.picture.pixelColor(g.barX(2), g.base - 2), colour(defaults[1]));
    // The base line runs under every bar, 4 pixels thick.
    EXPECT_EQ(first.picture.pixelColor(g.barX(5) + g.barWidth + 1, g.base + 2), QColor(Qt::black));
    // Every name, short or long, ends the same few pixels above the base line.
    std::vector<int> bottoms;
    for (int i = 1; i <= 9; ++i) bottoms.push_back(nameBottom(first, 9, i));
    for (int i = 1; i <= 9; ++i) {
        EXPECT_LE(bottoms[i - 1], g.base - 5) << "bar " << i;
        EXPECT_GE(bottoms[i - 1], bottoms[0] - 2) << "bar " << i;
        EXPECT_LE(bottoms[i - 1], bottoms[0] + 2) << "bar " << i;
    }
    // Texts: the labels, each category by name, count and percentage (wide bars: one decimal).
    for (const char* t : {"Count", "Percent", "C01", "C09", "8", "20.0", "2.5"})
        EXPECT_NE(std::find(first.texts.begin(), first.texts.end(), t), first.texts.end()) << t;
    EXPECT_TRUE(copied) << "the window's image is on the clipboard";
    ASSERT_TRUE(again.seen);
    // Gray moved up to place 7, Teal down to 8: bars 7 and 8 swap colours.
    EXPECT_EQ(barColour(again, counts, 7), colour(0x808080));
    EXPECT_EQ(barColour(again, counts, 8), colour(0x808000));
}

TEST(Graph, LimitsOfTheCategories) {
    struct Case {
        std::vector<int> counts;
        const char* message; // "" : the graph is shown
    };
    const Case cases[] = {
        {std::vector<int>(50, 1), ""},
        {std::vector<int>(51, 1),
         "Too complex to graph - exceeds max number of categories: 50 - 'Kind of Thing'"},
        {{7}, "There is only one category to Graph of 'Kind of Thing'"},
        {{}, "There are no categories to Graph of 'Kind of Thing'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.counts.size());
        BoxAnswers boxes({win::button::Ok});
        SeenGraph seen;
        std::thread user([&] {
            if (*c.message) return;
            QWidget* w = readyWindow("Graph on Kind of Thing");
            ASSERT_TRUE(w);
            win::onGui([&] {
                seen = look(w);
                press(w, "OK");
            });
        });
        runWithDesktop([&] {
            GraphRig rig(c.counts);
            rig.sorvex.Graph();
        });
        user.join();
        const auto shown = boxes.shown();
        if (*c.message) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, c.message);
            EXPECT_EQ(shown[0].title, "Sorvex");
        } else {
            EXPECT_TRUE(shown.empty());
            ASSERT_TRUE(seen.seen);
            EXPECT_EQ(barColour(seen, c.counts, 50), colour(0x008080)) << "bar 50 takes colour 2";
        }
    }
}

TEST(Graph, CancelDuringTheCountAsksFirst) {
    const std::string question = "Are you sure you want to quit this Graphing Procedure?";
    for (const int answer : {win::button::No, win::button::Yes}) {
        SCOPED_TRACE(answer == win::button::Yes ? "yes" : "no");
        BoxAnswers boxes({answer, win::button::Ok});
        PressWhenShown cancel("Progress...", "Cancel");
        bool graphed = false;
        std::thread user([&] {
            if (answer == win::button::Yes) return;
            QWidget* w = readyWindow("Graph on Kind of Thing");
            graphed = w != nullptr;
            if (w) win::onGui([&] { press(w, "OK"); });
        });
        runWithDesktop([&] {
            GraphRig rig({300, 200, 100});
            rig.sorvex.Graph();
        });
        user.join();
        EXPECT_EQ(cancel.presses(), 1);
        const auto shown = boxes.shown();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(shown[0].text, question);
        EXPECT_EQ(shown[0].buttons, (std::vector<int>{win::button::Yes, win::button::No}));
        if (answer == win::button::Yes) {
            ASSERT_EQ(shown.size(), 2u);
            EXPECT_EQ(shown[1].text, "There are no categories to Graph of 'Kind of Thing'");
        } else {
            EXPECT_EQ(shown.size(), 1u);
            EXPECT_TRUE(graphed) << "going on counts every record and shows the graph";
        }
    }
}

// ---- the preferences window ----

TEST(Preferences, DefaultsReorderingByOkOnlyAndTheFontDescription) {
    browsetest::TempDir dir;
    const std::string ini = dir.file("prefs.INI");
    auto key = [&](const char* k) { return getPrivateProfileString(ini, PreferencesSection, k, "<none>"); };
    const std::vector<std::string> defaults(GraphPreferences::DefaultColours.begin(),
                                            GraphPreferences::DefaultColours.end());
    struct Case {
        const char* what;
        bool ok; // closed by "OK", else by the close box
        std::string style;
        std::string description;
        std::string col08, col09;
        int chosen = -1;        // a style chosen in the font dialog (italic 4096, underline 8192)
        std::string chosenName; // the style the description then names
        bool keys = false;      // moved and closed with the keyboard alone
    };
    const Case cases[] = {
        {"no section, close box", false, "", "Arial 8 pt Bold", "Gray", "Red"},
        {"OK", true, "", "Arial 8 pt Bold", "Red", "Gray"},
        {"style 4796", false, "4796", "Arial 8 pt Bold Italic", "Gray", "Red"},
        {"plain italic chosen", false, "", "Arial 8 pt Bold", "Gray", "Red", 4096, "Italic"},
        {"italic underline chosen", false, "", "Arial 8 pt Bold", "Gray", "Red", 12288, "Italic Underline"},
        {"underline chosen", false, "", "Arial 8 pt Bold", "Gray", "Red", 8592, "Regular Underline"},
        {"keys", true, "", "Arial 8 pt Bold", "Red", "Gray", -1, "", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(ini);
        if (!c.style.empty()) writePrivateProfileString(ini, PreferencesSection, "FontStyle", c.style);
        std::vector<std::string> shown, moved;
        std::string description, chosenDescription, family;
        auto sample = [](QWidget* w) {
            for (QWidget* s : w->findChildren<QWidget*>())
                if (s->toolTip() == "Specify the font here to be used in the Graphs")
                    return s->accessibleDescription().trimmed().toStdString();
            return std::string();
        };
        std::thread user([&] {
            QWidget* w = readyWindow("Sorvex Preferences", "Specify the font here to be used in the Graphs");
            ASSERT_TRUE(w);
            description = win::onGui([&] { return sample(w); });
            if (c.chosen >= 0) {
                // The font dialog's style: the description names it.
                win::onGui([&] { press(w, "Change &Font"); });
                ASSERT_TRUE(whenShown<QFontDialog>("", [&](QFontDialog* f) {
                    QFont font = f->currentFont();
                    font.setBold(false);
                    font.setItalic(c.chosen & 4096);
                    font.setUnderline(c.chosen & 8192);
                    f->setCurrentFont(font);
                    family = f->currentFont().family().toStdString();
                    f->accept();
                }));
                waitUntil([&] { return win::onGui([&] { return sample(w) != description; }); }, 2000);
                chosenDescription = win::onGui([&] { return sample(w); });
            }
            win::onGui([&] { shown = colourList(w); });
            if (c.keys) {
                // The colours have the keys from the start: seven rows down to Gray, Alt+W moves it
                // down, Alt+U on the first row leaves it; Tab reaches "OK" and Enter presses it.
                for (int i = 0; i < 7; ++i) pressKey(Qt::Key_Down);
                pressKey(Qt::Key_W, Qt::AltModifier);
                waitUntil([&] { return win::onGui([&] { return colourList(w)[8] == "Gray"; }); }, 2000);
                moved = win::onGui([&] { return colourList(w); });
                pressKey(Qt::Key_Home);
                pressKey(Qt::Key_U, Qt::AltModifier);
                auto focus = [] {
                    return win::onGui([] {
                        QWidget* f = QApplication::focusWidget();
                        return f ? f->accessibleName() : QString();
                    });
                };
                for (int i = 0; i < 12 && focus() != "OK"; ++i) pressKey(Qt::Key_Tab);
                pressKey(Qt::Key_Return);
                return;
            }
            win::onGui([&] {
                // Gray, eighth, one down: out of the graph's eight.
                w->findChild<win::ListBox*>()->setSelected(8);
                press(w, "Do&wn");
            });
            waitUntil([&] { return win::onGui([&] { return colourList(w)[8] == "Gray"; }); });
            win::onGui([&] {
                moved = colourList(w);
                w->findChild<win::ListBox*>()->setSelected(1);
                press(w, "&Up"); // the first stays first
                if (c.ok)
                    press(w, "OK");
                else
                    w->close();
            });
        });
        runWithDesktop([&] {
            GraphRig rig({1});
            rig.sorvex.INIFILENAME = ini;
            rig.sorvex.Preferences();
        });
        user.join();
        EXPECT_EQ(shown, defaults);
        ASSERT_EQ(moved.size(), 16u);
        EXPECT_EQ(moved[0], "Maroon");
        EXPECT_EQ(moved[7], "Red");
        EXPECT_EQ(moved[8], "Gray");
        EXPECT_EQ(description, c.description);
        EXPECT_EQ(key("Col08"), c.col08);
        EXPECT_EQ(key("Col09"), c.col09);
        EXPECT_EQ(key("Col01"), "Maroon");
        EXPECT_EQ(key("Col16"), "Black");
        EXPECT_EQ(key("FontName"), c.chosen < 0 ? "Arial" : family);
        EXPECT_EQ(key("FontSize"), "8");
        EXPECT_EQ(key("FontColor"), "0");
        EXPECT_EQ(key("FontStyle"), c.chosen >= 0     ? std::to_string(c.chosen)
                                    : c.style.empty() ? "700"
                                                      : c.style);
        if (c.chosen >= 0) EXPECT_EQ(chosenDescription, family + " 8 pt " + c.chosenName);
        EXPECT_EQ(key("CSVQuoting"), "System");
    }
}

} // namespace
