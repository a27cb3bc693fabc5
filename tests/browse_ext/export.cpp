// The list's exports on real lists under the offscreen platform, compared byte for byte: a list
// over a queue in both formats and both quotings, with hidden and moved columns and lines longer
// than the line buffer; a browse over a table, whole and filtered, whatever page it shows; Cancel,
// and files that cannot be written.
#include "browse_ext/preferences.h"
#include "runtime/inifile.h"
#include "tests/browse_ext/list_rig.h"
#include "tests/framework/browse_rig.h"
#include "tests/windowing/harness.h"
#include "tests/windowing/shell_log.h"

#include <QPushButton>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace sorv;
using namespace sorv::bx;
using namespace sorv::test;
namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Lines joined as the text driver writes them.
std::string lines(std::initializer_list<std::string> l) {
    std::string out;
    for (const std::string& s : l) out += s + "\r\n";
    return out;
}

struct Person {
    std::string company, height;
    const char* salary;
    std::string note;
};

// A comma in a company, the inch sign, both together, a salary of ten thousand, blank values, a
// company that needs escaping in HTML, and a short line after long ones.
const std::vector<Person> People = {
    {"Smith, Jones and Sons", "5'10\"", "10000", ""},
    {"Smith & <Sons>", "6'2\", tall", "512.5", "x"},
    {"Acme", "", "0", "Rome"},
};

struct ExportRig {
    browsetest::TempDir dir;
    ListWindow window;
    Queue queue{[] {
        Layout l;
        l.add("Q:Company", FieldType::String, 30);
        l.add("Q:Height", FieldType::String, 12);
        l.addDecimal("Q:Salary", 9, 2);
        l.add("Q:Note", FieldType::String, 10);
        return l;
    }()};
    NoPopup owner;
    TableSorvex sorvex;
    std::string ini = dir.file("export.INI");

    explicit ExportRig(const std::vector<Person>& people = People) {
        window.caption = "Tom & Jerry <Ltd>";
        window.format = "80L(2)~Company~@s30@40L(2)~Height~@s12@40R(2)~Salary~@n9.2@40L(2)~Note~@s10@";
        EXPECT_EQ(window.Init(), fw::LevelNone);
        for (const Person& p : people) {
            queue.record().set("Q:Company", Value(p.company));
            queue.record().set("Q:Height", Value(p.height));
            queue.record().set("Q:Salary", Value(*Decimal::parse(p.salary)));
            queue.record().set("Q:Note", Value(p.note));
            queue.add();
        }
        showQueue(window.WINDOW, queue);
        sorvex.rows = {{"Q:Company", 80, "Company", "@s30", "Company", 'L'},
                       {"Q:Height", 40, "Height", "@s12", "Height", 'L'},
                       {"Q:Salary", 40, "Salary", "@n9.2", "Salary", 'R'},
                       {"Q:Note", 40, "Note", "@s10", "Note", 'L'}};
        sorvex.InitQueueList(window, owner, queue, window.WINDOW, QueueList, ini, VisualHeader, {});
        sorvex.SEPARATOR = ",";
        sorvex.BROWSEHEADER = 1;
        sorvex.SHELLEXECUTE = 0;
        sorvex.ASCIIFILENAME = dir.file("SvPort.CSV");
        sorvex.HTMLFILENAME = dir.file("SvPort.HTM");
    }
    ~ExportRig() { window.Kill(); }
};

