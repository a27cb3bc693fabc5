// Queue speed against plain standard containers holding the same entries as structs: sorting a
// million entries by a STRING(20) and a descending LONG, gets by key, adds, gets and deletes.
#include "runtime/errors.h"
#include "runtime/queue.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <vector>

using namespace sorv;

namespace {

constexpr std::size_t Million = 1'000'000;

// The same bytes as the queue's entries: NAME STRING(20) then N LONG.
struct Plain {
    char name[20];
    std::int32_t n;
};
static_assert(sizeof(Plain) == 24);

bool plainLess(const Plain& a, const Plain& b) {
    int c = std::memcmp(a.name, b.name, sizeof a.name);
    if (c != 0) return c < 0;
    return a.n > b.n; // descending
}

Layout benchLayout() {
    Layout l;
    l.add("NAME", FieldType::String, 20);
    l.add("N", FieldType::Long);
    return l;
}

// A million entries over 50,000 names (about 20 entries share a name), in random order.
const std::vector<Plain>& data() {
    static const std::vector<Plain> rows = [] {
        std::mt19937 rng(42);
        std::vector<std::string> names(50'000);
        for (auto& s : names) {
            std::size_t len = 5 + rng() % 16;
            for (std::size_t i = 0; i < len; ++i) s.push_back(static_cast<char>('A' + rng() % 26));
        }
        std::vector<Plain> v(Million);
        for (Plain& p : v) {
            const std::string& s = names[rng() % names.size()];
            std::memset(p.name, ' ', sizeof p.name);
            std::memcpy(p.name, s.data(), s.size());
            p.n = static_cast<std::int32_t>(rng() % 2'000'000) - 1'000'000;
        }
        return v;
    }();
    return rows;
}

void fill(Queue& q, std::size_t n) {
    q.free();
    const auto& rows = data();
    for (std::size_t i = 0; i < n; ++i) {
        std::memcpy(q.buffer().data(), &rows[i], sizeof(Plain));
        q.add();
    }
}

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Each iteration sorts a freshly filled queue and a fresh copy of the structs; the time reported
// is the queue's, the counter the ratio of the two.
void BM_SortMillionByNameAndDescendingLong(benchmark::State& state) {
    Queue q(benchLayout());
    double queueTime = 0, refTime = 0;
    for (auto _ : state) {
        fill(q, Million);
        std::vector<Plain> copy = data();
        auto t0 = std::chrono::steady_clock::now();
        q.sortByFields({1, -2});
        q.get(1); // the order is built when first read
        auto t1 = std::chrono::steady_clock::now();
        std::sort(copy.begin(), copy.end(), plainLess);
        auto t2 = std::chrono::steady_clock::now();
        if (errorCode() != 0 || std::memcmp(q.buffer().data(), &copy[0], sizeof(Plain)) != 0)
            state.SkipWithError("the queue and std::sort disagree");
        queueTime += seconds(t0, t1);
        refTime += seconds(t1, t2);
        state.SetIterationTime(seconds(t0, t1));
    }
    state.counters["std_sort_ms"] = refTime * 1000 / static_cast<double>(state.iterations());
    state.counters["ratio_to_std_sort"] = queueTime / refTime;
}
BENCHMARK(BM_SortMillionByNameAndDescendingLong)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

// Gets by the full key of the sorted queue, against std::lower_bound on the sorted structs.
void BM_GetByKeyMillion(benchmark::State& state) {
    static Queue q(benchLayout());
    static std::vector<Plain> sorted;
    if (q.records() == 0) {
        fill(q, Million);
        q.sortByFields({1, -2});
        sorted = data();
        std::sort(sorted.begin(), sorted.end(), plainLess);
    }
    std::mt19937 rng(7);
    std::vector<Plain> probes(4096);
    for (Plain& p : probes) p = data()[rng() % Million];
    const int key[] = {1, -2};
    std::size_t found = 0, i = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::memcpy(q.buffer().data(), &probes[i++ & 4095], sizeof(Plain));
        q.getByKey(key);
        found += errorCode() == 0;
    }
    double queueTime = seconds(t0, std::chrono::steady_clock::now());
    auto n = static_cast<std::size_t>(state.iterations());
    t0 = std::chrono::steady_clock::now();
    std::size_t refFound = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const Plain& p = probes[k & 4095];
        auto it = std::lower_bound(sorted.begin(), sorted.end(), p, plainLess);
        refFound += it != sorted.end() && !plainLess(p, *it);
        benchmark::DoNotOptimize(it);
    }
    double refTime = seconds(t0, std::chrono::steady_clock::now());
    if (found != n || refFound != n) state.SkipWithError("a key was not found");
    state.counters["gets_per_s"] = static_cast<double>(n) / queueTime;
    state.counters["lower_bound_per_s"] = static_cast<double>(n) / refTime;
    state.counters["ratio_to_lower_bound"] = queueTime / refTime;
}
BENCHMARK(BM_GetByKeyMillion);

