// INI reads as window positions and list layouts make them (many keys of one settings file), as a
// ratio to reading and scanning the whole file for every key, measured in the same run.
#include "runtime/inifile.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utime.h>

namespace {

constexpr int sections = 20, keysPerSection = 15;

// A settings file like the program's own: a section per procedure, a few dozen entries each.
const std::string& settingsFile() {
    // Kept alive to the very end, so that the removal at exit can still use it.
    static const std::string& path = *new std::string([] {
        std::string p = (std::filesystem::temp_directory_path() / "sorv-bench-settings.ini").string();
        std::ofstream out(p, std::ios::binary);
        for (int s = 0; s < sections; ++s) {
            out << "[Procedure" << s << "]\n";
            for (int k = 0; k < keysPerSection; ++k)
                out << "Format" << k << "=80L(2)|M~Header " << k << "~@s20@#" << k << "#\n";
            out << "\n";
        }
        out.close();
        std::atexit([] { std::filesystem::remove(settingsFile()); });
        // An old timestamp, so the file counts as settled. Setting it changes the file's ctime, and
        // the reader trusts its cache only once both times are two seconds old: wait that out, or
        // every read of the first two seconds parses the file again.
        struct utimbuf t {};
        t.actime = t.modtime = ::time(nullptr) - 3600;
        ::utime(p.c_str(), &t);
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        return p;
    }());
    return path;
}

// The reference: open the file and scan it line by line for the section and key, every time.
std::string scanWholeFile(const std::string& path, const std::string& section, const std::string& key) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inSection = line == "[" + section + "]";
        } else if (inSection && line.compare(0, key.size(), key) == 0 && line.size() > key.size() &&
                   line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return {};
}

double referenceNanosPerRead() {
    const std::string& path = settingsFile();
    constexpr int reads = 2000;
    auto start = std::chrono::steady_clock::now();
    std::size_t total = 0;
    for (int i = 0; i < reads; ++i)
        total += scanWholeFile(path, "Procedure" + std::to_string(i % sections),
                               "Format" + std::to_string(i % keysPerSection))
                     .size();
    benchmark::DoNotOptimize(total);
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / reads;
}

void BM_IniReadManyKeys(benchmark::State& state) {
    const std::string& path = settingsFile();
    double reference = referenceNanosPerRead();
    std::string sectionNames[sections], keyNames[keysPerSection];
    for (int s = 0; s < sections; ++s) sectionNames[s] = "procedure" + std::to_string(s);
    for (int k = 0; k < keysPerSection; ++k) keyNames[k] = "FORMAT" + std::to_string(k);
    long i = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(sorv::getPrivateProfileString(path, sectionNames[i % sections],
                                                               keyNames[i % keysPerSection], ""));
        ++i;
    }
    double ours =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / i;
    state.counters["ns_per_read"] = ours;
    state.counters["reference_ns_per_read"] = reference;
    state.counters["times_faster_than_scanning"] = reference / ours;
}
BENCHMARK(BM_IniReadManyKeys);

} // namespace

BENCHMARK_MAIN();
