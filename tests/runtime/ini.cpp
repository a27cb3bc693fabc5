// INI access on real files: line preservation, deletes, bad files, the cache against other writers,
// concurrent writers in several processes, the desktop profile, GETINI/WRITEINI limits, sorvtool ini.
#include "runtime/inifile.h"
#include "runtime/profile.h"

#include "sorvtool_run.h"
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utime.h>

using namespace sorv;
namespace fs = std::filesystem;

namespace {

class Ini : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/sorv-ini-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        file = dir + "/test.ini";
        ::setenv("SORVDEMO_DESKTOP_PROFILE", (dir + "/desk/top/desktop.ini").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("SORVDEMO_DESKTOP_PROFILE");
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string dir, file;
};

void put(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Puts a file's timestamps an hour back, so that the cache trusts what it reads from it.
void age(const std::string& path) {
    struct utimbuf t {};
    t.actime = t.modtime = ::time(nullptr) - 3600;
    ASSERT_EQ(::utime(path.c_str(), &t), 0);
}

} // namespace

TEST_F(Ini, MissingFileGivesDefaultsAndWriteCreatesIt) {
    EXPECT_EQ(getPrivateProfileString(file, "Main", "Key", "dflt"), "dflt");
    EXPECT_EQ(getPrivateProfileInt(file, "Main", "Key", -5), -5);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(writePrivateProfileString(file, "Main", "Key", "one"));
    EXPECT_TRUE(writePrivateProfileString(file, "Other", "X", "2"));
    EXPECT_TRUE(writePrivateProfileString(file, "MAIN", "second", "two"));
    EXPECT_EQ(slurp(file), "[Main]\nKey=one\nsecond=two\n\n[Other]\nX=2\n");
    EXPECT_EQ(getPrivateProfileString(file, "main", "KEY", ""), "one");
    EXPECT_EQ(getPrivateProfileString(file, " Main ", " key ", ""), "one");
    EXPECT_EQ(getPrivateProfileInt(file, "other", "x", 0), 2);
    // Replacing keeps the file's spelling of the key and every other entry.
    EXPECT_TRUE(writePrivateProfileString(file, "main", "KEY", "uno"));
    EXPECT_EQ(slurp(file), "[Main]\nKey=uno\nsecond=two\n\n[Other]\nX=2\n");
    // Deleting what is not there neither fails nor creates anything.
    std::string other = dir + "/none.ini";
    EXPECT_TRUE(writePrivateProfileString(other, "S", "K", std::nullopt));
    EXPECT_TRUE(writePrivateProfileString(other, "S", std::nullopt, std::nullopt));
    EXPECT_FALSE(fs::exists(other));
    // A missing directory is not created for a named file.
    EXPECT_FALSE(writePrivateProfileString(dir + "/no/such/dir.ini", "S", "K", "v"));
}

TEST_F(Ini, ForeignLinesLineEndingsAndByteOrderMarkSurviveEdits) {
    const std::string original = "\xEF\xBB\xBF; settings\r\n"
                                 "stray=before any section\r\n"
                                 "\r\n"
                                 "[Window]  ; trailing note\r\n"
                                 "  X = 10  \r\n"
                                 "# a hash comment\r\n"
                                 "garbage line without equals\r\n"
                                 "Y=20\r\n"
                                 "\r\n"
                                 "; belongs to Next\r\n"
                                 "[Next]\r\n"
                                 "a=1"; // no line break at the end
    put(file, original);
    EXPECT_EQ(getPrivateProfileString(file, "window", "x", ""), "10");
    EXPECT_EQ(getPrivateProfileString(file, "window", "y", ""), "20");
    EXPECT_EQ(getPrivateProfileString(file, "next", "A", ""), "1");
    EXPECT_EQ(getPrivateProfileString(file, "window", "garbage line without equals", "d"), "d");
    EXPECT_EQ(getPrivateProfileString(file, "", "stray", "d"), "d");

    ASSERT_TRUE(writePrivateProfileString(file, "WINDOW", "Z", "30"));
    std::string expected =
        "\xEF\xBB\xBF; settings\r\nstray=before any section\r\n\r\n[Window]  ; trailing note\r\n"
        "  X = 10  \r\n# a hash comment\r\ngarbage line without equals\r\nY=20\r\nZ=30\r\n"
        "\r\n; belongs to Next\r\n[Next]\r\na=1";
    EXPECT_EQ(slurp(file), expected);

    ASSERT_TRUE(writePrivateProfileString(file, "next", "b", "2"));
    expected += "\r\nb=2\r\n";
    EXPECT_EQ(slurp(file), expected);

    ASSERT_TRUE(writePrivateProfileString(file, "Window", std::nullopt, std::nullopt));
    EXPECT_EQ(slurp(file),
              "\xEF\xBB\xBF; settings\r\nstray=before any section\r\n\r\n\r\n; belongs to Next\r\n"
              "[Next]\r\na=1\r\nb=2\r\n");
    EXPECT_EQ(getPrivateProfileString(file, "Window", "X", "gone"), "gone");
    EXPECT_EQ(getPrivateProfileString(file, "Next", "a", ""), "1");

    // Deleting the first section keeps the byte order mark in front of what follows.
    put(file, "\xEF\xBB\xBF[A]\nk=1\n[B]\nk=2\n");
    ASSERT_TRUE(writePrivateProfileString(file, "a", std::nullopt, std::nullopt));
    EXPECT_EQ(slurp(file), "\xEF\xBB\xBF[B]\nk=2\n");
    EXPECT_EQ(getPrivateProfileString(file, "B", "k", ""), "2");
}

TEST_F(Ini, DuplicateSectionsAndKeysReadTheFirstAndDeleteAll) {
    put(file, "[S]\nk=first\nk=second\n[T]\nk=t\n[s]\nk=third\nj=9\n");
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "first");
    EXPECT_EQ(getPrivateProfileString(file, "S", "j", ""), "9"); // found in the second [s]
    ASSERT_TRUE(writePrivateProfileString(file, "S", "k", "new"));
    EXPECT_EQ(slurp(file), "[S]\nk=new\nk=second\n[T]\nk=t\n[s]\nk=third\nj=9\n");
    ASSERT_TRUE(writePrivateProfileString(file, "S", "K", std::nullopt));
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", "none"), "none");
    EXPECT_EQ(slurp(file), "[S]\n[T]\nk=t\n[s]\nj=9\n");
    ASSERT_TRUE(writePrivateProfileString(file, "s", std::nullopt, std::nullopt));
    EXPECT_EQ(slurp(file), "[T]\nk=t\n");
}

