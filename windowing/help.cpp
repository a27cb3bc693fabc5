// The help window: the guide's pages rendered from Markdown, a contents tree of pages and their
// sections, a search over sections, back and forward through the pages seen. One window serves the
// whole program; asking for help again raises it on the page asked for.
#include "windowing/help.h"
#include "windowing/gui_call.h"
#include "windowing/gui_window.h"

#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <mutex>

namespace sorv::win {

namespace {

std::mutex bookMutex;
HelpBook theBook;

HelpBook book() {
    std::lock_guard g(bookMutex);
    return theBook;
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A heading without its inline marks, as the rendered page shows it.
QString plainHeading(QString text) {
    text.remove(QRegularExpression("[`*_]"));
    text.replace(QRegularExpression("\\[([^\\]]*)\\]\\([^)]*\\)"), "\\1");
    return text.trimmed();
}

struct Section {
    QString heading; // plain; the page's title for the text before its first heading
    int level = 0;
    QString text; // the section's Markdown, heading included
};

struct Page {
    QString file, title;
    std::vector<Section> sections;
};

QString readPage(const QString& root, const QString& file) {
    QFile f(root + "/" + file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll());
}

Page parsePage(const QString& root, const QString& file) {
    Page p;
    p.file = file;
    p.sections.push_back({});
    bool fenced = false;
    const QStringList lines = readPage(root, file).split('\n');
    static const QRegularExpression heading("^(#{1,6})\\s+(.*)$");
    for (const QString& line : lines) {
        if (line.startsWith("```")) fenced = !fenced;
        auto m = fenced ? QRegularExpressionMatch() : heading.match(line);
        if (m.hasMatch()) {
            p.sections.push_back({plainHeading(m.captured(2)), int(m.captured(1).size()), {}});
            if (p.title.isEmpty()) p.title = p.sections.back().heading;
        }
        p.sections.back().text += line + '\n';
    }
    if (p.sections.front().text.trimmed().isEmpty()) p.sections.erase(p.sections.begin());
    if (p.title.isEmpty()) p.title = file;
    for (Section& s : p.sections)
        if (s.heading.isEmpty()) s.heading = p.title;
    return p;
}

// The contents page first, then every page it links to, in the order of its links.
std::vector<Page> loadPages(const HelpBook& b) {
    std::vector<Page> pages;
    const QString root = qs(b.root), contents = qs(b.contents);
    if (contents.isEmpty()) return pages;
    pages.push_back(parsePage(root, contents));
    static const QRegularExpression link("\\]\\(([^)#:]+\\.md)(#[^)]*)?\\)");
    QStringList seen{contents};
    for (auto it = link.globalMatch(readPage(root, contents)); it.hasNext();) {
        QString file = it.next().captured(1);
        if (seen.contains(file)) continue;
        seen << file;
        pages.push_back(parsePage(root, file));
    }
    return pages;
}

class HelpWindow : public QWidget {
public:
    HelpWindow() {
        const HelpBook b = book();
        root_ = qs(b.root);
        contentsPage_ = qs(b.contents);
        howToUse_ = qs(b.howToUse);
        pages_ = loadPages(b);
        setAttribute(Qt::WA_DeleteOnClose);
        setWindowTitle(qs(b.title.empty() ? std::string("Help") : b.title));
        setAccessibleName(windowTitle());
        setObjectName("HelpWindow");

        auto* bar = new QToolBar("Help", this);
        bar->setAccessibleName("Help toolbar");
        back_ = bar->addAction("Back", [this] { step(-1); });
        back_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
        back_->setToolTip("Back to the page seen before (Alt+Left)");
        forward_ = bar->addAction("Forward", [this] { step(1); });
        forward_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Right));
        forward_->setToolTip("Forward again (Alt+Right)");
        QAction* home = bar->addAction("Contents", [this] { showView(HelpView::Contents); });
        home->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Home));
        home->setToolTip("The contents of the guide (Alt+Home)");
        QAction* howTo = bar->addAction("How to Use Help", [this] { showView(HelpView::HowToUse); });
        howTo->setToolTip("How this help window works");

        tabs_ = new QTabWidget;
        tabs_->setAccessibleName("Navigation");
        tree_ = new QTreeWidget;
        tree_->setHeaderHidden(true);
        tree_->setAccessibleName("Contents");
        for (const Page& p : pages_) {
            auto* top = new QTreeWidgetItem(tree_, {p.title});
            top->setData(0, Qt::UserRole, p.file);
            for (const Section& s : p.sections)
                if (s.level == 2) {
                    auto* sub = new QTreeWidgetItem(top, {s.heading});
                    sub->setData(0, Qt::UserRole, p.file + "#" + qs(helpSlug(s.heading.toStdString())));
                }
        }
        QObject::connect(tree_, &QTreeWidget::itemActivated, this,
                         [this](QTreeWidgetItem* item) { open(item->data(0, Qt::UserRole).toString()); });
        QObject::connect(tree_, &QTreeWidget::itemClicked, this,
                         [this](QTreeWidgetItem* item) { open(item->data(0, Qt::UserRole).toString()); });
        tabs_->addTab(tree_, "&Contents");

