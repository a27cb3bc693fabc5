// List format strings: one scanner that both checks and parses (the check is the parse with its
// results thrown away, so the two can never disagree), the layout of groups and rows, the
// canonical writer and the column properties.
#include "runtime/listformat.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace sorv {

namespace {

int clampInt(long long v) {
    return int(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    return (c | 0x20) - 'a' + 10;
}
int justOf(char c) {
    switch (c) {
    case 'L':
        return lf::Left;
    case 'R':
        return lf::Right;
    case 'C':
        return lf::Centre;
    case 'D':
        return lf::Decimal;
    }
    return -1;
}
char upper(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

// The decimal-point character a picture shows: "," for a numeric picture whose decimal mark is
// the grave accent, else ".".
char decimalCharOf(const std::string& picture) {
    if (picture.size() < 2 || upper(picture[1]) != 'N') return '.';
    for (std::size_t i = 2; i + 1 < picture.size(); ++i)
        if (picture[i] == '`' && isDigit(picture[i + 1])) return ',';
    return '.';
}

// Walks a format text; the first failure keeps its 1-based position.
struct Scanner {
    std::string_view s;
    std::size_t i = 0;
    int fail = 0;

    bool end() const { return i >= s.size(); }
    char peek() const { return end() ? '\0' : s[i]; }
    bool failHere() {
        if (!fail) fail = int(std::min<std::size_t>(i, INT_MAX - 1)) + 1;
        return false;
    }
    // Decimal integer with an optional "-"; saturates instead of overflowing.
    bool readInt(long long& v) {
        std::size_t start = i;
        bool neg = false;
        if (peek() == '-') {
            neg = true;
            ++i;
        }
        if (!isDigit(peek())) {
            i = start;
            return false;
        }
        long long acc = 0;
        while (isDigit(peek())) {
            if (acc < 1'000'000'000'000LL) acc = acc * 10 + (s[i] - '0');
            ++i;
        }
        v = neg ? -acc : acc;
        return true;
    }
    // "(" integer ")" with the "(" at the current position.
    bool readParenInt(long long& v) {
        ++i;
        if (!readInt(v)) return failHere();
        if (peek() != ')') return failHere();
        ++i;
        return true;
    }
    // One entry of E(...): empty, or "-"? (hex digits "H" | decimal digits).
    bool readColour(std::int32_t& out, bool& given) {
        given = false;
        if (peek() == ',' || peek() == ')') return true;
        std::size_t start = i;
        bool neg = false;
        if (peek() == '-') {
            neg = true;
            ++i;
        }
        std::size_t j = i;
        while (j < s.size() && isHexDigit(s[j])) ++j;
        unsigned long long acc = 0;
        if (j > i && j < s.size() && (s[j] == 'H' || s[j] == 'h')) {
            for (; i < j; ++i) acc = (acc << 4) | unsigned(hexValue(s[i]));
            ++i; // the "H"
        } else if (isDigit(peek())) {
            while (isDigit(peek())) acc = acc * 10 + unsigned(s[i++] - '0');
        } else {
            i = start;
            return failHere();
        }
        // Colours are 32-bit values; wider numbers keep their low 32 bits.
        std::uint32_t low = std::uint32_t(acc);
        out = std::int32_t(neg ? std::uint32_t(0u - low) : low);
        given = true;
        return true;
    }
};

} // namespace

int mulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    long long p = (long long)number * numerator;
    long long d = denominator;
    if (d < 0) {
        p = -p;
        d = -d;
    }
    long long q = p >= 0 ? (p + d / 2) / d : -((-p + d / 2) / d);
    return clampInt(q);
}

int ListColumn::iconField() const {
    if (!(flags & lf::IconField)) return 0;
    return field + 1 + ((flags2 & lf::ColourFields) ? 4 : 0);
}
int ListColumn::treeField() const {
    if (!(flags & lf::TreeField)) return 0;
    return field + 1 + ((flags2 & lf::ColourFields) ? 4 : 0) + ((flags & lf::IconField) ? 1 : 0);
}
int ListColumn::styleField() const {
    if (!(flags2 & lf::StyleField)) return 0;
    return field + 1 + ((flags2 & lf::ColourFields) ? 4 : 0) + ((flags & lf::IconField) ? 1 : 0) +
           ((flags & lf::TreeField) ? 1 : 0);
}
int ListColumn::nextField() const {
    long long n = (long long)field + 1 + ((flags2 & lf::ColourFields) ? 4 : 0) +
                  ((flags & lf::IconField) ? 1 : 0) + ((flags & lf::TreeField) ? 1 : 0) +
                  ((flags2 & lf::StyleField) ? 1 : 0);
    return clampInt(n);
}

struct ListFormat::Parsed {
    std::vector<ListColumn> cols;
    std::vector<ListGroup> groups;
    int locator = -1;
    int maxRunning = 1;
    int secondStart = 0; // where the second element begins
};

ListFormat::ListFormat(const ListMetrics& metrics) : m_(metrics) {
    buildDefaults();
}

int ListFormat::toPixelsX(int dlu) const {
    return m_.xDivisor > 0 && m_.xFactor > 0 ? mulDiv(dlu, m_.xFactor, m_.xDivisor) : dlu;
}
int ListFormat::toPixelsY(int dlu) const {
    return m_.yDivisor > 0 && m_.yFactor > 0 ? mulDiv(dlu, m_.yFactor, m_.yDivisor) : dlu;
}
int ListFormat::toDluX(int pixels) const {
    return m_.xDivisor > 0 && m_.xFactor > 0 ? mulDiv(pixels, m_.xDivisor, m_.xFactor) : pixels;
}
int ListFormat::toDluY(int pixels) const {
    return m_.yDivisor > 0 && m_.yFactor > 0 ? mulDiv(pixels, m_.yDivisor, m_.yFactor) : pixels;
}

// The scanner behind check() and setFormat(). Columns are laid out relative to their group:
// x and y start at 0 in every group, "/" starts a new line of the group.
bool ListFormat::parse(std::string_view text, Parsed& out, int& failPos) const {
    Scanner sc{text};
    long long running = 1;
    const int lineHeight = std::max(0, m_.lineHeight);

    auto header = [&](bool& has, std::string& hdr, int& lines, std::uint32_t& flags, int& hIndent,
                      int dataIndent) {
        std::size_t close = text.find('~', sc.i + 1);
        if (close == std::string_view::npos) {
            sc.i = text.size();
            return sc.failHere();
        }
        hdr.assign(text.substr(sc.i + 1, close - sc.i - 1));
        has = !hdr.empty();
        lines = has ? 1 + int(std::count(hdr.begin(), hdr.end(), '\n')) : 0;
        sc.i = close + 1;
        if (!has) {
            flags = (flags & ~(lf::JustMask << lf::HeaderJustShift)) |
                    ((flags & lf::JustMask) << lf::HeaderJustShift);
            hIndent = dataIndent;
        }
        // An empty header is no header: its letter and indent are read but kept nowhere, since
        // nothing would write them back.
        int hj = justOf(sc.peek());
        if (hj >= 0) {
            if (has)
                flags = (flags & ~(lf::JustMask << lf::HeaderJustShift)) |
                        (std::uint32_t(hj) << lf::HeaderJustShift);
            ++sc.i;
        }
        if (sc.peek() == '(') {
            long long v;
            if (!sc.readParenInt(v)) return false;
            if (has) hIndent = toPixelsX(clampInt(v));
        }
        return true;
    };

    // One column at the scanner, placed at (x, y) of its group.
    auto column = [&](int& x, int& y) -> bool {
        ListColumn c;
        long long width;
        if (!sc.readInt(width)) return sc.failHere();
        int j = justOf(sc.peek());
        if (j < 0) return sc.failHere();
        ++sc.i;
        c.flags = std::uint32_t(j) | (std::uint32_t(j) << lf::HeaderJustShift);
        if (sc.peek() == '(') {
            long long v;
            if (!sc.readParenInt(v)) return false;
            c.dataIndent = c.headerIndent = toPixelsX(clampInt(v));
        }
        long long given = 0;
        bool seenE = false, seenZ = false;
        for (;;) {
            char ch = sc.peek();
            char u = upper(ch);
            if (ch == '|') {
                c.flags |= lf::RightBorder;
            } else if (ch == '_') {
                c.flags |= lf::Underline;
            } else if (u == 'F') {
                c.flags |= lf::Fixed;
            } else if (u == 'M') {
                c.flags |= lf::Resizable;
            } else if (u == 'S') {
                c.flags |= lf::ScrollBar;
                long long v = 100;
                if (sc.i + 1 < text.size() && text[sc.i + 1] == '(') {
                    ++sc.i;
                    if (!sc.readParenInt(v)) return false;
                    --sc.i;
                }
                c.scrollWidth = toPixelsX(clampInt(v));
            } else if (u == 'H') {
                if (sc.i + 1 < text.size() && text[sc.i + 1] == '(') {
                    long long v;
                    ++sc.i;
                    if (!sc.readParenInt(v)) return false;
                    --sc.i;
                    c.flags2 |= lf::HWithNumber;
                }
            } else if (ch == '*') {
                c.flags2 |= lf::ColourFields;
            } else if (u == 'I') {
                c.flags |= lf::IconField;
            } else if (u == 'J') {
                c.flags |= lf::IconField;
                c.flags2 |= lf::Transparent;
            } else if (u == 'Y') {
                c.flags2 |= lf::StyleField;
            } else if (u == 'T') {
                c.flags |= lf::TreeField;
                if (sc.i + 1 < text.size() && text[sc.i + 1] == '(') {
                    sc.i += 2;
                    for (;;) {
                        char o = sc.peek();
                        if (o == ')') break;
                        std::uint32_t bit = o == 'L'   ? std::uint32_t(lf::TreeL)
                                            : o == '1' ? lf::Tree1
                                            : o == 'R' ? lf::TreeR
                                            : o == 'B' ? lf::TreeB
                                            : o == 'I' ? lf::TreeI
                                                       : 0u;
                        if (!bit) return sc.failHere();
                        c.flags2 |= bit;
                        ++sc.i;
                    }
                }
            } else if (ch == '~') {
                if (!header(c.hasHeader, c.header, c.headerLines, c.flags, c.headerIndent, c.dataIndent))
                    return false;
                continue;
            } else if (ch == '@') {
                std::size_t close = text.find('@', sc.i + 1);
                if (close == std::string_view::npos) {
                    sc.i = text.size();
                    return sc.failHere();
                }
                if (!c.hasPicture) {
                    c.hasPicture = true;
                    c.picture.assign(text.substr(sc.i, close - sc.i));
                }
                sc.i = close;
            } else if (ch == '#') {
                ++sc.i;
                if (!sc.readInt(given) || sc.peek() != '#') return sc.failHere();
            } else if (u == 'E') {
                if (seenE) return sc.failHere();
                seenE = true;
                ++sc.i;
                if (sc.peek() != '(') return sc.failHere();
                ++sc.i;
                for (int n = 0;; ++n) {
                    if (n == 4) return sc.failHere(); // a fifth entry
                    std::int32_t v;
                    bool has;
                    if (!sc.readColour(v, has)) return false;
                    if (has) c.colours[n] = v;
                    if (sc.peek() == ')') break;
                    if (sc.peek() != ',') return sc.failHere();
                    ++sc.i;
                }
            } else if (u == 'Z') {
                if (seenZ) return sc.failHere();
                seenZ = true;
                ++sc.i;
                if (sc.peek() != '(') return sc.failHere();
                long long v;
                if (!sc.readParenInt(v)) return false;
                c.style = clampInt(v);
                continue;
            } else if (ch == '/') {
                c.flags |= lf::LastOnLine | lf::LastOfLine;
            } else if (ch == '?') {
                c.flags |= lf::LocatorColumn;
            } else {
                break;
            }
            ++sc.i;
        }
        // Field numbers below 1 are taken as not given: a negative one would number the
        // following columns below 1.
        c.field = given > 0 ? clampInt(given) : clampInt(running);
        running = c.nextField();
        out.maxRunning = int(std::max<long long>(out.maxRunning, running));
        int px = toPixelsX(clampInt(width));
        c.left = x;
        c.top = y;
        if (width <= 0 || px <= 0) {
            c.width = 0;
            c.right = x - 1;
        } else {
            c.width = px;
            c.right = clampInt((long long)x + px);
        }
        c.bottom = clampInt((long long)y + lineHeight);
        if (c.flags & lf::Underline) c.bottom -= m_.lineWidth;
        if (c.width > 0) x = c.right;
        if (c.flags & lf::LocatorColumn) {
            if (out.locator >= 0) out.cols[out.locator].flags &= ~lf::LocatorColumn;
            out.locator = int(out.cols.size());
        }
        c.decimalChar = c.hasPicture ? decimalCharOf(c.picture) : '.';
        if (c.flags & lf::LastOnLine) {
            x = 0;
            y = clampInt((long long)y + lineHeight);
        }
        out.cols.push_back(std::move(c));
        return true;
    };

    while (!sc.end()) {
        if (out.groups.size() == 1) out.secondStart = int(sc.i);
        ListGroup g;
        g.flags = lf::Centre | (lf::Centre << lf::HeaderJustShift);
        g.first = int(out.cols.size());
        int x = 0, y = 0;
        if (sc.peek() == '[') {
            ++sc.i;
            if (sc.peek() == ']') {
                sc.failHere();
                failPos = sc.fail;
                return false;
            }
            while (sc.peek() != ']') {
                if (!column(x, y)) {
                    failPos = sc.fail;
                    return false;
                }
            }
            ++sc.i;
            if (sc.peek() == '(') {
                long long v;
                if (!sc.readParenInt(v)) {
                    failPos = sc.fail;
                    return false;
                }
                g.state |= lf::ExplicitWidth;
                g.width = std::max(0, toPixelsX(clampInt(v)));
            }
            for (;;) {
                char ch = sc.peek();
                char u = upper(ch);
                bool ok = true;
                if (ch == '|')
                    g.flags |= lf::RightBorder;
                else if (ch == '_')
                    g.flags |= lf::Underline;
                else if (u == 'F')
                    g.flags |= lf::Fixed;
                else if (u == 'M')
                    g.flags |= lf::Resizable;
                else if (u == 'S') {
                    g.flags |= lf::ScrollBar;
                    long long v = 100;
                    if (sc.i + 1 < text.size() && text[sc.i + 1] == '(') {
                        ++sc.i;
                        ok = sc.readParenInt(v);
                        --sc.i;
                    }
                    g.scrollWidth = toPixelsX(clampInt(v));
                } else if (u == 'H') {
                    if (sc.i + 1 < text.size() && text[sc.i + 1] == '(') {
                        long long v;
                        ++sc.i;
                        ok = sc.readParenInt(v);
                        --sc.i;
                        g.flags2 |= lf::HWithNumber;
                    }
                } else if (ch == '~') {
                    if (!header(g.hasHeader, g.header, g.headerLines, g.flags, g.headerIndent,
                                g.dataIndent)) {
                        failPos = sc.fail;
                        return false;
                    }
                    continue;
                } else
                    break;
                if (!ok) {
                    failPos = sc.fail;
                    return false;
                }
                ++sc.i;
            }
        } else {
            if (!column(x, y)) {
                failPos = sc.fail;
                return false;
            }
            const ListColumn& c = out.cols.back();
            g.state |= lf::SingleColumn;
            g.flags |= c.flags & (lf::RightBorder | lf::Fixed | lf::ScrollBar | lf::Resizable);
            g.scrollWidth = c.scrollWidth;
        }
        g.end = int(out.cols.size());
        out.cols.back().flags |= lf::LastOfLine;
        out.groups.push_back(std::move(g));
    }
    failPos = 0;
    return !out.cols.empty();
}

int ListFormat::check(std::string_view text) {
    ListFormat probe;
    Parsed p;
    int pos = 0;
    probe.parse(text, p, pos);
    return pos;
}

int ListFormat::checkColumn(std::string_view text) {
    ListFormat probe;
    Parsed p;
    int pos = 0;
    if (text.empty() || text[0] == '[') return 1;
    if (!probe.parse(text, p, pos)) return pos ? pos : 1;
    if (p.cols.size() != 1) return p.secondStart + 1; // anything after the one column
    return 0;
}

void ListFormat::adopt(Parsed&& p) {
    cols_ = std::move(p.cols);
    groups_ = std::move(p.groups);
    locator_ = p.locator;
    fieldCount_ = p.maxRunning - 1;
    defaults_ = false;
    layout();
}

void ListFormat::buildDefaults() {
    cols_.clear();
    groups_.clear();
    locator_ = -1;
    defaults_ = true;
    int n = std::max(0, m_.sourceFields);
    long long x = 0;
    int minWidth = toPixelsX(20);
    for (int i = 0; i < n; ++i) {
        ListColumn c;
        int just = lf::Left, indent = 0;
        if (n == 1) {
            just = std::clamp(m_.justification, 0, 3);
            indent = toPixelsX(m_.indent);
        }
        c.flags = std::uint32_t(just) | (std::uint32_t(just) << lf::HeaderJustShift) | lf::LastOfLine;
        c.dataIndent = c.headerIndent = indent;
        long long share = ((long long)m_.listWidth - x) / (n - i);
        c.width = clampInt(std::max<long long>(minWidth, share));
        c.left = 0;
        c.top = 0;
        c.right = c.width;
        c.bottom = std::max(0, m_.lineHeight);
        c.field = i + 1;
        x += c.width;
        ListGroup g;
        g.flags = lf::Centre | (lf::Centre << lf::HeaderJustShift);
        g.first = i;
        g.end = i + 1;
        cols_.push_back(c);
        groups_.push_back(g);
    }
    fieldCount_ = n;
    layout();
}

void ListFormat::layout() {
    const int lineHeight = std::max(0, m_.lineHeight);
    long long x = 0;
    fixedOrHidden_ = 0;
    anyScrollBar_ = false;
    int band = 0;
    int lowest = lineHeight;
    for (std::size_t gi = 0; gi < groups_.size(); ++gi) {
        ListGroup& g = groups_[gi];
        if (!(g.state & lf::ExplicitWidth)) {
            int widest = 0;
            for (int c = g.first; c < g.end; ++c)
                if (cols_[c].width > 0) widest = std::max(widest, cols_[c].left + cols_[c].width);
            g.width = widest;
        }
        g.state &= ~(lf::Hidden | lf::AfterResizable);
        if (g.width <= 0) {
            g.width = 0;
            g.state |= lf::Hidden;
        }
        if (gi > 0 && (groups_[gi - 1].flags & lf::Resizable)) g.state |= lf::AfterResizable;
        g.x = clampInt(x);
        x += g.width;
        if ((g.flags & lf::Fixed) || (g.state & lf::Hidden)) ++fixedOrHidden_;
        int colPart = 0;
        for (int c = g.first; c < g.end; ++c) {
            const ListColumn& col = cols_[c];
            if (col.flags & lf::ScrollBar) anyScrollBar_ = true;
            lowest = std::max(lowest, clampInt((long long)col.top + lineHeight));
            if (col.hasHeader)
                colPart =
                    std::max(colPart, clampInt((long long)col.top + (long long)col.headerLines * lineHeight));
        }
        if (g.flags & lf::ScrollBar) anyScrollBar_ = true;
        long long part = colPart;
        if (g.hasHeader) part += (long long)g.headerLines * lineHeight;
        band = std::max(band, clampInt(part));
    }
    totalWidth_ = clampInt(x);
    headerHeight_ = clampInt((long long)band + 2);
    rowHeight_ = lowest;
}

void ListFormat::setFormat(std::string_view text) {
    Parsed p;
    int pos = 0;
    if (!text.empty() && parse(text, p, pos)) {
        // A group with a right border and an explicit width is one line width wider.
        for (auto& g : p.groups)
            if ((g.state & lf::ExplicitWidth) && (g.flags & lf::RightBorder)) g.width += m_.lineWidth;
        adopt(std::move(p));
    } else {
        buildDefaults();
    }
}

bool ListFormat::apply(const std::string& text) {
    if (check(text) != 0) return false;
    setFormat(text);
    return true;
}

void ListFormat::setMetrics(const ListMetrics& metrics) {
    if (defaults_) {
        m_ = metrics;
        buildDefaults();
        return;
    }
    std::string text = rebuiltFormat();
    m_ = metrics;
    setFormat(text);
}

int ListFormat::groupOf(int column) const {
    for (std::size_t g = 0; g < groups_.size(); ++g)
        if (column >= groups_[g].first && column < groups_[g].end) return int(g);
    return -1;
}

int ListFormat::horizontalScrollRange() const {
    if (scrollsByPixels()) return toPixelsX(400);
    return std::max(0, int(groups_.size()) - fixedOrHidden_ - 1);
}

// ---- writing ----

std::string ListFormat::commonModifiers(std::uint32_t flags, std::uint32_t flags2, bool hasHeader,
                                        const std::string& header, int dataJust, int headerJust,
                                        int dataIndent, int headerIndent, int scrollWidth) const {
    std::string s;
    if (flags & lf::RightBorder) s += '|';
    if (flags & lf::Underline) s += '_';
    if (flags & lf::Fixed) s += 'F';
    if (flags & lf::Resizable) s += 'M';
    if (flags2 & lf::ColourFields) s += '*';
    if (flags2 & lf::Transparent)
        s += 'J';
    else if (flags & lf::IconField)
        s += 'I';
    if (flags2 & lf::StyleField) s += 'Y';
    if (flags & lf::TreeField) {
        s += 'T';
        std::string opts;
        if (flags2 & lf::TreeL) opts += 'L';
        if (flags2 & lf::Tree1) opts += '1';
        if (flags2 & lf::TreeR) opts += 'R';
        if (flags2 & lf::TreeB) opts += 'B';
        if (flags2 & lf::TreeI) opts += 'I';
        if (!opts.empty()) s += '(' + opts + ')';
    }
    if (hasHeader) {
        s += '~' + header + '~';
        if (headerJust != dataJust || headerIndent != dataIndent) s += "LRCD"[headerJust & 3];
        if (headerIndent != dataIndent) s += '(' + std::to_string(toDluX(headerIndent)) + ')';
    }
    if (flags & lf::ScrollBar) s += "S(" + std::to_string(toDluX(scrollWidth)) + ')';
    // "H(0)" rather than a bare "H": a bare "H" reads back as nothing, so the flag would be lost
    // by every rebuild.
    if (flags2 & lf::HWithNumber) s += "H(0)";
    return s;
}

std::string ListFormat::writeColumn(const ListColumn& c, bool locatorMark) const {
    std::string s = std::to_string(toDluX(c.width));
    s += "LRCD"[c.justification()];
    if (c.dataIndent != 0) s += '(' + std::to_string(toDluX(c.dataIndent)) + ')';
    s += commonModifiers(c.flags, c.flags2, c.hasHeader, c.header, c.justification(), c.headerJustification(),
                         c.dataIndent, c.headerIndent, c.scrollWidth);
    if (c.hasPicture) s += c.picture + '@';
    if (c.style != 0) s += "Z(" + std::to_string(c.style) + ')';
    if (c.hasColours()) {
        s += "E(";
        for (int i = 0; i < 4; ++i) {
            if (i) s += ',';
            if (c.colours[i] != -1) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "0%XH", unsigned(c.colours[i]));
                s += buf;
            }
        }
        s += ')';
    }
    if (c.flags & lf::LastOnLine) s += '/';
    if (locatorMark) s += '?';
    return s;
}

