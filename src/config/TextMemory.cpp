#include "config/TextMemory.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "config/IniFile.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramDir.h"

namespace {

constexpr long kMaxLastIndex = 9999;

// A language file has some eighty keys and is read at every change of
// language: it is parsed once, not once per key.
std::string Lookup(const platform::ProfileIndex& file, const char* section, const std::string& key)
{
    const std::optional<std::string> value = file.Value(section, key);
    return value ? CIniFile::Decode(*value) : std::string();
}

}  // namespace

bool CTextMemory::Load(const std::string& fileName)
{
    const platform::ProfileIndex file = platform::ProfileIndex::FromFile(platform::ProgramFile(fileName));

    std::vector<std::string> texts;
    std::vector<bool> hasKey;
    if (file.HasSection("GENERAL")) {
        const long lastIndex = ToNumber(Lookup(file, "GENERAL", "LastIndex"));
        // -1 marks a file that is not to be used; any negative number would
        // leave a store without even the program title.
        if (lastIndex < 0)
            return false;
        const long last = lastIndex > kMaxLastIndex ? kMaxLastIndex : lastIndex;
        texts.reserve(static_cast<std::size_t>(last) + 1);
        char key[16];
        for (long i = 0; i <= last; ++i) {
            std::snprintf(key, sizeof key, "%03ld", i);
            const std::optional<std::string> value = file.Value("TEXT", key);
            texts.push_back(value ? CIniFile::Decode(*value) : std::string());
            hasKey.push_back(value.has_value());
        }
    } else {
        // A missing file, or one without GENERAL, is no language file: the
        // store holds just an empty text 0.
        texts.emplace_back();
        hasKey.push_back(false);
    }

    m_strLanguage = Lookup(file, "GENERAL", "Language");
    m_strDatePattern = Lookup(file, "GENERAL", "FormatDate");
    m_strTimePattern = Lookup(file, "GENERAL", "FormatTime");
    m_strLocale = Lookup(file, "GENERAL", "Locale");
    m_strFileName = fileName;
    m_texts = std::move(texts);
    m_bHasKey = std::move(hasKey);
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
    if (n < 0 || n >= GetTextCount() || !m_bHasKey[static_cast<std::size_t>(n)])
        return fallback;
    return m_texts[static_cast<std::size_t>(n)];
}

CTextMemory& TheTextMemory()
{
    static CTextMemory store;
    return store;
}
