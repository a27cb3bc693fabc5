// The error manager: table, blocks, placeholders, levels and their boxes and answers, the halt.
#include "framework/errormanager.h"
#include "tests/windowing/harness.h"

#include "runtime/errors.h"
#include "runtime/halt.h"
#include "windowing/desktop.h"

#include <gtest/gtest.h>

using namespace sorv;
using namespace sorv::fw;

namespace {

// Records the boxes instead of showing them and answers with a chosen button.
class RecordingErrors : public ErrorManager {
public:
    struct Box {
        std::string text, title;
        int icon, buttons, defaultButton;
    };
    std::vector<Box> boxes;
    int answer = win::button::Ok;
    int halts = 0;
    std::string haltText;

protected:
    int ShowBox(const std::string& text, const std::string& title, int icon, int buttons, int def) override {
        boxes.push_back({text, title, icon, buttons, def});
        return answer;
    }
    void Halt(const std::string& text) override {
        ++halts;
        haltText = text;
    }
};

class BoxOnly : public ErrorManager {
protected:
    int ShowBox(const std::string&, const std::string&, int, int, int) override { return win::button::Ok; }
};

} // namespace

TEST(ErrorManager, BuiltinTableAsPrinted) {
    RecordingErrors em;
    em.Init();
    ASSERT_EQ(em.ERRORS.size(), 39u); // 1-40 without 29
    EXPECT_EQ(em.ERRORS.front().ID, 1);
    EXPECT_EQ(em.ERRORS.back().ID, 40);
    for (const auto& e : em.ERRORS) EXPECT_NE(e.ID, 29);
    auto entry = [&](int id) {
        for (const auto& e : em.ERRORS)
            if (e.ID == id) return e;
        return MessageEntry{};
    };
    EXPECT_EQ(entry(1).MESSAGE, "Error: (%ErrorText) attempting to access a record from the %File file.  "
                                "Returning to previous window.");
    EXPECT_EQ(entry(7).MESSAGE,
              "This record was changed by another station. Those changes will now be displayed. "
              "Use the Ditto Button or Ctrl+' to recall your changes.");
    EXPECT_EQ(entry(15).MESSAGE, "The value of %Field must be in the list : %Message.");
    EXPECT_EQ(entry(19).MESSAGE, "%File File Load Error.  Error: %ErrorText.");
    EXPECT_EQ(entry(32).MESSAGE,
              "Attempts to automatically number this record have failed.  Error: %ErrorText. Try Again?");
    EXPECT_EQ(entry(35).TITLE, "Save Record");
    EXPECT_EQ(entry(39).FATALITY, LevelProgram);
    EXPECT_EQ(entry(23).FATALITY, LevelFatal);
    EXPECT_EQ(entry(3).FATALITY, LevelUser);
    EXPECT_EQ(entry(30).TITLE, "Referential Integrity Delete Error");
    // The block itself: count, then number, level, title and text with their lengths.
    const auto& block = builtinMessages();
    EXPECT_EQ(block[0], 39);
    EXPECT_EQ(block[1], 0);
    EXPECT_EQ(block[2], 1);
    EXPECT_EQ(block[3], 0);
    EXPECT_EQ(block[4], LevelNotify);
    EXPECT_EQ(block[5], std::string("Record Retrieval Error").size());
    em.Kill();
    EXPECT_TRUE(em.ERRORS.empty());
}

