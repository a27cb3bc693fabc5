// The driver interface: the operation table, the registry, the file statements over a driver of
// the test's own, transactions per thread and threaded declarations.
#include "data/driver.h"
#include "data/files.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include <thread>
#include <vector>

using namespace sorv;

TEST(FileOps, NamesFollowTheNumbers) {
    EXPECT_EQ(opName(0), "");
    EXPECT_EQ(opName(1), "ADD");
    EXPECT_EQ(opName(14), "EOF");
    EXPECT_EQ(opName(24), "NEXT");
    EXPECT_EQ(opName(25), "OPEN");
    EXPECT_EQ(opName(34), "BUILDdynfilter");
    EXPECT_EQ(opName(35), "");
    EXPECT_EQ(opName(36), "RELEASE");
    EXPECT_EQ(opName(39), "");
    EXPECT_EQ(opName(40), "ROLLBACK");
    EXPECT_EQ(opName(53), "GETfileptrlen");
    EXPECT_EQ(opName(68), "NULL");
    EXPECT_EQ(opName(80), "BUFFER");
    EXPECT_EQ(opName(87), "Internal");
    EXPECT_EQ(opName(91), "Internal");
    EXPECT_EQ(opName(92), "INVIEW");
    EXPECT_EQ(opName(93), "ENDVIEW");
    EXPECT_EQ(opName(94), "");
    EXPECT_EQ(opName(-1), "");
    EXPECT_EQ(opName(1000), "");
    // The constants and the table agree everywhere.
    EXPECT_EQ(opName(op::SETkeykeyptr), "SETkeykeyptr");
    EXPECT_EQ(opName(op::DOPROPERTYblob), "DOPROPERTYblob");
    EXPECT_EQ(opName(op::RESETviewfile), "RESETviewfile");
    EXPECT_EQ(opName(op::EOF_), "EOF");
    EXPECT_EQ(opName(op::NULL_), "NULL");
    int named = 0;
    for (int i = 0; i <= 93; ++i) named += opName(i).empty() ? 0 : 1;
    EXPECT_EQ(named, 91);
}

TEST(FileOps, Classes) {
    for (int o : {5, 6, 15, 17, 28, 34, 57}) EXPECT_TRUE(isKeyLevelOp(o)) << o;
    EXPECT_FALSE(isKeyLevelOp(op::NEXT));
    EXPECT_TRUE(isReadOp(op::REGETkey));
    EXPECT_FALSE(isReadOp(op::PUT));
    EXPECT_TRUE(isWriteOp(op::DELETE));
    EXPECT_FALSE(isWriteOp(op::NEXT));
    EXPECT_TRUE(isViewOp(op::SETview));
    EXPECT_TRUE(isViewOp(op::QUERY_VIEW));
    EXPECT_FALSE(isViewOp(op::OPEN));
}

namespace {

// A driver that records what it is given and answers a prepared code.
struct Recorder final : Driver {
    std::string_view name() const override { return "RECORDER"; }
    int call(int operation, FileDecl& file, OpArgs& args) override {
        calls.push_back(operation);
        last = args;
        if (operation == op::OPEN) {
            file.state = std::make_unique<DriverState>();
            return 0;
        }
        if (operation == op::CLOSE) {
            file.state.reset();
            return 0;
        }
        if (operation == op::RECORDSfile) args.records = 42;
        if (operation == op::POSITIONfile) args.positionOut = std::string("\0\1\2", 3);
        if (operation == op::SEND) args.textOut = "answer:" + args.text;
        if (operation == op::NULL_) args.flag = args.field == 2;
        if (operation == op::LOGOUT && file.label == "refuses") return err::UnableToLogTransaction;
        if (operation == op::COMMIT && file.label == "fails90") {
            args.systemError = 39;
            return err::FileSystemError;
        }
        if (operation == op::BUFFER) return err::UnsupportedFunction;
        return answer;
    }
    std::vector<int> calls;
    OpArgs last;
    int answer = 0;
};

std::shared_ptr<Recorder> recorder() {
    static auto r = [] {
        auto d = std::make_shared<Recorder>();
        registerDriver(d);
        return d;
    }();
    return r;
}

FileDecl declared(const std::string& label = "f") {
    // Driver names are found without case.
    return sorvtest::declareFile(label, "recorder", "", {{"F:A", FieldType::Long}}, {}, 0);
}

} // namespace

