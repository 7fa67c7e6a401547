#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Profile files (INI): section header lines "[name]" and key lines
// "key=value". These primitives are the behaviour the rest of the program
// relies on; CIniFile adds the escape scheme on top.
//
// - Every reader and writer sees a file through one decoding step: a UTF-8
//   byte-order mark before the first line is no part of it (a rewrite keeps
//   it); CR LF, LF and a lone CR each end a line; a file that is not valid
//   UTF-8 is Windows-1252, decided once for the whole file, and reads as
//   UTF-8.
// - Section and key names match regardless of letter case.
// - A value is the text after the first '=' of its line, without leading and
//   trailing blanks and tabs, cut to 1023 characters.
// - Reading never creates anything.
// - Writing creates what is missing: the file, the section (appended at the
//   end) and the key (after the last key line of its section). Every other
//   line stays byte for byte as it was. Lines are written with CR LF, text as
//   UTF-8 without a mark. An 8-bit file keeps its encoding while what is
//   written is plain ASCII; a non-ASCII line written into it turns the whole
//   file into UTF-8, so that it never holds two encodings.
// - A file without a write bit is never written, not even by root.
// - A rewrite goes to a sibling file of a unique name that is flushed and
//   then renamed over the old one, so a failed or interrupted write leaves
//   the old file whole. Where the directory refuses a sibling but the file
//   itself is writable, a key write or delete rewrites the file in place
//   (written, truncated, flushed) instead. No file but the program's own
//   sibling is ever removed.
namespace platform {

constexpr std::size_t kProfileValueMax = 1023;

// The value of key in section, or def when the file, section or key is
// missing or unreadable.
std::string GetProfileString(const std::string& section, const std::string& key,
                             const std::string& def, const std::string& path);

// Sets key in section to value. False when the file cannot be written; then
// the file is unchanged.
bool WriteProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path);

// Sets key in section to value as the last key line of its section: every
// line of key there is removed and the new one appended, in one rewrite, so
// a failure never leaves the key deleted but not written. False when the
// file cannot be written; then the file is unchanged.
bool WriteProfileStringLast(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& path);

// Removes key from section. Succeeds when there is nothing to remove, also
// when the file does not exist (nothing is created then). False only when the
// file exists but cannot be rewritten.
bool DeleteProfileKey(const std::string& section, const std::string& key, const std::string& path);

// A whole profile file read once, by the same rules as GetProfileString (which
// is built on it), for readers that take many keys of one file (recipes,
// language files). Values are UTF-8, trimmed and cut to at most 1023 bytes
// (never inside a character); their escapes are not decoded.
class ProfileIndex
{
public:
    explicit ProfileIndex(const std::string& text);
    // A missing or unreadable file gives an empty index.
    static ProfileIndex FromFile(const std::string& path);

    bool HasSection(const std::string& section) const;
    // The raw value; nullopt when the section or key is missing.
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;

private:
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> m_sections;
};

// True when text is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
// Windows-1252 text as UTF-8. The five bytes the code page leaves undefined
// become the control characters of the same number, so nothing is lost.
std::string Windows1252ToUtf8(std::string_view text);

// The lines of a profile file's bytes as every reader here splits them: a
// byte-order mark before the first is skipped, CR LF, LF and a lone CR end a
// line. Each view is one line without its line end, pointing into text, so a
// caller that edits bytes in place knows where they are.
std::vector<std::string_view> SplitProfileLines(std::string_view text);
// The name of a section header line "[name]" (surrounding blanks removed),
// a view into line; nullopt for any other line.
std::optional<std::string_view> ProfileHeaderName(std::string_view line);
// Whether two section or key names are the same, as every reader compares
// them: without regard to letter case.
bool SameProfileName(std::string_view a, std::string_view b);

// Replaces the whole file at path with text, atomically only: the old file
// stays whole when this returns false. A whole file (a recipe) is never
// rewritten in place, so a directory that refuses a sibling refuses this.
// Refuses a file without write permission, even for root. A byte-order mark
// the old file had is not kept: the text is the whole new file.
bool ReplaceFileAtomically(const std::string& path, const std::string& text);

// Reads the whole file at path, lets edit change its bytes in memory and,
// when edit returns true, stores them as a key write does: through a sibling,
// or in place where the directory refuses a sibling but the file is
// writable. False when the file is missing, is not a regular file, may not
// be written (no write bit, even for root) or cannot be read, or when the
// edited bytes cannot be stored; edit is not called in the first cases.
bool EditFile(const std::string& path, const std::function<bool(std::string& bytes)>& edit);

// Test hook: when set, a rewrite stops after writing the sibling file and
// before renaming it, as a crash or full disk at that moment would.
void SetProfileFailBeforeRename(bool fail);

}  // namespace platform
