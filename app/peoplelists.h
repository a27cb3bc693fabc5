// The program's lists of people: the People browse, the lower list of the parent/child browse and
// the Customer form's People tab. They show the same People columns (the computed Gender column
// among them) through a browse and a Sorvex object each; what differs between them is which
// columns their tables hold, which locators their column orders take and whether a date of birth
// is graphed by its year or by its month.
#pragma once
#include "app/browselists.h"
#include "browse_ext/columntable.h"
#include "browse_ext/sorvex.h"
#include "framework/browsemanager.h"

#include <string>
#include <utility>
#include <vector>

namespace sorv::app {

// The People browse's row of a column (its width, header, picture, description, justification,
// display and locator letter), by field; a list changes what it shows differently.
bx::ColumnRow peopleColumn(const std::string& field);

// One People list.
struct PeopleListDesign {
    std::vector<bx::ColumnRow> columns;                 // the column table, in queue-field order
    std::vector<std::pair<std::string, char>> locators; // the locator of a column order, by field
    bool birthMonths = false;                           // dates of birth graphed by month, else by year
    int lastNameControl = 0;                            // where the Last Name locator shows its text
};

// The list's queue: one field per column row, of its field's type, then "Q:Position".
Layout peopleListLayout(const std::vector<bx::ColumnRow>& columns);

// A salary's graph category: bands of 2000 from 10000 up, everything below 10000 in one.
std::string salaryBand(std::int64_t salary);

// The browse of a People list: it fills the Gender column from PPL:Male, and on every reset it
// takes the order the list's Sorvex object asks for (a sorted column, the file's order) or else
// its key order.
class PeopleBrowse : public fw::BrowseManager {
public:
    PeopleBrowse();
    void FillRowFromRecord() override;
    void ResetSort(bool force) override;
    // A column order of a limited list is limited by its filter, not by its leading items: a
    // locator's value is the order's first item.
    std::uint8_t FreeComponentPosition() override;

    FieldRef gender() { return gender_.ref("LOC:Gender"); }
    SorvexListState list;
    bx::Sorvex* sorvex = nullptr;
    int keyOrder = 2; // the order of PPL:SysIdKey (order 1 is the file's own)

private:
    Record gender_;
};

// The Sorvex object of a People list.
class PeopleSorvex : public bx::Sorvex {
public:
    explicit PeopleSorvex(PeopleListDesign design);

    // After Init: binds the columns to the People and Customer buffers and the browse's Gender
    // variable, builds the column orders (each limited to the people of the customer whose number
    // `customerLimit` holds, when it is given) and gives the browse every column's fields.
    void bindColumns(PeopleBrowse& browse, Record& people, Record* customer, Queue& queue,
                     const FieldRef& customerLimit = FieldRef());

    void InitColumns() override;
    void AddColumnSortOrder(int n) override;
    void ResetColumnSortOrders() override;
    void GraphCategory(int qnos, const std::string& picture, std::string& text) override;
    std::int64_t GraphRecordCount() override;

    const PeopleListDesign& design() const { return design_; }

private:
    // Gender sorts by PPL:Male, each way, and then by last name.
    void completeGenderOrders();

    PeopleListDesign design_;
    std::string columns_, sortFields_, additional_;
    Record* people_ = nullptr;
    Record* customer_ = nullptr;
    FieldRef range_;
    ColumnLocators locators_;
};

} // namespace sorv::app
