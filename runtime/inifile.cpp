// INI files: parsing that keeps every line as it was, the per-file read cache, and the locked,
// atomic read-modify-write that every change goes through.
//
// Invariants. A file is only ever replaced whole, by renaming a fully written and synced temporary
// file of the same directory over it, so a reader sees either the old or the new content and never a
// torn one. Every change holds an exclusive flock() on "<file>.lock" from reading the old content to
// the rename, so two writers (threads or processes) serialise and neither loses the other's entry;
// the lock file is removed again by its holder. A file without write permission is never replaced.
// The cache trusts a parsed file only while device, inode, size, mtime and ctime are unchanged and
// the mtime lies clearly before the moment it was read: a rename always brings a new inode, and
// files changed within the timestamp granularity are simply read again.
#include "runtime/inifile.h"

#include "runtime/profile.h"
#include "runtime/value.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace sorv {

namespace {

// Settings files are small; anything larger is not one and is never parsed or rewritten.
constexpr std::size_t maxFileSize = 16u << 20;
// A file whose mtime is this close to the moment it was read may change again without a visible
// change of its timestamp (coarse file system clocks), so such a file is not served from the cache.
constexpr long long racyNanoseconds = 2'000'000'000LL;
// How long a writer waits for another writer's lock before it gives up.
constexpr auto lockTimeout = std::chrono::seconds(10);

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

// ---- Parsed content ------------------------------------------------------------------------------

enum class LineKind { Other, Section, Entry };

struct Line {
    std::string text; // without its line ending
    std::string eol;  // "\n", "\r\n", or "" for a last line without one
};

struct Classified {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section name or key, trimmed
    std::string_view value; // entry value, trimmed
};

Classified classify(std::string_view text, bool first) {
    if (first && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::string_view t = trim(text);
    Classified c;
    if (t.empty() || t.front() == ';' || t.front() == '#') return c;
    if (t.front() == '[') {
        auto close = t.find(']');
        if (close == std::string_view::npos) return c;
        std::string_view name = trim(t.substr(1, close - 1));
        if (name.empty()) return c;
        c.kind = LineKind::Section;
        c.name = name;
        return c;
    }
    auto eq = t.find('=');
    if (eq == std::string_view::npos) return c;
    std::string_view key = trim(t.substr(0, eq));
    if (key.empty()) return c;
    c.kind = LineKind::Entry;
    c.name = key;
    c.value = trim(t.substr(eq + 1));
    return c;
}

// The lines of one file and an index of the first value of every (section, key).
struct Document {
    std::vector<Line> lines;
    std::unordered_map<std::string, std::string> index; // lowered section + '\n' + lowered key

    static std::string indexKey(std::string_view section, std::string_view key) {
        std::string k = lowered(section);
        k += '\n';
        k += lowered(key);
        return k;
    }

    const std::string* find(std::string_view section, std::string_view key) const {
        auto it = index.find(indexKey(section, key));
        return it == index.end() ? nullptr : &it->second;
    }

    std::string text() const {
        std::string out;
        std::size_t n = 0;
        for (const Line& l : lines) n += l.text.size() + l.eol.size();
        out.reserve(n);
        for (const Line& l : lines) {
            out += l.text;
            out += l.eol;
        }
        return out;
    }

    void reindex() {
        index.clear();
        std::string section; // lowered name of the current section; none before the first
        bool inSection = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Classified c = classify(lines[i].text, i == 0);
            if (c.kind == LineKind::Section) {
                section = lowered(c.name);
                inSection = true;
            } else if (c.kind == LineKind::Entry && inSection) {
                std::string k = section;
                k += '\n';
                k += lowered(c.name);
                index.try_emplace(std::move(k), c.value);
            }
        }
    }

    static Document parse(std::string_view content) {
        Document d;
        std::size_t pos = 0;
        while (pos < content.size()) {
            auto nl = content.find('\n', pos);
            Line l;
            if (nl == std::string_view::npos) {
                l.text.assign(content.substr(pos));
                pos = content.size();
            } else {
                l.text.assign(content.substr(pos, nl - pos));
                l.eol = "\n";
                pos = nl + 1;
                if (!l.text.empty() && l.text.back() == '\r') {
                    l.text.pop_back();
                    l.eol = "\r\n";
                }
            }
            d.lines.push_back(std::move(l));
        }
        d.reindex();
        return d;
    }

    // The line ending new lines get: the file's own (that of its first ended line).
    std::string newline() const {
        for (const Line& l : lines)
            if (!l.eol.empty()) return l.eol;
        return "\n";
    }

    bool isSectionHeader(std::size_t i, std::string_view section) const {
        Classified c = classify(lines[i].text, i == 0);
        return c.kind == LineKind::Section && equalNoCase(c.name, section);
    }

    // Answers whether the content changed. The first entry of the key in a section of that name is
    // replaced; a new entry goes after the last entry of the first such section.
    bool set(std::string_view section, std::string_view key, std::string_view value) {
        const std::size_t none = lines.size();
        std::size_t firstSection = none, insertAfter = none;
        bool inTarget = false, inFirst = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Classified c = classify(lines[i].text, i == 0);
            if (c.kind == LineKind::Section) {
                inTarget = equalNoCase(c.name, section);
                inFirst = inTarget && firstSection == none;
                if (inFirst) firstSection = insertAfter = i;
            } else if (c.kind == LineKind::Entry && inTarget) {
                if (equalNoCase(c.name, key)) {
                    // The key keeps the spelling the file gives it; only the value changes.
                    std::string replaced = std::string(c.name) + "=" + std::string(value);
                    if (lines[i].text == replaced) return false;
                    lines[i].text = std::move(replaced);
                    return true;
                }
                if (inFirst) insertAfter = i;
            }
        }
        std::string nl = newline();
        std::string entry = std::string(key) + "=" + std::string(value);
        // A last line without a line break gets one when something is put after it.
        if (firstSection == none || insertAfter + 1 == lines.size())
            if (!lines.empty() && lines.back().eol.empty()) lines.back().eol = nl;
        if (firstSection != none) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter) + 1, Line{entry, nl});
            return true;
        }
        if (!lines.empty() && !trim(lines.back().text).empty()) lines.push_back(Line{"", nl});
        lines.push_back(Line{"[" + std::string(section) + "]", nl});
        lines.push_back(Line{entry, nl});
        return true;
    }

    // Deletes every entry of key in every section of that name.
    bool removeKey(std::string_view section, std::string_view key) {
        bool inTarget = false, changed = false;
        std::vector<Line> kept;
        kept.reserve(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            Classified c = classify(lines[i].text, i == 0);
            if (c.kind == LineKind::Section) inTarget = equalNoCase(c.name, section);
            if (c.kind == LineKind::Entry && inTarget && equalNoCase(c.name, key)) {
                changed = true;
                continue;
            }
            kept.push_back(std::move(lines[i]));
        }
        lines = std::move(kept);
        return changed;
    }

    // Deletes every section of that name: its header and its lines up to its last entry or unknown
    // line. Blank lines and comments just before the next header belong to that one and stay.
    bool removeSection(std::string_view section) {
        const std::string_view bom = "\xEF\xBB\xBF";
        const bool hadBom = !lines.empty() && lines[0].text.substr(0, 3) == bom;
        bool changed = false;
        std::vector<Line> kept;
        kept.reserve(lines.size());
        std::size_t i = 0;
        while (i < lines.size()) {
            if (!isSectionHeader(i, section)) {
                kept.push_back(std::move(lines[i++]));
                continue;
            }
            changed = true;
            std::size_t end = i + 1, lastBody = i;
            while (end < lines.size()) {
                Classified c = classify(lines[end].text, end == 0);
                if (c.kind == LineKind::Section) break;
                std::string_view t = trim(lines[end].text);
                bool filler = t.empty() || t.front() == ';' || t.front() == '#';
                if (!filler) lastBody = end;
                ++end;
            }
            i = lastBody + 1; // the filler after the last body line is kept
            // A section that ended the file takes the blank lines that set it apart with it.
            if (i == lines.size())
                while (!kept.empty() && trim(kept.back().text).empty()) kept.pop_back();
        }
        if (!changed) return false;
        // A byte order mark belongs to the file, not to the first line that carried it.
        if (hadBom && !kept.empty() && kept[0].text.substr(0, 3) != bom) kept[0].text.insert(0, bom);
        lines = std::move(kept);
        return true;
    }
};

