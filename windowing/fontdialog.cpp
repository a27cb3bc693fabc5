// The font dialog: the toolkit's own, window-modal over its owner, answered to the waiting thread.
#include "windowing/fontdialog.h"

#include "windowing/gui_dialogs.h"
#include "windowing/gui_window.h"

#include <QFontDialog>
#include <algorithm>
#include <memory>

namespace sorv::win {

int fontStyleOf(const QFont& f) {
    // A regular italic has no weight in its number: "Italic" is 4096, "Italic Underline" 12288.
    const int weight = f.bold() ? 700 : f.italic() ? 0 : 400;
    return weight + (f.italic() ? 4096 : 0) + (f.underline() ? 8192 : 0);
}

void applyFontStyle(QFont& f, int style) {
    f.setBold((style % 4096) >= 700);
    f.setItalic(style & 4096);
    f.setUnderline(style & 8192);
}

bool chooseFont(const std::string& title, ReportFont& font, int owner) {
    auto chosen = std::make_shared<QFont>();
    const int answer = waitForDialog(
        [&](std::function<void(int)> done) {
            QFont preset(QString::fromStdString(font.face));
            preset.setPointSize(std::max(1, font.points));
            applyFontStyle(preset, font.style);
            GuiWindow* w = owner ? guiWindow(owner) : guiFrame();
            auto* dialog = new QFontDialog(preset, w ? w->top.data() : nullptr);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->setOption(QFontDialog::DontUseNativeDialog);
            dialog->setWindowTitle(QString::fromStdString(title));
            dialog->setWindowModality(Qt::ApplicationModal);
            auto told = std::make_shared<bool>(false);
            auto tell = [done, told](int v) {
                if (*told) return;
                *told = true;
                done(v);
            };
            QObject::connect(dialog, &QDialog::finished, dialog, [dialog, chosen, tell](int result) {
                if (result == QDialog::Accepted) *chosen = dialog->selectedFont();
                tell(result == QDialog::Accepted ? 1 : 0);
            });
            QObject::connect(dialog, &QObject::destroyed, [tell] { tell(0); });
            dialog->open();
            return true;
        },
        0);
    if (answer != 1) return false;
    font.face = chosen->family().toStdString();
    if (chosen->pointSize() > 0) font.points = chosen->pointSize();
    font.style = fontStyleOf(*chosen);
    return true;
}

} // namespace sorv::win
