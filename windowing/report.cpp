// The report engine: bands laid out on pages, fonts measured and texts drawn on the desktop, output
// to a printer or a PDF file, and the previewer.
#include "windowing/report.h"
#include "windowing/gui_call.h"
#include "windowing/gui_dialogs.h"
#include "windowing/gui_window.h"
#include "windowing/printer.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace sorv::win {

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Fonts are measured and drawn at an em of 1000 pixels and scaled: a font of p points has an em of
// p / 72 inch, so one such pixel is p / 72 thousandths of an inch. Unhinted, widths then scale
// exactly, and what was measured is what is drawn.
constexpr int ReferenceEm = 1000;

QFont referenceFont(const ReportFont& f) {
    QFont q(qs(f.face));
    q.setPixelSize(ReferenceEm);
    q.setHintingPreference(QFont::PreferNoHinting);
    int weight = f.style % 4096;
    if (weight <= 0) weight = 400;
    q.setWeight(QFont::Weight(std::clamp(weight, 100, 900)));
    q.setItalic(f.style & 4096);
    q.setUnderline(f.style & 8192);
    q.setStrikeOut(f.style & 16384);
    return q;
}

double unitsPerPixel(const ReportFont& f) {
    return std::max(1, f.points) / 72.0;
}

QPageSize pageSizeOf(int code) {
    QPageSize::PageSizeId id = code > 0 ? QPageSize::id(code) : QPageSize::Letter;
    return QPageSize(id == QPageSize::Custom ? QPageSize::Letter : id);
}

QPageLayout layoutOf(const Report& r) {
    const double margin = Report::Margin / 1000.0;
    return QPageLayout(pageSizeOf(r.paper()), r.landscape() ? QPageLayout::Landscape : QPageLayout::Portrait,
                       QMarginsF(margin, margin, margin, margin), QPageLayout::Inch);
}

void drawText(QPainter& p, const Report& r, const Report::PlacedText& t, double devicePerUnit) {
    const ReportFont& rf = r.fonts()[t.font];
    const QFont font = referenceFont(rf);
    const QFontMetricsF fm(font);
    const double k = unitsPerPixel(rf);
    const QString text = qs(t.text);
    const double w = fm.horizontalAdvance(text) * k;
    double x = t.x;
    switch (t.align) {
    case TextAlign::Right:
        x = t.x + t.width - t.indent - w;
        break;
    case TextAlign::Centre:
        x = t.x + (t.width - w) / 2 + t.indent;
        break;
    case TextAlign::Decimal: {
        const int at = text.indexOf('.');
        const double before = at < 0 ? w : fm.horizontalAdvance(text.left(at)) * k;
        x = t.x + t.width - t.indent - before;
        break;
    }
    case TextAlign::Left:
        x = t.x + t.indent;
        break;
    }
    p.save();
    // A text is cut at its box.
    if (x < t.x || x + w > t.x + t.width)
        p.setClipRect(QRectF(t.x * devicePerUnit, t.y * devicePerUnit, t.width * devicePerUnit,
                             fm.height() * k * devicePerUnit));
    p.translate(x * devicePerUnit, (t.y + fm.ascent() * k) * devicePerUnit);
    p.scale(k * devicePerUnit, k * devicePerUnit);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawText(QPointF(0, 0), text);
    p.restore();
}

void drawPage(QPainter& p, const Report& r, const Report::Page& page, double devicePerUnit) {
    for (const ReportLine& l : page.lines) {
        QPen pen(Qt::black);
        pen.setWidthF(std::max(1, l.thickness) * devicePerUnit);
        pen.setCapStyle(Qt::FlatCap);
        p.setPen(pen);
        p.drawLine(QPointF(l.x1 * devicePerUnit, l.y1 * devicePerUnit),
                   QPointF(l.x2 * devicePerUnit, l.y2 * devicePerUnit));
    }
    for (const Report::PlacedText& t : page.texts) drawText(p, r, t, devicePerUnit);
}

// Draws every page of `r` on a printer set up for it (GUI thread).
bool renderPages(QPrinter& printer, const Report& r, std::string* error) {
    QPainter p;
    if (!p.begin(&printer)) {
        if (error) *error = "The printer could not start the report.";
        return false;
    }
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double devicePerUnit = printer.resolution() / 1000.0 / r.scale();
    for (std::size_t i = 0; i < r.pages().size(); ++i) {
        if (i > 0 && !printer.newPage()) {
            if (error) *error = "The printer refused a new page.";
            return false;
        }
        drawPage(p, r, r.pages()[i], devicePerUnit);
    }
    return p.end();
}

