// Pushing a queue's entries to a list box.
#include "framework/listrows.h"

#include "windowing/listbox_control.h"

#include <memory>

namespace sorv::fw {

void pushQueueRows(win::Window& window, int control, Queue& queue) {
    auto data = std::make_shared<win::ListRowsData>();
    const std::int64_t n = queue.records();
    const Layout& layout = queue.layout();
    const int fields = queue.fieldCount();
    data->rows.reserve(static_cast<std::size_t>(n));
    for (std::int64_t i = 1; i <= n; ++i) {
        // One lookup of the entry per row, then its fields straight from its bytes.
        const std::span<const std::uint8_t> entry = queue.entry(i);
        win::ListRow row;
        row.reserve(static_cast<std::size_t>(fields));
        for (int f = 0; f < fields; ++f) {
            const FieldDesc& d = layout.field(static_cast<std::size_t>(f));
            std::string text = readField(d, entry).toText();
            // Texts go without their padding: the list pads by the column's picture, and short
            // texts are kept inside their string, which matters for lists held whole.
            if (isTextType(d.type)) text.erase(text.find_last_not_of(' ') + 1);
            row.push_back(std::move(text));
        }
        data->rows.push_back(std::move(row));
    }
    window.setData(control, std::move(data));
}

void QueueListView::show(win::Window& window, int control, Queue& queue) {
    std::vector<int> key = queue.currentKey();
    if (queue.changes() == shownChanges_ && key == shownKey_) return;
    pushQueueRows(window, control, queue);
    shownChanges_ = queue.changes();
    shownKey_ = std::move(key);
}

} // namespace sorv::fw
