// The program's lists of people.
#include "app/peoplelists.h"

#include "app/dictionary.h"
#include "data/files.h"
#include "framework/locators.h"
#include "runtime/datetime.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace sorv::app {

namespace {

// Every column a People list can show: its row in the People browse and its queue field.
struct PeopleColumn {
    bx::ColumnRow row;
    FieldType type;
    int size; // text length, or digits of a decimal
};

const std::vector<PeopleColumn>& peopleColumns() {
    using T = FieldType;
    // field, width, header, picture, description, justification, shown, colours, icon, file,
    // tab, total, graph, sortable, locator
    static const std::vector<PeopleColumn> c = {
        {{"PPL:LastName", 80, "Last Name", "@s20", "Last Name", 'L', true, false, false, 1, 0, false, true,
          true, 'I'},
         T::String,
         20},
        {{"CUST:City", 80, "City", "@s20", "City", 'L', true, false, false, 2, 0, false, true, true, 'F'},
         T::String,
         20},
        {{"PPL:FirstName", 80, "First Name", "@s20", "First Name", 'L', true, false, false, 1, 0, false, true,
          true, 'I'},
         T::String,
         20},
        {{"Gender", 99, "Gender", "@S20", "Gender", 'L', true, false, false, 0, 0, false, true, true, 'S'},
         T::String,
         6},
        {{"PPL:Phone", 48, "Telephone", "@p###-###-####p", "Telephone", 'L', true, false, false, 1, 0, false,
          true, true, 'S'},
         T::String,
         10},
        {{"CUST:Country", 80, "Country", "@s20", "Country", 'L', true, false, false, 2, 0, false, true, true,
          'F'},
         T::String,
         20},
        {{"PPL:DoB", 40, "Birthdate", "@D17b", "Date of Birth", 'R', true, false, false, 1, 0, false, true,
          true, 'I'},
         T::Long,
         0},
        {{"PPL:YearHired", 16, "Year Hired", "@p####p", "Year of Hire", 'L', true, false, false, 1, 0, false,
          true, true, 'S'},
         T::String,
         4},
        // Salaries run up to 200,000.00: ten characters, and a column wide enough to show them.
        {{"PPL:Salary", 48, "Salary", "@n10.2", "Salary", 'R', true, false, false, 1, 0, false, true, true,
          'S'},
         T::Decimal,
         7},
        {{"CUST:Company", 120, "Company", "@s30", "Company Name", 'L', false, false, false, 2, 0, false, true,
          true, 'S'},
         T::String,
         30},
        {{"PPL:SysId", 24, "Sys Id", "@n6", "People ID", 'D', false, false, false, 1, 0, false, false, false,
          'X'},
         T::Long,
         0},
        {{"CUST:SysId", 28, "Sys Id", "@n7", "Customer ID", 'R', false, false, false, 2, 0, false, false,
          false, 'X'},
         T::Long,
         0},
    };
    return c;
}

const PeopleColumn& columnOf(const std::string& field) {
    for (const PeopleColumn& c : peopleColumns())
        if (c.row.field == field) return c;
    return peopleColumns().front();
}

std::string queueName(const std::string& field) {
    return "Q:" + field;
}

// Moves the buffers' Male flag into the Gender text a list shows.
void setGender(FieldRef gender, const Record& people) {
    gender.set(Value(people.get("PPL:Male").toLong() ? "Male" : "Female"));
}

// The step locator of the Gender column: the letter typed finds the first record of the gender
// that starts with it ("F" female, "M" male), a letter between them the next one in the order.
class GenderLocator : public fw::StepLocator {
public:
    explicit GenderLocator(Record& people) : people_(people) {}
    bool HandleKey(int keyCode) override {
        if (!fw::StepLocator::HandleKey(keyCode)) return false;
        if (!KeptRow()) {
            const std::string typed(clipRight(FREEELEMENT.get().toText()));
            const char c =
                typed.empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(typed[0])));
            // PPL:Male orders the column: 0 "Female", 1 "Male"; past "M" is past both.
            people_.set("PPL:Male", Value(c <= 'F' ? 0 : c <= 'M' ? 1 : 2));
        }
        return true;
    }

private:
    Record& people_;
};

} // namespace

bx::ColumnRow peopleColumn(const std::string& field) {
    return columnOf(field).row;
}

Layout peopleListLayout(const std::vector<bx::ColumnRow>& columns) {
    Layout l;
    for (const bx::ColumnRow& r : columns) {
        const PeopleColumn& c = columnOf(r.field);
        if (c.type == FieldType::Decimal)
            l.addDecimal(queueName(r.field), c.size, 0);
        else
            l.add(queueName(r.field), c.type, static_cast<std::size_t>(c.size));
    }
    l.add("Q:Position", FieldType::String, 512);
    return l;
}

std::string salaryBand(std::int64_t salary) {
    if (salary < 10000) return "0 - 9999";
    const std::int64_t low = 10000 + 2000 * ((salary - 10000) / 2000);
    return std::to_string(low) + " - " + std::to_string(low + 1999);
}

// ---- the browse ----

PeopleBrowse::PeopleBrowse()
    : gender_([] {
          Layout l;
          l.add("LOC:Gender", FieldType::String, 6);
          return l;
      }()) {}

void PeopleBrowse::FillRowFromRecord() {
    setGender(gender(), People().get().record);
    fw::BrowseManager::FillRowFromRecord();
}

