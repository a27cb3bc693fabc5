// Pushing a queue's entries to a list box.
#include "framework/listrows.h"

#include "windowing/listbox_control.h"

#include <cstring>
#include <memory>

namespace sorv::fw {

void pushQueueRows(win::Window& window, int control, Queue& queue) {
    // The entries' bytes, in the queue's current order; the list makes the texts of the rows it
    // shows (its row texts drop the padding of text fields).
    auto entries = std::make_shared<win::ListEntries>();
    entries->layout = queue.layout();
    const std::int64_t n = queue.records();
    entries->size = n > 0 ? static_cast<std::uint32_t>(queue.entry(1).size()) : 0;
    entries->bytes.resize(static_cast<std::size_t>(n) * entries->size);
    std::uint8_t* to = entries->bytes.data();
    for (std::int64_t i = 1; i <= n; ++i, to += entries->size) {
        const std::span<const std::uint8_t> entry = queue.entry(i);
        std::memcpy(to, entry.data(), entry.size());
    }
    auto data = std::make_shared<win::ListEntriesData>();
    data->entries = std::move(entries);
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
