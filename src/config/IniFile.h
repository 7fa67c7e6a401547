#pragma once

#include <string>

// The one way to read and write profile files. Binds a path to a value
// buffer: ReadString leaves the value in it, WriteString writes it. Values
// carry line breaks and backslashes through an escape scheme: "\\" is a
// backslash, "\n" a line feed, "\r" a carriage return; any other backslash
// stands for itself. A file may be UTF-8 (with or without a byte-order mark)
// or Windows-1252; values read are UTF-8, values written go out as UTF-8.
class CIniFile
{
public:
    // bWholePath false: name is a bare file name in the program directory
    // (GLOBAL.INI, CONFIG.INI, language files). true: name is the full path.
    CIniFile(const std::string& name, bool bWholePath);

    // Reads the value (at most 1023 characters before decoding). A missing
    // file, section or key gives an empty value. Always true.
    bool ReadString(const std::string& section, const std::string& key);
    void SetValue(const std::string& text) { m_strValue = text; }
    // Deletes the key, then writes the encoded value as the last key of its
    // section. False, with the file unchanged, when the file cannot be
    // written or the encoded value is longer than 1023 characters.
    bool WriteString(const std::string& section, const std::string& key);

    const std::string& GetValue() const { return m_strValue; }
    const std::string& GetPath() const { return m_strPath; }

    static std::string Encode(const std::string& value);
    static std::string Decode(const std::string& raw);

    std::string m_strValue;

private:
    std::string m_strPath;
};

// The usual decimal conversion of a text: leading white space, an optional
// sign, digits up to the first other character; 0 without digits. Saturates
// instead of overflowing.
long ToNumber(const std::string& text);
