// The profile reader and writer: every reader gives the same answer for the
// same file, a write reads back, and a write done twice is done once.
#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "config/IniFile.h"
#include "platform/ProfileFile.h"

namespace {

std::string Trimmed(std::string s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Names match in any letter case.
std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// What the reader makes of the names found in a file's lines.
struct Names
{
    std::vector<std::string> sections, keys;
};

Names NamesOf(const std::string& text)
{
    Names names;
    for (const std::string_view line : platform::SplitProfileLines(text)) {
        if (const auto header = platform::ProfileHeaderName(line)) {
            names.sections.emplace_back(*header);
        } else if (const auto eq = line.find('='); eq != std::string_view::npos) {
            names.keys.push_back(Trimmed(std::string(line.substr(0, eq))));
        }
        // Each name is read with each other: a few suffice.
        if (names.sections.size() + names.keys.size() >= 8)
            break;
    }
    names.sections.push_back("S");
    names.keys.push_back("K");
    return names;
}

// Names as text: an 8-bit file's names read as UTF-8.
std::string AsText(const std::string& name)
{
    return platform::IsValidUtf8(name) ? name : platform::Windows1252ToUtf8(name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    if (size < 4)
        return 0;
    const std::string path = fuzz::File("p.ini");
    const uint8_t op = data[0], pickSection = data[1], pickKey = data[2];
    const std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
    fuzz::Write(path, text);

    const Names names = NamesOf(text);
    const platform::ProfileIndex index(text);
    for (const auto& section : names.sections) {
        for (const auto& key : names.keys) {
            const std::string s = AsText(section), k = AsText(key);
            const std::optional<std::string> indexed = index.Value(s, k);
            // Two defaults tell a missing key from any value a file may hold.
            const std::string viaKey = platform::GetProfileString(s, k, "a", path);
            FUZZ_CHECK(viaKey == indexed.value_or("a"));
            FUZZ_CHECK(platform::GetProfileString(s, k, "b", path) == indexed.value_or("b"));
            FUZZ_CHECK(viaKey.size() <= platform::kProfileValueMax);
            FUZZ_CHECK(platform::IsValidUtf8(viaKey));
            CIniFile ini(path, true);
            ini.ReadString(s, k);
            FUZZ_CHECK(ini.GetValue() == CIniFile::Decode(indexed.value_or("")));
        }
    }

    // One write of a value taken from the file's own bytes into one of its
    // sections and keys (or new ones).
    const std::string section = AsText(names.sections[pickSection % names.sections.size()]);
    const std::string key = AsText(names.keys[pickKey % names.keys.size()]);
    std::string value = platform::Windows1252ToUtf8(text.substr(0, std::min<std::size_t>(text.size(), op % 64)));
    value.erase(std::remove_if(value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n'; }),
                value.end());
    const auto apply = [&] {
        switch (op % 3) {
        case 0: return platform::WriteProfileString(section, key, value, path);
        case 1: return platform::WriteProfileStringLast(section, key, value, path);
        default: return platform::DeleteProfileKey(section, key, path);
        }
    };
    if (!apply())
        return 0;
    const std::string once = fuzz::Read(path);
    const platform::ProfileIndex after(once);
    if (op % 3 == 2)
        FUZZ_CHECK(!after.Value(section, key));
    else
        FUZZ_CHECK(after.Value(section, key) == Trimmed(value));
    // Every other key reads as before.
    for (const auto& s : names.sections)
        for (const auto& k : names.keys)
            if (Lower(AsText(s)) != Lower(section) || Lower(AsText(k)) != Lower(key))
                FUZZ_CHECK(after.Value(AsText(s), AsText(k)) == index.Value(AsText(s), AsText(k)));
    FUZZ_CHECK(apply());
    FUZZ_CHECK(fuzz::Read(path) == once);
    return 0;
}
