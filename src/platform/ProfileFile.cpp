#include "platform/ProfileFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

namespace platform {
namespace {

bool g_bFailBeforeRename = false;

// Every line keeps its own terminator, so the lines a write does not touch
// go back byte for byte, whatever line ends the file had.
using Lines = std::vector<std::string>;

Lines SplitLines(const std::string& text)
{
    Lines lines;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t eol = text.find('\n', start);
        const std::size_t end = eol == std::string::npos ? text.size() : eol + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string Join(const Lines& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line;
    return text;
}

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The line without its LF or CR LF, trimmed.
std::string_view Content(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return Trim(line);
}

bool SameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

// The name of a section header line "[name]"; nullopt for any other line.
std::optional<std::string_view> HeaderName(std::string_view line)
{
    const std::string_view s = Content(line);
    if (s.size() < 2 || s.front() != '[' || s.back() != ']')
        return std::nullopt;
    return Trim(s.substr(1, s.size() - 2));
}

// The key of a key line; nullopt for comments and lines without '='.
std::optional<std::string_view> KeyName(std::string_view line)
{
    const std::string_view s = Content(line);
    const auto eq = s.find('=');
    if (s.empty() || s.front() == ';' || eq == std::string_view::npos)
        return std::nullopt;
    return Trim(s.substr(0, eq));
}

bool IsKey(std::string_view line, std::string_view key)
{
    const auto name = KeyName(line);
    return name && SameName(*name, key);
}

std::string ValueOf(std::string_view line)
{
    const std::string_view s = Content(line);
    return std::string(Trim(s.substr(s.find('=') + 1)).substr(0, kProfileValueMax));
}

// A section's lines [begin, end): its header and everything up to the next one.
struct Range
{
    std::size_t begin, end;
};

// Only the first section of a name counts, for reads and writes alike.
std::optional<Range> FindSection(const Lines& lines, std::string_view name)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto header = HeaderName(lines[i]);
        if (!header || !SameName(*header, name))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !HeaderName(lines[end]))
            ++end;
        return Range{i, end};
    }
    return std::nullopt;
}

// Removes every line of key in the section, duplicates too, so that no older
// line can shadow a rewritten one. Returns how many went.
std::size_t RemoveKeys(Lines& lines, Range r, std::string_view key)
{
    const auto first = lines.begin() + static_cast<std::ptrdiff_t>(r.begin + 1);
    const auto last = lines.begin() + static_cast<std::ptrdiff_t>(r.end);
    const auto kept = std::remove_if(first, last, [&](const std::string& l) { return IsKey(l, key); });
    const auto removed = static_cast<std::size_t>(last - kept);
    lines.erase(kept, last);
    return removed;
}

// A name that would not read back as itself could never be found again, and
// a line break in a value would turn its tail into a line of its own.
bool Storable(std::string_view section, std::string_view key, std::string_view value)
{
    const auto plain = [](std::string_view s) {
        return !s.empty() && Trim(s) == s && s.find_first_of("\r\n") == std::string_view::npos;
    };
    return plain(section) && plain(key) && key.front() != ';' && key.front() != '[' &&
           key.find('=') == std::string_view::npos && value.find_first_of("\r\n") == std::string_view::npos;
}

std::string KeyLine(std::string_view key, std::string_view value)
{
    return std::string(key) + "=" + std::string(value) + "\r\n";
}

// The last line of a file may lack its terminator; a line added after it
// must not run on from it.
void Terminate(std::string& line)
{
    if (line.back() != '\n')
        line += "\r\n";
}

// The whole file; empty when it does not exist, nullopt when it exists but
// cannot be read.
std::optional<std::string> Load(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? std::optional<std::string>("") : std::nullopt;
    std::string text;
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    if (n < 0)
        return std::nullopt;
    return text;
}