TEST(ErrorManager, BlocksAppendInOrderAndTruncatedBlocksKeepWhatCame) {
    RecordingErrors em;
    em.Init();
    auto block =
        makeMessageBlock({{100, "first", "T1", LevelNotify}, {101, std::string(300, 'x'), "T2", LevelNone}});
    EXPECT_TRUE(em.LoadMessages(block));
    ASSERT_EQ(em.ERRORS.size(), 41u);
    EXPECT_EQ(em.ERRORS[39].ID, 100);
    EXPECT_EQ(em.ERRORS[40].MESSAGE.size(), 255u) << "texts are at most 255 characters";
    block.resize(block.size() - 10);
    EXPECT_FALSE(em.LoadMessages(block));
    EXPECT_EQ(em.ERRORS.size(), 42u);
    EXPECT_FALSE(em.LoadMessages(std::vector<std::uint8_t>{5}));
    EXPECT_FALSE(em.LoadMessages(std::vector<std::uint8_t>{9, 0, 1}));
    EXPECT_TRUE(em.LoadMessages(std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(em.ERRORS.size(), 42u);
}

TEST(ErrorManager, FatalOpenFailureTextAndHalt) {
    RecordingErrors em;
    em.Init();
    em.SetFileName("Customer   ");
    setError(err::FileNotFound);
    EXPECT_EQ(em.Raise(23), LevelFatal);
    ASSERT_EQ(em.boxes.size(), 1u);
    EXPECT_EQ(
        em.boxes[0].text,
        "File (Customer) could not be opened.  Error: File Not Found (2).  Press OK to end this application");
    EXPECT_EQ(em.boxes[0].title, "File Access Error");
    EXPECT_EQ(em.boxes[0].icon, win::icon::Exclamation);
    EXPECT_EQ(em.boxes[0].buttons, win::button::Ok);
    EXPECT_EQ(em.halts, 1);
    EXPECT_EQ(em.haltText, "File Access Error");

    // A file system error shows the system's own text and code in its place.
    setFileError(2);
    em.Raise(23);
    EXPECT_EQ(em.boxes[1].text, "File (Customer) could not be opened.  Error: " + fileError() + " (" +
                                    std::to_string(fileErrorCode()) + ").  Press OK to end this application");
    EXPECT_EQ(em.SAVEERRORCODE, 90);
    EXPECT_EQ(em.SAVEFILEERRORCODE, "302");
    clearError();
}

TEST(ErrorManager, PlaceholdersAreReplacedWholeAndValuesAreNotReread) {
    RecordingErrors em;
    em.Init();
    em.LoadMessages(makeMessageBlock(
        {{200,
          "[%FileErrorCode][%FileError][%ErrorCode][%Error][%ErrorText][%File][%Message][%Field][%Fieldx]",
          "All", LevelNotify}}));
    setFileError(5);
    em.SetFileName("People");
    em.SetFieldName("PPL:LastName");
    EXPECT_EQ(em.RaiseWithText(200, "%File stays"), LevelNotify);
    const std::string fe = fileError();
    EXPECT_EQ(em.boxes.back().text, "[305][" + fe + "][90][File System Error][" + fe +
                                        " (305)][People][%File stays][PPL:LastName][PPL:LastNamex]");
    // Nothing captured or set: empty texts.
    RecordingErrors fresh;
    fresh.Init();
    clearError();
    fresh.Raise(13);
    EXPECT_EQ(fresh.boxes.back().text, "Adding this record creates a duplicate entry for the key: ");
    // The names stay set after a message.
    em.Raise(2);
    EXPECT_EQ(em.boxes.back().text, "Could not get write access to People so trying read-only.");
    clearError();
}

TEST(ErrorManager, PreviousGivesTheOverriddenText) {
    RecordingErrors em;
    em.Init();
    em.LoadMessages(makeMessageBlock({{8, "Really? %Previous (%File)", "Changes", LevelUser}}));
    em.SetFileName("Customer");
    em.answer = win::button::Yes;
    EXPECT_EQ(em.Raise(8), LevelNone);
    EXPECT_EQ(em.boxes.back().text, "Really? Are you sure you want to cancel? (Customer)");
    EXPECT_EQ(em.boxes.back().title, "Changes");
    EXPECT_EQ(em.ERRORS[static_cast<std::size_t>(em.current())].MESSAGE, "Really? %Previous (%File)");
    // A third layer reaches back one step only; nothing to override removes the word.
    em.LoadMessages(
        makeMessageBlock({{8, "3rd: %Previous", "C3", LevelUser}, {300, "x%Previousy", "N", LevelNotify}}));
    em.Raise(8);
    EXPECT_EQ(em.boxes.back().text, "3rd: Really? %Previous (%File)");
    em.Raise(300);
    EXPECT_EQ(em.boxes.back().text, "xy");
}

TEST(ErrorManager, LevelsAnswerAndShowTheirBoxes) {
    RecordingErrors em;
    em.Init();
    em.answer = win::button::No;
    EXPECT_EQ(em.Raise(35), LevelCancel);
    EXPECT_EQ(em.boxes.back().icon, win::icon::Question);
    EXPECT_EQ(em.boxes.back().buttons, 6);
    EXPECT_EQ(em.boxes.back().defaultButton, win::button::Yes);
    em.answer = win::button::Yes;
    EXPECT_EQ(em.Raise(35), LevelNone);
    EXPECT_EQ(em.Raise(22), LevelNotify);
    EXPECT_EQ(em.boxes.back().icon, win::icon::Exclamation);
    EXPECT_EQ(em.boxes.back().buttons, win::button::Ok);
    std::size_t shown = em.boxes.size();
    EXPECT_EQ(em.Raise(29), LevelNotify) << "unknown numbers answer notify";
    EXPECT_EQ(em.boxes.size(), shown);
    EXPECT_EQ(em.current(), 21) << "and leave the current entry";

    em.LoadMessages(makeMessageBlock(
        {{400, "silent", "", LevelNone}, {401, "cancel-level", "C", LevelCancel}, {402, "odd", "O", 9}}));
    EXPECT_EQ(em.Raise(400), LevelNone);
    EXPECT_EQ(em.boxes.size(), shown);
    em.answer = win::button::No;
    EXPECT_EQ(em.Raise(401), LevelCancel);
    EXPECT_EQ(em.Raise(39), LevelFatal) << "program errors end like fatal ones";
    EXPECT_EQ(em.Raise(402), LevelFatal) << "so do unknown levels";
    EXPECT_EQ(em.halts, 2);
    EXPECT_EQ(em.boxes.back().text, "odd  Press OK to end this application");

    em.answer = win::button::Retry;
    EXPECT_EQ(em.Message(22, win::button::Retry + win::button::Cancel, win::button::Cancel),
              win::button::Retry);
    EXPECT_EQ(em.boxes.back().buttons, win::button::Retry + win::button::Cancel);
    EXPECT_EQ(em.boxes.back().icon, win::icon::Question);
    EXPECT_EQ(em.Message(999, win::button::Yes, win::button::Yes), 0);
}

TEST(ErrorManager, RealBoxesOnTheDesktop) {
    sorv::test::BoxAnswers answers({win::button::No, win::button::Yes, win::button::Ok});
    std::vector<Level> levels;
    sorv::test::runWithDesktop([&] {
        ErrorManager em;
        em.Init();
        levels.push_back(em.Raise(35));
        levels.push_back(em.Raise(9));
        levels.push_back(em.Raise(22));
        em.Kill();
    });
    EXPECT_EQ(levels, (std::vector<Level>{LevelCancel, LevelNone, LevelNotify}));
    auto shown = answers.shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].title, "Save Record");
    EXPECT_EQ(shown[0].text, "Do you want to save the changes to this record?");
    EXPECT_EQ(shown[0].buttons, (std::vector<int>{win::button::Yes, win::button::No}));
    EXPECT_EQ(shown[0].defaultButton, win::button::Yes);
    EXPECT_EQ(shown[2].icon, QMessageBox::Warning);
}

TEST(ErrorManagerDeathTest, FatalEndsTheProcessWithAFailureStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int closed = 0;
    EXPECT_EXIT(
        {
            addHaltHandler([&] {
                ++closed;
                std::fprintf(stderr, "files closed\n");
            });
            BoxOnly em;
            em.Init();
            em.SetFileName("Customer");
            setError(err::AccessDenied);
            em.Raise(10);
        },
        testing::ExitedWithCode(1), "File Creation Error\nfiles closed");
    EXPECT_EQ(closed, 0);
}