TEST_F(Ini, UnstorableNamesAndValuesAreRefusedWithoutTouchingTheFile) {
    put(file, "[S]\nk=1\n");
    for (auto [section, key, value] : {std::tuple{"S", "k", "two\nlines"},
                                       {"S", "k", "cr\rhere"},
                                       {"S", "a=b", "v"},
                                       {"S", "[x]", "v"},
                                       {"S", ";c", "v"},
                                       {"S", "", "v"},
                                       {"a]b", "k", "v"},
                                       {"", "k", "v"},
                                       {"x\ny", "k", "v"}})
        EXPECT_FALSE(writePrivateProfileString(file, section, key, value)) << section << "/" << key;
    EXPECT_FALSE(writePrivateProfileString(file, "S", "k", std::string_view("nul\0byte", 8)));
    EXPECT_FALSE(writePrivateProfileString("", "S", "k", "v"));
    EXPECT_EQ(slurp(file), "[S]\nk=1\n");
    // A value may hold "=", "[" and ";" freely.
    ASSERT_TRUE(writePrivateProfileString(file, "S", "k", "a=b;[c]"));
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "a=b;[c]");
}

TEST_F(Ini, NumbersReadByTheirLeadingDigits) {
    put(file,
        "[N]\na=42\nb= -7 \nc=12abc\nd=abc\ne=\nf=+3\ng=99999999999999999999999\nh=-99999999999999999999\n"
        "i=-9223372036854775808\nj=-\n");
    EXPECT_EQ(getPrivateProfileInt(file, "N", "a", 0), 42);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "b", 0), -7);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "c", 0), 12);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "d", 5), 5);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "e", 6), 6);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "f", 0), 3);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "g", 0), LONG_MAX);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "h", 0), LONG_MIN);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "i", 0), LONG_MIN);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "j", 8), 8);
    EXPECT_EQ(getPrivateProfileInt(file, "N", "missing", 9), 9);
}

