// INI reads as window positions and list layouts make them (many keys of one settings file), as a
// ratio to a parse-once cache that checks the file's times on every read, measured in the same
// loop (median of three repetitions).
#include "runtime/inifile.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unordered_map>
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

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The reference: what a competent program without INI functions would do. It parses the file
// once into a map and, on every read, only checks the file's identity and times (stat) before
// answering from the map; a changed file is parsed again. Names are compared without case, as
// the INI functions compare them.
class CachedSettings {
public:
    explicit CachedSettings(std::string path) : path_(std::move(path)) {}
    std::string get(const std::string& section, const std::string& key) {
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0) return {};
        if (st.st_ino != ino_ || st.st_size != size_ || st.st_mtim.tv_sec != mtime_.tv_sec ||
            st.st_mtim.tv_nsec != mtime_.tv_nsec)
            parse(st);
        auto it = entries_.find(lower(section) + '\n' + lower(key));
        return it == entries_.end() ? std::string() : it->second;
    }

private:
    void parse(const struct stat& st) {
        entries_.clear();
        std::ifstream in(path_, std::ios::binary);
        std::string line, section;
        while (std::getline(in, line)) {
            if (!line.empty() && line[0] == '[') {
                section = lower(line.substr(1, line.find(']') - 1));
            } else if (auto eq = line.find('='); eq != std::string::npos) {
                entries_.emplace(section + '\n' + lower(line.substr(0, eq)), line.substr(eq + 1));
            }
        }
        ino_ = st.st_ino;
        size_ = st.st_size;
        mtime_ = st.st_mtim;
    }
    std::string path_;
    std::unordered_map<std::string, std::string> entries_;
    ino_t ino_ = 0;
    off_t size_ = -1;
    timespec mtime_{};
};

// Both sides read the same keys in turns of a batch each, in the same loop, so that whatever else
// the machine does weighs on both alike; the ratio is the reference's time over ours.
void BM_IniReadManyKeys(benchmark::State& state) {
    const std::string& path = settingsFile();
    CachedSettings reference(path);
    std::string sectionNames[sections], keyNames[keysPerSection];
    for (int s = 0; s < sections; ++s) sectionNames[s] = "procedure" + std::to_string(s);
    for (int k = 0; k < keysPerSection; ++k) keyNames[k] = "FORMAT" + std::to_string(k);
    constexpr int batch = 64;
    double ours = 0, theirs = 0;
    long i = 0, reads = 0;
    using clock = std::chrono::steady_clock;
    for (auto _ : state) {
        auto t0 = clock::now();
        for (int b = 0; b < batch; ++b, ++i)
            benchmark::DoNotOptimize(sorv::getPrivateProfileString(path, sectionNames[i % sections],
                                                                   keyNames[i % keysPerSection], ""));
        auto t1 = clock::now();
        i -= batch;
        for (int b = 0; b < batch; ++b, ++i)
            benchmark::DoNotOptimize(reference.get(sectionNames[i % sections], keyNames[i % keysPerSection]));
        auto t2 = clock::now();
        ours += std::chrono::duration<double, std::nano>(t1 - t0).count();
        theirs += std::chrono::duration<double, std::nano>(t2 - t1).count();
        reads += batch;
    }
    state.counters["ns_per_read"] = ours / static_cast<double>(reads);
    state.counters["reference_ns_per_read"] = theirs / static_cast<double>(reads);
    state.counters["times_faster_than_reference"] = theirs / ours;
}
BENCHMARK(BM_IniReadManyKeys)->Repetitions(3)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
