// The byte strings through which a procedure describes its list to the enhancement: the column
// table, the sort-field table and the additional-order table, written from readable rows. The
// strings are exactly what Sorvex::ReadColumnTables reads (length-prefixed texts, 16- and 32-bit
// numbers little-endian).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace sorv::bx {

struct ColumnRow {
    std::string field;
    int width = 0; // dialog units
    std::string header;
    std::string picture;
    std::string description;
    char justification = 'L';
    bool display = true;
    bool colours = false;
    bool icon = false;
    int viewFile = 1; // 1 the primary file, 2 a related file, 0 none
    int tab = 0;      // control number of the column's tab, 0 for none
    bool total = false;
    bool graph = true;
    bool sortable = true;
    char locator = 'S';
};

struct OrderComponent {
    std::string field;
    bool reversed = false;
    std::string picture;
};

struct SortFieldRow {
    std::string field;
    std::vector<OrderComponent> components;
};

std::string columnTable(const std::vector<ColumnRow>& rows);
std::string sortFieldTable(const std::vector<SortFieldRow>& rows);
std::string additionalOrderTable(bool applyAll, const std::vector<OrderComponent>& components);

} // namespace sorv::bx