TEST_F(Ini, BadFilesGiveDefaultsNeverHangAndAreNeverReplaced) {
    // Binary content: whatever it holds, reading does not crash, and a write keeps every byte.
    std::string binary;
    for (int i = 0; i < 5000; ++i) binary += static_cast<char>((i * 7919) & 0xff);
    binary += std::string("\0[S]\0\nk=\0v\n", 11);
    put(file, binary);
    EXPECT_EQ(getPrivateProfileString(file, "Nothing", "k", "d"), "d");
    ASSERT_TRUE(writePrivateProfileString(file, "Added", "k", "v"));
    std::string after = slurp(file);
    EXPECT_EQ(after.substr(0, binary.size()), binary);
    EXPECT_EQ(getPrivateProfileString(file, "Added", "k", ""), "v");

    // One enormous line, then a real section.
    put(file, std::string(6u << 20, 'x') + "\n[S]\nk=v\n");
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "v");

    // Too large to be a settings file: defaults, and a write leaves it alone.
    std::string big = dir + "/big.ini";
    put(big, "[S]\nk=v\n" + std::string((16u << 20) + 10, '\n'));
    EXPECT_EQ(getPrivateProfileString(big, "S", "k", "d"), "d");
    EXPECT_FALSE(writePrivateProfileString(big, "S", "k", "w"));
    EXPECT_EQ(fs::file_size(big), 8u + (16u << 20) + 10);

    // A directory and a FIFO at the path: defaults at once, no write.
    std::string sub = dir + "/sub.ini";
    fs::create_directory(sub);
    EXPECT_EQ(getPrivateProfileString(sub, "S", "k", "d"), "d");
    EXPECT_FALSE(writePrivateProfileString(sub, "S", "k", "v"));
    std::string fifo = dir + "/fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(getPrivateProfileString(fifo, "S", "k", "d"), "d");
    EXPECT_FALSE(writePrivateProfileString(fifo, "S", "k", "v"));
    EXPECT_EQ(getPrivateProfileString("/dev/zero", "S", "k", "d"), "d");
}

TEST_F(Ini, WritesKeepModeAndGoThroughSymbolicLinks) {
    put(file, "[S]\nk=1\n");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(writePrivateProfileString(file, "S", "k", "2"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    std::string link = dir + "/link.ini";
    fs::create_symlink(file, link);
    ASSERT_TRUE(writePrivateProfileString(link, "S", "j", "3"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(slurp(file), "[S]\nk=2\nj=3\n");
    EXPECT_EQ(getPrivateProfileString(link, "S", "j", ""), "3");
    // No temporary file and no lock file is left behind.
    for (const auto& e : fs::directory_iterator(dir)) {
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
        EXPECT_EQ(e.path().filename().string().find(".lock"), std::string::npos) << e.path();
    }
    // A file marked read-only is never replaced, even by someone the mode does not bind.
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_FALSE(writePrivateProfileString(file, "S", "k", "4"));
    EXPECT_EQ(slurp(file), "[S]\nk=2\nj=3\n");
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_FALSE(fs::exists(file + ".lock"));
}

TEST_F(Ini, CacheNeverServesStaleContent) {
    put(file, "[S]\nk=aaaa\n");
    age(file);
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "aaaa");
    // Changed in place with the same size by another program.
    {
        int fd = ::open(file.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::pwrite(fd, "bbbb", 4, 6), 4);
        ::close(fd);
    }
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "bbbb");
    // Replaced by another process.
    age(file);
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "bbbb");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(writePrivateProfileString(file, "S", "k", "cccc") ? 0 : 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "cccc");
    // Removed, and put back under the same name.
    fs::remove(file);
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", "gone"), "gone");
    put(file, "[S]\nk=dddd\n");
    EXPECT_EQ(getPrivateProfileString(file, "S", "k", ""), "dddd");
}

TEST_F(Ini, ConcurrentWritersInSeveralProcessesAndThreadsKeepEveryEntry) {
    constexpr int processes = 3, threads = 2, keys = 40;
    put(file, "; kept\n[Base]\nkeep=yes\n");
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            std::vector<std::thread> ts;
            for (int t = 0; t < threads; ++t)
                ts.emplace_back([&, t] {
                    for (int k = 0; k < keys; ++k) {
                        std::string section = "P" + std::to_string(p) + (k % 2 ? "odd" : "even");
                        std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
                        if (!writePrivateProfileString(file, section, key,
                                                       std::to_string(p * 100000 + t * 1000 + k)))
                            ok = false;
                    }
                });
            for (auto& th : ts) th.join();
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(getPrivateProfileString(file, "Base", "keep", ""), "yes");
    int missing = 0;
    for (int p = 0; p < processes; ++p)
        for (int t = 0; t < threads; ++t)
            for (int k = 0; k < keys; ++k) {
                std::string section = "P" + std::to_string(p) + (k % 2 ? "odd" : "even");
                std::string key = "T" + std::to_string(t) + "K" + std::to_string(k);
                if (getPrivateProfileInt(file, section, key, -1) != p * 100000 + t * 1000 + k) ++missing;
            }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(slurp(file).substr(0, 7), "; kept\n");
}

TEST_F(Ini, KilledWriterLeavesAWholeFileAndNoLock) {
    put(file, "[Base]\nkeep=yes\n");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        for (long i = 0;; ++i)
            writePrivateProfileString(file, "Loop", "k" + std::to_string(i % 500), std::to_string(i));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    std::string content = slurp(file);
    EXPECT_EQ(content.substr(0, 16), "[Base]\nkeep=yes\n");
    EXPECT_EQ(content.back(), '\n');
    // Every line is whole: a header, an entry with a number, or the blank separator.
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.empty() || line[0] == '[' || line.find('=') != std::string::npos) << line;
    // The dead writer's lock went with it.
    EXPECT_TRUE(writePrivateProfileString(file, "Base", "after", "1"));
    EXPECT_EQ(getPrivateProfileString(file, "Base", "keep", ""), "yes");
}