// ---- Files ---------------------------------------------------------------------------------------

struct FileId {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtime = 0; // nanoseconds
    long long ctime = 0;
    bool operator==(const FileId&) const = default;
};

long long nanos(const timespec& t) {
    return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

FileId idOf(const struct stat& st) {
    return FileId{st.st_dev, st.st_ino, st.st_size, nanos(st.st_mtim), nanos(st.st_ctim)};
}

long long nowNanos() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return nanos(t);
}

enum class ReadStatus { Ok, Missing, Unreadable };

struct FileContent {
    ReadStatus status = ReadStatus::Missing;
    std::string bytes;
    FileId id;
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

// Reads a regular file whole. O_NONBLOCK keeps a FIFO or device at that path from hanging the read;
// anything but a regular file of sensible size counts as unreadable.
FileContent readFile(const std::string& path) {
    FileContent fc;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fc.status = (errno == ENOENT) ? ReadStatus::Missing : ReadStatus::Unreadable;
        return fc;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::size_t>(st.st_size) > maxFileSize) {
        ::close(fd);
        fc.status = ReadStatus::Unreadable;
        return fc;
    }
    fc.bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == fc.bytes.size()) {
            if (fc.bytes.size() > maxFileSize) break;
            fc.bytes.resize(fc.bytes.size() + 4096); // the file grew while we read it
        }
        ssize_t n = ::read(fd, fc.bytes.data() + got, fc.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            fc.status = ReadStatus::Unreadable;
            return fc;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    fc.bytes.resize(got);
    // The id must describe the bytes just read, so it is taken after the read, from the same fd.
    if (::fstat(fd, &st) != 0 || got > maxFileSize) {
        ::close(fd);
        fc.status = ReadStatus::Unreadable;
        return fc;
    }
    ::close(fd);
    fc.status = ReadStatus::Ok;
    fc.id = idOf(st);
    fc.mode = st.st_mode & 07777;
    fc.uid = st.st_uid;
    fc.gid = st.st_gid;
    return fc;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// A write through a symbolic link changes the file it points to, not the link.
std::string writeTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string r(real);
            std::free(real);
            return r;
        }
    }
    return path;
}

