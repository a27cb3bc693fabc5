// sorvtool format and deformat run as a process: exact output bytes, exit status, usage errors.
#include "sorvtool_run.h"

#include <gtest/gtest.h>

#ifdef SORVTOOL_PATH
namespace {

void expectOut(std::vector<std::string> args, const std::string& out) {
    ToolRun r = sorvtool(args);
    EXPECT_EQ(r.status, 0) << args[0] << " " << args[1];
    EXPECT_EQ(r.out, out) << args[1] << " " << args[2];
    EXPECT_EQ(r.err, "");
}

void expectUsage(std::vector<std::string> args, int status = 2) {
    ToolRun r = sorvtool(args);
    EXPECT_EQ(r.status, status) << args[0] << " " << args[1];
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err; // exactly one line
}

} // namespace

TEST(SorvtoolFormat, PrintsTheDisplayTextWithItsBlanks) {
    expectOut({"format", "@n9.2", "1234.5"}, " 1,234.50\n");
    expectOut({"format", "@n9.2", "10000000"}, "#########\n");
    expectOut({"format", "@s6", "ab"}, "ab    \n");
    expectOut({"format", "@s6", "  a b  x"}, "  a b \n");
    expectOut({"format", "@D17b", "0"}, "        \n");
    expectOut({"format", "@D2", "4"}, " 1/01/1801\n");
    expectOut({"format", "@T3", "5000001"}, " 1:53PM\n");
    expectOut({"format", "@p###-###-####p", "5551234567"}, "555-123-4567\n");
    expectOut({"format", "@K###-###-####K", "555-123-4567"}, "555-123-4567\n");
    expectOut({"format", "@n_31", "1234567890123456789012345678901"}, "1234567890123456789012345678901\n");
    expectOut({"format", "@E12.3", "1e300"}, "  1.000E+300\n");
}

TEST(SorvtoolFormat, DeformatPrintsPlainNumbersAndText) {
    expectOut({"deformat", "@n9.2", " 1,234.50"}, "1234.5\n");
    expectOut({"deformat", "@n9.2", "-3.00"}, "-3\n");
    expectOut({"deformat", "@n9.2", "    0.00"}, "0\n");
    expectOut({"deformat", "@n-9.2", "   -0.00"}, "0\n");
    expectOut({"deformat", "@E12.3", "  1.235E+005"}, "123500\n");
    expectOut({"deformat", "@E12.3", "  1.235E-005"}, "0.00001235\n");
    expectOut({"deformat", "@E12.3", "  1.000E+040"}, "10000000000000000000000000000000000000000\n");
    expectOut({"deformat", "@s20", "$1,234.50"}, "1234.5\n");
    expectOut({"deformat", "@D2", " 1/01/1801"}, "4\n");
    expectOut({"deformat", "@T3", " 1:53PM"}, "4998001\n");
    expectOut({"deformat", "@p###-###-####p", "555-123-4567"}, "5551234567\n");
    expectOut({"deformat", "@K###-###-####K", "5551234567"}, "555-123-4567\n");
}

TEST(SorvtoolFormat, RunsWithoutADisplaysLibraries) {
    // The libraries a program needs are named in its dynamic section; no toolkit may be among them.
    const std::string image = toolOutput(SORVTOOL_PATH);
    ASSERT_FALSE(image.empty());
    for (const char* library : {"libQt6", "libX11", "libxcb", "libGL"})
        EXPECT_EQ(image.find(library), std::string::npos) << library;
}

TEST(SorvtoolFormat, BadUsageIsOneLineAndStatus2) {
    expectUsage({"format"});
    expectUsage({"format", "@n9.2"});
    expectUsage({"format", "@n9.2", "1", "2"});
    expectUsage({"format", "@n9.2", "abc"});
    expectUsage({"format", "@D17", "12/31/99"});
    expectUsage({"deformat", "@n9.2"});
    // A picture that does not compile fails the run with status 1.
    for (const char* bad : {"@x12", "@n0", "@D19"}) {
        expectUsage({"format", bad, "5"}, 1);
        expectUsage({"deformat", bad, "5"}, 1);
    }
    ToolRun help = sorvtool({"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("sorvtool format PICTURE VALUE"), std::string::npos);
    EXPECT_NE(help.out.find("sorvtool deformat PICTURE TEXT"), std::string::npos);
}
#endif
