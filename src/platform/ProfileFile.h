#pragma once

#include <optional>
#include <string>
#include <unordered_map>

// Profile files (INI): section header lines "[name]" and key lines
// "key=value". These primitives are the behaviour the rest of the program
// relies on; CIniFile adds the escape scheme on top.
//
// - Section and key names match regardless of letter case.
// - A value is the text after the first '=' of its line, without leading and
//   trailing blanks and tabs, cut to 1023 characters.
// - Reading never creates anything.
// - Writing creates what is missing: the file, the section (appended at the
//   end) and the key (after the last key line of its section). Every other
//   line stays byte for byte as it was. Lines are written with CR LF.
// - A rewrite goes to a sibling file that is flushed and then renamed over the
//   old one, so a failed or interrupted write leaves the old file whole.
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

// A whole profile file read once, by the same rules as GetProfileString, for
// readers that take many keys of one file (recipes, language files). Values
// are raw: trimmed and cut to 1023 characters, not decoded. A UTF-8 byte
// order mark before the first line is no part of it.
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

// Replaces the whole file at path with text, atomically as every rewrite
// here: the old file stays whole when this returns false. Refuses a file
// (or directory) without write permission, even for root.
bool ReplaceFileAtomically(const std::string& path, const std::string& text);

// Test hook: when set, a rewrite stops after writing the sibling file and
// before renaming it, as a crash or full disk at that moment would.
void SetProfileFailBeforeRename(bool fail);

}  // namespace platform
