// Showing a queue in a list box: the list draws a copy of the queue's entries (field texts) that
// the program pushes whenever the queue changed; the browse pages and the lists held whole in
// memory (file drop lists, the lists a procedure fills itself) push through the same road.
#pragma once
#include "runtime/queue.h"
#include "windowing/window.h"

#include <cstdint>

namespace sorv::fw {

// Pushes every entry of `queue`, in its current order, to list `control` of `window`.
void pushQueueRows(win::Window& window, int control, Queue& queue);

// A list that shows a queue: pushes the queue again only when it changed since the last push
// (the queue's change counter, or its order: a sort reorders without changing an entry).
class QueueListView {
public:
    void show(win::Window& window, int control, Queue& queue);
    // The next show pushes whatever the counter says.
    void invalidate() { shownChanges_ = ~0ull; }

private:
    std::uint64_t shownChanges_ = ~0ull;
    std::vector<int> shownKey_;
};

} // namespace sorv::fw
