// The program's printer choice and the printer set-up dialog; the wait for the desktop's dialogs.
#include "windowing/printer.h"
#include "windowing/gui_call.h"
#include "windowing/gui_dialogs.h"
#include "windowing/gui_window.h"
#include "windowing/threads.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPageSize>
#include <QPointer>
#include <QPrinterInfo>
#include <QRadioButton>
#include <QVBoxLayout>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace sorv::win {

namespace {

std::mutex choiceMutex;
std::optional<PrinterChoice> choice;

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Paper the PDF writer offers, by platform code.
constexpr int pdfPapers[] = {1, 5, 7, 3, 8, 9, 11, 12, 13};

std::vector<int> papersOf(const std::string& printer) {
    std::vector<int> codes;
    if (!printer.empty())
        for (const QPageSize& size : QPrinterInfo::printerInfo(qs(printer)).supportedPageSizes())
            if (int code = size.windowsId();
                code > 0 && std::find(codes.begin(), codes.end(), code) == codes.end())
                codes.push_back(code);
    if (codes.empty()) codes.assign(std::begin(pdfPapers), std::end(pdfPapers));
    return codes;
}

int defaultPaperOf(const std::string& printer) {
    if (!printer.empty())
        if (int code = QPrinterInfo::printerInfo(qs(printer)).defaultPageSize().windowsId(); code > 0)
            return code;
    return 1;
}

class PrinterSetupDialog : public QDialog {
public:
    explicit PrinterSetupDialog(QWidget* parent) : QDialog(parent) {
        setWindowTitle("Print Setup");
        setAccessibleName("Print Setup");
        const PrinterChoice now = printerChoice();

        auto* printerBox = new QGroupBox("Printer");
        auto* printerForm = new QFormLayout(printerBox);
        printer_ = new QComboBox;
        printer_->setAccessibleName("Name");
        for (const std::string& p : availablePrinters()) printer_->addItem(qs(p), qs(p));
        printer_->addItem("PDF file", QString());
        printer_->setCurrentIndex(std::max(0, printer_->findData(qs(now.printer))));
        file_ = new QLineEdit(qs(now.file));
        file_->setAccessibleName("File");
        printerForm->addRow("&Name:", printer_);
        printerForm->addRow("&File:", file_);

        auto* paperBox = new QGroupBox("Paper");
        auto* paperForm = new QFormLayout(paperBox);
        paper_ = new QComboBox;
        paper_->setAccessibleName("Size");
        paperForm->addRow("Si&ze:", paper_);

        auto* turnBox = new QGroupBox("Orientation");
        auto* turn = new QVBoxLayout(turnBox);
        portrait_ = new QRadioButton("&Portrait");
        landscape_ = new QRadioButton("&Landscape");
        turn->addWidget(portrait_);
        turn->addWidget(landscape_);
        (now.orientation == orientation::Portrait ? portrait_ : landscape_)->setChecked(true);

        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

        auto* all = new QVBoxLayout(this);
        all->addWidget(printerBox);
        all->addWidget(paperBox);
        all->addWidget(turnBox);
        all->addWidget(buttons);

        fillPapers(now.paper);
        connect(printer_, &QComboBox::currentIndexChanged, this, [this] { fillPapers(paperCode()); });
    }

    PrinterChoice chosen() const {
        PrinterChoice c;
        c.printer = printer_->currentData().toString().toStdString();
        c.file = file_->text().trimmed().toStdString();
        if (c.file.empty()) c.file = DefaultReportFile;
        c.paper = paperCode();
        c.orientation = portrait_->isChecked() ? orientation::Portrait : orientation::Landscape;
        return c;
    }

private:
    int paperCode() const { return paper_->currentData().toInt(); }

    // The papers of the printer now chosen, keeping the paper shown when the printer has it.
    void fillPapers(int keep) {
        const std::string printer = printer_->currentData().toString().toStdString();
        file_->setEnabled(printer.empty());
        paper_->clear();
        for (int code : papersOf(printer)) paper_->addItem(qs(paperName(code)), code);
        int at = paper_->findData(keep > 0 ? keep : defaultPaperOf(printer));
        if (at < 0) at = paper_->findData(defaultPaperOf(printer));
        paper_->setCurrentIndex(std::max(0, at));
    }

    QComboBox* printer_;
    QLineEdit* file_;
    QComboBox* paper_;
    QRadioButton* portrait_;
    QRadioButton* landscape_;
};

} // namespace

PrinterChoice printerChoice() {
    {
        std::lock_guard g(choiceMutex);
        if (choice) return *choice;
    }
    PrinterChoice first;
    first.printer = onGui([] { return QPrinterInfo::defaultPrinterName().toStdString(); });
    first.file = DefaultReportFile;
    std::lock_guard g(choiceMutex);
    if (!choice) choice = first;
    return *choice;
}

void setPrinterChoice(const PrinterChoice& c) {
    std::lock_guard g(choiceMutex);
    choice = c;
}

std::vector<std::string> availablePrinters() {
    return onGui([] {
        std::vector<std::string> names;
        const QString first = QPrinterInfo::defaultPrinterName();
        if (!first.isEmpty()) names.push_back(first.toStdString());
        for (const QString& n : QPrinterInfo::availablePrinterNames())
            if (n != first) names.push_back(n.toStdString());
        return names;
    });
}

std::string paperName(int code) {
    QPageSize::PageSizeId id = QPageSize::id(code);
    if (code <= 0 || id == QPageSize::Custom) return {};
    return QPageSize::name(id).toStdString();
}

void showPrinterSetup(QWidget* parent, std::function<void(int)> done) {
    auto* dialog = new PrinterSetupDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::ApplicationModal);
    auto told = std::make_shared<bool>(false);
    auto tell = [done, told](int answer) {
        if (*told) return;
        *told = true;
        if (done) done(answer);
    };
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, tell](int result) {
        if (result == QDialog::Accepted) setPrinterChoice(dialog->chosen());
        tell(result == QDialog::Accepted ? 1 : 0);
    });
    QObject::connect(dialog, &QObject::destroyed, [tell] { tell(0); });
    dialog->open();
}

bool printerSetup() {
    return waitForDialog(
               [](std::function<void(int)> done) {
                   GuiWindow* f = guiFrame();
                   showPrinterSetup(f ? f->top.data() : nullptr, std::move(done));
                   return true;
               },
               0) == 1;
}

int waitForDialog(const std::function<bool(std::function<void(int)> done)>& show, int otherwise) {
    struct Wait {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        int value = 0;
    };
    auto wait = std::make_shared<Wait>();
    auto done = [wait](int value) {
        {
            std::lock_guard g(wait->m);
            if (wait->done) return;
            wait->value = value;
            wait->done = true;
        }
        wait->cv.notify_all();
    };
    if (!onGui([&] { return show(done); })) return otherwise;
    if (onGuiThread()) {
        QEventLoop loop;
        for (;;) {
            {
                std::lock_guard g(wait->m);
                if (wait->done) return wait->value;
            }
            loop.processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    LockReleased unlocked;
    std::unique_lock g(wait->m);
    wait->cv.wait(g, [&] { return wait->done; });
    return wait->value;
}

} // namespace sorv::win