        auto* searchPage = new QWidget;
        auto* searchLayout = new QVBoxLayout(searchPage);
        auto* prompt = new QLabel("&Look for:");
        query_ = new QLineEdit;
        query_->setAccessibleName("Look for");
        query_->setToolTip("Words to look for; every section holding all of them is listed");
        prompt->setBuddy(query_);
        auto* find = new QPushButton("&Find");
        find->setAccessibleName("Find");
        auto* row = new QHBoxLayout;
        row->addWidget(query_, 1);
        row->addWidget(find);
        hits_ = new QListWidget;
        hits_->setAccessibleName("Sections found");
        found_ = new QLabel;
        found_->setWordWrap(true);
        searchLayout->addWidget(prompt);
        searchLayout->addLayout(row);
        searchLayout->addWidget(found_);
        searchLayout->addWidget(hits_, 1);
        QObject::connect(query_, &QLineEdit::returnPressed, this, [this] { search(); });
        QObject::connect(find, &QPushButton::clicked, this, [this] { search(); });
        QObject::connect(hits_, &QListWidget::itemActivated, this,
                         [this](QListWidgetItem* item) { open(item->data(Qt::UserRole).toString()); });
        QObject::connect(hits_, &QListWidget::itemClicked, this,
                         [this](QListWidgetItem* item) { open(item->data(Qt::UserRole).toString()); });
        tabs_->addTab(searchPage, "&Search");

        page_ = new QTextBrowser;
        page_->setOpenLinks(false);
        page_->setAccessibleName("Help page");
        QObject::connect(page_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { follow(url); });

        auto* split = new QSplitter;
        split->addWidget(tabs_);
        split->addWidget(page_);
        split->setStretchFactor(1, 3);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(bar);
        layout->addWidget(split, 1);

        auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
        QObject::connect(close, &QShortcut::activated, this, &QWidget::close);

        const QFontMetrics m(font());
        resize(m.averageCharWidth() * 110, m.lineSpacing() * 36);
        split->setSizes({m.averageCharWidth() * 38, m.averageCharWidth() * 72});
        updateButtons();
    }

    void showView(HelpView view) {
        switch (view) {
        case HelpView::Contents:
            tabs_->setCurrentIndex(0);
            open(contentsPage_);
            tree_->setFocus();
            break;
        case HelpView::Search:
            tabs_->setCurrentIndex(1);
            if (location_.isEmpty()) open(contentsPage_);
            query_->setFocus();
            query_->selectAll();
            break;
        case HelpView::HowToUse:
            open(howToUse_.isEmpty() ? contentsPage_ : howToUse_);
            page_->setFocus();
            break;
        }
    }

    // Opens "page.md" or "page.md#slug" and keeps it in the history.
    void open(const QString& location) {
        if (location.isEmpty() || !display(location)) return;
        if (at_ >= 0 && at_ < int(history_.size()) && history_[at_] == location) return;
        history_.resize(at_ + 1);
        history_.push_back(location);
        at_ = int(history_.size()) - 1;
        updateButtons();
    }

    QString location() const { return location_; }

