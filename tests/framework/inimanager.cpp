// The INI manager's window-position rules on a real INI file: what is written for normal,
// maximised, iconised and fixed-size windows, and what a restore makes of missing or damaged keys.
#include "framework/inimanager.h"

#include "runtime/inifile.h"
#include "windowing/desktop.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using sorv::fw::IniManager;
using sorv::fw::Placement;

namespace {

class FakeWindow : public sorv::fw::PlacedWindow {
public:
    bool iconized = false, maximized = false, resizable = true;
    Placement at{10, 20, 300, 200};
    int maximizeCalls = 0, placeCalls = 0;

    bool isIconized() const override { return iconized; }
    bool isMaximized() const override { return maximized; }
    bool isResizable() const override { return resizable; }
    Placement placement() const override { return at; }
    void maximize() override {
        ++maximizeCalls;
        maximized = true;
    }
    void place(std::optional<int> x, std::optional<int> y, std::optional<int> w,
               std::optional<int> h) override {
        ++placeCalls;
        if (x) at.x = *x;
        if (y) at.y = *y;
        if (w) at.width = *w;
        if (h) at.height = *h;
    }
};

class IniManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "sorvini-XXXXXX").string();
        dir = mkdtemp(tmpl.data());
        file = dir + "/sorvdemo.INI";
        ini.Init(file);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string get(const char* section, const char* key) {
        return sorv::getPrivateProfileString(file, section, key, "<none>");
    }
    std::string contents() {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir, file;
    IniManager ini;
};

std::vector<std::string> told;
int recordBox(const std::string& text, const std::string&, int, int, int) {
    told.push_back(text);
    return 1;
}

TEST_F(IniManagerTest, AReadOnlyFileIsKeptAndTheUserToldOnce) {
    FakeWindow w;
    ini.Update("Main", w);
    const std::string before = contents();
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    told.clear();
    sorv::win::setMessagePresenter(recordBox);
    w.at.x = 99;
    ini.Update("Main", w);
    ini.Update("Other", "Key", "value");
    EXPECT_EQ(contents(), before);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find(file), std::string::npos) << told[0];
    // Bound again (the next run), it tells again.
    ini.Init(file);
    ini.Update("Other", "Key", "value");
    EXPECT_EQ(told.size(), 2u);
    sorv::win::setMessagePresenter(nullptr);
    EXPECT_FALSE(std::filesystem::exists(file + ".lock"));
}

// (A normal window written and placed again is checked on the real program's frame,
// FrameReopensWhereItWasClosedAndMaximisedKeepsOnlyMaximize; here a place left of the screen.)
TEST_F(IniManagerTest, MaximisedWindowWritesOnlyMaximizeAndKeepsEarlierPosition) {
    FakeWindow w;
    w.at = {-30, 40, 500, 400};
    ini.Update("Notes", w);
    EXPECT_EQ(get("Notes", "Maximize"), "No");
    EXPECT_EQ(get("Notes", "XPos"), "-30");
    w.maximized = true;
    w.at = {0, 0, 1000, 900}; // what a maximised window reports must not reach the file
    ini.Update("Notes", w);
    EXPECT_EQ(get("Notes", "Maximize"), "Yes");
    EXPECT_EQ(get("Notes", "XPos"), "-30");
    EXPECT_EQ(get("Notes", "Width"), "500");

    FakeWindow back;
    ini.Fetch("Notes", back);
    EXPECT_EQ(back.maximizeCalls, 1);
    EXPECT_EQ(back.placeCalls, 0);

    // A fresh file written only while maximised holds nothing but "Maximize".
    ini.Update("Fresh", w);
    EXPECT_EQ(get("Fresh", "Maximize"), "Yes");
    for (const char* key : {"XPos", "YPos", "Height", "Width"}) EXPECT_EQ(get("Fresh", key), "<none>") << key;
}

TEST_F(IniManagerTest, FixedSizeWindowNeverWritesOrReadsItsSize) {
    FakeWindow w;
    w.resizable = false;
    w.at = {11, 12, 150, 90};
    ini.Update("Links", w);
    EXPECT_EQ(get("Links", "XPos"), "11");
    EXPECT_EQ(get("Links", "Height"), "<none>");
    EXPECT_EQ(get("Links", "Width"), "<none>");
    EXPECT_EQ(contents().find("Width"), std::string::npos);

    // Even with a size in the file (written by hand) a fixed-size window keeps its own.
    sorv::writePrivateProfileString(file, "Links", "Width", "999");
    FakeWindow back;
    back.resizable = false;
    back.at = {0, 0, 150, 90};
    ini.Fetch("Links", back);
    EXPECT_EQ(back.at, (Placement{11, 12, 150, 90}));
}

