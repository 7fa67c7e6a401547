#include "platform/ProfileFile.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/FileReplace.h"

namespace platform {
namespace {

bool g_bFailBeforeRename = false;

constexpr std::string_view kMark = "\xEF\xBB\xBF";

// Every line keeps its own terminator, so the lines a write does not touch
// go back byte for byte, whatever line ends the file had.
using Lines = std::vector<std::string>;

// The length of the line end at text[i], 0 when there is none.
std::size_t LineEndAt(std::string_view text, std::size_t i)
{
    if (text[i] == '\n')
        return 1;
    if (text[i] == '\r')
        return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    return 0;
}

// Calls f(line with its end, line without it) for every line of text.
template <typename F> void ForEachLine(std::string_view text, F f)
{
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t i = text.find_first_of("\r\n", start);
        if (i == std::string_view::npos) {
            f(text.substr(start), text.substr(start));
            return;
        }
        const std::size_t eol = LineEndAt(text, i);
        f(text.substr(start, i + eol - start), text.substr(start, i - start));
        start = i + eol;
    }
}

Lines SplitLines(std::string_view text)
{
    Lines lines;
    ForEachLine(text, [&](std::string_view whole, std::string_view) { lines.emplace_back(whole); });
    return lines;
}

std::string Join(const Lines& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += line;
    return text;
}

bool IsAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The one decoding step in front of every parser here: the mark split off,
// and the encoding decided once for the whole file.
struct Decoded
{
    std::string_view mark;  // the byte-order mark, or empty
    std::string_view body;  // everything after it, as stored
    bool b8Bit;             // body is not valid UTF-8: Windows-1252
};

Decoded DecodeStep(std::string_view bytes)
{
    std::string_view mark;
    if (bytes.substr(0, kMark.size()) == kMark) {
        mark = bytes.substr(0, kMark.size());
        bytes.remove_prefix(kMark.size());
    }
    return {mark, bytes, !IsValidUtf8(bytes)};
}

std::string_view Trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The line without its line end, trimmed.
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

// At most kProfileValueMax bytes of UTF-8, never ending inside a character.
std::string_view CutValue(std::string_view value)
{
    if (value.size() <= kProfileValueMax)
        return value;
    std::size_t n = kProfileValueMax;
    // Back off over continuation bytes to the start of the cut character.
    while (n > 0 && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80)
        --n;
    return value.substr(0, n);
}

std::string ValueOf(std::string_view line)
{
    const std::string_view s = Content(line);
    return std::string(CutValue(Trim(s.substr(s.find('=') + 1))));
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
    if (line.back() != '\n' && line.back() != '\r')
        line += "\r\n";
}

// A file about to be rewritten: its lines and how it stands on disk.
struct Target
{
    FileToReplace file;
    std::string mark;   // the byte-order mark the file began with, kept
    bool b8Bit = false; // the file is Windows-1252
    Lines lines;
};

// An 8-bit file about to receive non-ASCII text becomes UTF-8 as a whole:
// one file, one encoding.
void Admit(Target& t, std::string_view text)
{
    if (!t.b8Bit || IsAscii(text))
        return;
    for (auto& line : t.lines)
        line = Windows1252ToUtf8(line);
    t.b8Bit = false;
}

// False when the file exists but may not or cannot be rewritten, or does not
// exist and cannot be created. A file that cannot be read is refused too:
// rewriting it would throw its content away.
bool Open(const std::string& path, Target& t)
{
    if (!InspectFileToReplace(path, t.file))
        return false;
    if (!t.file.bExists)
        return true;
    const auto text = LoadWholeFile(t.file.path);
    if (!text)
        return false;
    const Decoded decoded = DecodeStep(*text);
    t.mark = decoded.mark;
    t.b8Bit = decoded.b8Bit;
    t.lines = SplitLines(decoded.body);
    return true;
}

bool Store(const Target& t, bool bInPlace = true)
{
    return ReplaceFileContents(t.file, t.mark + Join(t.lines), bInPlace, g_bFailBeforeRename);
}

bool Write(const std::string& section, const std::string& key, const std::string& value,
           const std::string& path, bool bLast)
{
    Target t;
    if (!Storable(section, key, value) || !Open(path, t))
        return false;
    Admit(t, section + key + value);
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

std::string Lower(std::string_view s)
{
    std::string lower(s);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The length of the well-formed UTF-8 character at s[i], 0 when there is none.
std::size_t Utf8CharAt(std::string_view s, std::size_t i)
{
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = b(i);
    if (c < 0x80)
        return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;  // overlong
        if (c == 0xED)
            hi = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;  // overlong
        if (c == 0xF4)
            hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi)
        return 0;
    for (std::size_t k = 2; k < n; ++k)
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
    return n;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// 0x80..0x9F of Windows-1252; 0 where the code page defines nothing.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t n = Utf8CharAt(text, i);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string Windows1252ToUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 4);
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80 && c <= 0x9F && kCp1252High[c - 0x80] != 0)
            AppendUtf8(out, kCp1252High[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

std::vector<std::string_view> SplitProfileLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    ForEachLine(DecodeStep(text).body, [&](std::string_view, std::string_view bare) { lines.push_back(bare); });
    return lines;
}

std::optional<std::string_view> ProfileHeaderName(std::string_view line) { return HeaderName(line); }

bool SameProfileName(std::string_view a, std::string_view b) { return SameName(a, b); }

std::string GetProfileString(const std::string& section, const std::string& key, const std::string& def,
                             const std::string& path)
{
    const auto text = LoadWholeFile(path);
    if (!text)
        return def;
    return ProfileIndex(*text).Value(section, key).value_or(def);
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
    Admit(t, section + key);
    // A missing file has no lines, so nothing is removed and nothing created.
    const auto range = FindSection(t.lines, section);
    return !range || RemoveKeys(t.lines, *range, key) == 0 || Store(t);
}

bool ReplaceFileAtomically(const std::string& path, const std::string& text)
{
    Target t;
    if (!Open(path, t))
        return false;
    t.mark.clear();
    t.lines = {text};
    return Store(t, false);
}

bool EditFile(const std::string& path, const std::function<bool(std::string& bytes)>& edit)
{
    Target t;
    if (!Open(path, t) || !t.file.bExists)
        return false;
    // Every line kept its own line end, so these are the file's bytes.
    std::string bytes = t.mark + Join(t.lines);
    if (!edit(bytes))
        return true;
    t.mark.clear();
    t.lines = {std::move(bytes)};
    return Store(t);
}

ProfileIndex::ProfileIndex(const std::string& text)
{
    const Decoded decoded = DecodeStep(text);
    std::string_view body = decoded.body;
    std::string converted;
    if (decoded.b8Bit) {
        converted = Windows1252ToUtf8(body);
        body = converted;
    }
    std::unordered_map<std::string, std::string>* current = nullptr;
    ForEachLine(body, [&](std::string_view line, std::string_view) {
        if (const auto header = HeaderName(line)) {
            // Only the first section of a name counts.
            const auto [it, bNew] = m_sections.try_emplace(Lower(*header));
            current = bNew ? &it->second : nullptr;
        } else if (const auto key = KeyName(line); key && current) {
            current->try_emplace(Lower(*key), ValueOf(line));
        }
    });
}

ProfileIndex ProfileIndex::FromFile(const std::string& path)
{
    const auto text = LoadWholeFile(path);
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
