// Failures on real files that must answer an error code and leave the disk as it was: writes that
// run out of room (a file size limit stands in for a full disk, in a child process), names the
// file system refuses, and files that are not what their driver reads.
#include "data/files.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace sorv;
using namespace sorvtest;

namespace {

// Runs body in a child process whose files may not grow past `limit` bytes; answers the child's
// exit code (body's answer) or -1.
template <class F> int withSizeLimit(rlim_t limit, F body) {
    pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // past the limit a write fails with EFBIG instead
        struct rlimit r {
            limit, limit
        };
        setrlimit(RLIMIT_FSIZE, &r);
        _exit(body() & 0xFF);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The child's answer: 0 when all held, else the line that failed.
#define CHECK_IN_CHILD(cond)                                                                                 \
    do {                                                                                                     \
        if (!(cond)) return __LINE__ % 250 + 1;                                                              \
    } while (0)

FileDecl dosFile(const std::string& path, std::uint32_t size) {
    return lineFile("DOS", path, size);
}

} // namespace

TEST(DiskFailures, FullDiskLeavesTextFilesAsTheyWere) {
    TempDir dir;
    std::string path = dir.file("out.txt");
    std::string before = "first\r\nsecond";
    spit(path, before);
    int code = withSizeLimit(before.size() + 6, [&] {
        FileDecl f = lineFile("ASCII", path, 40);
        open(f, 0x12);
        CHECK_IN_CHILD(errorCode() == 0);
        setText(f, "a line that does not fit");
        add(f);
        CHECK_IN_CHILD(errorCode() == err::FileSystemError);
        CHECK_IN_CHILD(fileError() == "Handle Disk Full");
        // A line that fits still goes in after the failed one.
        setText(f, "ok");
        add(f);
        CHECK_IN_CHILD(errorCode() == 0);
        close(f);
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(slurp(path), before + "\r\nok\r\n");
}

TEST(DiskFailures, FullDiskLeavesFixedRecordFilesAsTheyWere) {
    TempDir dir;
    std::string path = dir.file("rec.dat");
    std::string before(16, 'r');
    spit(path, before);
    int code = withSizeLimit(before.size() + 4, [&] {
        FileDecl f = dosFile(path, 8);
        open(f, 0x12);
        CHECK_IN_CHILD(errorCode() == 0);
        setText(f, "ADDADDAD");
        add(f);
        CHECK_IN_CHILD(errorCode() == err::FileSystemError);
        CHECK_IN_CHILD(fileErrorCode() == 339);
        append(f);
        CHECK_IN_CHILD(errorCode() == err::FileSystemError);
        // A PUT right at the end extends the file: a failure there must not leave half a record.
        setText(f, "PUTPUTPU");
        put(f, 17);
        CHECK_IN_CHILD(errorCode() == err::FileSystemError);
        // Rewriting inside the file needs no room.
        put(f, 9);
        CHECK_IN_CHILD(errorCode() == 0);
        close(f);
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(slurp(path), std::string(8, 'r') + "PUTPUTPU");
}

TEST(DiskFailures, NamesTheFileSystemRefusesTouchNothing) {
    TempDir dir;
    spit(dir.file("keep.txt"), "kept\r\n");
    // A name longer than any the file system holds, a zero byte that would cut the name short (and
    // so name another file), and characters the desktop never allows in names.
    std::string tooLong = dir.file(std::string(300, 'n') + ".txt");
    std::string cutShort = dir.file("keep.txt") + std::string("\0.bak", 5);
    for (const std::string& bad : {tooLong, cutShort, dir.file("a|b.txt"), dir.file("a<b>.txt")}) {
        FileDecl f = lineFile("ASCII", bad, 10);
        create(f);
        EXPECT_EQ(errorCode(), err::InvalidFilename) << bad.size();
        open(f, 0x42);
        EXPECT_EQ(errorCode(), err::InvalidFilename);
        remove(f);
        EXPECT_EQ(errorCode(), err::InvalidFilename);
        FileDecl keep = lineFile("DOS", dir.file("keep.txt"), 10);
        rename(keep, bad);
        EXPECT_EQ(errorCode(), err::InvalidFilename);
        copy(keep, bad);
        EXPECT_EQ(errorCode(), err::InvalidFilename);
    }
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"keep.txt"});
    EXPECT_EQ(slurp(dir.file("keep.txt")), "kept\r\n");
}

TEST(DiskFailures, FilesOfTheWrongShapeAreLeftAlone) {
    TempDir dir;
    // A directory and a pipe are no record files: refused at once (a pipe must not wait for a
    // writer), for reading as for writing.
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.file("sub"));
    for (const char* name : {"pipe", "sub"}) {
        for (int mode : {0x40, 0x42}) {
            FileDecl d = lineFile("DOS", dir.file(name), 10);
            open(d, mode);
            EXPECT_EQ(errorCode(), err::AccessDenied) << name << " " << mode;
            EXPECT_FALSE(d.isOpen());
        }
        FileDecl d = lineFile("ASCII", dir.file(name), 10);
        copy(d, dir.file("copy"));
        EXPECT_EQ(errorCode(), err::AccessDenied) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("copy")));

    // A text line longer than the record, read and then rewritten: both refused.
    std::string text = "short\r\n" + std::string(100, 'L') + "\r\n";
    spit(dir.file("long.txt"), text);
    FileDecl t = lineFile("ASCII", dir.file("long.txt"), 20);
    open(t, 0x12);
    next(t);
    std::uint32_t second = 8;
    getPointer(t, second);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    setText(t, "replacement");
    put(t, second);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
    close(t);
    EXPECT_EQ(slurp(dir.file("long.txt")), text);
}

// Write-only access (mode 1 and its sharing variants) writes records and never reads one back,
// whichever driver; a file the system lets only be written is still opened for it.
TEST(DiskFailures, WriteOnlyModeWritesAndNeverReads) {
    TempDir dir;
    for (const char* driver : {"ASCII", "DOS"}) {
        std::string path = dir.file(std::string(driver) + ".out");
        spit(path, "");
        if (geteuid() != 0) chmod(path.c_str(), 0222); // permissions do not bind root
        FileDecl f = lineFile(driver, path, 4);
        open(f, 0x41);
        ASSERT_EQ(errorCode(), 0) << driver;
        setText(f, "ab");
        add(f);
        EXPECT_EQ(errorCode(), 0) << driver;
        set(f);
        next(f);
        EXPECT_EQ(errorCode(), err::AccessDenied) << driver;
        getPointer(f, 1);
        EXPECT_EQ(errorCode(), err::AccessDenied) << driver;
        EXPECT_EQ(text(f), "ab  "); // the buffer as it was
        close(f);
        chmod(path.c_str(), 0644);
        EXPECT_EQ(slurp(path), std::string(driver) == "DOS" ? "ab  " : "ab\r\n") << driver;
    }
}
