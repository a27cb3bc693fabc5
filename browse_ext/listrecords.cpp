// Reading every record of a list for the long jobs.
#include "browse_ext/listrecords.h"

#include "browse_ext/sorvex.h"
#include "data/view.h"

namespace sorv::bx {

namespace {

bool isBrowse(const Sorvex& s) {
    return s.LISTTYPE == 1 && s.BC;
}

} // namespace

std::int64_t expectedRecords(Sorvex& s) {
    if (isBrowse(s)) {
        std::int64_t n = s.BC->VIEW ? s.BC->VIEW->records() : 0;
        if (n < 1) n = s.GraphRecordCount();
        return n;
    }
    return s.BQ ? s.BQ->records() : 0;
}

WalkEnd walkRecords(Sorvex& s, const std::function<bool()>& each) {
    if (isBrowse(s)) {
        fw::BrowseManager& b = *s.BC;
        b.BuildViewOrder();
        b.BuildViewFilter();
        b.ResetToStart();
        for (;;) {
            const fw::Level l = b.Next();
            if (l == fw::LevelFatal) return WalkEnd::Fatal;
            if (l != fw::LevelNone) return WalkEnd::End;
            b.FillFieldsFromRecord();
            if (!each()) return WalkEnd::Stopped;
        }
    }
    if (!s.BQ) return WalkEnd::End;
    for (std::int64_t e = 1; e <= s.BQ->records(); ++e) {
        s.BQ->get(e);
        if (!each()) return WalkEnd::Stopped;
    }
    return WalkEnd::End;
}

void showPageAgain(Sorvex& s) {
    if (!isBrowse(s)) return;
    // The page as it stood, the selected record on the row it was on (a plain reset puts it at the
    // top, and the list jumped by a few rows after every export, graph or report).
    fw::BrowseManager& b = *s.BC;
    const std::uint8_t retain = b.RETAINROW;
    b.RETAINROW = 1;
    b.ResetSort(true);
    b.RETAINROW = retain;
}

} // namespace sorv::bx