std::string ListFormat::write(bool rebuilt, int replaceColumn, int replaceGroup,
                              std::string_view replacement) const {
    std::string out;
    long long counter = 1, running = 1;
    auto emitColumn = [&](int ci) {
        const ListColumn& c = cols_[ci];
        if (ci == replaceColumn) {
            out += replacement;
            // The replacement carries its own numbering; the following columns are written
            // with theirs.
            rebuilt = true;
            return;
        }
        out += writeColumn(c, ci == locator_);
        // The reader numbers a column without "#n#" from the column before it, so the number is
        // written whenever that would not give the column its field (not only when it differs
        // from a plain column count).
        if (rebuilt || c.field != counter || c.field != running) {
            out += '#' + std::to_string(c.field) + '#';
            counter = c.field;
        }
        ++counter;
        running = c.nextField();
    };
    for (std::size_t gi = 0; gi < groups_.size(); ++gi) {
        const ListGroup& g = groups_[gi];
        if (int(gi) == replaceGroup) {
            out += replacement;
            rebuilt = true;
            continue;
        }
        if (g.single()) {
            emitColumn(g.first);
            continue;
        }
        out += '[';
        for (int c = g.first; c < g.end; ++c) emitColumn(c);
        out += ']';
        if (g.state & lf::ExplicitWidth) {
            int w = g.width - ((g.flags & lf::RightBorder) ? m_.lineWidth : 0);
            out += '(' + std::to_string(toDluX(std::max(0, w))) + ')';
        }
        out += commonModifiers(g.flags, g.flags2, g.hasHeader, g.header, g.justification(),
                               g.headerJustification(), g.dataIndent, g.headerIndent, g.scrollWidth);
    }
    return out;
}

