// sorvtool listformat run as a process: the canonical text, the field count and one line per
// column, the check's position, and usage errors.
#include "sorvtool_run.h"

#include <gtest/gtest.h>

#ifdef SORVTOOL_PATH
namespace {

std::string listed(const std::string& format) {
    ToolRun r = sorvtool({"listformat", format});
    EXPECT_EQ(r.status, 0) << format;
    EXPECT_EQ(r.err, "");
    return r.out;
}

} // namespace

TEST(SorvtoolListformat, ColumnsWithWidthsAsWritten) {
    EXPECT_EQ(listed("80L(2)|M~Company~@s30@80L(2)|M~City~@s20@"),
              "80L(2)|M~Company~@s30@80L(2)|M~City~@s20@\n2\n"
              "1\t1\t80\tL\t2\tL\t2\tCompany\t@s30\n"
              "2\t2\t80\tL\t2\tL\t2\tCity\t@s20\n");
    EXPECT_EQ(listed("40D(12)|M~F 4~R(2)@n10.2@"), "40D(12)|M~F 4~R(2)@n10.2@\n1\n"
                                                   "1\t1\t40\tD\t12\tR\t2\tF 4\t@n10.2\n");
    // The icon field and the colour fields count in the fields the list reads.
    EXPECT_EQ(listed("120L(1)#2#I@s30@53L*"), "120L(1)I@s30@#2#53L*#4#\n8\n"
                                              "1\t2\t120\tL\t1\tL\t1\t\t@s30\n"
                                              "2\t4\t53\tL\t0\tL\t0\t\t\n");
    // A header of two lines stays on one line of the listing, in the text as in the column.
    EXPECT_EQ(listed("30C~Last\nName~"), "30C~Last\\nName~\n1\n1\t1\t30\tC\t0\tC\t0\tLast\\nName\t\n");
}

TEST(SorvtoolListformat, DefaultColumnsAndTheCheck) {
    // An empty or failing format reads back empty; the tool has no source fields to show.
    EXPECT_EQ(listed(""), "\n0\n");
    EXPECT_EQ(listed("80X~A~"), "\n0\n");
    // The failing position on standard output, and a failing format fails the run.
    auto check = [](const std::string& f) {
        ToolRun r = sorvtool({"listformat", "--check", f});
        EXPECT_EQ(r.status, r.out == "0\n" ? 0 : 1) << f;
        EXPECT_EQ(r.err.empty(), r.out == "0\n") << f;
        return r.out;
    };
    EXPECT_EQ(check("80L(2)|M~Company~@s30@"), "0\n");
    EXPECT_EQ(check("80X"), "3\n");
    EXPECT_EQ(check("80L@s20"), "8\n");
    EXPECT_EQ(check("[]"), "2\n");
    for (std::vector<std::string> bad :
         {std::vector<std::string>{"listformat"}, {"listformat", "--check"}, {"listformat", "80L", "80L"}}) {
        ToolRun r = sorvtool(bad);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
    }
}
#endif
