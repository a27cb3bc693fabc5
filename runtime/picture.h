// Pictures: display formats such as "@s30", "@n9.2", "@D17b" or "@p###-###-####p", compiled once
// into a list of positions, and the two language functions FORMAT and DEFORMAT over them.
#pragma once
#include "runtime/value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sorv {

class FieldRef;

enum class PictureKind : std::uint8_t { Invalid, String, Date, Time, Numeric, Pattern, Scientific, KeyIn };

// What one position of a compiled picture shows or reads.
enum class PictureRole : std::uint8_t {
    Literal,      // the pad character as it is
    Separator,    // a literal that a separator modifier may replace
    Digit,        // a digit; zero shows "0"
    BlankDigit,   // a digit that shows its pad character while it is a leading zero
    DecimalPoint, // shows the pad character
    ImpliedPoint, // takes no display position
    Grouping,     // shows the pad character between digits
    Sign,         // "-", "(" or ")" for negative values, a blank otherwise
    Currency,     // one character of the currency text
    Exponent,     // "E", its sign and three digits
    // Date and time parts. A digit shows the pad character instead of a leading zero unless the pad
    // is "0"; name letters show the pad character past the end of the name.
    Month,
    Day,
    Year,
    MonthName,
    WeekdayName,
    Hour,
    Minute,
    Second,
    AmPm, // the n-th letter of the morning or afternoon marker
    // Key-in classes: any letter, a letter shown in upper case, a letter shown in lower case, any
    // character; the stop position takes no display position.
    KeyLetter,
    KeyUpper,
    KeyLower,
    KeyAny,
    KeyStop,
};

struct PicturePosition {
    char pad = ' ';
    PictureRole role = PictureRole::Literal;
};

// The parts of a numeric or scientific picture that FORMAT and DEFORMAT read.
struct NumericLayout {
    std::string currency; // "" for none
    bool currencyBefore = false;
    char signBefore = 0;  // 0, '-' or '('
    char signAfter = 0;   // 0, '-' or ')'
    char fill = 0;        // 0, '0', '_' or '*'
    char grouping = 0;    // the shown grouping character, 0 for none
    char point = 0;       // the shown decimal point, 0 when implied or without decimals
    bool implied = false; // "v": the point is not shown
    int decimals = 0;
    int integerPositions = 0; // positions left for digits and grouping before the point
};

struct CompiledPicture {
    PictureKind kind = PictureKind::Invalid;
    int width = 0; // display positions, 1 to 255; 0 for an invalid picture
    bool blankWhenZero = false;
    int number = 0;  // the date or time picture number
    int window = 80; // century window of two-digit years
    std::string text;
    std::vector<PicturePosition> positions; // empty for string pictures
    NumericLayout numeric;

    bool valid() const { return kind != PictureKind::Invalid; }
};

// Compiles a picture text without the cache. Never fails: a picture that does not compile comes back
// with kind Invalid and width 0. An empty text is a string picture of 255 positions.
CompiledPicture buildPicture(std::string_view text);
// The compiled picture of a text, from a per-process cache (safe from any thread).
std::shared_ptr<const CompiledPicture> compilePicture(std::string_view text);
// Empties the cache; pictures built from the desktop settings (dates 17 and 18, times 7 and 8) are
// rebuilt on next use.
void clearPictureCache();

// The display text of a value: exactly the picture's width, "" for an invalid picture.
std::string FORMAT(const Value& value, std::string_view picture);
std::string FORMAT(const Value& value, const CompiledPicture& picture);
// The same text appended to `out` (a job formatting many values reuses one buffer), of a value
// or of a field's value.
void FORMAT(const Value& value, const CompiledPicture& picture, std::string& out);
void FORMAT(const FieldRef& field, const CompiledPicture& picture, std::string& out);
// The value of a display or typed text: a number for string, numeric, scientific and pattern
// pictures, a day or time number for dates and times, the text for key-in pictures.
Value DEFORMAT(std::string_view text, std::string_view picture);
Value DEFORMAT(std::string_view text, const CompiledPicture& picture);

// Whether typed text is a value of the picture, as an entry takes it: any text for string and
// key-in pictures; for dates and times a blank text, one of zeros only, or one that names a real
// day or time ("31/02" names none); for numbers only what a number of the picture may show
// (digits, blanks, signs, the point, grouping, currency and a pattern's literals).
bool pictureAccepts(std::string_view text, std::string_view picture);

// Widens a two-digit year with a century window (0 to 99) as seen from currentYear: the result lies
// from currentYear - window to currentYear + 99 - window.
int widenYear(int twoDigitYear, int window, int currentYear);

} // namespace sorv