TEST(Export, AQueueListInBothFormatsByteForByte) {
    const std::string html =
        "<HTML>\r\n"
        "<HEAD><META CHARSET=\"UTF-8\"><TITLE>Tom &amp; Jerry &lt;Ltd&gt;</TITLE></HEAD>\r\n"
        "<H1>Tom &amp; Jerry &lt;Ltd&gt;</H1><P>\r\n"
        "<TABLE BORDER=2>\r\n";
    const std::string htmlHeader =
        "<TR> <TD>Company</TD> <TD>Height</TD> <TD>Salary</TD> <TD>Note</TD> </TR>\r\n";
    const std::string htmlRows =
        lines({"<TR> <TD>Smith, Jones and Sons</TD> <TD>5'10\"</TD> <TD>10,000.00</TD> <TD>&nbsp</TD> </TR>",
               "<TR> <TD>Smith &amp; &lt;Sons&gt;</TD> <TD>6'2\", tall</TD> <TD>512.50</TD> <TD>x</TD> </TR>",
               "<TR> <TD>Acme</TD> <TD>&nbsp</TD> <TD>0.00</TD> <TD>Rome</TD> </TR>", "</TABLE>", "</HTML>"});
    struct Case {
        const char* what;
        bool html;
        int header;
        const char* quoting; // "" leaves the preference unset
        std::string expected;
    };
    const Case cases[] = {
        {"system quoting", false, 1, "",
         lines({"# Records=0000003", "Company,Height,Salary,Note",
                "\"Smith, Jones and Sons\",'5'10\"',\"10,000.00\",", "Smith & <Sons>,'6'2\", tall',512.50,x",
                "Acme,,0.00,Rome"})},
        {"no header line", false, 0, "System",
         lines({"# Records=0000003", "\"Smith, Jones and Sons\",'5'10\"',\"10,000.00\",",
                "Smith & <Sons>,'6'2\", tall',512.50,x", "Acme,,0.00,Rome"})},
        {"standard quoting", false, 1, "Standard",
         lines({"# Records=0000003", "Company,Height,Salary,Note",
                "\"Smith, Jones and Sons\",\"5'10\"\"\",\"10,000.00\",",
                "Smith & <Sons>,\"6'2\"\", tall\",512.50,x", "Acme,,0.00,Rome"})},
        {"HTML", true, 1, "Standard", html + htmlHeader + htmlRows},
        {"HTML without header", true, 0, "", html + htmlRows},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ShellLog shell;
        std::string written;
        runWithDesktop([&] {
            ExportRig rig;
            if (*c.quoting) writePrivateProfileString(rig.ini, PreferencesSection, "CSVQuoting", c.quoting);
            rig.sorvex.BROWSEHEADER = static_cast<std::uint8_t>(c.header);
            if (c.html)
                rig.sorvex.HandleListEvent(sevent::ExportHtml);
            else
                rig.sorvex.HandleListEvent(sevent::ExportAscii);
            written = slurp(c.html ? rig.sorvex.HTMLFILENAME : rig.sorvex.ASCIIFILENAME);
        });
        EXPECT_EQ(written, c.expected);
        EXPECT_EQ(shell.opened(), "") << "SHELLEXECUTE 0 opens nothing";
    }
}

TEST(Export, HiddenColumnsAreLeftOutMovedOnesFollowTheListAndLongLinesStayWhole) {
    std::string csv, html;
    runWithDesktop([&] {
        ExportRig rig({{"Acme", "6'", "1", "Rome"}});
        rig.sorvex.CURRENTCOL = 2; // Height
        rig.sorvex.HandleListEvent(sevent::Hide);
        rig.sorvex.CURRENTCOL = 3; // Note, now third
        rig.sorvex.HandleListEvent(sevent::MoveLeft);
        EXPECT_EQ(rig.sorvex.listProperty(0x7E03, 2), "Note");
        rig.sorvex.ExportAscii();
        csv = slurp(rig.sorvex.ASCIIFILENAME);
    });
    EXPECT_EQ(csv, lines({"# Records=0000001", "Company,Note,Salary", "Acme,Rome,1.00"}));

    // Two values of 255 ampersands escape to a line of more than 2,500 characters.
    const std::string wide(255, '&');
    std::string amps;
    for (int i = 0; i < 255; ++i) amps += "&amp;";
    runWithDesktop([&] {
        browsetest::TempDir dir;
        ListWindow window;
        window.format = "80L(2)~A~@s255@80L(2)~B~@s255@";
        ASSERT_EQ(window.Init(), fw::LevelNone);
        Layout l;
        l.add("Q:A", FieldType::String, 255);
        l.add("Q:B", FieldType::String, 255);
        Queue queue(l);
        queue.record().set("Q:A", Value(wide));
        queue.record().set("Q:B", Value(wide));
        queue.add();
        showQueue(window.WINDOW, queue);
        NoPopup owner;
        TableSorvex s;
        s.rows = {{"Q:A", 80, "A", "@s255", "A", 'L'}, {"Q:B", 80, "B", "@s255", "B", 'L'}};
        s.InitQueueList(window, owner, queue, window.WINDOW, QueueList, dir.file("x.INI"), VisualHeader, {});
        s.BROWSEHEADER = 0;
        s.HTMLFILENAME = dir.file("wide.htm");
        s.ExportHtml();
        html = slurp(s.HTMLFILENAME);
        window.Kill();
    });
    const std::string row = "<TR> <TD>" + amps + "</TD> <TD>" + amps + "</TD> </TR>\r\n";
    ASSERT_GT(row.size(), 2048u);
    EXPECT_NE(html.find("<TABLE BORDER=2>\r\n" + row + "</TABLE>\r\n"), std::string::npos);
}

// ---- a browse over a table ----

