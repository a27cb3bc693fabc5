// The picture compiler: picture text in, kind, width and positions out; and the cache of compiled
// pictures. Anything that does not follow the grammar compiles to an invalid picture (width 0).
#include "runtime/datetime.h"
#include "runtime/intl.h"
#include "runtime/picture.h"
#include "runtime/picture_internal.h"

#include <array>
#include <atomic>
#include <ctime>
#include <mutex>
#include <unordered_map>

namespace sorv {

using namespace picture_detail;

namespace {

constexpr int MaxPositions = 254;
constexpr int MaxWidth = 255;

// A cursor over the body of a picture.
struct Reader {
    std::string_view s;
    std::size_t i = 0;

    bool atEnd() const { return i >= s.size(); }
    char peek(std::size_t ahead = 0) const { return i + ahead < s.size() ? s[i + ahead] : '\0'; }
    bool take(char c) {
        if (atEnd() || s[i] != c) return false;
        ++i;
        return true;
    }
    // Reads a decimal number; answers -1 when there is no digit. Large numbers saturate so that a
    // long run of digits cannot overflow.
    int number() {
        if (!isDigit(peek())) return -1;
        int n = 0;
        while (isDigit(peek())) {
            n = std::min(n * 10 + (s[i] - '0'), 100000);
            ++i;
        }
        return n;
    }
};

PicturePosition pos(PictureRole role, char pad) {
    return PicturePosition{pad, role};
}

// Date templates: M/D blank-leading month/day digit, m/d digit, y year digit, N month-name letter,
// W weekday letter, "/" "," ":" separators, "_" a separator shown as a space, anything else literal.
void appendDateTemplate(std::vector<PicturePosition>& out, std::string_view t) {
    for (char c : t) {
        switch (c) {
        case 'M':
            out.push_back(pos(PictureRole::Month, ' '));
            break;
        case 'm':
            out.push_back(pos(PictureRole::Month, '0'));
            break;
        case 'D':
            out.push_back(pos(PictureRole::Day, ' '));
            break;
        case 'd':
            out.push_back(pos(PictureRole::Day, '0'));
            break;
        case 'y':
            out.push_back(pos(PictureRole::Year, '0'));
            break;
        case 'N':
            out.push_back(pos(PictureRole::MonthName, ' '));
            break;
        case 'W':
            out.push_back(pos(PictureRole::WeekdayName, ' '));
            break;
        case '/':
        case ',':
        case ':':
            out.push_back(pos(PictureRole::Separator, c));
            break;
        case '_':
            out.push_back(pos(PictureRole::Separator, ' '));
            break;
        default:
            out.push_back(pos(PictureRole::Literal, c));
            break;
        }
    }
}

// Time templates: H blank-leading hour digit, h hour digit, m minute, s second, a one marker letter,
// ":" separator, anything else literal.
void appendTimeTemplate(std::vector<PicturePosition>& out, std::string_view t) {
    for (char c : t) {
        switch (c) {
        case 'H':
            out.push_back(pos(PictureRole::Hour, ' '));
            break;
        case 'h':
            out.push_back(pos(PictureRole::Hour, '0'));
            break;
        case 'm':
            out.push_back(pos(PictureRole::Minute, '0'));
            break;
        case 's':
            out.push_back(pos(PictureRole::Second, '0'));
            break;
        case 'a':
            out.push_back(pos(PictureRole::AmPm, ' '));
            break;
        case ':':
            out.push_back(pos(PictureRole::Separator, ':'));
            break;
        default:
            out.push_back(pos(PictureRole::Literal, c));
            break;
        }
    }
}

constexpr std::array<std::string_view, 17> DateTemplates = {
    "",           "Mm/dd/yy",   "Mm/dd/yyyy", "NNN Dd,yyyy", "NNNNNNNNNNNN Dd, yyyy",
    "Dd/mm/yy",   "Dd/mm/yyyy", "Dd_NNN_yy",  "Dd_NNN_yyyy", "yy/mm/dd",
    "yyyy/mm/dd", "yymmdd",     "yyyymmdd",   "mm/yy",       "mm/yyyy",
    "yy/mm",      "yyyy/mm",
};

constexpr std::array<std::string_view, 7> TimeTemplates = {
    "", "Hh:mm", "Hhmm", "Hh:mmaM", "Hh:mm:ss", "Hhmmss", "Hh:mm:ssaM",
};

// Turns a desktop date format ("MM/dd/yy", "ddd', 'MMMM' 'dd', 'yyyy") into positions: d, dd day;
// ddd, dddd weekday name; M, MM month; MMM, MMMM month name; y, yy two-digit and yyy, yyyy
// four-digit year; quoted text literal; other letters literal; other characters separators. Answers
// nothing when the format names no day, month or year or does not fit.
std::vector<PicturePosition> desktopDate(std::string_view f) {
    std::vector<PicturePosition> out;
    bool anyPart = false;
    std::size_t i = 0;
    while (i < f.size()) {
        char c = f[i];
        if (c == '\'') {
            ++i;
            while (i < f.size()) {
                if (f[i] == '\'') {
                    if (i + 1 < f.size() && f[i + 1] == '\'') {
                        out.push_back(pos(PictureRole::Literal, '\''));
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                out.push_back(pos(PictureRole::Literal, f[i++]));
            }
            continue;
        }
        std::size_t run = 1;
        while (i + run < f.size() && f[i + run] == c) ++run;
        if (c == 'd') {
            appendDateTemplate(out, run == 1 ? "Dd" : run == 2 ? "dd" : run == 3 ? "WWW" : "WWWWWWWWW");
            anyPart = true;
        } else if (c == 'M') {
            appendDateTemplate(out, run == 1 ? "Mm" : run == 2 ? "mm" : run == 3 ? "NNN" : "NNNNNNNNN");
            anyPart = true;
        } else if (c == 'y') {
            appendDateTemplate(out, run <= 2 ? "yy" : "yyyy");
            anyPart = true;
        } else if (c == 'g') {
            // era names are not shown
        } else {
            for (std::size_t k = 0; k < run; ++k)
                out.push_back(pos(isAlpha(c) ? PictureRole::Literal : PictureRole::Separator, c));
        }
        i += run;
    }
    if (!anyPart || out.size() > static_cast<std::size_t>(MaxPositions)) return {};
    return out;
}

std::vector<PicturePosition> desktopTime(const IntlSettings& s, bool withSeconds) {
    std::vector<PicturePosition> out;
    bool twelve = s.iTime == 0;
    appendTimeTemplate(out, s.iTLzero ? "hh" : "Hh");
    std::string_view sep = s.sTime.empty() ? std::string_view(":") : std::string_view(s.sTime).substr(0, 8);
    auto separator = [&] {
        for (char c : sep) out.push_back(pos(PictureRole::Separator, c));
    };
    separator();
    appendTimeTemplate(out, "mm");
    if (withSeconds) {
        separator();
        appendTimeTemplate(out, "ss");
    }
    if (twelve) {
        std::size_t letters = std::min<std::size_t>(std::max(s.s1159.size(), s.s2359.size()), 16);
        if (letters > 0) {
            out.push_back(pos(PictureRole::Literal, ' '));
            for (std::size_t k = 0; k < letters; ++k) out.push_back(pos(PictureRole::AmPm, ' '));
        }
    }
    return out;
}

char shownSeparator(char c) {
    switch (c) {
    case '.':
        return '.';
    case '-':
        return '-';
    case '_':
        return ' ';
    case '`':
        return ',';
    }
    return 0;
}

bool isFill(char c) {
    return c == '0' || c == '_' || c == '*';
}

char shownFill(char fill) {
    return fill == '_' ? ' ' : fill;
}

// A fill pads every part position, names included ("February000"); reading skips a name's pad.
void applyFillAndSeparator(CompiledPicture& p, char fill, char separator) {
    for (auto& q : p.positions) {
        if (fill && isPartRole(q.role) && q.role != PictureRole::AmPm && q.pad != '0')
            q.pad = shownFill(fill);
        if (separator && q.role == PictureRole::Separator) q.pad = separator;
    }
}

bool compileDate(CompiledPicture& p, Reader r) {
    char fill = 0;
    if (isFill(r.peek()) && isDigit(r.peek(1)))
        fill = r.s[r.i++];
    else if ((r.peek() == '_' || r.peek() == '*'))
        fill = r.s[r.i++];
    int n = r.number();
    if (n < 1 || n > 18) return false;
    if (r.peek() == '<' || r.peek() == '>') {
        bool after = r.s[r.i++] == '>';
        int m = r.number();
        if (m > 99) return false;
        if (m <= 0)
            m = after ? 19 : 80;
        else if (after)
            m = 99 - m;
        p.window = m;
    }
    char sep = 0;
    if (!r.atEnd()) {
        sep = shownSeparator(r.peek());
        if (!sep) return false;
        ++r.i;
    }
    if (!r.atEnd()) return false;
    p.kind = PictureKind::Date;
    p.number = n;
    if (n <= 16) {
        appendDateTemplate(p.positions, DateTemplates[static_cast<std::size_t>(n)]);
    } else {
        const IntlSettings& s = intlSettings();
        IntlSettings d;
        p.positions = desktopDate(n == 17 ? s.sShortDate : s.sLongDate);
        if (p.positions.empty()) p.positions = desktopDate(n == 17 ? d.sShortDate : d.sLongDate);
    }
    applyFillAndSeparator(p, fill, sep);
    return true;
}

bool compileTime(CompiledPicture& p, Reader r) {
    char fill = 0;
    if (isFill(r.peek()) && isDigit(r.peek(1)))
        fill = r.s[r.i++];
    else if ((r.peek() == '_' || r.peek() == '*'))
        fill = r.s[r.i++];
    int n = r.number();
    if (n < 1 || n > 8) return false;
    char sep = 0;
    if (!r.atEnd()) {
        sep = shownSeparator(r.peek());
        if (!sep) return false;
        ++r.i;
    }
    if (!r.atEnd()) return false;
    p.kind = PictureKind::Time;
    p.number = n;
    if (n <= 6)
        appendTimeTemplate(p.positions, TimeTemplates[static_cast<std::size_t>(n)]);
    else
        p.positions = desktopTime(intlSettings(), n == 8);
    applyFillAndSeparator(p, fill, sep);
    return true;
}

bool readCurrency(Reader& r, std::string& out) {
    if (r.take('$')) {
        out = "$";
        return true;
    }
    if (r.peek() != '~') return true;
    std::size_t close = r.s.find('~', r.i + 1);
    if (close == std::string_view::npos || close == r.i + 1) return false;
    out = std::string(r.s.substr(r.i + 1, close - r.i - 1));
    r.i = close + 1;
    return true;
}

bool isGroupingChar(char c) {
    return c == '.' || c == '`' || c == '_';
}

// A grouping character stands before another of them, before "v" or at the end.
bool readGrouping(Reader& r, char& grouping) {
    char c = r.peek();
    if (!isGroupingChar(c)) return false;
    char next = r.peek(1);
    if (r.i + 1 < r.s.size() && !isGroupingChar(next) && next != 'v' && next != 'V') return false;
    grouping = c == '`' ? ',' : c == '_' ? ' ' : '.';
    ++r.i;
    return true;
}

// The decimal character and the number of decimals; a missing count means none.
bool readDecimals(Reader& r, NumericLayout& n) {
    char c = r.peek();
    if (c != '.' && c != '`' && c != '_' && c != 'v' && c != 'V') return true;
    ++r.i;
    int d = r.number();
    if (d > MaxPositions) return false;
    n.decimals = d < 0 ? 0 : d;
    n.implied = c == 'v' || c == 'V';
    n.point = n.implied || n.decimals == 0 ? 0 : c == '`' ? ',' : c == '_' ? ' ' : '.';
    return true;
}

// Digit, grouping, point, sign and currency positions of a numeric picture, left to right.
void numericPositions(CompiledPicture& p) {
    const NumericLayout& n = p.numeric;
    auto currency = [&] {
        for (char c : n.currency) p.positions.push_back(pos(PictureRole::Currency, c));
    };
    if (n.currencyBefore) currency();
    if (n.signBefore) p.positions.push_back(pos(PictureRole::Sign, n.signBefore));
    char lead = n.fill == '0' ? '0' : n.fill == '*' ? '*' : ' ';
    for (int i = n.integerPositions - 1; i >= 0; --i) {
        if (n.grouping && i % 4 == 3)
            p.positions.push_back(pos(PictureRole::Grouping, n.grouping));
        else if (i == 0)
            p.positions.push_back(pos(PictureRole::Digit, '0'));
        else
            p.positions.push_back(pos(PictureRole::BlankDigit, lead));
    }
    if (n.implied)
        p.positions.push_back(pos(PictureRole::ImpliedPoint, '.'));
    else if (n.point)
        p.positions.push_back(pos(PictureRole::DecimalPoint, n.point));
    for (int i = 0; i < n.decimals; ++i) p.positions.push_back(pos(PictureRole::Digit, '0'));
    if (n.signAfter) p.positions.push_back(pos(PictureRole::Sign, n.signAfter));
    if (!n.currencyBefore) currency();
}

bool compileNumeric(CompiledPicture& p, Reader r) {
    NumericLayout& n = p.numeric;
    if (!readCurrency(r, n.currency)) return false;
    n.currencyBefore = !n.currency.empty();
    if (r.take('-'))
        n.signBefore = '-';
    else if (r.take('('))
        n.signBefore = '(';
    if (isFill(r.peek()) && !(r.peek() == '0' && !isDigit(r.peek(1)))) n.fill = r.s[r.i++];
    int size = r.number();
    if (size < 1 || size > MaxPositions) return false;
    char grouping = 0;
    bool explicitGrouping = readGrouping(r, grouping);
    // With "`" as the decimal, "." groups even where no decimal is shown.
    const bool commaDecimal = r.peek() == '`';
    if (!readDecimals(r, n)) return false;
    if (n.signBefore == '(') {
        if (!r.take(')')) return false;
        n.signAfter = ')';
    } else if (!n.signBefore && r.take('-')) {
        n.signAfter = '-';
    }
    if (!n.currencyBefore) {
        if (!readCurrency(r, n.currency)) return false;
    } else if (r.peek() == '$' || r.peek() == '~') {
        return false;
    }
    if (!r.atEnd()) return false;
    if (explicitGrouping)
        n.grouping = grouping;
    else if (n.fill == '0' || n.fill == '_')
        n.grouping = 0;
    else
        n.grouping = commaDecimal ? '.' : ',';
    int fixed = static_cast<int>(n.currency.size()) + (n.signBefore ? 1 : 0) + (n.signAfter ? 1 : 0) +
                (n.decimals > 0 ? n.decimals + (n.implied ? 0 : 1) : 0);
    if (fixed > size) return false;
    n.integerPositions = size - fixed;
    p.kind = PictureKind::Numeric;
    p.width = size;
    numericPositions(p);
    return true;
}

bool compileScientific(CompiledPicture& p, Reader r) {
    NumericLayout& n = p.numeric;
    int size = r.number();
    if (size < 7 || size > MaxPositions) return false;
    char grouping = 0;
    if (readGrouping(r, grouping)) n.grouping = grouping;
    if (!readDecimals(r, n)) return false;
    if (!r.atEnd() || size < n.decimals + 7) return false;
    p.kind = PictureKind::Scientific;
    p.width = size;
    int body = 1 + (n.point ? 1 : 0) + n.decimals + 5;
    for (int i = body; i < size; ++i) p.positions.push_back(pos(PictureRole::BlankDigit, ' '));
    p.positions.push_back(pos(PictureRole::Digit, '0'));
    if (n.implied)
        p.positions.push_back(pos(PictureRole::ImpliedPoint, '.'));
    else if (n.point)
        p.positions.push_back(pos(PictureRole::DecimalPoint, n.point));
    for (int i = 0; i < n.decimals; ++i) p.positions.push_back(pos(PictureRole::Digit, '0'));
    for (char c : std::string_view("E+000")) p.positions.push_back(pos(PictureRole::Exponent, c));
    return true;
}

bool compilePattern(CompiledPicture& p, std::string_view body, char letter, bool keyIn) {
    if (body.empty() || body.back() != letter) return false;
    body.remove_suffix(1);
    int shown = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        char c = body[i];
        PicturePosition q = pos(PictureRole::Literal, c);
        if (c == '#')
            q = pos(PictureRole::Digit, '0');
        else if (c == '<')
            q = pos(PictureRole::BlankDigit, ' ');
        else if (keyIn) {
            switch (c) {
            case '@':
                q = pos(PictureRole::KeyLetter, ' ');
                break;
            case '^':
                q = pos(PictureRole::KeyUpper, ' ');
                break;
            case '_':
                q = pos(PictureRole::KeyLower, ' ');
                break;
            case '?':
                q = pos(PictureRole::KeyAny, ' ');
                break;
            case '|':
                q = pos(PictureRole::KeyStop, ' ');
                break;
            case '\\':
                if (++i >= body.size()) return false;
                q = pos(PictureRole::Literal, body[i]);
                break;
            default:
                break;
            }
        }
        if (q.role != PictureRole::KeyStop) ++shown;
        p.positions.push_back(q);
        if (p.positions.size() > static_cast<std::size_t>(MaxPositions)) return false;
    }
    if (shown == 0) return false;
    p.kind = keyIn ? PictureKind::KeyIn : PictureKind::Pattern;
    p.width = shown;
    return true;
}

bool compileString(CompiledPicture& p, Reader r) {
    int n = r.number();
    if (n < 1 || n > MaxWidth) return false;
    while (r.take(' ')) {
    }
    if (!r.atEnd()) return false;
    p.kind = PictureKind::String;
    p.width = n;
    return true;
}

int displayWidth(const CompiledPicture& p) {
    int w = 0;
    for (const auto& q : p.positions)
        if (q.role != PictureRole::ImpliedPoint && q.role != PictureRole::KeyStop) ++w;
    return w;
}

} // namespace

CompiledPicture buildPicture(std::string_view text) {
    CompiledPicture p;
    p.text = std::string(text);
    std::string_view t = text;
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (t.empty()) {
        p.kind = PictureKind::String;
        p.width = MaxWidth;
        return p;
    }
    if (t.size() < 3 || t[0] != '@') return p;
    char letter = t[1];
    char kind = upper(letter);
    std::string_view body = t.substr(2);
    if (body.back() == 'b' || body.back() == 'B') {
        p.blankWhenZero = true;
        body.remove_suffix(1);
    }
    Reader r{body};
    bool ok = false;
    switch (kind) {
    case 'S':
        ok = compileString(p, r);
        break;
    case 'D':
        ok = compileDate(p, r);
        break;
    case 'T':
        ok = compileTime(p, r);
        break;
    case 'N':
        ok = compileNumeric(p, r);
        break;
    case 'E':
        ok = compileScientific(p, r);
        break;
    case 'P':
        ok = compilePattern(p, body, letter, false);
        break;
    case 'K':
        ok = compilePattern(p, body, letter, true);
        break;
    default:
        break;
    }
    if (ok && (p.kind == PictureKind::Date || p.kind == PictureKind::Time)) p.width = displayWidth(p);
    if (!ok || p.width < 1 || p.width > MaxWidth) {
        CompiledPicture bad;
        bad.text = std::string(text);
        return bad;
    }
    return p;
}

namespace {

// The shared cache: compiled pictures never change, so a thread may keep the pointer it got. Each
// thread also keeps a few recent pictures of its own to skip the lock on the hot path; the
// generation tells it when the shared cache was emptied.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

std::mutex cacheMutex;
std::unordered_map<std::string, std::shared_ptr<const CompiledPicture>, TextHash, std::equal_to<>> cache;
std::atomic<unsigned> cacheGeneration{0};
constexpr std::size_t MaxCached = 4096;

struct RecentEntry {
    unsigned generation = ~0u;
    std::shared_ptr<const CompiledPicture> picture;
};
constexpr std::size_t RecentSlots = 16;
thread_local std::array<RecentEntry, RecentSlots> recent;

} // namespace

std::shared_ptr<const CompiledPicture> compilePicture(std::string_view text) {
    std::size_t h = TextHash{}(text);
    unsigned gen = cacheGeneration.load(std::memory_order_acquire);
    RecentEntry& slot = recent[h % RecentSlots];
    if (slot.picture && slot.generation == gen && slot.picture->text == text) return slot.picture;
    std::shared_ptr<const CompiledPicture> pic;
    {
        std::lock_guard lock(cacheMutex);
        auto it = cache.find(text);
        if (it != cache.end()) pic = it->second;
    }
    if (!pic) {
        // Built outside the lock: dates 17 and 18 and times 7 and 8 read the desktop settings.
        pic = std::make_shared<const CompiledPicture>(buildPicture(text));
        std::lock_guard lock(cacheMutex);
        // A picture built while the settings changed is used once but not kept.
        if (cacheGeneration.load(std::memory_order_acquire) != gen) return pic;
        if (cache.size() >= MaxCached) cache.clear();
        cache.emplace(std::string(text), pic);
    }
    slot.generation = gen;
    slot.picture = pic;
    return pic;
}

void clearPictureCache() {
    std::lock_guard lock(cacheMutex);
    cache.clear();
    cacheGeneration.fetch_add(1, std::memory_order_acq_rel);
}

int widenYear(int yy, int window, int currentYear) {
    int candidate = currentYear / 100 * 100 + yy;
    int d = currentYear % 100 - yy;
    if (d <= window - 100)
        candidate -= 100;
    else if (d > window)
        candidate += 100;
    return candidate;
}

namespace picture_detail {

std::string_view weekdayName(int weekday) {
    static constexpr std::array<std::string_view, 7> names = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                              "Thursday", "Friday", "Saturday"};
    return weekday >= 0 && weekday <= 6 ? names[static_cast<std::size_t>(weekday)] : std::string_view();
}

int currentYear() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

} // namespace picture_detail

} // namespace sorv
