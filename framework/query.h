// Query by example: the user types example values (with operators and wildcards) and bounds for
// some fields of a browse in the "Example values" window, and the query turns them into one
// filter expression of the view language, which the browse files under "9 - QBE".
//
// What a user can type in the example value of a field:
//   "=", "<", ">", "~" in front of the value    the comparison ("<=M", "~=Smith", ">100")
//   "^value"                                      compared without case
//   "*value"                                      the value anywhere in the field
//   "value*"                                      fields that begin with the value
// A low or high bound compares with ">" or "<" ("=" typed in front of it, or a bound equal to
// the example value, includes the bound itself).
#pragma once
#include "framework/browsemanager.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sorv::fw {

// One field offered in the query window.
struct QueryField {
    // The field as filter expressions name it (up to 100 characters); a name holding "UPPER("
    // marks a field compared without case.
    std::string NAME;
    std::string TYPE; // "S" for a text field
    // What the user typed, up to 1000 characters each.
    std::string LOW;
    std::string MIDDLE; // the example value
    std::string HIGH;
    std::string TITLE; // the row's prompt in the window
};

inline constexpr std::size_t QueryNameLength = 100;
inline constexpr std::size_t QueryValueLength = 1000;

class Query : public BrowseQuery {
public:
    std::vector<QueryField> FIELDS;

    // Offers a field; a title of its own, or one made from the name ("UPPER(CUS:Company)" shows
    // as "Company"). Answers the entry.
    QueryField& AddItem(std::string_view name, std::string_view type, std::string_view title = {});
    // Offers the fields of a browse's columns: each file field the browse shows, text fields of a
    // no-case key of the primary file compared without case.
    void AddBrowseFields(BrowseManager& browse);
    // The entry of a field by its name, nullptr when it is not offered.
    QueryField* Field(std::string_view name);
    // Sets what the user would type (each text cut to 1000 characters).
    void SetLimit(std::string_view name, std::string_view low, std::string_view example,
                  std::string_view high);
    void Reset(); // forgets every typed text

    // Shows the "Example values" window, modal on the calling thread, with the entries as they
    // were last confirmed; answers 1 when the user pressed OK (the entries then hold what was
    // typed) and 0 otherwise (the entries are left as they were).
    std::uint8_t Ask() override;
    // The filter of the entries, terms joined by " AND "; empty when nothing was typed. It is not
    // cut at 5000 characters: a cut filter would be another filter, and the view manager refuses
    // one that is too long with its message.
    std::string BuildQueryFilter() override;
};

} // namespace sorv::fw
