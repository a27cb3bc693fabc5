// FORMAT and DEFORMAT per second for the pictures a browse shows most ("@n9.2", "@D17b", "@s30",
// "@p###-###-####p"), each against the nearest C library call doing the same job (snprintf to
// format, strtod/sscanf to read back), so that the counters show ratios: the time of FORMAT or
// DEFORMAT over the time of the reference, below 1 where the picture is faster. Both sides run in
// turns of a batch each inside the same loop, so that the load of the machine weighs on both
// alike, and each benchmark reports the median of three repetitions. "@n9.2" starts on both
// sides from the same DECIMAL(9,2) field, packed in a record as a browse reads it.
#include "runtime/datetime.h"
#include "runtime/field.h"
#include "runtime/picture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace sorv;

namespace {

constexpr std::size_t Count = 1024; // values cycled through, so that no branch predicts them all

double seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

enum Which { Numeric, Date, Text, Pattern };
const char* const Pictures[] = {"@n9.2", "@D17b", "@s30", "@p###-###-####p"};

// Values of the kind each picture shows, spread over its range.
std::vector<Value> values(Which w) {
    std::vector<Value> out;
    for (std::size_t i = 0; i < Count; ++i) {
        switch (w) {
        case Numeric:
            out.emplace_back(*Decimal::parse(std::to_string(static_cast<long>(i * 7919 % 9999999) - 4999999) +
                                             "." + std::to_string(i % 100)));
            break;
        case Date:
            out.emplace_back(
                static_cast<std::int64_t>(dayNumber(1990, 1, 1) + static_cast<int>(i * 37 % 15000)));
            break;
        case Text:
            // A text that starts with a number, so that strtod has as much to read as DEFORMAT.
            out.emplace_back(std::to_string(i * 104729) + ".25 pieces in stock");
            break;
        case Pattern:
            out.emplace_back(static_cast<std::int64_t>(2000000000 + i * 7777777));
            break;
        }
    }
    return out;
}

// The reference formatting: what a program without pictures writes for the same value.
void referenceFormat(Which w, const Value& v, char* buf, std::size_t size) {
    switch (w) {
    case Numeric:
        std::snprintf(buf, size, "%9.2f", v.toReal());
        break;
    case Date: {
        CivilDate d = civilOf(v.toLong());
        std::snprintf(buf, size, "%02d/%02d/%02d", d.month, d.day, d.year % 100);
        break;
    }
    case Text:
        std::snprintf(buf, size, "%-30.30s", v.text().c_str());
        break;
    case Pattern: {
        long long n = v.toLong();
        std::snprintf(buf, size, "%03lld-%03lld-%04lld", n / 10000000, n / 10000 % 1000, n % 10000);
        break;
    }
    }
}

// The reference reading of a shown text.
long long referenceRead(Which w, const std::string& s) {
    switch (w) {
    case Numeric:
        return static_cast<long long>(std::strtod(s.c_str(), nullptr) * 100);
    case Date: {
        int m = 0, d = 0, y = 0;
        std::sscanf(s.c_str(), "%d/%d/%d", &m, &d, &y);
        return dayNumber(2000 + y, m, d);
    }
    case Text:
        return static_cast<long long>(std::strtod(s.c_str(), nullptr));
    case Pattern: {
        long long a = 0, b = 0, c = 0;
        std::sscanf(s.c_str(), "%lld-%lld-%lld", &a, &b, &c);
        return (a * 1000 + b) * 10000 + c;
    }
    }
    return 0;
}

// The packed DECIMAL(9,2) field the numeric values live in, one record per value.
struct PackedDecimals {
    Layout layout;
    std::vector<std::vector<std::uint8_t>> records;
    PackedDecimals() {
        layout.addDecimal("AMOUNT", 9, 2, false);
        for (const Value& v : values(Numeric)) {
            records.emplace_back(layout.size(), 0);
            writeField(layout.field(0), records.back(), v);
        }
    }
    Value at(std::size_t i) const { return readField(layout.field(0), records[i % Count]); }
};

constexpr int Batch = 64;
using Clock = std::chrono::steady_clock;

void BM_Format(benchmark::State& state) {
    auto w = static_cast<Which>(state.range(0));
    state.SetLabel(Pictures[w]);
    std::vector<Value> vs = values(w);
    PackedDecimals packed;
    auto value = [&](std::size_t k) { return w == Numeric ? packed.at(k) : vs[k % Count]; };
    auto pic = compilePicture(Pictures[w]);
    char buf[64];
    double ours = 0, ref = 0;
    std::size_t i = 0, n = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int b = 0; b < Batch; ++b) {
            std::string s = FORMAT(value(i + b), *pic);
            benchmark::DoNotOptimize(s.data());
        }
        auto t1 = Clock::now();
        for (int b = 0; b < Batch; ++b) {
            referenceFormat(w, value(i + b), buf, sizeof buf);
            benchmark::DoNotOptimize(buf);
        }
        auto t2 = Clock::now();
        ours += seconds(t0, t1);
        ref += seconds(t1, t2);
        i += Batch;
        n += Batch;
    }
    state.counters["format_per_s"] = static_cast<double>(n) / ours;
    state.counters["snprintf_per_s"] = static_cast<double>(n) / ref;
    state.counters["ratio_to_snprintf"] = ours / ref;
}
BENCHMARK(BM_Format)->DenseRange(0, 3)->Repetitions(3)->ReportAggregatesOnly(true);

// Same picture through the cache by its text, as the language's FORMAT(value, 'picture') does.
void BM_FormatByText(benchmark::State& state) {
    auto w = static_cast<Which>(state.range(0));
    state.SetLabel(Pictures[w]);
    std::vector<Value> vs = values(w);
    std::size_t i = 0;
    for (auto _ : state) {
        std::string s = FORMAT(vs[i++ % Count], Pictures[w]);
        benchmark::DoNotOptimize(s.data());
    }
    state.counters["format_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FormatByText)->DenseRange(0, 3);

void BM_Deformat(benchmark::State& state) {
    auto w = static_cast<Which>(state.range(0));
    state.SetLabel(Pictures[w]);
    auto pic = compilePicture(Pictures[w]);
    std::vector<std::string> shown, refShown;
    char buf[64];
    for (const Value& v : values(w)) {
        shown.push_back(FORMAT(v, *pic));
        referenceFormat(w, v, buf, sizeof buf);
        refShown.emplace_back(buf);
    }
    double ours = 0, ref = 0;
    std::size_t i = 0, n = 0;
    long long sum = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int b = 0; b < Batch; ++b) {
            Value v = DEFORMAT(shown[(i + b) % Count], *pic);
            benchmark::DoNotOptimize(v);
        }
        auto t1 = Clock::now();
        for (int b = 0; b < Batch; ++b) sum += referenceRead(w, refShown[(i + b) % Count]);
        auto t2 = Clock::now();
        ours += seconds(t0, t1);
        ref += seconds(t1, t2);
        i += Batch;
        n += Batch;
    }
    benchmark::DoNotOptimize(sum);
    state.counters["deformat_per_s"] = static_cast<double>(n) / ours;
    state.counters["strtod_sscanf_per_s"] = static_cast<double>(n) / ref;
    state.counters["ratio_to_strtod_sscanf"] = ours / ref;
}
BENCHMARK(BM_Deformat)->DenseRange(0, 3)->Repetitions(3)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
