// Loading the notes and quotes texts through the binary driver: the 32000-byte limit, a missing or
// locked file, short files, and the notes selection.
#include "app/textfile.h"

#include "data/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace sorv::app;

namespace {

class TextFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sorvtext-XXXXXX").string();
        dir = mkdtemp(tmpl.data());
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::string dir;
};

TEST_F(TextFileTest, LongFileShowsItsFirst32000Bytes) {
    std::string big;
    for (int i = 0; big.size() < 40000; ++i) big += "line " + std::to_string(i) + "\r\n";
    TextLoad t = loadTextFile(write("SorvDemo.TXT", big));
    EXPECT_EQ(t.message, "");
    ASSERT_EQ(t.text.size(), TextRecordSize);
    EXPECT_EQ(t.text, big.substr(0, TextRecordSize));

    std::string exact(TextRecordSize, 'x');
    exact.back() = '\n';
    t = loadTextFile(write("exact.TXT", exact));
    EXPECT_EQ(t.text, exact);
}

TEST_F(TextFileTest, ShortFileKeepsLineBreaksAndTrailingBlanks) {
    std::string small = "First line\r\nsecond\n\ttabbed   \n  ";
    TextLoad t = loadTextFile(write("q.TXT", small));
    EXPECT_EQ(t.message, "");
    EXPECT_EQ(t.text, small); // no padding from the 32000-byte record
}

TEST_F(TextFileTest, MissingFileGivesOpeningMessageAndEmptyText) {
    TextLoad t = loadTextFile(dir + "/SorveQts.TXT");
    EXPECT_EQ(t.text, "");
    EXPECT_EQ(t.message,
              "Problem opening Txt file: " + std::string(sorv::errorText(sorv::err::FileNotFound)) + " (" +
                  dir + "/SorveQts.TXT)");
}

TEST_F(TextFileTest, AFileThatMayNotBeWrittenIsRead) {
    // A read-only file, then a read-only folder around a writable file.
    std::string path = write("SorvDemo.TXT", "read me");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    if (::access(path.c_str(), W_OK) == 0) GTEST_SKIP() << "permissions do not bind here (root)";
    TextLoad t = loadTextFile(path);
    EXPECT_EQ(t.message, "");
    EXPECT_EQ(t.text, "read me");
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::permissions(dir,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    t = loadTextFile(path);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    EXPECT_EQ(t.message, "");
    EXPECT_EQ(t.text, "read me");
}

TEST_F(TextFileTest, FileLockedByAnotherWriterGivesOpeningMessage) {
    std::string path = write("SorvDemo.TXT", "text");
    // Another opener that denies everyone else keeps the window from opening the file.
    sorv::FileDecl other = makeTextFile(path);
    sorv::open(other, sorv::openmode::ReadWrite | sorv::openmode::DenyAll);
    ASSERT_EQ(sorv::errorCode(), 0);
    TextLoad t = loadTextFile(path);
    EXPECT_EQ(t.text, "");
    EXPECT_EQ(t.message.rfind("Problem opening Txt file: ", 0), 0u) << t.message;
    EXPECT_GT(t.message.size(), std::string("Problem opening Txt file: ").size());
    sorv::close(other);
    // Once it is closed again the window reads it, and closing after reading frees it for others.
    EXPECT_EQ(loadTextFile(path).text, "text");
    sorv::open(other, sorv::openmode::ReadWrite | sorv::openmode::DenyAll);
    EXPECT_EQ(sorv::errorCode(), 0);
    sorv::close(other);
}

TEST_F(TextFileTest, EmptyFileGivesReadingMessage) {
    TextLoad t = loadTextFile(write("empty.TXT", ""));
    EXPECT_EQ(t.text, "");
    EXPECT_EQ(t.message.rfind("Problem GETting Txt file: ", 0), 0u) << t.message;
    EXPECT_NE(t.message.find("empty.TXT"), std::string::npos) << t.message;
}

TEST(NotesSelection, FromTheMainToOrder) {
    std::string text = "Intro. order. The main thing is the order. More order. The main again.";
    TextSpan s = notesSelection(text);
    EXPECT_EQ(text.substr(s.start, s.end - s.start), "The main thing is the order.");

    // Without "The main" the selection starts at the start of the text.
    std::string noMain = "Click a header to change the order. Then more.";
    s = notesSelection(noMain);
    EXPECT_EQ(s.start, 0u);
    EXPECT_EQ(noMain.substr(0, s.end), "Click a header to change the order.");

    // Without "order." (after "The main") nothing is highlighted; the cursor stands at the start.
    s = notesSelection("order. comes before The main line");
    EXPECT_EQ(s.start, 20u);
    EXPECT_EQ(s.end, 20u);
    s = notesSelection("");
    EXPECT_EQ(s.start, 0u);
    EXPECT_EQ(s.end, 0u);
}

TEST(NotesSelection, ShippedNotesHighlightTheirPassage) {
    TextLoad t = loadTextFile(std::string(SORV_SOURCE_DIR) + "/app/texts/SorvDemo.TXT");
    ASSERT_EQ(t.message, "");
    TextSpan s = notesSelection(t.text);
    std::string passage = t.text.substr(s.start, s.end - s.start);
    EXPECT_EQ(passage.rfind("The main", 0), 0u);
    EXPECT_TRUE(passage.ends_with("order."));
    EXPECT_GT(passage.size(), 20u);
    EXPECT_LE(t.text.size(), TextRecordSize);
}

} // namespace