// Appends to a queue (unsorted, or with one remembered sorted order to keep in step), against
// std::vector::push_back of the structs.
void BM_AddMillion(benchmark::State& state) {
    bool withOrder = state.range(0) != 0;
    const auto& rows = data();
    double queueTime = 0, refTime = 0;
    for (auto _ : state) {
        Queue q(benchLayout());
        if (withOrder) {
            q.sortByFields({1, -2});
            q.get(1);
            q.sortByFields(Queue::Key{});
        }
        auto t0 = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < Million; ++i) {
            std::memcpy(q.buffer().data(), &rows[i], sizeof(Plain));
            q.add();
        }
        auto t1 = std::chrono::steady_clock::now();
        std::vector<Plain> v;
        for (std::size_t i = 0; i < Million; ++i) v.push_back(rows[i]);
        benchmark::DoNotOptimize(v.data());
        auto t2 = std::chrono::steady_clock::now();
        queueTime += seconds(t0, t1);
        refTime += seconds(t1, t2);
        state.SetIterationTime(seconds(t0, t1));
    }
    double n = static_cast<double>(Million) * static_cast<double>(state.iterations());
    state.counters["adds_per_s"] = n / queueTime;
    state.counters["ratio_to_push_back"] = queueTime / refTime;
}
BENCHMARK(BM_AddMillion)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// Random gets by position from a million entries, against copying a random vector element.
void BM_GetByPositionMillion(benchmark::State& state) {
    static Queue q(benchLayout());
    if (q.records() == 0) fill(q, Million);
    const auto& rows = data();
    std::mt19937 rng(3);
    std::vector<std::int64_t> pos(4096);
    for (auto& p : pos) p = 1 + static_cast<std::int64_t>(rng() % Million);
    std::size_t i = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (auto _ : state) q.get(pos[i++ & 4095]);
    double queueTime = seconds(t0, std::chrono::steady_clock::now());
    auto n = static_cast<std::size_t>(state.iterations());
    Plain out;
    t0 = std::chrono::steady_clock::now();
    for (std::size_t k = 0; k < n; ++k) {
        std::memcpy(&out, &rows[static_cast<std::size_t>(pos[k & 4095] - 1)], sizeof out);
        benchmark::DoNotOptimize(out);
    }
    double refTime = seconds(t0, std::chrono::steady_clock::now());
    state.counters["gets_per_s"] = static_cast<double>(n) / queueTime;
    state.counters["vector_copies_per_s"] = static_cast<double>(n) / refTime;
    state.counters["ratio_to_vector_copy"] = queueTime / refTime;
}
BENCHMARK(BM_GetByPositionMillion);

// Deleting entries at random positions of a large queue (each a get then a delete), against
// std::vector::erase at the same positions.
void BM_DeleteAtRandom(benchmark::State& state) {
    const std::size_t start = 200'000, deletes = 100'000;
    bool withOrder = state.range(0) != 0;
    std::mt19937 rng(5);
    std::vector<std::int64_t> pos(deletes);
    for (std::size_t k = 0; k < deletes; ++k) pos[k] = 1 + static_cast<std::int64_t>(rng() % (start - k));
    double queueTime = 0, refTime = 0;
    for (auto _ : state) {
        Queue q(benchLayout());
        fill(q, start);
        if (withOrder) {
            q.sortByFields({1, -2});
            q.get(1);
            q.sortByFields(Queue::Key{});
        }
        std::vector<Plain> v(data().begin(), data().begin() + start);
        auto t0 = std::chrono::steady_clock::now();
        for (std::int64_t p : pos) {
            q.get(p);
            q.remove();
        }
        auto t1 = std::chrono::steady_clock::now();
        for (std::int64_t p : pos) v.erase(v.begin() + (p - 1));
        auto t2 = std::chrono::steady_clock::now();
        if (q.records() != static_cast<std::int64_t>(v.size())) state.SkipWithError("counts differ");
        queueTime += seconds(t0, t1);
        refTime += seconds(t1, t2);
        state.SetIterationTime(seconds(t0, t1));
    }
    double n = static_cast<double>(deletes) * static_cast<double>(state.iterations());
    state.counters["deletes_per_s"] = n / queueTime;
    state.counters["ratio_to_vector_erase"] = queueTime / refTime;
}
BENCHMARK(BM_DeleteAtRandom)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