struct PeopleSorvex : TableSorvex {
    PeopleSorvex() {
        rows = {{"PPL:SysId", 40, "Sys Id", "@n6", "People ID", 'R'},
                {"PPL:LastName", 80, "Last Name", "@s20", "Last Name", 'L'},
                {"PPL:CustId", 40, "Cust", "@n6", "Customer", 'R'}};
    }
    void start(browsetest::Rig& rig, const std::string& target) {
        Init(rig.window, rig.browse, *rig.queue, rig.window.WINDOW, browsetest::List, rig.dir.file("x.INI"),
             VisualHeader, {});
        SEPARATOR = ",";
        BROWSEHEADER = 1;
        ASCIIFILENAME = target;
    }
};

std::string personLine(int id) {
    return std::to_string(id) + "," + browsetest::nameOf(id) + "," + std::to_string((id - 1) / 10 + 1);
}

TEST(Export, ABrowseWritesEveryRecordOfItsViewInOrderAndFilterWhateverPageItShows) {
    struct Case {
        int records;
        const char* filter;
        int first, last;
        const char* count;
    };
    for (const Case c : {Case{42, "", 1, 42, "0000042"}, Case{100, "PPL:CustId = 3", 21, 30, "0000010"}}) {
        SCOPED_TRACE(c.records);
        ShellLog shell;
        std::string csv, opened;
        std::vector<int> before, after;
        browsetest::TempDir out;
        const std::string target = out.file("SvPort.CSV");
        runWithDesktop([&] {
            browsetest::Rig rig(c.records, 10);
            ASSERT_TRUE(rig.opened);
            rig.start();
            if (*c.filter) {
                rig.browse.SetNamedFilter(c.filter);
                rig.window.Reset(true);
                rig.pump();
            } else {
                rig.list(win::event::PageDown);
            }
            PeopleSorvex s;
            s.start(rig, target);
            s.SHELLEXECUTE = 1;
            rig.select(3); // the user right-clicked the third row
            before = rig.ids();
            before.push_back(rig.selectedId());
            s.HandleListEvent(sevent::ExportAscii);
            after = rig.ids();
            after.push_back(rig.selectedId());
            csv = slurp(target);
            opened = shell.opened();
        });
        EXPECT_EQ(after, before) << "the browse shows its page again, the same row selected";
        std::string expected = lines({std::string("# Records=") + c.count, "Sys Id,Last Name,Cust"});
        for (int id = c.first; id <= c.last; ++id) expected += personLine(id) + "\r\n";
        EXPECT_EQ(csv, expected);
        EXPECT_EQ(opened, target + "\n") << "the desktop opened the file once";
    }
}

TEST(Export, CancelAndFilesThatCannotBeWrittenLeaveNoFileAndOpenNothing) {
    ShellLog shell;
    browsetest::TempDir out;
    BoxAnswers boxes({win::button::Ok, win::button::Ok});
    PressWhenShown cancel("Progress...", "Cancel"); // the first export's only
    int cancels = 0;
    runWithDesktop([&] {
        browsetest::Rig rig(2000, 10);
        ASSERT_TRUE(rig.opened);
        rig.start();
        PeopleSorvex s;
        s.start(rig, out.file("SvPort.CSV"));
        s.SHELLEXECUTE = 1;
        s.ExportAscii();
        cancels = cancel.presses();
        EXPECT_FALSE(fs::exists(out.file("SvPort.CSV"))) << "the cancelled export leaves nothing";
        EXPECT_EQ(rig.names().front(), "N0001");

        s.ASCIIFILENAME = out.file("no/such/folder/SvPort.CSV");
        s.ExportAscii();

        // A disk that fills up on the way: no file may grow past 8 kB.
        s.ASCIIFILENAME = out.file("SvPort.CSV");
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit was{}, small{8192, 8192};
        ::getrlimit(RLIMIT_FSIZE, &was);
        small.rlim_max = was.rlim_max;
        ::setrlimit(RLIMIT_FSIZE, &small);
        s.ExportAscii();
        ::setrlimit(RLIMIT_FSIZE, &was);
        EXPECT_FALSE(fs::exists(out.file("SvPort.CSV"))) << "the partial file is gone";
    });
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(shell.opened(), "");
    const auto shown = boxes.shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].title, "Sorvex");
    EXPECT_EQ(shown[0].text, "The export could not write the file " + out.file("no/such/folder/SvPort.CSV") +
                                 ".\nFile Not Found (2)");
    EXPECT_EQ(shown[1].text.rfind("The export could not write the file " + out.file("SvPort.CSV") + ".\n", 0),
              0u)
        << shown[1].text;
    EXPECT_NE(shown[1].text.find("(90)"), std::string::npos) << "a file system error: " << shown[1].text;
}

} // namespace
