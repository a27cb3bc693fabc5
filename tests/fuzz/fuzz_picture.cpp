// libFuzzer entry for pictures: the input is "picture\nvalue\ntyped text" (missing parts are empty);
// the value's first byte picks its kind. The picture goes through the compiler and the cache, then
// FORMAT and DEFORMAT as checked in picture_check.h; any broken rule aborts.
#include "tests/fuzz/picture_check.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view parts[3];
    for (int k = 0; k < 2; ++k) {
        std::size_t nl = in.find('\n');
        parts[k] = in.substr(0, nl);
        in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
    }
    parts[2] = in;
    using namespace sorv;
    CompiledPicture built = buildPicture(parts[0]);
    auto cached = compilePicture(parts[0]);
    std::string broke = picture_check::checkCompiled(built);
    if (broke.empty() && (cached->kind != built.kind || cached->width != built.width))
        broke = "cache disagrees";
    if (broke.empty())
        broke = picture_check::checkFormatDeformat(built, picture_check::valueOf(parts[1]), parts[2]);
    if (!broke.empty()) {
        std::fprintf(stderr, "picture '%.*s': %s\n", static_cast<int>(parts[0].size()), parts[0].data(),
                     broke.c_str());
        std::abort();
    }
    return 0;
}