TEST_F(IniManagerTest, IconisedWindowSavesNothing) {
    FakeWindow w;
    ini.Update("Main", w);
    std::string before = contents();
    w.iconized = true;
    w.at = {1, 2, 3, 4};
    ini.Update("Main", w);
    EXPECT_EQ(contents(), before);
    w.maximized = true; // an iconised window that was maximised saves nothing either
    ini.Update("Other", w);
    EXPECT_EQ(get("Other", "Maximize"), "<none>");
}

TEST_F(IniManagerTest, RestoreWithMissingOrDamagedKeys) {
    FakeWindow w;
    ini.Fetch("Nothing", w); // no section: nothing restored
    EXPECT_EQ(w.placeCalls + w.maximizeCalls, 0);

    // Position keys without "Maximize" restore nothing.
    sorv::writePrivateProfileString(file, "NoFlag", "XPos", "77");
    ini.Fetch("NoFlag", w);
    EXPECT_EQ(w.placeCalls, 0);

    // Only the keys present and readable are applied; the others keep the window's own values.
    sorv::writePrivateProfileString(file, "Part", "Maximize", "No");
    sorv::writePrivateProfileString(file, "Part", "XPos", "77");
    sorv::writePrivateProfileString(file, "Part", "YPos", "12abc");
    sorv::writePrivateProfileString(file, "Part", "Width", "-40");
    sorv::writePrivateProfileString(file, "Part", "Height", "99999999999999");
    ini.Fetch("Part", w);
    EXPECT_EQ(w.at, (Placement{77, 20, 300, 200}));

    // A "Maximize" that is neither "Yes" nor "No" restores nothing; case does not matter.
    sorv::writePrivateProfileString(file, "Odd", "Maximize", "Perhaps");
    sorv::writePrivateProfileString(file, "Odd", "XPos", "1");
    FakeWindow odd;
    ini.Fetch("Odd", odd);
    EXPECT_EQ(odd.placeCalls + odd.maximizeCalls, 0);
    sorv::writePrivateProfileString(file, "Odd", "Maximize", "yes");
    ini.Fetch("Odd", odd);
    EXPECT_EQ(odd.maximizeCalls, 1);

    // A value that is the marker itself counts as missing.
    sorv::writePrivateProfileString(file, "Mark", "Maximize", "No");
    sorv::writePrivateProfileString(file, "Mark", "XPos", std::string(IniManager::Unknown));
    FakeWindow mark;
    ini.Fetch("Mark", mark);
    EXPECT_EQ(mark.placeCalls, 0);
}

TEST_F(IniManagerTest, SettingsAndUnboundManager) {
    ini.Update("SorvexPreferences", "Color1", "255");
    ini.Update("SorvexPreferences", "Count", std::int64_t{-12});
    EXPECT_EQ(ini.ReadSetting("SorvexPreferences", "Color1"), "255");
    EXPECT_EQ(ini.ReadSetting("SorvexPreferences", "Count"), "-12");
    EXPECT_EQ(ini.ReadSetting("SorvexPreferences", "Missing"), "");

    // A manager that was never bound reads defaults and writes nowhere (not the desktop profile).
    std::string profile = dir + "/desktop.ini";
    setenv("SORVDEMO_DESKTOP_PROFILE", profile.c_str(), 1);
    IniManager unbound;
    FakeWindow w;
    unbound.Update("Main", w);
    unbound.Update("S", "K", "V");
    unbound.Fetch("Main", w);
    EXPECT_EQ(unbound.ReadSetting("Main", "Maximize"), "");
    EXPECT_FALSE(std::filesystem::exists(profile));
    EXPECT_EQ(w.placeCalls, 0);
    unsetenv("SORVDEMO_DESKTOP_PROFILE");

    // Trailing blanks of the file name are dropped, as the language's strings carry them.
    IniManager padded;
    padded.Init(file + "   ");
    EXPECT_EQ(padded.ReadSetting("SorvexPreferences", "Color1"), "255");
}

} // namespace