void setUp(QPrinter& printer, const Report& r) {
    printer.setFullPage(false);
    printer.setPageLayout(layoutOf(r));
    printer.setDocName(r.title().empty() ? QStringLiteral("Report") : qs(r.title()));
    printer.setCreator(QCoreApplication::applicationName());
}

bool writePdf(const Report& r, const std::string& file, std::string* error) {
    {
        // QPainter only says that it failed; the file says why.
        QFile probe(qs(file));
        const bool existed = probe.exists();
        if (!probe.open(QIODevice::WriteOnly)) {
            if (error)
                *error = "Cannot write the report to " + file + ": " + probe.errorString().toStdString();
            return false;
        }
        probe.close();
        if (!existed) probe.remove();
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(qs(file));
    setUp(printer, r);
    return renderPages(printer, r, error);
}

// The previewer window: the pages, a toolbar for zoom and page jump, "Print" and "Cancel".
class PreviewDialog : public QDialog {
public:
    PreviewDialog(const Report& r, QWidget* parent)
        : QDialog(parent), report_(&r), printer_(QPrinter::HighResolution) {
        setWindowTitle(r.title().empty() ? QStringLiteral("Print Preview")
                                         : QStringLiteral("Print Preview - ") + qs(r.title()));
        setAccessibleName("Print Preview");
        printer_.setOutputFormat(QPrinter::PdfFormat);
        setUp(printer_, r);
        view_ = new QPrintPreviewWidget(&printer_, this);
        view_->setAccessibleName("Pages");
        connect(view_, &QPrintPreviewWidget::paintRequested, this, [this](QPrinter* p) {
            if (report_) renderPages(*p, *report_, nullptr);
        });

        auto* bar = new QToolBar;
        auto act = [&](const QString& text, const QKeySequence& key, auto slot) {
            QAction* a = bar->addAction(text);
            a->setShortcut(key);
            a->setToolTip(QString(text).remove('&'));
            connect(a, &QAction::triggered, this, slot);
            return a;
        };
        act("Zoom &In", QKeySequence::ZoomIn, [this] { view_->zoomIn(); });
        act("Zoom &Out", QKeySequence::ZoomOut, [this] { view_->zoomOut(); });
        act("Fit &Width", QKeySequence(), [this] { view_->fitToWidth(); });
        act("&Whole Page", QKeySequence(), [this] { view_->fitInView(); });
        bar->addSeparator();
        act("Save &Text...", QKeySequence(), [this] { saveText(); });
        bar->addSeparator();
        act("&First", QKeySequence(Qt::CTRL | Qt::Key_Home), [this] { go(1); });
        act("P&revious", QKeySequence(Qt::Key_PageUp), [this] { go(view_->currentPage() - 1); });
        page_ = new QSpinBox;
        page_->setAccessibleName("Page");
        page_->setKeyboardTracking(false);
        of_ = new QLabel;
        of_->setAccessibleName("Page count");
        bar->addWidget(new QLabel(" Page "));
        bar->addWidget(page_);
        bar->addWidget(of_);
        act("&Next", QKeySequence(Qt::Key_PageDown), [this] { go(view_->currentPage() + 1); });
        act("&Last", QKeySequence(Qt::CTRL | Qt::Key_End), [this] { go(view_->pageCount()); });
        connect(page_, &QSpinBox::valueChanged, this, [this](int n) { go(n); });

        auto* print = new QPushButton("&Print");
        auto* cancel = new QPushButton("&Cancel");
        print->setDefault(true);
        connect(print, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(print);
        buttons->addWidget(cancel);

        auto* all = new QVBoxLayout(this);
        all->addWidget(bar);
        all->addWidget(view_, 1);
        all->addLayout(buttons);
        connect(view_, &QPrintPreviewWidget::previewChanged, this, [this] { showPage(); });
        view_->fitInView();
        view_->updatePreview();
        resize(900, 700);
    }

    // The report belongs to the program thread, which goes on once the user has answered.
    void forgetReport() { report_ = nullptr; }

private:
    void go(int n) {
        n = std::clamp(n, 1, std::max(1, view_->pageCount()));
        if (n != view_->currentPage()) view_->setCurrentPage(n);
        showPage();
    }
    void saveText() {
        if (!report_) return;
        QFileDialog ask(this, "Save Text", "SvReport.TXT", "Text files (*.txt *.TXT);;All files (*)");
        ask.setAccessibleName("Save Text");
        ask.setAcceptMode(QFileDialog::AcceptSave);
        ask.setOption(QFileDialog::DontUseNativeDialog);
        if (ask.exec() != QDialog::Accepted || ask.selectedFiles().isEmpty()) return;
        QFile file(ask.selectedFiles().first());
        const QByteArray text = QByteArray::fromStdString(reportText(*report_));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
            QMessageBox::warning(this, "Save Text",
                                 "Cannot write " + file.fileName() + ": " + file.errorString());
    }
    void showPage() {
        const QSignalBlocker quiet(page_);
        page_->setRange(1, std::max(1, view_->pageCount()));
        page_->setValue(view_->currentPage());
        of_->setText(QStringLiteral(" of %1 ").arg(view_->pageCount()));
    }

    const Report* report_;
    QPrinter printer_;
    QPrintPreviewWidget* view_;
    QSpinBox* page_;
    QLabel* of_;
};

} // namespace

// ---- measuring ----

int lineHeight(const ReportFont& font) {
    double h = onGui([&] { return QFontMetricsF(referenceFont(font)).height(); });
    if (h <= 0) h = 1.2 * ReferenceEm; // no desktop to ask
    return int(std::ceil(h * unitsPerPixel(font)));
}

int textWidth(const ReportFont& font, const std::string& text) {
    const double w = onGui([&] { return QFontMetricsF(referenceFont(font)).horizontalAdvance(qs(text)); });
    return int(std::ceil(w * unitsPerPixel(font)));
}

int screenTextWidth(const ReportFont& font, const std::string& text) {
    return onGui([&] {
        QFont f(qs(font.face));
        f.setPointSize(std::max(1, font.points));
        const QFont styled = referenceFont(font);
        f.setWeight(styled.weight());
        f.setItalic(styled.italic());
        return QFontMetrics(f).horizontalAdvance(qs(text));
    });
}

// ---- layout ----

Report::Report() {
    const PrinterChoice c = printerChoice();
    choice_printer_ = c.printer;
    choice_file_ = c.file.empty() ? DefaultReportFile : c.file;
    choice_paper_ = c.paper;
    choice_orientation_ = c.orientation;
    if (!choice_printer_.empty())
        paper_ = onGui(
            [&] { return QPrinterInfo::printerInfo(qs(choice_printer_)).defaultPageSize().windowsId(); });
}

void Report::setPaper(int code) {
    if (code > 0 && QPageSize::id(code) != QPageSize::Custom) paper_ = code;
}

void Report::setLandscape(bool landscape) {
    landscape_ = landscape;
}

void Report::setWidth(int width) {
    width_ = std::max(0, width);
}

void Report::setPageNumbers(const ReportFont& font) {
    numbered_ = true;
    numberFont_ = font;
}

int Report::paper() const {
    if (choice_paper_ > 0) return choice_paper_;
    return paper_ > 0 ? paper_ : 1;
}

bool Report::landscape() const {
    if (choice_orientation_ != orientation::None) return choice_orientation_ == orientation::Landscape;
    return landscape_;
}

int Report::printableWidth() const {
    const QSizeF inches = pageSizeOf(paper()).size(QPageSize::Inch);
    const double w = landscape() ? inches.height() : inches.width();
    return std::max(1000, int(std::lround(w * 1000)) - 2 * Margin);
}

int Report::printableHeight() const {
    const QSizeF inches = pageSizeOf(paper()).size(QPageSize::Inch);
    const double h = landscape() ? inches.width() : inches.height();
    return std::max(1000, int(std::lround(h * 1000)) - 2 * Margin);
}

double Report::scale() const {
    return std::max(1.0, double(width_) / printableWidth());
}

int Report::pageHeight() const {
    return int(printableHeight() * scale());
}

std::uint16_t Report::fontIndex(const ReportFont& font) {
    auto [it, added] = fontIndexes_.try_emplace(font, std::uint16_t(fonts_.size()));
    if (added) fonts_.push_back(font);
    return it->second;
}

int Report::bandHeight(const ReportBand& band) {
    int h = band.height;
    for (const ReportText& t : band.texts) {
        auto [it, added] = lineHeights_.try_emplace(t.font, 0);
        if (added) it->second = lineHeight(t.font);
        h = std::max(h, t.y + it->second);
    }
    for (const ReportLine& l : band.lines) h = std::max({h, l.y1, l.y2});
    return h;
}

void Report::place(Page& page, const ReportBand& band, int top) {
    for (const ReportText& t : band.texts)
        page.texts.push_back({t.x, top + t.y, t.width, t.text, fontIndex(t.font), t.align, t.indent});
    for (ReportLine l : band.lines) {
        l.y1 += top;
        l.y2 += top;
        page.lines.push_back(l);
    }
}

void Report::newPage() {
    if (headerHeight_ < 0) {
        headerHeight_ = bandHeight(header_);
        footerHeight_ = numbered_ ? lineHeight(numberFont_) + 100 : 0;
    }
    pages_.emplace_back();
    used_ = headerHeight_;
    pageEnded_ = false;
}

void Report::print(const ReportBand& band) {
    if (closed_) return;
    const int h = bandHeight(band);
    if (pageEnded_)
        newPage();
    else if (used_ + h > pageHeight() - footerHeight_ && used_ > headerHeight_)
        newPage(); // a band taller than a page still gets a page of its own, cut at its foot
    place(pages_.back(), band, used_);
    used_ += h;
}

void Report::endPage() {
    pageEnded_ = true;
}

void Report::close() {
    if (closed_) return;
    if (pages_.empty()) newPage();
    const int width = width_ > 0 ? width_ : printableWidth();
    const int total = pageCount();
    for (int i = 0; i < total; ++i) {
        Page& page = pages_[i];
        Page top;
        place(top, header_, 0);
        page.texts.insert(page.texts.begin(), top.texts.begin(), top.texts.end());
        page.lines.insert(page.lines.begin(), top.lines.begin(), top.lines.end());
        if (numbered_) {
            const int y = pageHeight() - lineHeight(numberFont_);
            page.texts.push_back({0, y, width,
                                  "Page " + std::to_string(i + 1) + " of " + std::to_string(total),
                                  fontIndex(numberFont_), TextAlign::Right, 0});
        }
    }
    closed_ = true;
}

// ---- output ----

bool writeReportPdf(const Report& r, const std::string& file, std::string* error) {
    if (!r.closed()) {
        if (error) *error = "The report is not finished.";
        return false;
    }
    std::string why = "There is no desktop to print on.";
    const bool ok = onGui([&] { return writePdf(r, file, &why); });
    if (!ok && error) *error = why;
    return ok;
}

bool printReport(const Report& r, std::string* error) {
    if (r.printer().empty()) return writeReportPdf(r, r.file(), error);
    if (!r.closed()) {
        if (error) *error = "The report is not finished.";
        return false;
    }
    std::string why = "There is no desktop to print on.";
    const bool ok = onGui([&] {
        QPrinter printer(QPrinterInfo::printerInfo(qs(r.printer())), QPrinter::HighResolution);
        if (!printer.isValid()) {
            why = "The printer " + r.printer() + " is not available.";
            return false;
        }
        setUp(printer, r);
        return renderPages(printer, r, &why);
    });
    if (!ok && error) *error = why;
    return ok;
}

std::string reportText(const Report& r) {
    constexpr int Column = 100; // thousandths of an inch per character
    std::string out;
    for (const Report::Page& page : r.pages()) {
        // Lines by their top, texts on a line by their column.
        std::map<int, std::vector<std::pair<int, std::string>>> lines;
        for (const Report::PlacedText& t : page.texts) {
            const int length = int(t.text.size());
            int at = 0;
            switch (t.align) {
            case TextAlign::Left:
                at = (t.x + t.indent) / Column;
                break;
            case TextAlign::Centre:
                at = (t.x + t.width / 2) / Column - length / 2;
                break;
            case TextAlign::Right:
            case TextAlign::Decimal: {
                const std::size_t point =
                    t.align == TextAlign::Decimal ? t.text.find('.') : std::string::npos;
                const int before = point == std::string::npos ? length : int(point);
                at = (t.x + t.width - t.indent) / Column - before;
                break;
            }
            }
            lines[t.y / (Column / 2)].emplace_back(std::max(0, at), t.text);
        }
        for (auto& [y, texts] : lines) {
            std::sort(texts.begin(), texts.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            std::string line;
            for (const auto& [at, text] : texts) {
                // Texts that would overlap keep one blank between them.
                if (!line.empty() && int(line.size()) >= at) line += ' ';
                line.resize(std::max<std::size_t>(line.size(), std::size_t(at)), ' ');
                line += text;
            }
            out += line + "\n";
        }
        out += "\f";
    }
    return out;
}

bool previewReport(const Report& r, int parentWindow) {
    if (!r.closed()) return false;
    return waitForDialog(
               [&](std::function<void(int)> done) {
                   QWidget* parent = nullptr;
                   if (GuiWindow* w = guiWindow(parentWindow))
                       parent = w->top;
                   else if (GuiWindow* f = guiFrame())
                       parent = f->top;
                   if (parent) parent = parent->window();
                   auto* dialog = new PreviewDialog(r, parent);
                   dialog->setAttribute(Qt::WA_DeleteOnClose);
                   dialog->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
                   auto told = std::make_shared<bool>(false);
                   auto tell = [done, told](int answer) {
                       if (!*told) done(answer);
                       *told = true;
                   };
                   QObject::connect(dialog, &QDialog::finished, dialog, [dialog, tell](int result) {
                       dialog->forgetReport();
                       tell(result == QDialog::Accepted ? 1 : 0);
                   });
                   QObject::connect(dialog, &QObject::destroyed, [tell] { tell(0); });
                   dialog->open();
                   return true;
               },
               0) == 1;
}

} // namespace sorv::win
