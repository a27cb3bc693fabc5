// sorvtool format / deformat: a value through a picture and back, for scripts and other programs.
#include "runtime/picture.h"
#include "tools/command.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string_view>

namespace {

using sorvtool::Args;

// Plain decimal without exponent or trailing fraction zeros ("1234.5", "-3", "0").
std::string plainText(const sorv::Value& v) {
    switch (v.kind()) {
    case sorv::Value::Kind::Text:
        return v.text();
    case sorv::Value::Kind::Long:
        return std::to_string(v.toLong());
    case sorv::Value::Kind::Decimal:
        return v.toDecimal().toString();
    case sorv::Value::Kind::Real: {
        double d = v.toReal();
        if (!std::isfinite(d)) return std::isnan(d) ? "nan" : d < 0 ? "-inf" : "inf";
        // The shortest digits that read back as d, written out without an exponent.
        char buf[64];
        auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
        std::string_view t(buf, static_cast<std::size_t>(res.ptr - buf));
        std::string s = t[0] == '-' ? "-" : "";
        if (t[0] == '-') t.remove_prefix(1);
        std::size_t e = t.find('e');
        std::string digits;
        for (char c : t.substr(0, e))
            if (c != '.') digits += c;
        int point = std::atoi(std::string(t.substr(e + 1)).c_str()) + 1; // digits before the point
        while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
        if (digits == "0") return "0";
        if (point <= 0)
            s += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
        else if (static_cast<std::size_t>(point) >= digits.size())
            s += digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
        else
            s += digits.substr(0, static_cast<std::size_t>(point)) + "." +
                 digits.substr(static_cast<std::size_t>(point));
        return s;
    }
    }
    return {};
}

int badPicture(const std::string& picture) {
    std::cerr << "sorvtool: '" << picture << "' is not a valid picture\n";
    return 1;
}

int runFormat(const Args& args) {
    if (args.size() != 2) return sorvtool::usageError("usage: sorvtool format PICTURE VALUE");
    auto pic = sorv::compilePicture(args[0]);
    if (!pic->valid()) return badPicture(args[0]);
    sorv::Value value{args[1]};
    if (pic->kind != sorv::PictureKind::String && pic->kind != sorv::PictureKind::KeyIn) {
        if (auto d = sorv::Decimal::parse(args[1])) {
            value = sorv::Value(*d);
        } else {
            const char* s = args[1].c_str();
            char* end = nullptr;
            double r = std::strtod(s, &end);
            while (end && *end == ' ') ++end;
            if (end == s || *end != '\0' || !std::isfinite(r))
                return sorvtool::usageError("format: VALUE '" + args[1] + "' is not a number");
            value = sorv::Value(r);
        }
    }
    std::cout << sorv::FORMAT(value, *pic) << "\n";
    return 0;
}

int runDeformat(const Args& args) {
    if (args.size() != 2) return sorvtool::usageError("usage: sorvtool deformat PICTURE TEXT");
    if (!sorv::compilePicture(args[0])->valid()) return badPicture(args[0]);
    std::cout << plainText(sorv::DEFORMAT(args[1], args[0])) << "\n";
    return 0;
}

const sorvtool::Command formatCommand("format", "sorvtool format PICTURE VALUE", runFormat);
const sorvtool::Command deformatCommand("deformat", "sorvtool deformat PICTURE TEXT", runDeformat);

} // namespace