void PeopleBrowse::ResetSort(bool force) {
    ApplySortChoice(sorvex ? list.chosenOrder(*sorvex, keyOrder) : keyOrder, force);
}

std::uint8_t PeopleBrowse::FreeComponentPosition() {
    return currentOrder() + 1 > keyOrder ? 1 : fw::BrowseManager::FreeComponentPosition();
}

// ---- the Sorvex object ----

PeopleSorvex::PeopleSorvex(PeopleListDesign design) : design_(std::move(design)) {
    columns_ = bx::columnTable(design_.columns);
    // Last names sort with the first names; Gender by the Male flag (the list adds the last name
    // to both of its orders); every other column by itself and then the last name.
    sortFields_ = bx::sortFieldTable({
        {"PPL:LastName", {{"PPL:LastName", false, "@s20"}, {"PPL:FirstName", false, "@s20"}}},
        {"Gender", {{"PPL:Male", false, "@n3"}}},
    });
    additional_ = bx::additionalOrderTable(false, {{"PPL:LastName", false, "@s20"}});
}

void PeopleSorvex::InitColumns() {
    QDIM = static_cast<std::int16_t>(design_.columns.size());
    QDIMS = 2;
    GR = columns_;
    GRS = sortFields_;
    GRA = additional_;
    ReadColumnTables();
    AddFormatSlot(0);
}

void PeopleSorvex::bindColumns(PeopleBrowse& browse, Record& people, Record* customer, Queue& queue,
                               const FieldRef& customerLimit) {
    people_ = &people;
    customer_ = customer;
    range_ = customerLimit;
    browse.sorvex = this;
    bx::SorvexColumn c;
    for (std::int64_t p = 1; FQ.get(p, c); ++p) {
        const std::string field(clipRight(c.FIELD));
        FieldRef source = field == "Gender"              ? browse.gender()
                          : field.rfind("CUST:", 0) == 0 ? (customer ? customer->ref(field) : FieldRef())
                                                         : people.ref(field);
        BindColumn(source, queue.field(queueName(field)));
    }
    // A list limited to one customer's people stays limited in every order, the file's own
    // order ("File Sequence") among them.
    if (range_.valid()) {
        const int saved = browse.currentOrder() + 1;
        browse.SelectSortOrder(1);
        browse.AddRange(people.ref("PPL:SysId"), range_);
        browse.SelectSortOrder(saved);
    }
    BuildSortOrders(1);
    completeGenderOrders();
    browse.FIELDS.clear();
    // The person's own number is always read: it finds the person's customer in the forms.
    browse.AddField(queue.field(queueName("PPL:SysId")), people.ref("PPL:SysId"));
    RegisterBrowseFields();
}

void PeopleSorvex::AddColumnSortOrder(int) {
    const int order = BC->AddSortOrder(SysIdKey);
    SetColumnSortOrder(order);
    // A list limited to one customer's people stays limited in every order.
    if (range_.valid()) BC->AddRange(people_->ref("PPL:SysId"), range_);
    bx::SorvexColumn c;
    if (!currentTableColumn(c)) return;
    const std::string field(clipRight(c.FIELD));
    char kind = 0;
    for (const auto& [name, letter] : design_.locators)
        if (name == field) kind = letter;
    if (!kind) return;
    if (field == "Gender") {
        auto locator = std::make_unique<GenderLocator>(*people_);
        locator->Init(0, static_cast<PeopleBrowse*>(BC)->gender(), true, *BC);
        locators_.add(*BC, std::move(locator));
        return;
    }
    FieldRef source = field.rfind("CUST:", 0) == 0 ? customer_->ref(field) : people_->ref(field);
    locators_.add(*BC, kind, source, field == "PPL:LastName" ? design_.lastNameControl : 0);
}

void PeopleSorvex::ResetColumnSortOrders() {
    ResetColumnSortOrdersTo(SysIdKey);
    completeGenderOrders();
}

void PeopleSorvex::completeGenderOrders() {
    bx::SorvexColumn c;
    for (std::int64_t p = 1; FQ.get(p, c); ++p) {
        if (clipRight(c.FIELD) != "Gender" || c.SORTFIELD == 0) continue;
        const int saved = BC->currentOrder() + 1;
        for (int k = 0; k < 2; ++k) {
            BC->SelectSortOrder(c.SORTFIELD + k);
            BC->AppendOrder("UPPER(PPL:LastName)");
        }
        BC->SelectSortOrder(saved);
    }
}

void PeopleSorvex::GraphCategory(int qnos, const std::string& picture, std::string& text) {
    bx::Sorvex::GraphCategory(qnos, picture, text);
    const std::string& field = tableColumnField(qnos);
    if (field.empty()) return;
    const Value value = BQ->field(qnos).get();
    if (field == "PPL:LastName" || field == "PPL:FirstName" || field == "CUST:City" ||
        field == "CUST:Country") {
        text = std::string(clipRight(text.substr(0, 20)));
    } else if (field == "PPL:Phone") {
        text = std::string(clipRight(value.toText().substr(0, 3))); // the area code
    } else if (field == "PPL:DoB") {
        const std::int64_t day = value.toLong();
        if (!isValidDay(day)) return;
        const CivilDate d = civilOf(day);
        if (design_.birthMonths)
            GraphMonthName(d.month, text);
        else
            text = std::to_string(d.year);
    } else if (field == "PPL:Salary") {
        text = salaryBand(value.toLong());
    }
}

std::int64_t PeopleSorvex::GraphRecordCount() {
    return records(AccessPeople().file());
}

} // namespace sorv::app