private:
    bool display(const QString& location) {
        const QString file = location.section('#', 0, 0);
        const QString slug = location.section('#', 1);
        if (file != shownFile_) {
            QString text = readPage(root_, file);
            if (text.isNull()) return false;
            QUrl base = root_.startsWith(':') ? QUrl("qrc" + root_ + "/" + file)
                                              : QUrl::fromLocalFile(root_ + "/" + file);
            page_->document()->setBaseUrl(base);
            page_->document()->setMarkdown(text);
            shownFile_ = file;
        }
        location_ = location;
        int top = 0;
        if (!slug.isEmpty()) {
            for (QTextBlock b = page_->document()->begin(); b.isValid(); b = b.next())
                if (b.blockFormat().headingLevel() > 0 && qs(helpSlug(b.text().toStdString())) == slug) {
                    QTextCursor c(b);
                    page_->setTextCursor(c);
                    top = int(page_->document()->documentLayout()->blockBoundingRect(b).top());
                    break;
                }
        } else {
            page_->moveCursor(QTextCursor::Start);
        }
        page_->verticalScrollBar()->setValue(top);
        for (const Page& p : pages_)
            if (p.file == file) setWindowTitle(qs(book().title) + " - " + p.title);
        return true;
    }

    void step(int by) {
        int to = at_ + by;
        if (to < 0 || to >= int(history_.size())) return;
        at_ = to;
        display(history_[at_]);
        updateButtons();
    }

    void updateButtons() {
        back_->setEnabled(at_ > 0);
        forward_->setEnabled(at_ + 1 < int(history_.size()));
    }

    void follow(const QUrl& url) {
        if (!url.scheme().isEmpty() && url.scheme() != "qrc" && url.scheme() != "file") {
            QDesktopServices::openUrl(url);
            return;
        }
        QString file = url.path().section('/', -1);
        if (file.isEmpty()) file = shownFile_;
        open(url.hasFragment() ? file + "#" + url.fragment() : file);
    }

    void search() {
        hits_->clear();
        const std::vector<HelpHit> hits = searchHelp(query_->text().toStdString());
        for (const HelpHit& h : hits) {
            QString title;
            for (const Page& p : pages_)
                if (p.file == qs(h.page)) title = p.title;
            auto* item = new QListWidgetItem(title == qs(h.heading) ? title : title + " - " + qs(h.heading));
            item->setData(Qt::UserRole, qs(h.page) + (h.slug.empty() ? QString() : "#" + qs(h.slug)));
            hits_->addItem(item);
        }
        found_->setText(query_->text().trimmed().isEmpty() ? QString("Type the words to look for.")
                        : hits.empty()                     ? QString("No section holds every word.")
                                                           : QString("%1 sections found.").arg(hits.size()));
        if (!hits.empty()) hits_->setCurrentRow(0);
    }

    QString root_, contentsPage_, howToUse_;
    std::vector<Page> pages_;
    QTabWidget* tabs_;
    QTreeWidget* tree_;
    QLineEdit* query_;
    QListWidget* hits_;
    QLabel* found_;
    QTextBrowser* page_;
    QAction* back_;
    QAction* forward_;
    QString shownFile_, location_;
    std::vector<QString> history_;
    int at_ = -1;
};

QPointer<HelpWindow> helpWindow;

HelpWindow* raiseHelp() {
    if (!helpWindow) helpWindow = new HelpWindow;
    helpWindow->show();
    helpWindow->raise();
    helpWindow->activateWindow();
    return helpWindow;
}

} // namespace

void setHelpBook(HelpBook b) {
    std::lock_guard g(bookMutex);
    theBook = std::move(b);
}

std::string helpSlug(const std::string& heading) {
    const QString plain = plainHeading(qs(heading)).toLower();
    QString out;
    for (QChar c : plain) {
        if (c.isLetterOrNumber() || c == '-' || c == '_')
            out += c;
        else if (c == ' ')
            out += '-';
    }
    return out.toStdString();
}

namespace {
// A pattern matches a topic that holds its pieces between '*' in order ("SORVEX*P70$").
bool topicMatches(const std::string& topic, const std::string& pattern) {
    std::size_t at = 0, from = 0;
    while (from <= pattern.size()) {
        std::size_t star = pattern.find('*', from);
        std::string piece = pattern.substr(from, star == std::string::npos ? std::string::npos : star - from);
        if (!piece.empty()) {
            at = topic.find(piece, at);
            if (at == std::string::npos) return false;
            at += piece.size();
        }
        if (star == std::string::npos) break;
        from = star + 1;
    }
    return true;
}
} // namespace

std::string helpPageOf(const std::string& topic) {
    if (topic.empty()) return {};
    if (topic.find(".md") != std::string::npos) return topic;
    const HelpBook b = book();
    std::string best;
    std::size_t bestLength = 0;
    for (const auto& [pattern, page] : b.topics)
        if (!pattern.empty() && pattern.size() > bestLength && topicMatches(topic, pattern)) {
            best = page;
            bestLength = pattern.size();
        }
    return best;
}

std::vector<HelpHit> searchHelp(const std::string& query) {
    std::vector<HelpHit> out;
    const QStringList words = qs(query).toLower().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts);
    if (words.isEmpty()) return out;
    for (const Page& p : loadPages(book()))
        for (const Section& s : p.sections) {
            const QString text = s.text.toLower();
            bool all = true;
            for (const QString& w : words) all = all && text.contains(w);
            if (!all) continue;
            const bool isTitle = s.level <= 1;
            out.push_back({p.file.toStdString(), s.heading.toStdString(),
                           isTitle ? std::string() : helpSlug(s.heading.toStdString())});
        }
    return out;
}

void showHelp(HelpView view) {
    onGui([&] { raiseHelp()->showView(view); });
}

void showHelpTopic(const std::string& topic) {
    const std::string page = helpPageOf(topic);
    onGui([&] {
        HelpWindow* h = raiseHelp();
        if (page.empty())
            h->showView(HelpView::Contents);
        else
            h->open(qs(page));
    });
}

void showWindowHelp(int windowId) {
    std::string topic = onGui([&] {
        GuiWindow* w = guiWindow(windowId);
        return w ? w->design.help : std::string();
    });
    showHelpTopic(topic);
}

} // namespace sorv::win
