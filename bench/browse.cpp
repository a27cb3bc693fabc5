// A real browse over the People-like table in key order, 1,000 records against 1,000,000: opening
// the window (the first page), page down, page up, end and home. A browse keeps one page and reads
// around it through the view, so each step should cost about the same at both sizes; the ratios
// printed at the end are the million-record time over the thousand-record time.
#include "tests/framework/browse_rig.h"
#include "tests/windowing/harness.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

using namespace browsetest;

namespace {

constexpr int Small = 1'000, Large = 1'000'000;

// One table file per size, built once (the large one takes a while) and kept for the run.
struct Tables {
    TempDir dir;
    std::map<int, std::string> files;
    const std::string& of(int records) {
        auto it = files.find(records);
        if (it != files.end()) return it->second;
        std::string name = dir.file("PEOPLE" + std::to_string(records));
        FileDecl f = peopleDecl(name);
        create(f);
        share(f);
        // Batches inside transactions keep the journal small and the build quick.
        for (int i = 1; i <= records;) {
            logout(0, {&f});
            for (int n = 0; n < 10'000 && i <= records; ++n, ++i) {
                f.record.clear();
                f.record.set("PPL:SysId", Value(i));
                f.record.set("PPL:LastName", Value(nameOf(i)));
                f.record.set("PPL:CustId", Value((i - 1) / 10 + 1));
                add(f);
            }
            commit();
        }
        close(f);
        return files[records] = name;
    }
};

Tables& tables() {
    static Tables t;
    return t;
}

// Mean seconds per operation by (operation, size).
std::map<std::pair<std::string, int>, double> means;

void record(const std::string& what, int size, double seconds, std::int64_t ops) {
    if (ops > 0) means[{what, size}] = seconds / static_cast<double>(ops);
}

using Clock = std::chrono::steady_clock;

void BM_Open(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const std::string& name = tables().of(size);
    double total = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        {
            Rig rig(0, 10, KeySysId, name, true);
            rig.start();
            if (rig.ids().size() != 10u) state.SkipWithError("first page not loaded");
        }
        total += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    record("open", size, total, state.iterations());
}

// Scrolling on one open browse: each iteration moves and pumps the window's events.
void scroll(benchmark::State& state, const char* what, int first, int second) {
    const int size = static_cast<int>(state.range(0));
    Rig rig(0, 10, KeySysId, tables().of(size), true);
    rig.start();
    rig.list(win::event::PageDown); // somewhere in the middle of the order for page moves
    rig.list(win::event::PageDown);
    double total = 0;
    std::int64_t ops = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        rig.list(first);
        total += std::chrono::duration<double>(Clock::now() - t0).count();
        ++ops;
        if (second) rig.list(second); // back again, not timed
    }
    if (rig.ids().size() != 10u) state.SkipWithError("page lost");
    record(what, size, total, ops);
}

void BM_PageDown(benchmark::State& s) {
    scroll(s, "page down", win::event::PageDown, win::event::PageUp);
}
void BM_PageUp(benchmark::State& s) {
    scroll(s, "page up", win::event::PageUp, win::event::PageDown);
}
void BM_End(benchmark::State& s) {
    scroll(s, "end", win::event::ScrollBottom, win::event::ScrollTop);
}
void BM_Home(benchmark::State& s) {
    scroll(s, "home", win::event::ScrollTop, win::event::ScrollBottom);
}

BENCHMARK(BM_Open)->Arg(Small)->Arg(Large)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageDown)->Arg(Small)->Arg(Large)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageUp)->Arg(Small)->Arg(Large)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_End)->Arg(Small)->Arg(Large)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Home)->Arg(Small)->Arg(Large)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int status = 0;
    // The browse runs on a program thread while this thread serves the offscreen desktop.
    sorv::test::runWithDesktop([&] {
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
            status = 1;
            return;
        }
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
        std::printf("\nRatios, %d records against %d (1.0 = as fast):\n", Large, Small);
        for (const char* what : {"open", "page down", "page up", "end", "home"}) {
            auto s = means.find({what, Small}), l = means.find({what, Large});
            if (s == means.end() || l == means.end() || s->second <= 0) continue;
            std::printf("  %-10s %8.3f ms vs %8.3f ms  ratio %.2f\n", what, l->second * 1e3, s->second * 1e3,
                        l->second / s->second);
        }
    });
    return status;
}
