#pragma once

#include <string>
#include <vector>

// The texts of the active language file, by number, with its language name
// and its date and time patterns. The file may be UTF-8 or Windows-1252; the
// store holds UTF-8.
class CTextMemory
{
public:
    virtual ~CTextMemory() = default;

    // Makes the named language file (a bare name in the program directory)
    // the active one. Replaces name, patterns and texts together, and only on
    // success; a negative LastIndex (-1 in particular) changes nothing and
    // returns false. Texts above 9999 are not loaded. A missing file, or one
    // without a GENERAL section, loads as empty name and patterns and one
    // empty text 0, and counts as success.
    bool Load(const std::string& fileName);
    // Text n; throws std::invalid_argument for a number outside the list.
    // The reference stays valid until the next successful Load.
    const std::string& GetText(int n) const;
    // Text n, or fallback when the loaded file has no such number or no key
    // for it; a key with an empty value gives the empty text.
    std::string GetTextOr(int n, const std::string& fallback) const;
    int GetTextCount() const { return static_cast<int>(m_texts.size()); }

    std::string GetLanguageName() const { return m_strLanguage; }
    std::string GetDatePattern() const { return m_strDatePattern; }
    std::string GetTimePattern() const { return m_strTimePattern; }
    // GENERAL/Locale: the language of the toolkit's own texts (buttons,
    // file and print dialogs), such as "de"; empty when the file names none.
    std::string GetLocale() const { return m_strLocale; }
    // The file name of the last successful Load.
    std::string GetFileName() const { return m_strFileName; }

private:
    std::string m_strLanguage;
    std::string m_strDatePattern;
    std::string m_strTimePattern;
    std::string m_strLocale;
    std::string m_strFileName;
    std::vector<std::string> m_texts;
    // Per text: whether the file had its key.
    std::vector<bool> m_bHasKey;
};

// The one text store of the program.
CTextMemory& TheTextMemory();
