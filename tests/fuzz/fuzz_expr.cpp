// libFuzzer target for the expression compiler and evaluator: any input must compile or answer
// an error, and whatever compiles must evaluate. Build with -DSORV_FUZZ=ON and clang.
#include "data/expr.h"

#include "runtime/registry.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {
sorv::Record& record() {
    static sorv::Record r = [] {
        sorv::Layout l;
        l.add("PPL:LastName", sorv::FieldType::String, 20);
        l.addDecimal("PPL:Salary", 9, 2);
        l.add("PPL:Age", sorv::FieldType::Long);
        l.add("PPL:Rate", sorv::FieldType::Real);
        sorv::Record rec(l);
        rec.set("PPL:LastName", "Smith");
        rec.set("PPL:Salary", 1234);
        return rec;
    }();
    return r;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool bound = [] {
        sorv::globalNames().bindRecord(record());
        return true;
    }();
    (void)bound;
    sorv::Expression e;
    if (e.compile(std::string_view(reinterpret_cast<const char*>(data), size))) (void)e.evaluate();
    return 0;
}