std::string ListFormat::format() const {
    return defaults_ ? std::string() : write(false);
}

std::string ListFormat::rebuiltFormat() const {
    return write(true);
}

// ---- properties ----

namespace {
Value flag(bool b) {
    return Value(b ? 1 : 0);
}
bool truthy(const Value& v) {
    return v.toLong() != 0;
}
void setBit(std::uint32_t& f, std::uint32_t bit, bool on) {
    f = on ? (f | bit) : (f & ~bit);
}
constexpr std::uint32_t treeOptionOf(int code) {
    switch (code) {
    case 0x23:
        return lf::TreeL;
    case 0x24:
        return lf::TreeB;
    case 0x25:
        return lf::TreeI;
    case 0x27:
        return lf::TreeR;
    }
    return 0;
}
} // namespace

Value ListFormat::property(int code, int column) const {
    const int c = column - 1;
    if (code < lf::ColumnPropFirst || code > lf::ColumnPropLast + lf::GroupPropOffset) return Value("");
    if (c < 0 || c >= int(cols_.size())) return Value("");
    const int g = groupOf(c);
    bool forGroup = code > lf::ColumnPropLast;
    int p = (code - lf::ColumnPropFirst) & 0x3F;
    if (forGroup && groups_[g].single()) forGroup = false; // a lone column is its own group
    if (forGroup) {
        const ListGroup& gr = groups_[g];
        switch (p) {
        case 0x00:
            return flag(gr.flags & lf::Underline);
        case 0x01:
            return flag(gr.flags & lf::Resizable);
        case 0x02:
            return flag(gr.flags & lf::RightBorder);
        case 0x03:
            return Value(gr.hasHeader ? gr.header : std::string());
        case 0x04:
            return Value(toDluX(gr.width));
        case 0x06:
            return flag(gr.flags & lf::Fixed);
        case 0x07:
            return Value((gr.flags & lf::ScrollBar) ? toDluX(gr.scrollWidth) : 0);
        case 0x0F: {
            // The group alone, numbered in full so that it can stand elsewhere.
            ListFormat one(m_);
            one.cols_.assign(cols_.begin() + gr.first, cols_.begin() + gr.end);
            one.groups_ = {gr};
            one.groups_[0].first = 0;
            one.groups_[0].end = gr.end - gr.first;
            one.locator_ = locator_ >= gr.first && locator_ < gr.end ? locator_ - gr.first : -1;
            one.defaults_ = false;
            return Value(one.rebuiltFormat());
        }
        }
        if (p >= 0x10 && p <= 0x17) {
            int j = (p - 0x10) / 2;
            if (p % 2 == 0) return flag(gr.justification() == j);
            return Value(gr.justification() == j ? toDluX(gr.dataIndent) : 0);
        }
        if (p >= 0x18 && p <= 0x1F) {
            int j = (p - 0x18) / 2;
            if (p % 2 == 0) return flag(gr.headerJustification() == j);
            return Value(gr.headerJustification() == j ? toDluX(gr.headerIndent) : 0);
        }
        return Value("");
    }
    const ListColumn& col = cols_[c];
    switch (p) {
    case 0x00:
        return flag(col.flags & lf::Underline);
    case 0x01:
        return flag(col.flags & lf::Resizable);
    case 0x02:
        return flag(col.flags & lf::RightBorder);
    case 0x03:
        return Value(col.hasHeader ? col.header : std::string());
    case 0x04:
        return Value(toDluX(col.width));
    case 0x05:
        return Value(col.hasPicture ? col.picture : std::string());
    case 0x06:
        return flag((col.flags & lf::Fixed) || (groups_[g].flags & lf::Fixed));
    case 0x07:
        return Value((col.flags & lf::ScrollBar) ? toDluX(col.scrollWidth) : 0);
    case 0x08:
        return flag(col.flags & lf::LastOnLine);
    case 0x09:
        return flag(c == locator_);
    case 0x0E:
        return Value(col.field);
    case 0x0F:
        return Value(writeColumn(col, c == locator_) + '#' + std::to_string(col.field) + '#');
    case 0x20:
        return flag(col.flags & lf::IconField);
    case 0x21:
        return flag(col.flags2 & lf::ColourFields);
    case 0x22:
        return flag(col.flags & lf::TreeField);
    case 0x23:
    case 0x24:
    case 0x25:
    case 0x27:
        return flag(!(col.flags2 & treeOptionOf(p)));
    case 0x26:
        return flag(col.flags2 & lf::Tree1);
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
        return Value(int(col.colours[p - 0x28]));
    case 0x2C:
        return flag(col.flags2 & lf::StyleField);
    case 0x2D:
        return Value(col.style);
    case 0x2E:
        return flag(col.flags2 & lf::Transparent);
    }
    if (p >= 0x10 && p <= 0x17) {
        int j = (p - 0x10) / 2;
        if (p % 2 == 0) return flag(col.justification() == j);
        return Value(col.justification() == j ? toDluX(col.dataIndent) : 0);
    }
    if (p >= 0x18 && p <= 0x1F) {
        int j = (p - 0x18) / 2;
        if (p % 2 == 0) return flag(col.headerJustification() == j);
        return Value(col.headerJustification() == j ? toDluX(col.headerIndent) : 0);
    }
    return Value("");
}

