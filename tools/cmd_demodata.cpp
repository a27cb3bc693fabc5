// sorvtool demo-data: the program's two tables filled with made-up customers and their people.
#include "app/demodata.h"
#include "tools/command.h"

#include <charconv>
#include <iostream>
#include <limits>

namespace {

using sorvtool::Args;

const char* const synopsis = "sorvtool demo-data DIR [--customers N] [--people M] [--seed S]";

// A whole decimal number within [low, high], nothing before or after it.
bool number(const std::string& text, long long low, long long high, long long& out) {
    const char* end = text.data() + text.size();
    auto [p, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && p == end && !text.empty() && out >= low && out <= high;
}

int run(const Args& args) {
    sorv::app::DemoDataOptions options;
    std::string dir;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--customers" || a == "--people" || a == "--seed") {
            if (i + 1 >= args.size()) return sorvtool::usageError(a + " needs a number; " + synopsis);
            const std::string& value = args[++i];
            long long n = 0;
            if (a == "--customers") {
                if (!number(value, 1, 1000000, n))
                    return sorvtool::usageError("--customers takes a whole number from 1 to 1000000, not '" +
                                                value + "'");
                options.customers = static_cast<int>(n);
            } else if (a == "--people") {
                if (!number(value, 0, 10000000, n))
                    return sorvtool::usageError("--people takes a whole number from 0 to 10000000, not '" +
                                                value + "'");
                options.people = static_cast<int>(n);
            } else {
                if (!number(value, 0, std::numeric_limits<std::uint32_t>::max(), n))
                    return sorvtool::usageError("--seed takes a whole number from 0 to 4294967295, not '" +
                                                value + "'");
                options.seed = static_cast<std::uint32_t>(n);
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return sorvtool::usageError("unknown option '" + a + "'; " + synopsis);
        } else if (dir.empty()) {
            dir = a;
        } else {
            return sorvtool::usageError("one directory only; " + std::string(synopsis));
        }
    }
    if (dir.empty()) return sorvtool::usageError(std::string("no directory given; ") + synopsis);
    std::string failure = sorv::app::writeDemoData(dir, options);
    if (!failure.empty()) {
        std::cerr << "sorvtool: demo-data: " << failure << "\n";
        return 1;
    }
    std::cout << "wrote " << options.customers << " customers and " << options.people << " people into "
              << dir << "\n";
    return 0;
}

const sorvtool::Command command("demo-data", synopsis, run);

} // namespace
