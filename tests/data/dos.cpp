// The DOS driver on real files: fixed-length records, raw reads by byte pointer and length (the
// text windows' whole-file read), truncated files, and writes that never leave a gap.
#include "data/files.h"
#include "testfiles.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorvtest;

namespace {

// A record of a LONG and a STRING(4): 8 bytes.
FileDecl recordFile(const std::string& path) {
    return declareFile("REC", "DOS", path, {{"REC:N", FieldType::Long}, {"REC:S", FieldType::String, 4}});
}

void setRec(FileDecl& f, int n, const char* s) {
    f.record.set("REC:N", Value(n));
    f.record.set("REC:S", Value(s));
}

std::int64_t n(const FileDecl& f) {
    return f.record.get("REC:N").toLong();
}

} // namespace

TEST(Dos, FixedRecordsRoundTrip) {
    TempDir dir;
    FileDecl f = recordFile(dir.file("r.dat"));
    create(f);
    open(f, 0x12);
    ASSERT_EQ(errorCode(), 0);
    for (int i = 1; i <= 5; ++i) {
        setRec(f, i, "ab");
        add(f);
        ASSERT_EQ(errorCode(), 0);
        EXPECT_EQ(pointer(f), std::uint32_t(1 + 8 * (i - 1)));
    }
    EXPECT_EQ(records(f), 5);
    EXPECT_EQ(std::filesystem::file_size(dir.file("r.dat")), 40u);

    set(f);
    for (int i = 1; i <= 5; ++i) {
        next(f);
        ASSERT_EQ(errorCode(), 0);
        EXPECT_EQ(n(f), i);
        EXPECT_EQ(f.record.get("REC:S").toText(), "ab  ");
    }
    next(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    set(f);
    previous(f);
    EXPECT_EQ(n(f), 5);
    previous(f);
    EXPECT_EQ(n(f), 4);

    // Change record 4 in place, read it again by pointer and by position.
    std::string pos = position(f);
    setRec(f, 40, "xy");
    put(f);
    ASSERT_EQ(errorCode(), 0);
    getPointer(f, 1);
    EXPECT_EQ(n(f), 1);
    reget(f, pos);
    EXPECT_EQ(n(f), 40);
    getPointer(f, 25);
    EXPECT_EQ(n(f), 40);
    EXPECT_EQ(bytes(f), 8);

    setPointer(f, 9);
    next(f);
    EXPECT_EQ(n(f), 2);
    skip(f, 1);
    next(f);
    EXPECT_EQ(n(f), 40);
    reset(f, pos);
    next(f);
    EXPECT_EQ(n(f), 40);
    close(f);
}

TEST(Dos, RawBytesByPointerAndLength) {
    TempDir dir;
    std::string notes = "Line one\r\nThe main thing\r\nis the order.\r\n";
    spit(dir.file("SorvDemo.TXT"), notes);
    FileDecl f = lineFile("DOS", dir.file("SorvDemo.TXT"), 32000);
    open(f, 0x22);
    ASSERT_EQ(errorCode(), 0);
    getPointer(f, 1, 32000);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(bytes(f), static_cast<std::int64_t>(notes.size()));
    EXPECT_EQ(text(f).substr(0, notes.size()), notes);
    EXPECT_EQ(std::string(clipRight(text(f))), notes.substr(0, notes.size() - 2) + "\r\n");
    // Without a length, up to the record's size.
    getPointer(f, 11);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(text(f).substr(0, 3), "The");
    getPointer(f, 11, 3);
    EXPECT_EQ(bytes(f), 3);
    EXPECT_EQ(text(f).substr(0, 4), "The ");
    // Beyond the end there is nothing to read.
    getPointer(f, static_cast<std::uint32_t>(notes.size() + 1), 10);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    getPointer(f, 0);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    close(f);

    // A file longer than the record gives its first 32000 bytes.
    std::string big(40000, 'q');
    big[31999] = 'E';
    spit(dir.file("big.txt"), big);
    FileDecl g = lineFile("DOS", dir.file("big.txt"), 32000);
    open(g, 0x22);
    getPointer(g, 1, 32000);
    EXPECT_EQ(bytes(g), 32000);
    EXPECT_EQ(text(g).back(), 'E');
    close(g);
}

TEST(Dos, TruncatedFilesAreReportedAndLeftAlone) {
    TempDir dir;
    std::string raw(8 * 2 + 3, '\x01');
    spit(dir.file("t.dat"), raw);
    FileDecl f = recordFile(dir.file("t.dat"));
    open(f, 0x22);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(records(f), 2);
    next(f);
    next(f);
    EXPECT_EQ(errorCode(), 0);
    setRec(f, 7, "keep");
    next(f);
    EXPECT_EQ(errorCode(), err::InvalidDataFile);
    EXPECT_EQ(n(f), 7); // the buffer is unchanged
    set(f);
    previous(f);
    EXPECT_EQ(errorCode(), err::InvalidDataFile);
    close(f);
    EXPECT_EQ(slurp(dir.file("t.dat")), raw);

    // A file shorter than one record.
    spit(dir.file("s.dat"), "abc");
    FileDecl s = recordFile(dir.file("s.dat"));
    open(s, 0x22);
    next(s);
    EXPECT_EQ(errorCode(), err::InvalidDataFile);
    close(s);
    EXPECT_EQ(slurp(dir.file("s.dat")), "abc");
}

TEST(Dos, WritesNeverLeaveGapsOrOverrunTheBuffer) {
    TempDir dir;
    FileDecl f = recordFile(dir.file("w.dat"));
    create(f);
    open(f, 0x22);
    setRec(f, 1, "a");
    put(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    add(f);
    put(f, 100);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    put(f, 9); // right at the end: extends the file by one record
    EXPECT_EQ(errorCode(), 0);
    put(f, 1, 9);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    add(f, 9);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    add(f, 0);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    setRec(f, 0x41424344, "zz");
    put(f, 2, 2); // two bytes of the buffer over bytes 2 and 3
    EXPECT_EQ(errorCode(), 0);
    append(f, 4);
    EXPECT_EQ(errorCode(), 0);
    close(f);
    std::string all = slurp(dir.file("w.dat"));
    ASSERT_EQ(all.size(), 20u);
    EXPECT_EQ(all[1], '\x44');
    EXPECT_EQ(all[2], '\x43');
    EXPECT_EQ(all.substr(16, 4), "DCBA");

    // A declaration without fields cannot be opened.
    FileDecl none;
    none.driver = "DOS";
    none.name = dir.file("w.dat");
    open(none);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
}