namespace {
// Justification properties 10-1F shared by columns and groups.
bool setJustification(int p, std::uint32_t& flags, int& dataIndent, int& headerIndent, const Value& v,
                      int pixels) {
    bool header = p >= 0x18;
    int j = ((p - (header ? 0x18 : 0x10)) / 2);
    int shift = header ? int(lf::HeaderJustShift) : 0;
    int cur = int((flags >> shift) & lf::JustMask);
    auto setJ = [&](int nj) { flags = (flags & ~(lf::JustMask << shift)) | (std::uint32_t(nj) << shift); };
    if (p % 2 == 0) {
        if (truthy(v))
            setJ(j);
        else if (cur == j)
            setJ(lf::Left);
    } else {
        (header ? headerIndent : dataIndent) = pixels;
        setJ(j);
    }
    return true;
}
} // namespace

bool ListFormat::setColumnProperty(int p, int c, const Value& v) {
    ListColumn& col = cols_[c];
    const int g = groupOf(c);
    switch (p) {
    case 0x00:
        setBit(col.flags, lf::Underline, truthy(v));
        return true;
    case 0x01:
        setBit(col.flags, lf::Resizable, truthy(v));
        if (groups_[g].single()) setBit(groups_[g].flags, lf::Resizable, truthy(v));
        return true;
    case 0x02:
        setBit(col.flags, lf::RightBorder, truthy(v));
        if (groups_[g].single()) setBit(groups_[g].flags, lf::RightBorder, truthy(v));
        return true;
    case 0x03: {
        std::string t = v.toText();
        if (t.find('~') != std::string::npos) return false; // would end the header early
        col.header = t;
        col.hasHeader = !t.empty();
        return true;
    }
    case 0x04:
        col.width = std::max(0, toPixelsX(clampInt(v.toLong())));
        return true;
    case 0x05: {
        std::string t = v.toText();
        if (!t.empty() && t[0] != '@') t = '@' + t;
        if (t.find('@', 1) != std::string::npos) return false; // would end the picture early
        col.picture = t;
        col.hasPicture = !t.empty();
        return true;
    }
    case 0x06: {
        bool on = truthy(v);
        for (int gi = 0; gi < int(groups_.size()); ++gi) {
            if (on ? gi > g : gi < g) continue;
            ListGroup& gr = groups_[gi];
            setBit(gr.flags, lf::Fixed, on);
            if (gr.single() || !on)
                for (int k = gr.first; k < gr.end; ++k) setBit(cols_[k].flags, lf::Fixed, on);
        }
        return true;
    }
    case 0x07: {
        long long w = v.toLong();
        setBit(col.flags, lf::ScrollBar, w != 0);
        col.scrollWidth = w != 0 ? toPixelsX(clampInt(w)) : 0;
        if (groups_[g].single()) {
            setBit(groups_[g].flags, lf::ScrollBar, w != 0);
            groups_[g].scrollWidth = col.scrollWidth;
        }
        return true;
    }
    case 0x08:
        setBit(col.flags, lf::LastOnLine, truthy(v));
        return true;
    case 0x09:
        for (auto& other : cols_) other.flags &= ~lf::LocatorColumn;
        if (truthy(v)) {
            col.flags |= lf::LocatorColumn;
            locator_ = c;
        } else if (locator_ == c) {
            locator_ = -1;
        }
        return true;
    case 0x0E:
        col.field = std::max<long long>(1, std::min<long long>(v.toLong(), INT_MAX));
        return true;
    case 0x20:
        setBit(col.flags, lf::IconField, truthy(v));
        if (!truthy(v)) col.flags2 &= ~lf::Transparent;
        return true;
    case 0x21:
        setBit(col.flags2, lf::ColourFields, truthy(v));
        return true;
    case 0x22:
        setBit(col.flags, lf::TreeField, truthy(v));
        return true;
    case 0x23:
    case 0x24:
    case 0x25:
    case 0x27:
        setBit(col.flags2, treeOptionOf(p), !truthy(v));
        return true;
    case 0x26:
        setBit(col.flags2, lf::Tree1, truthy(v));
        return true;
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
        col.colours[p - 0x28] = std::int32_t(v.toLong());
        return true;
    case 0x2C:
        setBit(col.flags2, lf::StyleField, truthy(v));
        return true;
    case 0x2D:
        col.style = clampInt(v.toLong());
        return true;
    case 0x2E:
        setBit(col.flags2, lf::Transparent, truthy(v));
        if (truthy(v)) col.flags |= lf::IconField;
        return true;
    }
    if (p >= 0x10 && p <= 0x1F)
        return setJustification(p, col.flags, col.dataIndent, col.headerIndent, v,
                                toPixelsX(clampInt(v.toLong())));
    return false;
}

