// Declarations read back from their trace text, and `sorvtool db` run as a process on real files:
// create and info as a round trip, CSV export and import (quoting, key orders, a bad row that
// imports nothing), check on sound and damaged files, rebuild and stats, and the usage contract.
#include "data/declparse.h"
#include "data/qnl/qnldriver.h"
#include "data/trace.h"
#include "qnl_fixture.h"

#include "../runtime/sorvtool_run.h"
#include "testfiles.h"
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorv;

namespace {

using sorvtest::slurp;
using sorvtest::spit;

FileDecl fileOf(const qnl::Schema& s) {
    FileDecl f;
    f.label = s.label;
    f.driver = "QUARNELL";
    f.keys = s.keys;
    f.memos = s.memos;
    f.record.setLayout(s.layout);
    return f;
}

// Every kind of line the trace writes: arrays, OVER, groups, pictures, decimals, memos, blobs.
const char* const richText = "Orders            FILE,DRIVER('QUARNELL')\n"
                             "ByNo              KEY(+ORD:No,-ORD:When),OPT,PRIMARY,NAME(ordno)\n"
                             "ByName            INDEX(+ORD:Name),DUP,NOCASE\n"
                             "Note              MEMO(300),NAME(notes)\n"
                             "Picture           BLOB,BINARY\n"
                             "                  RECORD\n"
                             "No                ULONG\n"
                             "When              DATE\n"
                             "At                TIME\n"
                             "Name              STRING(30),NAME('CustName')\n"
                             "Phone             STRING(@P(###) ###-####P)\n"
                             "Code              CSTRING(8)\n"
                             "Short             PSTRING(6)\n"
                             "Amount            PDECIMAL(9,2)\n"
                             "Total             DECIMAL(11,3)\n"
                             "Cents             DECIMAL(5,2), OVER(ORD:Total)\n"
                             "Rate              SREAL\n"
                             "Ratio             REAL\n"
                             "Flags             BYTE, DIM(4)\n"
                             "Both              SHORT, OVER(ORD:Flags)\n"
                             "Parts             GROUP\n"
                             "Qty               USHORT\n"
                             "Inner             GROUP\n"
                             "Level             LONG\n"
                             "                  END\n"
                             "                  END\n"
                             "                  END\n\n";

} // namespace

TEST(Declaration, TraceTextReadsBackToTheSameDeclaration) {
    for (const qnl::Schema& s : {qnltest::peopleSchema(), qnltest::customerSchema()}) {
        std::string text = declarationText(fileOf(s));
        std::string why;
        auto back = parseDeclaration(text, why);
        ASSERT_TRUE(back) << why << "\n" << text;
        EXPECT_EQ(declarationText(*back), text);
        qnl::Schema again = qnl::schemaOf(*back);
        std::string differs;
        EXPECT_TRUE(again.compatibleWith(s, &differs)) << differs;
        EXPECT_EQ(again.prefix, s.prefix);
        EXPECT_EQ(back->layout().field(1).name, s.layout.field(1).name); // the prefix comes back
    }
    std::string why;
    auto rich = parseDeclaration(richText, why);
    ASSERT_TRUE(rich) << why;
    EXPECT_EQ(declarationText(*rich), richText);
    const Layout& l = rich->layout();
    EXPECT_EQ(l.field(static_cast<std::size_t>(l.find("ORD:Phone"))).size, 14u); // the picture's width
    EXPECT_EQ(l.field(static_cast<std::size_t>(l.find("ORD:Both"))).offset,
              l.field(static_cast<std::size_t>(l.find("ORD:Flags"))).offset);
    EXPECT_EQ(l.field(static_cast<std::size_t>(l.find("ORD:Flags"))).dim, 4u);
    EXPECT_TRUE(qnl::schemaOf(*rich).validate().empty()) << qnl::schemaOf(*rich).validate();
    // As a file stores it, and read from there, it is still the same text.
    auto stored = qnl::Schema::parse(qnl::schemaOf(*rich).serialize(), &why);
    ASSERT_TRUE(stored) << why;
    EXPECT_EQ(declarationText(fileOf(*stored)), richText);
    EXPECT_EQ(rich->keys[0].externalName, "ordno");
    EXPECT_TRUE(rich->keys[1].isIndex);
    EXPECT_TRUE(rich->memos[1].isBlob && rich->memos[1].binary);

    // The file line's own attributes are read too; case does not matter for keywords.
    auto full = parseDeclaration("P file,driver('QUARNELL','/X'),name('PEOPLE'),create,reclaim,pre(PPL)\n"
                                 " record\nId long\n end\n",
                                 why);
    ASSERT_TRUE(full) << why;
    EXPECT_EQ(full->driverOptions, "/X");
    EXPECT_EQ(full->name, "PEOPLE");
    EXPECT_EQ(full->attributes, fileattr::Create | fileattr::Reclaim);
    EXPECT_EQ(full->layout().field(0).name, "PPL:Id");
}

TEST(Declaration, MistakesAnswerTheirLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"", "line 1: no FILE declaration"},
        {"F KEY(+A)\n", "line 1: the declaration must start with FILE"},
        {"F FILE\n RECORD\nA LONG\n END\n", "line 1: FILE without DRIVER"},
        {"F FILE,DRIVER('QUARNELL')\nK KEY(+Nope)\n RECORD\nA LONG\n END\n",
         "line 2: key component Nope is not a field of the record"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA LONGER\n END\n", "line 3: unknown field type LONGER"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA STRING(0)\n END\n",
         "line 3: STRING needs a length from 1 to 65535"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA DECIMAL(5,6)\n END\n",
         "line 3: DECIMAL needs digits (1 to 31) and places (at most the digits)"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA STRING(@Q)\n END\n", "line 3: invalid picture @Q"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA LONG,NAME('x\n END\n",
         "line 3: unbalanced parentheses or quotes"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA LONG, OVER(B)\n END\n",
         "line 3: OVER names no earlier field: B"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nG GROUP\nA LONG\n END\n", "line 5: no final END"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\nA LONG\n END\nB LONG\n", "line 5: text after the final END"},
        {"F FILE,DRIVER('QUARNELL')\n RECORD\n END\n", "line 3: the record has no fields"},
        {"F FILE,DRIVER('QUARNELL')\nM MEMO\n RECORD\nA LONG\n END\n", "line 2: MEMO needs its size"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(parseDeclaration(c.text, why)) << c.text;
        EXPECT_EQ(why, c.error) << c.text;
    }
}

