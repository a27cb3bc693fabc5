// The real program at twice the desktop's scale (QT_SCALE_FACTOR=2): the windows are measured in
// units of their fonts, so at any scale nothing may be cut off. In the Customer browse, the
// Customer form (both tabs) and the People form every caption fits its control, every entry's line
// of text its height, every tab row its sheet, every shown header its column, and every control
// lies inside the window and the control it stands on. A test program of its own: the scale is
// read once, when the desktop starts.
#include "app/demodata.h"
#include "tests/app/program_rig.h"
#include "windowing/listbox.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>

namespace {

using namespace programtest;

const bool scaled = [] { return qputenv("QT_SCALE_FACTOR", "2"); }();

QString shownText(QString caption) {
    return caption.replace("&&", "\x01").remove('&').replace('\x01', '&');
}

// What the user cannot see whole in a window (GUI thread), one line each.
std::vector<std::string> cutOff(QWidget* window) {
    std::vector<std::string> out;
    auto report = [&](QWidget* w, const QString& what, int needs, int has) {
        if (needs > has)
            out.push_back(window->windowTitle().toStdString() + ": " + w->metaObject()->className() + " \"" +
                          w->accessibleName().toStdString() + "\" " + what.toStdString() + " needs " +
                          std::to_string(needs) + " px, has " + std::to_string(has));
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window)) continue;
        const bool control = qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w) ||
                             qobject_cast<QLineEdit*>(w) || qobject_cast<QTabWidget*>(w) ||
                             qobject_cast<win::ListBox*>(w);
        if (!control) continue;
        const QFontMetrics fm(w->font());
        if (QWidget* p = w->parentWidget(); p && !p->rect().contains(w->geometry())) {
            const QRect inside = p->rect().intersected(w->geometry());
            report(w, "inside " + QString(p->metaObject()->className()), w->width() * w->height(),
                   inside.width() * inside.height());
        }
        if (auto* label = qobject_cast<QLabel*>(w)) {
            report(w, "text width", fm.horizontalAdvance(shownText(label->text())),
                   label->contentsRect().width());
            report(w, "text height", fm.height(), label->contentsRect().height());
        } else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w)) {
            report(w, "width", w->sizeHint().width(), w->width());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            const int margin = w->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
            report(w, "text width", fm.horizontalAdvance(shownText(button->text())) + margin,
                   button->width());
            report(w, "text height", fm.height(), button->height());
        } else if (auto* entry = qobject_cast<QLineEdit*>(w)) {
            // The line of text inside the entry's frame and its margin.
            const int frame = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
            report(w, "text height", fm.height(), entry->contentsRect().height() - 2 * frame - 2);
        } else if (auto* sheet = qobject_cast<QTabWidget*>(w)) {
            report(w, "tab row width", sheet->tabBar()->sizeHint().width(), sheet->width());
            const QFontMetrics tm(sheet->tabBar()->font());
            for (int i = 0; i < sheet->count(); ++i)
                report(w, "tab " + sheet->tabText(i), tm.horizontalAdvance(shownText(sheet->tabText(i))),
                       sheet->tabBar()->tabRect(i).width());
        } else if (auto* list = qobject_cast<win::ListBox*>(w)) {
            const QFontMetrics lm(list->font());
            const int shownRight = list->viewport()->width();
            for (int c = 1; !list->headerRect(c).isEmpty(); ++c) {
                const QRect r = list->headerRect(c);
                if (r.right() > shownRight) break; // scrolled to, not cut off
                report(w, "header " + list->headerText(c), lm.horizontalAdvance(list->headerText(c)),
                       r.width());
            }
        }
    }
    return out;
}

std::vector<std::string> cutOffIn(QWidget* window) {
    return win::onGui([&] { return cutOff(window); });
}

int rows(QWidget* in) {
    return win::onGui([&] {
        auto* list = in->findChild<win::ListBox*>();
        return list ? list->rowCount() : -1;
    });
}

class ScaleTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        writeDemo(12, 40);
    }
};

} // namespace

TEST_F(ScaleTest, NothingIsCutOffAtTwiceTheScale) {
    ASSERT_TRUE(scaled);
    runProgram([&] {
        ASSERT_TRUE(waitUntil([] { return childCount() >= 1; }));
        choose(menuText(menu::BrowseCustomer));
        QMdiSubWindow* sub = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            return win::onGui([&] {
                for (QMdiSubWindow* c : children())
                    if (c->windowTitle() == "Customers - Multiple Formats one per TAB") sub = c;
                return sub != nullptr;
            });
        }));
        ASSERT_TRUE(waitUntil([&] { return rows(sub) == 12; }));
        EXPECT_EQ(win::onGui([&] { return sub->devicePixelRatio(); }), 2.0);
        EXPECT_EQ(cutOffIn(sub->widget()), std::vector<std::string>{});

        clickButton(sub, "Change");
        QWidget* form = waitWindow("Changing a Customer Record");
        ASSERT_TRUE(form);
        EXPECT_EQ(cutOffIn(form), std::vector<std::string>{});
        win::onGui([&] { form->findChild<QTabWidget*>()->setCurrentIndex(1); });
        ASSERT_TRUE(waitUntil([&] { return rows(form) > 0; })) << "the customer's people";
        EXPECT_EQ(cutOffIn(form), std::vector<std::string>{});

        clickButton(form, "Change");
        QWidget* person = waitWindow("Changing a People Record");
        ASSERT_TRUE(person);
        EXPECT_EQ(cutOffIn(person), std::vector<std::string>{});
        clickButton(person, "Cancel");
        ASSERT_TRUE(waitUntil([] { return shownWindow("Changing a People Record") == nullptr; }));
        clickButton(form, "Cancel");
        ASSERT_TRUE(waitUntil([] { return shownWindow("Changing a Customer Record") == nullptr; }));
        closeAndExit(sub);
    });
}