bool ListFormat::setGroupProperty(int p, int g, const Value& v) {
    ListGroup& gr = groups_[g];
    switch (p) {
    case 0x00:
        setBit(gr.flags, lf::Underline, truthy(v));
        return true;
    case 0x01:
        setBit(gr.flags, lf::Resizable, truthy(v));
        return true;
    case 0x02: {
        // An explicit width is kept without the border line, which is added on top of it.
        bool was = gr.flags & lf::RightBorder;
        setBit(gr.flags, lf::RightBorder, truthy(v));
        if ((gr.state & lf::ExplicitWidth) && was != truthy(v))
            gr.width += was ? -m_.lineWidth : m_.lineWidth;
        return true;
    }
    case 0x03: {
        std::string t = v.toText();
        if (t.find('~') != std::string::npos) return false;
        gr.header = t;
        gr.hasHeader = !t.empty();
        return true;
    }
    case 0x04: {
        int px = std::max(0, toPixelsX(clampInt(v.toLong())));
        gr.state |= lf::ExplicitWidth;
        gr.width = clampInt(static_cast<long long>(px) + ((gr.flags & lf::RightBorder) ? m_.lineWidth : 0));
        return true;
    }
    case 0x06:
        return setColumnProperty(p, gr.first, v);
    case 0x07: {
        long long w = v.toLong();
        setBit(gr.flags, lf::ScrollBar, w != 0);
        gr.scrollWidth = w != 0 ? toPixelsX(clampInt(w)) : 0;
        return true;
    }
    }
    // A group's data justification has no place in the text; only its header's has.
    if (p >= 0x18 && p <= 0x1F)
        return setJustification(p, gr.flags, gr.dataIndent, gr.headerIndent, v,
                                toPixelsX(clampInt(v.toLong())));
    return false;
}

