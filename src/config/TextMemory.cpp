#include "config/TextMemory.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <unordered_map>

#include "config/IniFile.h"
#include "platform/ProgramDir.h"

namespace {

constexpr long kMaxLastIndex = 9999;
constexpr std::size_t kValueMax = 1023;

using KeyMap = std::unordered_map<std::string, std::string>;

// The two sections of a language file, with lower-case key names and raw
// (still escaped) values.
struct LanguageFile
{
    bool bHasGeneral = false;
    KeyMap general;
    KeyMap text;
};

std::string Lower(std::string s)
{
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }

std::string Trim(const std::string& s, std::size_t from, std::size_t to)
{
    while (from < to && IsBlank(s[from]))
        ++from;
    while (to > from && IsBlank(s[to - 1]))
        --to;
    return s.substr(from, to - from);
}

// A language file has some eighty keys and is read at every change of
// language, so it is parsed in one pass here instead of one profile lookup
// (and one file read) per key. The rules are those of the profile reader:
// names match regardless of letter case, the value is the text after the
// first '=' without surrounding blanks, cut to 1023 characters, and the first
// section and the first key of a name win.
LanguageFile ParseLanguageFile(const std::string& content)
{
    LanguageFile file;
    KeyMap* current = nullptr;
    bool bSeenGeneral = false;
    bool bSeenText = false;

    std::size_t pos = 0;
    // A byte order mark, as some editors put it at the start, is not part of
    // the first line.
    if (content.compare(0, 3, "\xEF\xBB\xBF") == 0)
        pos = 3;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string::npos)
            end = content.size();
        std::size_t lineEnd = end;
        if (lineEnd > pos && content[lineEnd - 1] == '\r')
            --lineEnd;
        std::size_t start = pos;
        pos = end + 1;

        while (start < lineEnd && IsBlank(content[start]))
            ++start;
        while (lineEnd > start && IsBlank(content[lineEnd - 1]))
            --lineEnd;
        if (start >= lineEnd)
            continue;

        if (lineEnd - start >= 2 && content[start] == '[' && content[lineEnd - 1] == ']') {
            const std::string name = Lower(Trim(content, start + 1, lineEnd - 1));
            current = nullptr;
            if (name == "general" && !bSeenGeneral) {
                bSeenGeneral = true;
                file.bHasGeneral = true;
                current = &file.general;
            } else if (name == "text" && !bSeenText) {
                bSeenText = true;
                current = &file.text;
            }
            continue;
        }
        if (!current)
            continue;
        const std::size_t eq = static_cast<std::size_t>(
            std::find(content.begin() + static_cast<std::ptrdiff_t>(start),
                      content.begin() + static_cast<std::ptrdiff_t>(lineEnd), '=') -
            content.begin());
        if (eq == lineEnd)
            continue;
        std::string value = Trim(content, eq + 1, lineEnd);
        if (value.size() > kValueMax)
            value.resize(kValueMax);
        current->emplace(Lower(Trim(content, start, eq)), std::move(value));
    }
    return file;
}

std::string Lookup(const KeyMap& keys, const std::string& lowerKey)
{
    const auto it = keys.find(lowerKey);
    return it == keys.end() ? std::string() : CIniFile::Decode(it->second);
}

std::string ReadFileContent(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return std::string();
    const std::streamoff size = in.tellg();
    if (size <= 0)
        return std::string();
    std::string content(static_cast<std::size_t>(size), '\0');
    in.seekg(0);
    if (!in.read(content.data(), size))
        return std::string();
    return content;
}

}  // namespace

bool CTextMemory::Load(const std::string& fileName)
{
    const LanguageFile file = ParseLanguageFile(ReadFileContent(platform::ProgramFile(fileName)));

    std::vector<std::string> texts;
    if (file.bHasGeneral) {
        const long lastIndex = ToNumber(Lookup(file.general, "lastindex"));
        // -1 marks a file that is not to be used; any negative number would
        // leave a store without even the program title.
        if (lastIndex < 0)
            return false;
        const long last = lastIndex > kMaxLastIndex ? kMaxLastIndex : lastIndex;
        texts.reserve(static_cast<std::size_t>(last) + 1);
        char key[16];
        for (long i = 0; i <= last; ++i) {
            std::snprintf(key, sizeof key, "%03ld", i);
            texts.push_back(Lookup(file.text, key));
        }
    } else {
        // A missing file, or one without GENERAL, is no language file: the
        // store holds just an empty text 0.
        texts.emplace_back();
    }

    m_strLanguage = Lookup(file.general, "language");
    m_strDatePattern = Lookup(file.general, "formatdate");
    m_strTimePattern = Lookup(file.general, "formattime");
    m_strFileName = fileName;
    m_texts = std::move(texts);
    return true;
}

const std::string& CTextMemory::GetText(int n) const
{
    if (n < 0 || n >= GetTextCount()) {
        std::string msg = "text " + std::to_string(n) + " is not in ";
        if (m_strFileName.empty())
            msg += "the text store: no language file is loaded";
        else
            msg += "the language file " + m_strFileName + ", which holds texts 0 to " +
                   std::to_string(GetTextCount() - 1);
        throw std::invalid_argument(msg);
    }
    return m_texts[static_cast<std::size_t>(n)];
}

std::string CTextMemory::GetTextOr(int n, const std::string& fallback) const
{
    if (n < 0 || n >= GetTextCount())
        return fallback;
    return m_texts[static_cast<std::size_t>(n)];
}

CTextMemory& TheTextMemory()
{
    static CTextMemory store;
    return store;
}
