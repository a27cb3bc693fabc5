// How the list's long jobs (export, graph, report) read every record of a list: for a browse,
// every record its view yields in the list's present order and filter, whatever page is loaded;
// for a file-loaded or queue list, every entry of its queue. Each record arrives in the list
// queue's record buffer, where a column's QNOS field reads it with the column's picture.
//
// A walk moves the view away from the page the list shows; the job shows the page again
// (showPageAgain) when it has finished. All of it runs on the list's thread under the runtime lock.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sorv::bx {

class Sorvex;

// The records a job expects: the view's record count, or the owner's GraphRecordCount when the
// view cannot tell (below 1); for a list that is not a browse, its queue's entries.
std::int64_t expectedRecords(Sorvex& s);

enum class WalkEnd {
    End,     // every record was read
    Stopped, // `each` answered false
    Fatal,   // the view could not be read on; the browse has reported why
};

// Calls `each` for every record, in the list's order, until it answers false.
WalkEnd walkRecords(Sorvex& s, const std::function<bool()>& each);

// The browse's page shown again around the record it showed before a walk (nothing for a list
// that is not a browse: its queue was only read).
void showPageAgain(Sorvex& s);

// A value's text without its leading and trailing blanks, and without its trailing ones.
inline std::string_view trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

inline std::string_view trimmedRight(std::string_view s) {
    const auto last = s.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : s.substr(0, last + 1);
}

// The same trimming of a text in place.
inline void trim(std::string& s) {
    s.erase(s.find_last_not_of(' ') + 1); // npos + 1: everything
    s.erase(0, s.find_first_not_of(' '));
}

} // namespace sorv::bx