TEST_F(Ini, DesktopProfileIsFoundCreatedAndReadAsDefaultsWhenMissing) {
    std::string profile = dir + "/desk/top/desktop.ini";
    EXPECT_EQ(desktopProfilePath(), profile);
    EXPECT_EQ(getProfileString("intl", "sDate", "/"), "/");
    EXPECT_EQ(getProfileInt("intl", "iDate", 1), 1);
    ASSERT_TRUE(writeProfileString("intl", "iDate", "2"));
    EXPECT_EQ(slurp(profile), "[intl]\niDate=2\n");
    EXPECT_EQ(getProfileInt("INTL", "idate", 0), 2);
    ASSERT_TRUE(writeProfileString("BWVIEW", "Trace", "1"));
    ASSERT_TRUE(deleteProfileString("intl", "iDate"));
    EXPECT_EQ(getProfileInt("intl", "iDate", 7), 7);
    ASSERT_TRUE(deleteProfileSection("bwview"));
    EXPECT_EQ(slurp(profile), "[intl]\n");

    ::unsetenv("SORVDEMO_DESKTOP_PROFILE");
    const char* oldHome = std::getenv("HOME");
    std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", dir.c_str(), 1);
    EXPECT_EQ(desktopProfilePath(), dir + "/.config/sorvdemo/desktop.ini");
    ::setenv("SORVDEMO_DESKTOP_PROFILE", "", 1);
    EXPECT_EQ(desktopProfilePath(), dir + "/.config/sorvdemo/desktop.ini");
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(Ini, GetiniAndWriteiniClipAndCutTheirArguments) {
    std::string longA = std::string(63, 'S') + "tail one";
    std::string longB = std::string(63, 'S') + "other tail";
    ASSERT_TRUE(WRITEINI(longA, "Key", "v", file));
    EXPECT_EQ(GETINI(longB, "key", "", file), "v");
    EXPECT_EQ(getPrivateProfileString(file, std::string(63, 'S'), "Key", ""), "v");

    ASSERT_TRUE(WRITEINI("S", "trail", "value   ", file));
    EXPECT_NE(slurp(file).find("trail=value\n"), std::string::npos);
    EXPECT_EQ(GETINI("S", "missing", "dflt   ", file), "dflt");
    EXPECT_EQ(GETINI("S   ", "trail   ", "", file + "   "), "value");

    std::string huge(3000, 'v');
    ASSERT_TRUE(WRITEINI("S", "huge", huge, file));
    EXPECT_EQ(GETINI("S", "huge", "", file), std::string(1023, 'v'));
    put(dir + "/raw.ini", "[S]\nhuge=" + huge + "\n");
    EXPECT_EQ(GETINI("S", "huge", "", dir + "/raw.ini"), std::string(1023, 'v'));
    EXPECT_EQ(getPrivateProfileString(dir + "/raw.ini", "S", "huge", ""), huge);

    ASSERT_TRUE(WRITEINI("S", "n", std::int64_t{-1234}, file));
    EXPECT_EQ(GETINI("S", "n", "", file), "-1234");
    ASSERT_TRUE(WRITEINI("S", "trail", std::nullopt, file));
    EXPECT_EQ(GETINI("S", "trail", "none", file), "none");
    EXPECT_EQ(GETINI("S", "n", "", file), "-1234");
    ASSERT_TRUE(WRITEINI("S", std::nullopt, std::nullopt, file));
    EXPECT_EQ(GETINI("S", "n", "none", file), "none");

    // An empty file name is the desktop profile.
    ASSERT_TRUE(WRITEINI("intl", "sTime", ":"));
    EXPECT_EQ(getProfileString("intl", "sTime", ""), ":");
    EXPECT_EQ(GETINI("intl", "sTime", "", "   "), ":");
    ASSERT_TRUE(WRITEINI("intl", "sTime"));
    EXPECT_EQ(GETINI("intl", "sTime", "gone"), "gone");
}

#ifdef SORVTOOL_PATH
namespace {} // namespace

TEST_F(Ini, SorvtoolGetSetDeleteAndUsage) {
    ToolRun r = sorvtool({"ini", "set", file, "Sec", "Key", "  spaced value  "}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(getPrivateProfileString(file, "sec", "key", ""), "spaced value");
    r = sorvtool({"ini", "get", file, "SEC", "KEY"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "spaced value\n");
    r = sorvtool({"ini", "get", file, "Sec", "nothing", "the default"}, dir);
    EXPECT_EQ(r.out, "the default\n");
    // Without a default a missing key or file fails the run; an empty value is still a value.
    for (const auto& [args, status, out] :
         std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"ini", "get", file, "Sec", "nothing"}, 1, ""},
             {{"ini", "get", dir + "/none.ini", "Sec", "Key"}, 1, ""},
             {{"ini", "get", dir + "/none.ini", "Sec", "Key", ""}, 0, "\n"}}) {
        r = sorvtool(args, dir);
        EXPECT_EQ(r.status, status) << args[2] << " " << args[4];
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err.empty(), status == 0) << r.err;
    }
    ASSERT_EQ(sorvtool({"ini", "set", file, "Sec", "Empty", ""}, dir).status, 0);
    EXPECT_EQ(sorvtool({"ini", "get", file, "Sec", "Empty"}, dir).status, 0);
    // An entry the format cannot hold says why.
    r = sorvtool({"ini", "set", file, "Sec", "a=b", "V"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\"=\""), std::string::npos) << r.err;
    r = sorvtool({"ini", "set", file, "Sec", "Key", "two\nlines"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("line break"), std::string::npos) << r.err;
    ASSERT_EQ(sorvtool({"ini", "delete", file, "Sec", "Empty"}, dir).status, 0);
    ASSERT_EQ(sorvtool({"ini", "set", file, "Sec", "Other", "2"}, dir).status, 0);
    ASSERT_EQ(sorvtool({"ini", "delete", file, "Sec", "Key"}, dir).status, 0);
    EXPECT_EQ(slurp(file), "[Sec]\nOther=2\n");
    ASSERT_EQ(sorvtool({"ini", "delete", file, "Sec"}, dir).status, 0);
    EXPECT_EQ(slurp(file), "");

    // "" is the desktop profile of the environment the tool runs in.
    ASSERT_EQ(sorvtool({"ini", "set", "", "intl", "sDate", "."}, dir).status, 0);
    EXPECT_EQ(getProfileString("intl", "sDate", ""), ".");
    EXPECT_EQ(sorvtool({"ini", "get", "", "intl", "sDate"}, dir).out, ".\n");

    // A write that cannot be done is an error of its own, not a usage error.
    fs::create_directory(dir + "/adir");
    r = sorvtool({"ini", "set", dir + "/adir", "S", "K", "V"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());

    for (const auto& args :
         std::vector<std::vector<std::string>>{{"ini"},
                                               {"ini", "get", file, "S"},
                                               {"ini", "get", file, "S", "K", "D", "extra"},
                                               {"ini", "set", file, "S", "K"},
                                               {"ini", "delete", file},
                                               {"ini", "frobnicate", file},
                                               {"ini", "delete", file, "S", "K", "extra"}}) {
        r = sorvtool(args, dir);
        EXPECT_EQ(r.status, 2) << args.size();
        EXPECT_TRUE(r.out.empty());
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}
#endif
