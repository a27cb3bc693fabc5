// A real browse over the People-like table, 1,000 records against 100,000 and 1,000,000: opening
// the window (the first page), page down, page up, end and home, and the page down after another
// process added a record, in key order, under a filter, as the lower list of a parent/child window
// (ranged to one customer), in an order a key leads and in an order no key serves (as after a
// header click). A browse keeps one page and reads around it through the view, so each step should
// cost about the same at every size; the ratios printed at the end are the larger sizes' times over
// the thousand-record time.
#include "tests/framework/browse_rig.h"
#include "tests/windowing/harness.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace browsetest;

namespace {

// How the browse is set up: its order and what limits it.
enum Shape { KeyOrder, Filtered, Ranged, KeyLed, NoKey, Shapes };
const char* shapeName(int s) {
    static const char* names[] = {"key order", "filter", "range", "key-led", "no key"};
    return names[s];
}

// The limiting value of a ranged list, as a parent's record would hold it.
Record& rangeLimit() {
    static Record r = [] {
        Layout l;
        l.add("LIM:CustId", FieldType::Long);
        return Record(l);
    }();
    return r;
}

// A rig for one shape: names end in every digit alike, a tenth of them in 7; the customer of a
// ranged list is one in the middle (ten people each).
std::unique_ptr<Rig> rigFor(int shape, const std::string& file, int records) {
    int key = shape == KeyOrder || shape == Filtered ? KeySysId : shape == Ranged ? KeyCust : -1;
    auto rig = std::make_unique<Rig>(0, 10, key, file, true);
    switch (shape) {
    case Filtered:
        rig->browse.SetNamedFilter("SUB(PPL:LastName,LEN(CLIP(PPL:LastName)),1) = '7'");
        break;
    case Ranged:
        rangeLimit().set("LIM:CustId", Value(records / 20));
        rig->browse.AddRange(rig->file.record.ref("PPL:CustId"), rangeLimit().ref(0));
        break;
    case KeyLed:
        rig->browse.AppendOrder("PPL:CustId,-PPL:SysId");
        break;
    case NoKey:
        rig->browse.AppendOrder("UPPER(SUB(PPL:LastName,3,3)),-PPL:SysId");
        break;
    default:
        break;
    }
    return rig;
}

constexpr int Small = 1'000, Middle = 100'000, Large = 1'000'000;

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

std::string label(const char* what, int shape) {
    return std::string(shapeName(shape)) + ": " + what;
}

void BM_Open(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const int shape = static_cast<int>(state.range(1));
    const std::string& name = tables().of(size);
    double total = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        {
            auto rig = rigFor(shape, name, size);
            rig->start();
            if (rig->ids().size() != 10u) state.SkipWithError("first page not loaded");
        }
        total += std::chrono::duration<double>(Clock::now() - t0).count();
    }
    record(label("open", shape), size, total, state.iterations());
}

// Scrolling on one open browse: each iteration moves and pumps the window's events.
void scroll(benchmark::State& state, const char* what, int first, int second) {
    const int size = static_cast<int>(state.range(0));
    const int shape = static_cast<int>(state.range(1));
    auto owned = rigFor(shape, tables().of(size), size);
    Rig& rig = *owned;
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
    record(label(what, shape), size, total, ops);
}

// Another process (this program started again) adds one person to a table of `records`, in the
// middle of every order: named and filed under the customer of the middle, with a new number.
void writeElsewhere(const std::string& file, int records, int id) {
    std::string idText = std::to_string(id), sizeText = std::to_string(records);
    char* args[] = {const_cast<char*>("bench_browse"),
                    const_cast<char*>("--write-one"),
                    const_cast<char*>(file.c_str()),
                    sizeText.data(),
                    idText.data(),
                    nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) std::abort();
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::abort();
}

int writeOne(const char* file, int records, int id) {
    FileDecl f = peopleDecl(file);
    share(f);
    f.record.clear();
    f.record.set("PPL:SysId", Value(id));
    f.record.set("PPL:LastName", Value(nameOf(records / 2)));
    f.record.set("PPL:CustId", Value(records / 20));
    add(f);
    int rc = errorCode();
    close(f);
    return rc;
}

// The page down after another process's write: each iteration has a new record written first
// (untimed), somewhere in the middle of every order.
void BM_PageDownAfterWrite(benchmark::State& state) {
    const int size = static_cast<int>(state.range(0));
    const int shape = static_cast<int>(state.range(1));
    const std::string& name = tables().of(size);
    auto owned = rigFor(shape, name, size);
    Rig& rig = *owned;
    rig.start();
    rig.list(win::event::PageDown);
    rig.list(win::event::PageDown);
    double total = 0;
    std::int64_t ops = 0;
    static int written = 0;
    for (auto _ : state) {
        writeElsewhere(name, size, size + (++written));
        auto t0 = Clock::now();
        rig.list(win::event::PageDown);
        total += std::chrono::duration<double>(Clock::now() - t0).count();
        ++ops;
        rig.list(win::event::PageUp);
    }
    if (rig.ids().size() != 10u) state.SkipWithError("page lost");
    record(label("after write", shape), size, total, ops);
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

void sizesAndShapes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"records", "shape"});
    for (int shape = 0; shape < Shapes; ++shape)
        for (int size : {Small, Middle, Large}) b->Args({size, shape});
}

// A page in an order no key serves at a million records costs a pass over the file at first:
// a few iterations say enough.
BENCHMARK(BM_Open)->Apply(sizesAndShapes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PageDown)->Apply(sizesAndShapes)->Unit(benchmark::kMicrosecond)->Iterations(30);
BENCHMARK(BM_PageUp)->Apply(sizesAndShapes)->Unit(benchmark::kMicrosecond)->Iterations(30);
BENCHMARK(BM_End)->Apply(sizesAndShapes)->Unit(benchmark::kMicrosecond)->Iterations(3);
BENCHMARK(BM_Home)->Apply(sizesAndShapes)->Unit(benchmark::kMicrosecond)->Iterations(3);
BENCHMARK(BM_PageDownAfterWrite)->Apply(sizesAndShapes)->Unit(benchmark::kMicrosecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--write-one") == 0)
        return writeOne(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
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
        std::printf("\nMean times (ms) and ratios to %d records (1.0 = as fast):\n", Small);
        std::printf("  %-24s %10s %10s %10s %9s %9s\n", "", "1k", "100k", "1M", "100k/1k", "1M/1k");
        for (int shape = 0; shape < Shapes; ++shape)
            for (const char* what : {"open", "page down", "page up", "end", "home", "after write"}) {
                std::string key = label(what, shape);
                auto s = means.find({key, Small}), m = means.find({key, Middle}),
                     l = means.find({key, Large});
                if (s == means.end() || s->second <= 0) continue;
                auto ms = [&](auto it) { return it == means.end() ? -1.0 : it->second * 1e3; };
                auto ratio = [&](auto it) { return it == means.end() ? -1.0 : it->second / s->second; };
                std::printf("  %-24s %10.3f %10.3f %10.3f %9.2f %9.2f\n", key.c_str(), ms(s), ms(m), ms(l),
                            ratio(m), ratio(l));
            }
    });
    return status;
}
