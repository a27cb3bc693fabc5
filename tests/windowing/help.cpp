// The help: topics and search over a small book on disk, and the help window driven from the
// keyboard as a user without a mouse would.
#include "harness.h"
#include "input_rig.h"

#include "windowing/help.h"
#include "windowing/window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::win;
using sorv::test::findWidget;
using sorv::test::pressKey;
using sorv::test::runWithDesktop;
namespace fs = std::filesystem;

namespace {

class HelpTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("sorvhelp-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        write("index.md",
              "# Guide\n\n- [Alpha](alpha.md)\n- [Beta](beta.md#second-part)\n- [Again](alpha.md)\n");
        write("alpha.md", "# Alpha page\n\nIntro about widgets.\n\n## First part\n\nThe Salary range is "
                          "checked.\n\n```\n# not a heading\n```\n\n## Keys & menus\n\nShift+F10 opens the "
                          "salary menu.\n");
        write("beta.md", "# Beta page\n\n## Second part\n\nNothing about money.\n");
        HelpBook book;
        book.title = "Test Help";
        book.root = dir_.string();
        book.contents = "index.md";
        book.howToUse = "beta.md";
        book.topics = {
            {"SORVD002", "beta.md#second-part"}, {"SORVEX", "alpha.md"}, {"SORVEX*P70$", "index.md"}};
        setHelpBook(book);
    }
    void TearDown() override {
        setHelpBook({});
        fs::remove_all(dir_);
    }
    void write(const char* name, const std::string& text) { std::ofstream(dir_ / name) << text; }
    fs::path dir_;
};

std::vector<std::string> hits(const std::string& query) {
    std::vector<std::string> out;
    for (const HelpHit& h : searchHelp(query)) out.push_back(h.page + "#" + h.slug);
    return out;
}

} // namespace

TEST_F(HelpTest, SearchFindsSectionsHoldingEveryWordAndTopicsFindTheirPages) {
    using V = std::vector<std::string>;
    EXPECT_EQ(hits("salary"), (V{"alpha.md#first-part", "alpha.md#keys--menus"}));
    EXPECT_EQ(hits("SALARY   range"), (V{"alpha.md#first-part"}));
    // A '#' line inside a code block is text of its section, not a heading.
    EXPECT_EQ(hits("not a heading"), (V{"alpha.md#first-part"}));
    EXPECT_EQ(hits("widgets"), (V{"alpha.md#"})) << "the text before the first subheading is the page's";
    EXPECT_EQ(hits("money"), (V{"beta.md#second-part"}));
    EXPECT_EQ(hits("guide"), (V{"index.md#"}));
    EXPECT_EQ(hits("zebra"), V{});
    EXPECT_EQ(hits("  "), V{});

    EXPECT_EQ(helpSlug("Keys & menus"), "keys--menus");
    EXPECT_EQ(helpSlug("The `sorvtool` command, [here](x.md)"), "the-sorvtool-command-here");
    EXPECT_EQ(helpSlug("Settings in sorvdemo.INI"), "settings-in-sorvdemoini");

    EXPECT_EQ(helpPageOf("sorvdemo$SORVD002|P1$QUICKWINDOW"), "beta.md#second-part");
    EXPECT_EQ(helpPageOf("SORVEX|P70$WINDOW"), "index.md") << "the longest pattern wins";
    EXPECT_EQ(helpPageOf("SORVEX|P67$WINDOW"), "alpha.md");
    EXPECT_EQ(helpPageOf("P70$WINDOW"), "") << "every piece of a pattern must be there";
    EXPECT_EQ(helpPageOf("x.md#y"), "x.md#y");
    EXPECT_EQ(helpPageOf(""), "");
}

namespace {

void type(const QString& text) {
    for (QChar c : text)
        pressKey(c == ' ' ? Qt::Key_Space : Qt::Key_A + (c.toUpper().unicode() - 'A'), {}, c);
}

std::string focused() {
    return onGui([] {
        QWidget* f = QApplication::focusWidget();
        return f ? f->accessibleName().toStdString() : std::string();
    });
}

// The page shown and the heading the help put its cursor on.
std::pair<std::string, std::string> shown() {
    return onGui([] {
        auto* page = qobject_cast<QTextBrowser*>(findWidget("Help page"));
        if (!page) return std::make_pair(std::string("<no help>"), std::string());
        return std::make_pair(page->document()->firstBlock().text().toStdString(),
                              page->textCursor().block().text().toStdString());
    });
}

} // namespace

TEST_F(HelpTest, HelpWindowFromTheKeyboardSearchHistoryLinksAndWindowPages) {
    runWithDesktop([] {
        using P = std::pair<std::string, std::string>;
        showHelp(HelpView::Search);
        EXPECT_EQ(focused(), "Look for");
        EXPECT_EQ(shown().first, "Guide");
        // The contents: every linked page once, in link order, with its sections.
        EXPECT_EQ(onGui([] {
                      std::string t;
                      auto* tree = qobject_cast<QTreeWidget*>(findWidget("Contents"));
                      for (int i = 0; tree && i < tree->topLevelItemCount(); ++i) {
                          t += tree->topLevelItem(i)->text(0).toStdString() + "(";
                          for (int c = 0; c < tree->topLevelItem(i)->childCount(); ++c)
                              t += tree->topLevelItem(i)->child(c)->text(0).toStdString() + ";";
                          t += ")";
                      }
                      return t;
                  }),
                  "Guide()Alpha page(First part;Keys & menus;)Beta page(Second part;)");

        type("salary range");
        pressKey(Qt::Key_Return);
        EXPECT_EQ(onGui([] { return qobject_cast<QListWidget*>(findWidget("Sections found"))->count(); }), 1);
        pressKey(Qt::Key_Tab);
        pressKey(Qt::Key_Tab);
        EXPECT_EQ(focused(), "Sections found");
        pressKey(Qt::Key_Return);
        EXPECT_EQ(shown(), (P{"Alpha page", "First part"}));

        pressKey(Qt::Key_Left, Qt::AltModifier);
        EXPECT_EQ(shown().first, "Guide");
        pressKey(Qt::Key_Right, Qt::AltModifier);
        EXPECT_EQ(shown(), (P{"Alpha page", "First part"}));

        // A link to a section of another page.
        onGui([] {
            emit qobject_cast<QTextBrowser*>(findWidget("Help page"))
                ->anchorClicked(QUrl("beta.md#second-part"));
        });
        EXPECT_EQ(shown(), (P{"Beta page", "Second part"}));

        // A window opened from a resource has the page its topic leads to; one without, the contents.
        ASSERT_TRUE(registerWindowResource("test$SORVD002|P1$WINDOW", [] {
            WindowSpec s;
            s.caption = "Customers";
            s.add("BUTTON", 1, {4, 4, 40, 14}, "&Insert");
            return s;
        }));
        Window w;
        ASSERT_TRUE(w.open("test$SORVD002|P1$WINDOW"));
        showHelpTopic("alpha.md");
        showWindowHelp(w.id());
        EXPECT_EQ(shown(), (P{"Beta page", "Second part"}));
        Window plain;
        WindowSpec s;
        s.caption = "Plain";
        ASSERT_TRUE(plain.open(s));
        showWindowHelp(plain.id());
        EXPECT_EQ(shown().first, "Guide");
        showHelp(HelpView::HowToUse);
        EXPECT_EQ(shown().first, "Beta page");

        pressKey(Qt::Key_Escape);
        EXPECT_FALSE(onGui([] {
            QWidget* h = findWidget("Help page");
            return h && h->isVisible();
        })) << "Esc closes the help";
        w.close();
        plain.close();
    });
}