TEST(Registry, FindsDriversByNameWithoutCase) {
    recorder();
    EXPECT_NE(findDriver("ascii"), nullptr);
    EXPECT_NE(findDriver("DOS"), nullptr);
    EXPECT_EQ(findDriver("ASCII")->name(), "ASCII");
    EXPECT_NE(findDriver("Recorder"), nullptr);
    EXPECT_EQ(findDriver("NOSUCH"), nullptr);
    auto names = driverNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "DOS"), names.end());
}

TEST(Registry, UnknownDriverIsAnError) {
    FileDecl f = declared();
    f.driver = "NOSUCH";
    open(f);
    EXPECT_EQ(errorCode(), err::InvalidRecordDeclaration);
}

TEST(Statements, PassArgumentsAndSetTheError) {
    auto r = recorder();
    FileDecl f = declared();
    open(f, 0x42);
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(r->last.mode, 0x42);
    EXPECT_TRUE(f.isOpen());

    getPointer(f, 7, 12);
    EXPECT_EQ(r->calls.back(), op::GETfileptrlen);
    EXPECT_EQ(r->last.pointer, 7u);
    EXPECT_EQ(r->last.length, 12u);

    setKeyValuePointer(f, 3, 9);
    EXPECT_EQ(r->calls.back(), op::SETkeykeyptr);
    EXPECT_EQ(r->last.key, 3);
    EXPECT_EQ(r->last.pointer, 9u);

    hold(f, 5);
    EXPECT_EQ(r->calls.back(), op::HOLDfilesec);
    EXPECT_EQ(r->last.seconds, 5);

    EXPECT_EQ(records(f), 42);
    EXPECT_EQ(position(f), std::string("\0\1\2", 3));
    reset(f, 1, std::string("\0\1\2", 3));
    EXPECT_EQ(r->calls.back(), op::RESETkey);
    EXPECT_EQ(r->last.position, std::string("\0\1\2", 3));
    EXPECT_EQ(send(f, "QUICKSCAN=on"), "answer:QUICKSCAN=on");
    EXPECT_TRUE(isNull(f, 2));
    EXPECT_FALSE(isNull(f, 1));

    r->answer = err::RecordNotAvailable;
    next(f);
    EXPECT_EQ(errorCode(), err::RecordNotAvailable);
    EXPECT_EQ(error(), "Record Not Available");
    // A failed statement answers no value.
    r->answer = err::RecordNotFound;
    EXPECT_EQ(records(f), 0);
    EXPECT_EQ(errorCode(), err::RecordNotFound);
    r->answer = 0;
    next(f);
    EXPECT_EQ(errorCode(), 0);
    close(f);
    EXPECT_FALSE(f.isOpen());
}

TEST(Statements, FileSystemErrorsCarryTheSystemCode) {
    OpArgs a;
    a.systemError = 5;
    setErrorFrom(err::FileSystemError, a);
    EXPECT_EQ(errorCode(), 90);
    EXPECT_EQ(fileErrorCode(), 305);
    EXPECT_EQ(fileError(), "Access Denied");
    // A driver that forgot the system code still reports a known text.
    setErrorFrom(err::FileSystemError, OpArgs{});
    EXPECT_EQ(fileErrorCode(), 391);
    EXPECT_EQ(systemFailure(a, ENOSPC), 90);
    EXPECT_EQ(std::string(errorText(300 + a.systemError)), "Handle Disk Full");
    systemFailure(a, EROFS);
    EXPECT_EQ(std::string(errorText(300 + a.systemError)), "Write Protect");
    systemFailure(a, EACCES);
    EXPECT_EQ(300 + a.systemError, 305);
    // Every errno lands on a code that has a text.
    for (int e = 1; e < 200; ++e) {
        systemFailure(a, e);
        EXPECT_FALSE(errorText(300 + a.systemError).empty()) << e;
    }
    EXPECT_EQ(fileSystemCodeOf(ENOENT), 2);
    EXPECT_EQ(fileSystemCodeOf(EFBIG), 39);
    EXPECT_EQ(fileSystemCodeOf(EBUSY), 32);
    EXPECT_EQ(fileSystemCodeOf(EEXIST), 80);
    EXPECT_EQ(fileSystemCodeOf(12345), 91);
}