void ListFormat::setProperty(int code, int column, const Value& value) {
    const int c = column - 1;
    if (code < lf::ColumnPropFirst || code > lf::ColumnPropLast + lf::GroupPropOffset) return;
    if (c < 0 || c >= int(cols_.size())) return;
    const int g = groupOf(c);
    bool forGroup = code > lf::ColumnPropLast;
    const int p = (code - lf::ColumnPropFirst) & 0x3F;
    if (forGroup && groups_[g].single()) forGroup = false;

    if (p == 0x0F) {
        std::string t = value.toText();
        if (t.empty()) return;
        if (forGroup ? check(t) != 0 : checkColumn(t) != 0) return;
        apply(forGroup ? write(true, -1, g, t) : write(true, c, -1, t));
        return;
    }
    // Change a copy in place, write it out, and parse that text as the new model.
    auto savedCols = cols_;
    auto savedGroups = groups_;
    int savedLocator = locator_;
    bool changed = forGroup ? setGroupProperty(p, g, value) : setColumnProperty(p, c, value);
    std::string text = changed ? write(true) : std::string();
    cols_ = std::move(savedCols);
    groups_ = std::move(savedGroups);
    locator_ = savedLocator;
    if (changed) apply(text);
}

ListCell ListFormat::cell(int column, const std::vector<std::string>& fields) const {
    ListCell out;
    if (column < 0 || column >= int(cols_.size())) return out;
    const ListColumn& c = cols_[column];
    auto field = [&](int n) -> const std::string* {
        if (n < 1 || n > int(fields.size())) return nullptr;
        return &fields[n - 1];
    };
    auto number = [&](int n, long long dflt) -> long long {
        const std::string* f = field(n);
        return f ? Value(*f).toLong() : dflt;
    };
    if (const std::string* t = field(c.field)) out.text = *t;
    for (int i = 0; i < 4; ++i) {
        long long v = -1;
        if (c.flags2 & lf::ColourFields) v = number(c.colourField(i), -1);
        out.colours[i] = v != -1 ? std::int32_t(v) : c.colours[i];
    }
    if (c.iconField()) out.icon = int(std::clamp<long long>(number(c.iconField(), -1), INT_MIN, INT_MAX));
    if (c.treeField()) out.treeLevel = int(std::clamp<long long>(number(c.treeField(), 0), -255, 255));
    long long st = c.styleField() ? number(c.styleField(), 0) : 0;
    out.style = st != 0 ? clampInt(st) : c.style;
    return out;
}

} // namespace sorv
