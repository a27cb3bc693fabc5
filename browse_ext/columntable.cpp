// Writing the column tables' byte strings.
#include "browse_ext/columntable.h"

namespace sorv::bx {

namespace {

void text(std::string& out, const std::string& s) {
    const std::size_t n = s.size() > 255 ? 255 : s.size();
    out += static_cast<char>(n);
    out.append(s, 0, n);
}

void u16(std::string& out, int v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void u32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void component(std::string& out, const OrderComponent& c) {
    text(out, c.field);
    out += static_cast<char>(c.reversed ? 1 : 0);
    text(out, c.picture);
}

} // namespace

std::string columnTable(const std::vector<ColumnRow>& rows) {
    std::string out;
    for (const ColumnRow& r : rows) {
        text(out, r.field);
        u16(out, r.width);
        text(out, r.header);
        text(out, r.picture);
        text(out, r.description);
        out += r.justification;
        out += static_cast<char>(r.display);
        out += static_cast<char>(r.colours);
        out += static_cast<char>(r.icon);
        out += static_cast<char>(r.viewFile);
        u32(out, static_cast<std::uint32_t>(r.tab));
        out += static_cast<char>(r.total);
        out += static_cast<char>(r.graph);
        out += static_cast<char>(r.sortable);
        out += r.locator;
    }
    return out;
}

std::string sortFieldTable(const std::vector<SortFieldRow>& rows) {
    std::string out;
    for (const SortFieldRow& r : rows) {
        text(out, r.field);
        u16(out, static_cast<int>(r.components.size()));
        for (const OrderComponent& c : r.components) component(out, c);
    }
    return out;
}

std::string additionalOrderTable(bool applyAll, const std::vector<OrderComponent>& components) {
    std::string out;
    out += static_cast<char>(applyAll ? 1 : 0);
    u16(out, static_cast<int>(components.size()));
    for (const OrderComponent& c : components) component(out, c);
    return out;
}

} // namespace sorv::bx