// The writers' lock: an exclusive flock() on "<file>.lock". The holder removes the lock file before
// it lets go, so none is left beside the file; whoever locked a file that was removed meanwhile
// (it opened the name before the removal) sees that the name no longer leads to its file and
// takes the lock again on the new one.
class FileLock {
public:
    explicit FileLock(const std::string& path) : path_(path + ".lock") {
        auto deadline = std::chrono::steady_clock::now() + lockTimeout;
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
            if (fd_ < 0) return;
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                struct stat held {
                }, named{};
                if (::fstat(fd_, &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
                    held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
                    locked_ = true;
                    return;
                }
                ::close(fd_); // the lock file went away under us: lock the new one
                continue;
            }
            const int e = errno;
            ::close(fd_);
            fd_ = -1;
            if (e != EWOULDBLOCK && e != EINTR) return;
            if (std::chrono::steady_clock::now() > deadline) return;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(5000));
        }
    }
    ~FileLock() {
        if (locked_) ::unlink(path_.c_str());
        if (fd_ >= 0) ::close(fd_); // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool locked() const { return locked_; }

private:
    std::string path_;
    int fd_ = -1;
    bool locked_ = false;
};

// Replaces path by content: a new file beside it, synced, then renamed over it.
bool replaceFile(const std::string& path, const std::string& content, const FileContent& old, FileId& newId) {
    static std::atomic<unsigned> counter{0};
    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmp = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = writeAll(fd, content);
    if (ok && old.status == ReadStatus::Ok) {
        // Only a privileged writer can keep another owner; the content is right either way.
        if (::fchown(fd, old.uid, old.gid) != 0) {
        }
        ok = ::fchmod(fd, old.mode) == 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Taken after the rename (which touches ctime); the writer's lock keeps anyone else from
    // replacing the file in between.
    struct stat st {};
    newId = ::stat(path.c_str(), &st) == 0 ? idOf(st) : FileId{};
    // The rename itself must survive a crash too.
    int dfd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

// ---- The cache -----------------------------------------------------------------------------------

struct CacheEntry {
    FileId id;
    long long readAt = 0;
    std::shared_ptr<const Document> doc;
};

constexpr std::size_t maxCachedFiles = 32;

std::mutex cacheMutex;
std::unordered_map<std::string, CacheEntry>& cache() {
    static std::unordered_map<std::string, CacheEntry> c;
    return c;
}

void remember(const std::string& path, const FileId& id, long long readAt,
              std::shared_ptr<const Document> doc) {
    std::lock_guard<std::mutex> guard(cacheMutex);
    auto& c = cache();
    if (c.size() >= maxCachedFiles && c.find(path) == c.end()) c.clear();
    c[path] = CacheEntry{id, readAt, std::move(doc)};
}

void forget(const std::string& path) {
    std::lock_guard<std::mutex> guard(cacheMutex);
    cache().erase(path);
}

// The parsed content of path as it is now (an empty document for a missing or unreadable file).
std::shared_ptr<const Document> current(const std::string& path) {
    static const auto empty = std::make_shared<const Document>();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        forget(path);
        return empty;
    }
    {
        std::lock_guard<std::mutex> guard(cacheMutex);
        auto it = cache().find(path);
        if (it != cache().end() && it->second.id == idOf(st) &&
            it->second.id.mtime + racyNanoseconds < it->second.readAt &&
            it->second.id.ctime + racyNanoseconds < it->second.readAt)
            return it->second.doc;
    }
    long long readAt = nowNanos();
    FileContent fc = readFile(path);
    if (fc.status != ReadStatus::Ok) {
        forget(path);
        return empty;
    }
    auto doc = std::make_shared<const Document>(Document::parse(fc.bytes));
    remember(path, fc.id, readAt, doc);
    return doc;
}

bool storableSection(std::string_view s) {
    return !s.empty() && s.find_first_of(std::string_view("]\r\n\0", 4)) == std::string_view::npos;
}

bool storableKey(std::string_view k) {
    return !k.empty() && k.find_first_of(std::string_view("=\r\n\0", 4)) == std::string_view::npos &&
           k.front() != '[' && k.front() != ';' && k.front() != '#';
}

bool storableValue(std::string_view v) {
    return v.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::string_view cut(std::string_view s, std::size_t max) {
    return clipRight(clipRight(s).substr(0, max));
}

} // namespace

std::string getPrivateProfileString(std::string_view file, std::string_view section, std::string_view key,
                                    std::string_view def) {
    section = trim(section);
    key = trim(key);
    if (file.empty() || section.empty() || key.empty()) return std::string(def);
    auto doc = current(std::string(file));
    const std::string* v = doc->find(section, key);
    return v ? *v : std::string(def);
}

long getPrivateProfileInt(std::string_view file, std::string_view section, std::string_view key, long def) {
    std::string text = getPrivateProfileString(file, section, key, {});
    std::string_view t = trim(text);
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (t.empty() || t.front() < '0' || t.front() > '9') return def;
    // Accumulated as a negative number so that LONG_MIN itself fits.
    long n = 0;
    for (char c : t) {
        if (c < '0' || c > '9') break;
        int d = c - '0';
        if (n < (LONG_MIN + d) / 10) return negative ? LONG_MIN : LONG_MAX;
        n = n * 10 - d;
    }
    if (negative) return n;
    return n == LONG_MIN ? LONG_MAX : -n;
}

bool writePrivateProfileString(std::string_view file, std::string_view section,
                               std::optional<std::string_view> key, std::optional<std::string_view> value) {
    section = trim(section);
    if (key) key = trim(*key);
    if (file.empty() || !storableSection(section)) return false;
    if (key && !storableKey(*key)) return false;
    if (key && value && !storableValue(*value)) return false;

    std::string target = writeTarget(std::string(file));
    FileLock lock(target);
    if (!lock.locked()) return false;
    FileContent old = readFile(target);
    if (old.status == ReadStatus::Unreadable) return false; // never replace what we could not read
    Document doc = Document::parse(old.bytes);
    bool changed = !key     ? doc.removeSection(section)
                   : !value ? doc.removeKey(section, *key)
                            : doc.set(section, *key, *value);
    if (!changed) return true;
    // A file marked read-only stays as it is, even where the folder would let it be replaced.
    if (old.status == ReadStatus::Ok &&
        ((old.mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.c_str(), W_OK) != 0))
        return false;
    std::string content = doc.text();
    FileId id;
    if (!replaceFile(target, content, old, id)) return false;
    doc.reindex();
    remember(target, id, nowNanos(), std::make_shared<const Document>(std::move(doc)));
    if (target != file) forget(std::string(file));
    return true;
}

std::string iniUnstorable(std::string_view section, std::optional<std::string_view> key,
                          std::optional<std::string_view> value) {
    if (section.empty()) return "a section name cannot be empty";
    if (!storableSection(section)) return "a section name cannot hold \"]\" or a line break";
    if (key && key->empty()) return "a key cannot be empty";
    if (key && !storableKey(*key))
        return "a key cannot hold \"=\" or a line break, nor start with \"[\", \";\" or \"#\"";
    if (key && value && !storableValue(*value)) return "a value cannot hold a line break";
    return {};
}

std::string GETINI(std::string_view section, std::string_view key, std::string_view def,
                   std::string_view file) {
    section = cut(section, iniSectionMax);
    key = cut(key, iniKeyMax);
    def = cut(def, iniValueMax);
    file = cut(file, iniFileMax);
    std::string v =
        file.empty() ? getProfileString(section, key, def) : getPrivateProfileString(file, section, key, def);
    if (v.size() > iniValueMax) v.resize(iniValueMax);
    return v;
}

bool WRITEINI(std::string_view section, std::optional<std::string_view> key,
              std::optional<std::string_view> value, std::string_view file) {
    section = cut(section, iniSectionMax);
    if (key) key = cut(*key, iniKeyMax);
    if (value) value = cut(*value, iniValueMax);
    file = cut(file, iniFileMax);
    if (file.empty()) {
        if (!key) return deleteProfileSection(section);
        if (!value) return deleteProfileString(section, *key);
        return writeProfileString(section, *key, *value);
    }
    return writePrivateProfileString(file, section, key, value);
}

bool WRITEINI(std::string_view section, std::string_view key, std::int64_t value, std::string_view file) {
    std::string text = std::to_string(value);
    return WRITEINI(section, std::optional<std::string_view>(key), std::optional<std::string_view>(text),
                    file);
}

} // namespace sorv
