// Sharing modes, file locks and record holds between processes and between open files of one
// process, on real files. A second process is forked for each check and answers by exit code.
#include "data/files.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace sorv;
using namespace sorvtest;

namespace {

// Runs `body` in a child process and answers its result (the error code it ended with).
template <class F> int inChild(F body) {
    pid_t pid = fork();
    if (pid == 0) {
        int code = body();
        _exit(code & 0xFF);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int openInChild(const std::string& path, int mode) {
    return inChild([&] {
        FileDecl f = lineFile("ASCII", path, 80);
        open(f, mode);
        return errorCode();
    });
}

} // namespace

TEST(Sharing, ModesHoldAgainstAnotherProcess) {
    TempDir dir;
    std::string path = dir.file("s.txt");
    spit(path, "x\r\n");
    struct Case {
        int held, asked, expected;
    };
    const Case cases[] = {
        {0x22, 0x40, 0},                  // deny write lets a reader in
        {0x22, 0x42, 5},                  // but no writer
        {0x22, 0x22, 5},                  // nor a second deny-write writer
        {0x20, 0x20, 0},                  // two readers denying write
        {0x20, 0x42, 5}, {0x12, 0x40, 5}, // deny all
        {0x10, 0x40, 5}, {0x32, 0x41, 0}, // deny read lets a writer in
        {0x32, 0x40, 5}, {0x42, 0x42, 0}, // deny none with deny none
        {0x42, 0x22, 5},                  // a writer is there: deny write refused
        {0x40, 0x22, 0},                  // only a reader is there
        {0x40, 0x30, 5},                  // a reader is there: deny read refused
        {0x40, 0x12, 5}, {0x02, 0x42, 5}, // compatibility mode behaves as deny write
        {0x02, 0x40, 0},
    };
    for (const Case& c : cases) {
        FileDecl f = lineFile("ASCII", path, 80);
        open(f, c.held);
        ASSERT_EQ(errorCode(), 0) << std::hex << c.held;
        EXPECT_EQ(openInChild(path, c.asked), c.expected) << std::hex << c.held << " then " << c.asked;
        close(f);
        // Closed, the file lets anyone in again.
        EXPECT_EQ(openInChild(path, c.asked), 0) << std::hex << c.asked;
    }
}

TEST(Sharing, ModesHoldBetweenFilesOfOneProcess) {
    TempDir dir;
    std::string path = dir.file("s.txt");
    spit(path, "x\r\n");
    FileDecl a = lineFile("ASCII", path, 80), b = lineFile("DOS", path, 80), c = lineFile("ASCII", path, 80);
    open(a, 0x22);
    open(b, 0x42);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    open(b, 0x40);
    EXPECT_EQ(errorCode(), 0);
    // Closing one open file keeps the other's sharing (locks belong to each open file).
    close(b);
    open(c, 0x42);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    close(a);
    open(c, 0x42);
    EXPECT_EQ(errorCode(), 0);
    close(c);
}

TEST(Sharing, CreateRemoveRenameRespectOtherOpeners) {
    TempDir dir;
    std::string path = dir.file("s.txt");
    spit(path, "precious\r\n");
    int pipeFd[2];
    ASSERT_EQ(pipe(pipeFd), 0);
    int goFd[2];
    ASSERT_EQ(pipe(goFd), 0);
    pid_t pid = fork();
    if (pid == 0) {
        FileDecl f = lineFile("ASCII", path, 80);
        open(f, 0x40); // a reader that denies nothing
        char c = static_cast<char>(errorCode());
        (void)!write(pipeFd[1], &c, 1);
        (void)!read(goFd[0], &c, 1); // wait until the parent is done
        close(f);
        _exit(0);
    }
    char c = 1;
    ASSERT_EQ(read(pipeFd[0], &c, 1), 1);
    ASSERT_EQ(c, 0);
    FileDecl f = lineFile("ASCII", path, 80);
    create(f);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    remove(f);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    rename(f, dir.file("t.txt"));
    EXPECT_EQ(errorCode(), err::AccessDenied);
    copy(f, dir.file("copy.txt"));
    EXPECT_EQ(errorCode(), 0); // copying only reads
    open(f, 0x12);
    EXPECT_EQ(errorCode(), err::AccessDenied);
    EXPECT_EQ(slurp(path), "precious\r\n");
    (void)!write(goFd[1], &c, 1);
    int status = 0;
    waitpid(pid, &status, 0);
    create(f);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(slurp(path), "");
    ::close(pipeFd[0]);
    ::close(pipeFd[1]);
    ::close(goFd[0]);
    ::close(goFd[1]);
}

TEST(Sharing, LocksAndHoldsAgainstAnotherProcess) {
    TempDir dir;
    std::string path = dir.file("r.dat");
    spit(path, std::string(80 * 3, 'r'));
    FileDecl f = lineFile("DOS", path, 80);
    open(f, 0x42);
    lock(f);
    ASSERT_EQ(errorCode(), 0);
    EXPECT_EQ(inChild([&] {
                  FileDecl g = lineFile("DOS", path, 80);
                  open(g, 0x42);
                  lock(g);
                  return errorCode();
              }),
              err::FileIsLocked);
    unlock(f);
    EXPECT_EQ(inChild([&] {
                  FileDecl g = lineFile("DOS", path, 80);
                  open(g, 0x42);
                  lock(g);
                  return errorCode();
              }),
              0);

    hold(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable); // nothing read yet
    next(f);
    next(f);
    hold(f);
    ASSERT_EQ(errorCode(), 0);
    auto holdInChild = [&](int records, std::int32_t seconds) {
        return inChild([&] {
            FileDecl g = lineFile("DOS", path, 80);
            open(g, 0x42);
            for (int i = 0; i < records; ++i) next(g);
            hold(g, seconds);
            return errorCode();
        });
    };
    EXPECT_EQ(holdInChild(2, 0), err::RecordHeld);
    EXPECT_EQ(holdInChild(1, 0), 0); // another record is free
    EXPECT_EQ(holdInChild(3, 0), 0);
    // A holder that lets go within the time limit lets the waiter in.
    pid_t pid = fork();
    if (pid == 0) {
        usleep(300 * 1000);
        _exit(0);
    }
    std::thread releaser([&] {
        waitpid(pid, nullptr, 0);
        release(f);
    });
    EXPECT_EQ(holdInChild(2, 5), 0);
    releaser.join();
    close(f);
}
