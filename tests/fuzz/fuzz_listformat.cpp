// libFuzzer entry for list format strings: any text parses or gives default columns, a sound text
// reads back to a sound text with the same fields, and property writes never break the format.
#include "runtime/listformat.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    sorv::ListMetrics m;
    m.sourceFields = 3;
    m.listWidth = 300;
    sorv::ListFormat f(m);
    f.setFormat(text);
    int pos = sorv::ListFormat::check(text);
    if ((pos == 0 && !text.empty()) == f.defaultColumns()) std::abort();
    if (!f.defaultColumns()) {
        std::string back = f.format();
        sorv::ListFormat g(m);
        g.setFormat(back);
        if (g.format() != back || g.fieldCount() != f.fieldCount()) std::abort();
        for (std::size_t i = 0; i < f.columns().size(); ++i)
            if (g.columns()[i].field != f.columns()[i].field) std::abort();
    }
    // A few property writes driven by the input's first bytes.
    for (std::size_t i = 0; i + 2 < size && i < 12; i += 3) {
        int code = 0x7E00 + (data[i] & 0x7F);
        int column = data[i + 1] % 6;
        f.setProperty(code, column, sorv::Value(int(data[i + 2]) - 1));
        if (!f.defaultColumns() && sorv::ListFormat::check(f.format()) != 0) std::abort();
    }
    return 0;
}