#ifdef SORVTOOL_PATH
namespace {

// The numbers that start the CSV lines of records (a line continuing a quoted field has none).
std::vector<int> leadingIds(const std::string& csv) {
    std::vector<int> ids;
    std::size_t at = csv.find("\r\n");
    while (at != std::string::npos && at + 2 < csv.size()) {
        at += 2;
        if (std::isdigit(static_cast<unsigned char>(csv[at]))) ids.push_back(std::atoi(csv.c_str() + at));
        at = csv.find("\r\n", at);
    }
    return ids;
}

std::size_t lines(const std::string& s) {
    return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
}

const char* const peopleText = "People            FILE,DRIVER('QUARNELL'),PRE(PPL)\n"
                               "KeyId             KEY(+PPL:Id),NOCASE,PRIMARY\n"
                               "KeyName           KEY(+PPL:Last,-PPL:First),DUP,NOCASE\n"
                               "Notes             MEMO(100)\n"
                               "                  RECORD\n"
                               "Id                LONG\n"
                               "Last              STRING(12)\n"
                               "First             STRING(10)\n"
                               "Born              DATE\n"
                               "Pay               DECIMAL(7,2)\n"
                               "                  END\n\n";

class DbTool : public ::testing::Test {
protected:
    void SetUp() override {
        file = dir.file("PEOPLE");
        ToolRun r = sorvtool({"db", "create", file, declFile(peopleText)}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string declFile(const std::string& text) {
        std::string p = dir.file("decl.txt");
        spit(p, text);
        return p;
    }
    std::string csv(const std::string& name, const std::string& text) {
        std::string p = dir.file(name);
        spit(p, text);
        return p;
    }
    qnltest::TempDir dir;
    std::string file;
};

} // namespace

TEST_F(DbTool, CreateAndInfoRoundTrip) {
    EXPECT_TRUE(std::filesystem::exists(file + ".QNL")); // the default extension
    ToolRun r = sorvtool({"db", "info", file}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, peopleText);
    // What info prints makes a file of the same layout again, from a file or standard input,
    // whatever the names hold and whether or not a key shows the prefix.
    const std::string odd = "Odd FILE,DRIVER('QUARNELL'),PRE(ODD)\n"
                            "K KEY(+A),NAME('a,b (c) o''k'),DUP\n"
                            "M MEMO(10),NAME('it''s, (x)')\n"
                            " RECORD\nA LONG,NAME('x''y')\nC CSTRING(6)\n END\n";
    const std::string noKeys = "NK FILE,DRIVER('QUARNELL'),PRE(NK)\n RECORD\nA LONG\n END\n";
    for (const std::string& decl : {std::string(peopleText), odd, noKeys}) {
        ASSERT_EQ(sorvtool({"db", "create", dir.file("FIRST"), declFile(decl)}, dir.path()).status, 0)
            << decl;
        std::string text = sorvtool({"db", "info", dir.file("FIRST")}, dir.path()).out;
        EXPECT_NE(text.find(",PRE("), std::string::npos) << text;
        r = sorvtool({"db", "create", dir.file("AGAIN"), "-"}, dir.path(), declFile(text));
        ASSERT_EQ(r.status, 0) << r.err << text;
        EXPECT_EQ(sorvtool({"db", "info", dir.file("AGAIN.QNL")}, dir.path()).out, text);
        std::filesystem::remove(dir.file("FIRST.QNL"));
        std::filesystem::remove(dir.file("AGAIN.QNL"));
    }
    // An existing file is never replaced; a bad declaration says where it is wrong.
    r = sorvtool({"db", "create", file, declFile(peopleText)}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
    r = sorvtool({"db", "create", dir.file("BAD"), declFile("X FILE,DRIVER('QUARNELL')\n RECORD\n")},
                 dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sorvtool: db create: line 2: no final END\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("BAD.QNL")));
    r = sorvtool(
        {"db", "create", dir.file("ASC"), declFile("X FILE,DRIVER('ASCII')\n RECORD\nA LONG\n END\n")},
        dir.path());
    EXPECT_EQ(r.status, 1);
    r = sorvtool({"db", "create", dir.file("NONE"), dir.file("missing.txt")}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;
    // Any other file is refused with a reason, not read as one.
    spit(dir.file("junk.QNL"), std::string(9000, 'x'));
    r = sorvtool({"db", "info", dir.file("junk")}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err), 1u);
}

TEST_F(DbTool, RealsRefuseWhatTheyCannotHoldAndCStringsKeepTheirBlanks) {
    const std::string nums = dir.file("NUMS");
    ASSERT_EQ(sorvtool({"db", "create", nums,
                        declFile("N FILE,DRIVER('QUARNELL'),PRE(N)\n RECORD\nC CSTRING(8)\nS STRING(8)\n"
                                 "R REAL\nF SREAL\n END\n")},
                       dir.path())
                  .status,
              0);
    ToolRun r = sorvtool(
        {"db", "import", nums, csv("n.csv", "C,S,R,F\n\"ab  \",\"cd  \",1.5,2.5\n,,-inf,inf\n")}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorvtool({"db", "export", nums}, dir.path()).out,
              "C,S,R,F\r\nab  ,cd,1.5,2.5\r\n,,-inf,inf\r\n");
    for (const auto& [cell, why] : std::vector<std::pair<std::string, std::string>>{
             {"1,1e400", "R '1e400' is out of the range of a real"},
             {"1,-1e309", "R '-1e309' is out of the range of a real"},
             {"1e39,1", "F '1e39' is out of the range of a 4-byte real"}}) {
        r = sorvtool({"db", "import", nums, csv("bad.csv", "F,R\n" + cell + "\n")}, dir.path());
        EXPECT_EQ(r.status, 1) << cell;
        EXPECT_EQ(r.err, "sorvtool: db import: line 2: " + why + "; nothing imported\n");
    }
}

TEST_F(DbTool, ExportAndImportKeepEveryCharacter) {
    std::string in = "Id,Last,First,Notes,Born,Pay\r\n"
                     "3,\"Smith, Jr\",\"Said \"\"hi\"\"\",\"two\r\nlines\",2026-12-07,12.5\r\n"
                     "1,Adams,Ann,,,-3\r\n"
                     "2,adams,Bob,\"\",1801-01-01,99999.99\r\n";
    ToolRun r = sorvtool({"db", "import", file, csv("in.csv", in)}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    r = sorvtool({"db", "export", file}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string fileOrder = "Id,Last,First,Born,Pay,Notes\r\n"
                            "3,\"Smith, Jr\",\"Said \"\"hi\"\"\",2026-12-07,12.50,\"two\r\nlines\"\r\n"
                            "1,Adams,Ann,,-3.00,\r\n"
                            "2,adams,Bob,1801-01-01,99999.99,\r\n";
    EXPECT_EQ(r.out, fileOrder);
    // Key order: names without case, first names descending; and backwards.
    r = sorvtool({"db", "export", file, "--key", "keyname"}, dir.path());
    EXPECT_EQ(leadingIds(r.out), (std::vector<int>{2, 1, 3}));
    r = sorvtool({"db", "export", "--reverse", file, "--key", "PPL:KeyId"}, dir.path());
    EXPECT_EQ(leadingIds(r.out), (std::vector<int>{3, 2, 1}));
    r = sorvtool({"db", "export", file, "--reverse"}, dir.path());
    EXPECT_EQ(leadingIds(r.out), (std::vector<int>{2, 1, 3}));
    // What was exported imports into a new file as the same records.
    ASSERT_EQ(sorvtool({"db", "create", dir.file("COPY"), declFile(peopleText)}, dir.path()).status, 0);
    r = sorvtool({"db", "import", dir.file("COPY"), csv("out.csv", fileOrder)}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorvtool({"db", "export", dir.file("COPY")}, dir.path()).out, fileOrder);
    // From standard input as well, with LF line ends and columns in another order.
    r = sorvtool({"db", "import", dir.file("COPY")}, dir.path(), csv("lf.csv", "Last,Id\nZed,9\n"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = sorvtool({"db", "export", dir.file("COPY")}, dir.path());
    EXPECT_EQ(r.out, fileOrder + "9,Zed,,,0.00,\r\n");
    r = sorvtool({"db", "export", file, "--key", "Nope"}, dir.path());
    EXPECT_EQ(r.status, 2);
}

TEST_F(DbTool, ABadRowImportsNothingAndNamesItsLine) {
    ASSERT_EQ(sorvtool({"db", "import", file, csv("ok.csv", "Id,Last\n1,Keep\n")}, dir.path()).status, 0);
    struct Case {
        const char* csv;
        const char* error;
    };
    // The quoted field over two lines makes the rows after it start a line later.
    const Case cases[] = {
        {"Id,Last,Notes\n2,A,\"x\ny\"\n3,B,z\n4,C\n", "line 5: 2 fields where the header has 3"},
        {"Id,Last\n2,A\nx,B\n", "line 3: Id 'x' is not a number"},
        {"Id,Last\n2,A\n3,Thirteen chars\n", "line 3: Last 'Thirteen chars' is longer than 12 characters"},
        {"Id,Pay\n2,1.234\n", "line 2: Pay '1.234' does not fit the field"},
        {"Id,Pay\n2,123456\n", "line 2: Pay '123456' does not fit the field"},
        {"Id,Born\n2,2026-02-30\n", "line 2: Born '2026-02-30' is not a date (YYYY-MM-DD)"},
        {"Id,Last\n2,\"open\n", "line 2: a quoted field is not closed"},
        {"Id,Last\n2,ab\"c\n", "line 2: a quote inside an unquoted field"},
        {"Id,Last\n2,\"ab\"c\n", "line 2: text after a closing quote"},
        {"Id,Nope\n", "line 1: the file has no field Nope"},
        {"Id,Id\n", "line 1: the field Id is named twice"},
        {"", "line 1: no header row"},
        // A duplicate of the primary key, within the rows and against the file.
        {"Id,Last\n5,A\n6,B\n5,C\n", "line 4: Creates Duplicate Key"},
        {"Id,Last\n7,A\n1,B\n", "line 3: Creates Duplicate Key"},
    };
    for (const Case& c : cases) {
        ToolRun r = sorvtool({"db", "import", file, csv("bad.csv", c.csv)}, dir.path());
        EXPECT_EQ(r.status, 1) << c.csv;
        EXPECT_EQ(r.err, std::string("sorvtool: db import: ") + c.error + "; nothing imported\n") << c.csv;
        EXPECT_EQ(sorvtool({"db", "export", file}, dir.path()).out,
                  "Id,Last,First,Born,Pay,Notes\r\n1,Keep,,,0.00,\r\n")
            << c.csv;
    }
    EXPECT_EQ(sorvtool({"db", "check", file}, dir.path()).status, 0);
}

TEST_F(DbTool, CheckRebuildAndStats) {
    std::string rows = "Id,Last,First,Notes\n";
    for (int i = 1; i <= 400; ++i)
        rows += std::to_string(i) + ",L" + std::to_string(i % 37) + ",F," +
                (i % 3 ? "" : std::string(90, 'n')) + "\n";
    ASSERT_EQ(sorvtool({"db", "import", file, csv("rows.csv", rows)}, dir.path()).status, 0);
    ToolRun r = sorvtool({"db", "check", file}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "");
    r = sorvtool({"db", "stats", file}, dir.path());
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("records: 400\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("free pages: 0\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("key KeyId: depth "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(", 400 entries\n"), std::string::npos) << r.out;
    ASSERT_EQ(sorvtool({"db", "rebuild", file}, dir.path()).status, 0);
    EXPECT_EQ(sorvtool({"db", "check", file}, dir.path()).status, 0);

    // A flipped byte in a page: one line per problem, exit 1, and the file is left as it was.
    std::string good = slurp(file + ".QNL");
    std::string bad = good;
    bad[5 * qnl::PageSize + 100] ^= 0x20;
    spit(file + ".QNL", bad);
    r = sorvtool({"db", "check", file}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("page 5 is damaged (checksum)\n"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(file + ".QNL"), bad);
    // A damaged record page: rebuilding refuses the file; recovering writes what every sound
    // record page holds into a new, sound file and leaves the damaged one as it was.
    std::size_t recPage = 1;
    while (static_cast<unsigned char>(good[recPage * qnl::PageSize]) != qnl::PageRecords) ++recPage;
    bad = good;
    bad[recPage * qnl::PageSize + 200] ^= 0x20;
    spit(file + ".QNL", bad);
    EXPECT_EQ(sorvtool({"db", "rebuild", file}, dir.path()).status, 1);
    r = sorvtool({"db", "recover", file, dir.file("SAVED")}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("damaged pages: 1\n"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(file + ".QNL"), bad);
    EXPECT_EQ(sorvtool({"db", "check", dir.file("SAVED")}, dir.path()).status, 0);
    ToolRun saved = sorvtool({"db", "stats", dir.file("SAVED")}, dir.path());
    int kept = std::atoi(saved.out.c_str() + saved.out.find("records: ") + 9);
    EXPECT_GT(kept, 300);
    EXPECT_LT(kept, 400);
    EXPECT_NE(r.out.find("records: " + std::to_string(kept) + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(sorvtool({"db", "recover", file, dir.file("SAVED")}, dir.path()).status, 1); // never replaced
    // A truncated file and a damaged header cannot even be opened: still one line and exit 1.
    spit(file + ".QNL", good.substr(0, good.size() - qnl::PageSize));
    r = sorvtool({"db", "check", file}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.out), 1u) << r.out;
    bad = good;
    bad[1200] ^= 1;
    spit(file + ".QNL", bad);
    r = sorvtool({"db", "check", file}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.out), 1u) << r.out;
    r = sorvtool({"db", "check", dir.file("MISSING")}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("File Not Found"), std::string::npos) << r.err;
}

TEST_F(DbTool, UsageErrorsAreOneLineAndExitTwo) {
    const std::vector<std::vector<std::string>> wrong = {
        {"db"},
        {"db", "frob"},
        {"db", "create", file},
        {"db", "info"},
        {"db", "info", file, "x"},
        {"db", "export"},
        {"db", "export", file, "--key"},
        {"db", "export", file, "--sideways"},
        {"db", "import"},
        {"db", "check"},
        {"db", "rebuild"},
        {"db", "stats", file, file},
    };
    for (const auto& args : wrong) {
        ToolRun r = sorvtool(args, dir.path());
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_EQ(lines(r.err), 1u) << r.err;
        EXPECT_EQ(r.err.rfind("sorvtool: ", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
    }
}
#endif