TEST(Transactions, LogoutCommitRollbackPerThread) {
    auto r = recorder();
    FileDecl a = declared("a"), b = declared("b"), refuses = declared("refuses"), fails = declared("fails90");
    commit();
    EXPECT_EQ(errorCode(), err::LogoutNotActive);
    rollback();
    EXPECT_EQ(errorCode(), err::LogoutNotActive);

    logout(3, {&a, &b});
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(r->last.seconds, 3);
    logout(3, {&a});
    EXPECT_EQ(errorCode(), err::LogoutAlreadyActive);

    // Another thread has a transaction of its own.
    int other = -1;
    std::thread([&] {
        commit();
        other = errorCode();
    }).join();
    EXPECT_EQ(other, err::LogoutNotActive);

    r->calls.clear();
    commit();
    EXPECT_EQ(errorCode(), 0);
    EXPECT_EQ(r->calls, (std::vector<int>{op::COMMIT, op::COMMIT}));
    commit();
    EXPECT_EQ(errorCode(), err::LogoutNotActive);

    // A file that cannot join rolls back the ones that did, and no transaction stays active.
    r->calls.clear();
    logout(1, {&a, &refuses, &b});
    EXPECT_EQ(errorCode(), err::UnableToLogTransaction);
    EXPECT_EQ(r->calls, (std::vector<int>{op::LOGOUT, op::LOGOUT, op::ROLLBACK}));
    commit();
    EXPECT_EQ(errorCode(), err::LogoutNotActive);

    // A failing commit still ends the transaction on every file and reports the first failure.
    logout(1, {&fails, &a});
    r->calls.clear();
    commit();
    EXPECT_EQ(errorCode(), 90);
    EXPECT_EQ(fileErrorCode(), 339);
    EXPECT_EQ(r->calls, (std::vector<int>{op::COMMIT, op::COMMIT}));
}

TEST(Declarations, ThreadedFilesHaveOneDeclarationPerThread) {
    FileDecl proto = declared("t");
    proto.attributes = fileattr::Thread;
    proto.memos.push_back(MemoDecl{"T:Notes", false, 100, "", false});
    ThreadedFile tf(std::move(proto));
    FileDecl& mine = tf.get();
    EXPECT_EQ(&mine, &tf.get());
    mine.record.set("F:A", Value(7));
    FileDecl* theirs = nullptr;
    std::int64_t seen = -1;
    std::thread([&] {
        theirs = &tf.get();
        seen = theirs->record.get("F:A").toLong();
    }).join();
    EXPECT_NE(theirs, &mine);
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(mine.memoValues.size(), 1u);
    EXPECT_EQ(mine.record.get("F:A").toLong(), 7);
    tf.release();
    EXPECT_EQ(tf.get().record.get("F:A").toLong(), 0);
}

TEST(Declarations, FileNameFallsBackToTheLabel) {
    FileDecl f = declared("Customer");
    EXPECT_EQ(f.fileName(), "Customer");
    f.name = "  CUSTOMER.QNL   ";
    EXPECT_EQ(f.fileName(), "CUSTOMER.QNL");
    f.name = std::string(60, ' ');
    EXPECT_EQ(f.fileName(), "Customer");
}

TEST(Drivers, UnsupportedOperationsAnswer80AndClosedFiles37) {
    for (const char* d : {"ASCII", "DOS"}) {
        FileDecl f = declared();
        f.driver = d;
        f.name = "/nonexistent-dir/x";
        OpArgs a;
        EXPECT_EQ(callDriver(op::NEXT, f, a), err::FileNotOpen) << d;
        EXPECT_EQ(callDriver(op::CLOSE, f, a), err::FileNotOpen) << d;
        EXPECT_EQ(callDriver(op::OPEN, f, a), err::FileNotFound) << d;
    }
}