bool WriteAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Without this a power cut may forget the rename, though not the data.
void SyncDirectory(const std::string& path)
{
    const auto slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// A file about to be rewritten: its lines and how it stands on disk.
struct Target
{
    std::string path;
    bool bExists = false;
    struct stat st{};
    Lines lines;
};

// False when the file exists but may not or cannot be rewritten. A file that
// cannot be read is refused too: rewriting it would throw its content away.
bool Open(const std::string& path, Target& t)
{
    // Through a symbolic link the target is rewritten and the link stays.
    char* real = realpath(path.c_str(), nullptr);
    t.path = real ? real : path;
    std::free(real);
    // A rename needs only the directory's permission, and root passes
    // access() on anything: a read-only directory is meant to stay as it is.
    const auto slash = t.path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : t.path.substr(0, slash);
    struct stat dirStat{};
    if (stat(dir.c_str(), &dirStat) != 0 || (dirStat.st_mode & 0222) == 0 || access(dir.c_str(), W_OK | X_OK) != 0)
        return false;
    if (stat(t.path.c_str(), &t.st) != 0)
        return errno == ENOENT;
    t.bExists = true;
    // Root passes access() on anything; a file without a single write bit is
    // still meant to stay as it is.
    if (!S_ISREG(t.st.st_mode) || (t.st.st_mode & 0222) == 0 || access(t.path.c_str(), W_OK) != 0)
        return false;
    const auto text = Load(t.path);
    if (!text)
        return false;
    t.lines = SplitLines(*text);
    return true;
}

// Writes a sibling, flushes it and renames it over the file, so that readers
// and a crash at any moment see either the old file or the new one, whole.
bool Store(const Target& t)
{
    const std::string sibling = t.path + ".tmp~";
    // A sibling left behind by a crash would make the exclusive create fail
    // for good.
    unlink(sibling.c_str());
    // A new file gets its mode from the umask; a rewritten one keeps its
    // owner and mode.
    const int fd = open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool bOk = true;
    if (t.bExists) {
        if (fchown(fd, t.st.st_uid, t.st.st_gid) != 0) {
            // Only root may give a file away; anyone else keeps it as their own.
        }
        bOk = fchmod(fd, t.st.st_mode & 07777) == 0;
    }
    bOk = bOk && WriteAll(fd, Join(t.lines)) && fsync(fd) == 0;
    bOk = close(fd) == 0 && bOk;
    bOk = bOk && !g_bFailBeforeRename && rename(sibling.c_str(), t.path.c_str()) == 0;
    if (!bOk) {
        unlink(sibling.c_str());
        return false;
    }
    SyncDirectory(t.path);
    return true;
}

bool Write(const std::string& section, const std::string& key, const std::string& value,
           const std::string& path, bool bLast)
{
    Target t;
    if (!Storable(section, key, value) || !Open(path, t))
        return false;
    Lines& lines = t.lines;
    const auto range = FindSection(lines, section);
    if (!range) {
        if (!lines.empty())
            Terminate(lines.back());
        lines.push_back("[" + section + "]\r\n");
        lines.push_back(KeyLine(key, value));
        return Store(t);
    }
    std::size_t end = range->end;
    if (bLast) {
        end -= RemoveKeys(lines, *range, key);
    } else {
        for (std::size_t i = range->begin + 1; i < end; ++i) {
            if (IsKey(lines[i], key)) {
                lines[i] = KeyLine(key, value);
                return Store(t);
            }
        }
    }
    // After the last key line, not after comments or blank lines that follow it.
    std::size_t at = range->begin + 1;
    for (std::size_t i = at; i < end; ++i)
        if (KeyName(lines[i]))
            at = i + 1;
    Terminate(lines[at - 1]);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), KeyLine(key, value));
    return Store(t);
}

}  // namespace

std::string GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                             const std::string& path)
{
    const auto text = Load(path);
    if (!text)
        return def;
    const Lines lines = SplitLines(*text);
    const auto range = FindSection(lines, section);
    if (!range)
        return def;
    for (std::size_t i = range->begin + 1; i < range->end; ++i)
        if (IsKey(lines[i], key))
            return ValueOf(lines[i]);
    return def;
}

bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& path)
{
    return Write(section, key, value, path, false);
}

bool WriteProfileStringLast(const std::string& section, const std::string& key, const std::string& value,
                            const std::string& path)
{
    return Write(section, key, value, path, true);
}

bool DeleteProfileKey(const std::string& section, const std::string& key, const std::string& path)
{
    Target t;
    if (!Open(path, t))
        return false;
    // A missing file has no lines, so nothing is removed and nothing created.
    const auto range = FindSection(t.lines, section);
    return !range || RemoveKeys(t.lines, *range, key) == 0 || Store(t);
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text)
{
    Target t;
    if (!Open(path, t))
        return false;
    t.lines = {text};
    return Store(t);
}

namespace {

std::string Lower(std::string_view s)
{
    std::string lower(s);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

ProfileIndex::ProfileIndex(const std::string& text)
{
    std::string_view rest(text);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF")
        rest.remove_prefix(3);
    std::unordered_map<std::string, std::string>* current = nullptr;
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        const std::string_view line = rest.substr(0, eol == std::string_view::npos ? rest.size() : eol + 1);
        rest.remove_prefix(line.size());
        if (const auto header = HeaderName(line)) {
            // Only the first section of a name counts.
            const auto [it, bNew] = m_sections.try_emplace(Lower(*header));
            current = bNew ? &it->second : nullptr;
        } else if (const auto key = KeyName(line); key && current) {
            current->try_emplace(Lower(*key), ValueOf(line));
        }
    }
}

ProfileIndex ProfileIndex::FromFile(const std::string& path)
{
    const auto text = Load(path);
    return ProfileIndex(text ? *text : std::string());
}

bool ProfileIndex::HasSection(const std::string& section) const { return m_sections.count(Lower(section)) != 0; }

std::optional<std::string> ProfileIndex::Value(const std::string& section, const std::string& key) const
{
    const auto s = m_sections.find(Lower(section));
    if (s == m_sections.end())
        return std::nullopt;
    const auto k = s->second.find(Lower(key));
    if (k == s->second.end())
        return std::nullopt;
    return k->second;
}

void SetProfileFailBeforeRename(bool fail) { g_bFailBeforeRename = fail; }

}  // namespace platform
