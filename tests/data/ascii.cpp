// The ASCII driver on real files: lines written and read back, the export's count line
// rewritten in place, reading backwards, and every failure path leaving the file unchanged.
#include "data/files.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace sorv;
using namespace sorvtest;

namespace {

std::string lineOf(const FileDecl& f) {
    return std::string(clipRight(text(f)));
}

} // namespace

TEST(Ascii, WritesLinesWithoutTrailingBlanksAndReadsThemBack) {
    TempDir dir;
    FileDecl f = lineFile("ASCII", dir.file("SvPort.CSV"), 2048);
    create(f);
    ASSERT_EQ(errorCode(), 0);
    open(f, 0x22);
    ASSERT_EQ(errorCode(), 0);
    for (const char* s : {"# Records=9999999", "Company,City", "", "  lead,\"quoted, value\""}) {
        setText(f, s);
        add(f);
        ASSERT_EQ(errorCode(), 0) << s;
    }
    close(f);
    EXPECT_EQ(slurp(dir.file("SvPort.CSV")),
              "# Records=9999999\r\nCompany,City\r\n\r\n  lead,\"quoted, value\"\r\n");

    open(f, 0x40);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(records(f), 4);
    set(f);
    std::vector<std::string> got;
    for (;;) {
        next(f);
        if (errorCode()) break;
        got.push_back(lineOf(f));
        EXPECT_EQ(text(f).size(), 2048u);
    }
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    EXPECT_EQ(
        got, (std::vector<std::string>{"# Records=9999999", "Company,City", "", "  lead,\"quoted, value\""}));

    // Backwards from the end, and backwards from a record read forwards.
    set(f);
    previous(f);
    EXPECT_EQ(lineOf(f), "  lead,\"quoted, value\"");
    previous(f);
    EXPECT_EQ(lineOf(f), "");
    previous(f);
    previous(f);
    EXPECT_EQ(lineOf(f), "# Records=9999999");
    previous(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    close(f);
}

TEST(Ascii, ReadsLfOnlyLinesAndALastLineWithoutEnd) {
    TempDir dir;
    spit(dir.file("t.txt"), "one\ntwo\r\nthree");
    FileDecl f = lineFile("ASCII", dir.file("t.txt"), 10);
    open(f, 0x40);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(records(f), 3);
    next(f);
    EXPECT_EQ(lineOf(f), "one");
    next(f);
    EXPECT_EQ(lineOf(f), "two");
    next(f);
    EXPECT_EQ(lineOf(f), "three");
    EXPECT_EQ(bytes(f), 5);
    next(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    close(f);

    // A record added after a last line without its end starts a line of its own.
    open(f, 0x22);
    setText(f, "four");
    add(f);
    ASSERT_EQ(errorCode(), 0);
    close(f);
    EXPECT_EQ(slurp(dir.file("t.txt")), "one\ntwo\r\nthree\r\nfour\r\n");
}

TEST(Ascii, CountLineIsRewrittenInPlace) {
    TempDir dir;
    FileDecl f = lineFile("ASCII", dir.file("SvPort.CSV"), 2048);
    create(f);
    open(f, 0x22);
    setText(f, "# Records=9999999");
    add(f);
    std::uint32_t first = pointer(f);
    std::string firstPos = position(f);
    EXPECT_EQ(first, 1u);
    flush(f);
    EXPECT_EQ(errorCode(), 0);
    // Streamed, the rows wait in memory with their pointers known, and reach the file before
    // anything else reads or writes it.
    stream(f);
    for (int i = 0; i < 42; ++i) {
        setText(f, "row " + std::to_string(i));
        add(f);
        ASSERT_EQ(errorCode(), 0);
    }
    EXPECT_EQ(slurp(dir.file("SvPort.CSV")).size(), 19u);
    EXPECT_EQ(pointer(f), 19u + 10 * 7 + 31 * 8 + 1);
    // The whole line read back by its position and put back with the count.
    reget(f, firstPos);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(lineOf(f), "# Records=9999999");
    setText(f, "# Records=0000042");
    put(f);
    ASSERT_EQ(errorCode(), 0);
    // Or only the seven digits, by pointer and length.
    getPointer(f, first + 10, 7);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(lineOf(f), "0000042");
    setText(f, "0000043");
    put(f, first + 10, 7);
    ASSERT_EQ(errorCode(), 0);
    close(f);
    std::string all = slurp(dir.file("SvPort.CSV"));
    EXPECT_EQ(all.substr(0, 19), "# Records=0000043\r\n");
    EXPECT_EQ(all.substr(19, 7), "row 0\r\n");
    EXPECT_EQ(all.size(), 19u + 10 * 7 + 32 * 8);

    // A file others may write is never streamed: each row is there at once.
    open(f, 0x42);
    stream(f);
    setText(f, "shared");
    add(f);
    EXPECT_EQ(slurp(dir.file("SvPort.CSV")).substr(all.size()), "shared\r\n");
    close(f);
}

TEST(Ascii, RewritesNeverRunOverTheNextLine) {
    TempDir dir;
    spit(dir.file("t.txt"), "short\r\nnext line\r\n");
    FileDecl f = lineFile("ASCII", dir.file("t.txt"), 100);
    open(f, 0x22);
    next(f);
    setText(f, "much longer");
    put(f);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    // A shorter text is padded with blanks to the old length.
    setText(f, "sh");
    put(f);
    EXPECT_EQ(errorCode(), 0);
    // Bytes by pointer and length must stay inside one line.
    setText(f, "XXXXX");
    put(f, 4, 5);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    put(f, 100, 2);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    close(f);
    EXPECT_EQ(slurp(dir.file("t.txt")), "sh   \r\nnext line\r\n");

    // Nothing to rewrite before a record was read.
    open(f, 0x22);
    put(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    close(f);
}

TEST(Ascii, LineLongerThanTheBufferIsAnErrorAndIsSteppedOver) {
    TempDir dir;
    spit(dir.file("t.txt"), "fits\r\n" + std::string(5000, 'x') + "\r\nafter\r\n");
    FileDecl f = lineFile("ASCII", dir.file("t.txt"), 10);
    open(f, 0x40);
    next(f);
    EXPECT_EQ(lineOf(f), "fits");
    next(f);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    EXPECT_EQ(lineOf(f), "fits"); // the buffer is left alone
    next(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(lineOf(f), "after");
    // Skipping and setting step over it without reading it.
    set(f);
    skip(f, 2);
    EXPECT_EQ(errorCode(), 0);
    next(f);
    EXPECT_EQ(lineOf(f), "after");
    setPointer(f, 7);
    EXPECT_EQ(errorCode(), 0);
    previous(f);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    previous(f);
    EXPECT_EQ(lineOf(f), "fits");
    // Exactly the buffer's size fits.
    close(f);
    spit(dir.file("t.txt"), "0123456789\r\n");
    open(f, 0x40);
    next(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(text(f), "0123456789");
    close(f);
}

TEST(Ascii, OpenAndCreateFailures) {
    TempDir dir;
    FileDecl f = lineFile("ASCII", dir.file("missing.txt"), 10);
    open(f);
    EXPECT_EQ(errorCode(), err::FileNotFound);
    f.name = dir.file("no/such/dir/x.txt");
    open(f);
    EXPECT_EQ(errorCode(), err::FileNotFound);
    spit(dir.file("plain"), "x");
    f.name = dir.file("plain/x.txt");
    open(f);
    EXPECT_EQ(errorCode(), err::PathNotFound);
    f.name = dir.file("bad?name.txt");
    create(f);
    EXPECT_EQ(errorCode(), err::InvalidFilename);
    f.name = dir.file("bad\tname.txt");
    open(f);
    EXPECT_EQ(errorCode(), err::InvalidFilename);
    f.name = "   ";
    f.label = "";
    open(f);
    EXPECT_EQ(errorCode(), err::InvalidFilename);

    FileDecl noCreate = lineFile("ASCII", dir.file("new.txt"), 10, 0);
    create(noCreate);
    EXPECT_EQ(errorCode(), err::NoCreateAttribute);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.txt")));

    FileDecl g = lineFile("ASCII", dir.file("g.txt"), 10);
    create(g);
    open(g);
    ASSERT_EQ(errorCode(), 0);
    open(g);
    EXPECT_EQ(errorCode(), err::FileAlreadyOpen);
    create(g);
    EXPECT_EQ(errorCode(), err::FileAlreadyOpen);
    close(g);
    close(g);
    EXPECT_EQ(errorCode(), err::FileNotOpen);
    next(g);
    EXPECT_EQ(errorCode(), err::FileNotOpen);

    // Backslashes are the desktop's path separators.
    FileDecl h = lineFile("ASCII", dir.path() + "\\g.txt", 10);
    open(h, 0x40);
    EXPECT_EQ(errorCode(), 0);
    close(h);
}

TEST(Ascii, ReadOnlyFileAndReadOnlyMode) {
    TempDir dir;
    spit(dir.file("ro.txt"), "kept\r\n");
    FileDecl f = lineFile("ASCII", dir.file("ro.txt"), 10);
    if (geteuid() != 0) { // permissions do not bind root
        chmod(dir.file("ro.txt").c_str(), 0444);
        open(f, 0x22);
        EXPECT_EQ(errorCode(), err::AccessDenied);
        create(f);
        EXPECT_EQ(errorCode(), err::AccessDenied);
    }
    open(f, 0x20);
    ASSERT_EQ(errorCode(), 0);
    next(f);
    setText(f, "gone");
    put(f);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    add(f);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    lock(f);
    EXPECT_EQ(errorCode(), err::AccessDenied); // exclusive locks need write access
    close(f);
    EXPECT_EQ(slurp(dir.file("ro.txt")), "kept\r\n");
}

TEST(Ascii, FileOperations) {
    TempDir dir;
    spit(dir.file("a.txt"), "1\r\n2\r\n");
    FileDecl f = lineFile("ASCII", dir.file("a.txt"), 10);
    EXPECT_EQ(name(f), dir.file("a.txt"));
    copy(f, dir.file("b.txt"));
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(slurp(dir.file("b.txt")), "1\r\n2\r\n");
    copy(f, dir.file("no/dir/b.txt"));
    EXPECT_EQ(errorCode(), err::FileNotFound);
    rename(f, dir.file("c.txt"));
    EXPECT_EQ(errorCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.txt")));
    f.name = dir.file("c.txt");
    open(f, 0x12);
    EXPECT_EQ(send(f, "Recover=10"), "");
    EXPECT_EQ(errorCode(), 0);
    remove(f);
    EXPECT_EQ(errorCode(), err::FileAlreadyOpen);
    empty(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(records(f), 0);
    close(f);
    open(f, 0x42);
    empty(f);
    EXPECT_EQ(errorCode(), err::ExclusiveAccessRequired);
    // Operations a text file has no use for.
    deleteRecord(f);
    EXPECT_EQ(errorCode(), err::UnsupportedFunction);
    get(f, 0);
    EXPECT_EQ(errorCode(), err::UnsupportedFunction);
    OpArgs a;
    EXPECT_EQ(callDriver(op::QUERY_VIEW, f, a), 0);
    close(f);
    remove(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.txt")));
    remove(f);
    EXPECT_EQ(errorCode(), err::FileNotFound);
}

TEST(Ascii, PositionsAreOpaqueAndChecked) {
    TempDir dir;
    spit(dir.file("p.txt"), "a\r\nbb\r\nccc\r\n");
    FileDecl f = lineFile("ASCII", dir.file("p.txt"), 10);
    open(f, 0x40);
    next(f);
    next(f);
    std::string pos = position(f);
    EXPECT_EQ(pointer(f), 4u);
    next(f);
    reset(f, pos);
    EXPECT_EQ(errorCode(), 0);
    next(f);
    EXPECT_EQ(lineOf(f), "bb");
    reset(f, "junk");
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    reget(f, std::string(8, '\x7f'));
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    setPointer(f, 8);
    next(f);
    EXPECT_EQ(lineOf(f), "ccc");
    set(f);
    skip(f, 2);
    next(f);
    EXPECT_EQ(lineOf(f), "ccc");
    skip(f, -2);
    next(f);
    EXPECT_EQ(lineOf(f), "bb");
    close(f);
}
