// The halt steps and the process exit.
#include "runtime/halt.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace sorv {

namespace {
std::mutex haltMutex;
std::vector<std::pair<int, std::function<void()>>> handlers;
int nextId = 1;
} // namespace

int addHaltHandler(std::function<void()> handler) {
    std::lock_guard g(haltMutex);
    handlers.emplace_back(nextId, std::move(handler));
    return nextId++;
}

void removeHaltHandler(int id) {
    std::lock_guard g(haltMutex);
    std::erase_if(handlers, [id](const auto& h) { return h.first == id; });
}

void halt(int status, std::string_view text) {
    if (!text.empty()) std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::vector<std::pair<int, std::function<void()>>> steps;
    {
        std::lock_guard g(haltMutex);
        steps = handlers;
    }
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) it->second();
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace sorv
