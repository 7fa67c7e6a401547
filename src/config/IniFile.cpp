#include "config/IniFile.h"

#include <cstdlib>

#include "platform/ProfileFile.h"
#include "platform/ProgramDir.h"

CIniFile::CIniFile(const std::string& name, bool bWholePath)
    : m_strPath(bWholePath ? name : platform::ProgramFile(name))
{
}

bool CIniFile::ReadString(const std::string& section, const std::string& key)
{
    m_strValue = Decode(platform::GetProfileString(section, key, "", m_strPath));
    return true;
}

bool CIniFile::WriteString(const std::string& section, const std::string& key)
{
    // A longer value would be written whole but read back cut.
    const std::string encoded = Encode(m_strValue);
    if (encoded.size() > platform::kProfileValueMax)
        return false;
    // Delete and write anew in one rewrite: the key ends up last in its
    // section, and a failed write cannot leave it deleted.
    return platform::WriteProfileStringLast(section, key, encoded, m_strPath);
}

std::string CIniFile::Encode(const std::string& value)
{
    std::string encoded;
    encoded.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '\n': encoded += "\\n"; break;
        case '\r': encoded += "\\r"; break;
        case '\\': encoded += "\\\\"; break;
        default: encoded += c;
        }
    }
    return encoded;
}

std::string CIniFile::Decode(const std::string& raw)
{
    std::string value;
    value.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char next = i + 1 < raw.size() ? raw[i + 1] : '\0';
        if (raw[i] == '\\' && (next == '\\' || next == 'n' || next == 'r')) {
            value += next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
            ++i;
        } else {
            // Any other backslash, a last one too, stands for itself.
            value += raw[i];
        }
    }
    return value;
}

long ToNumber(const std::string& text)
{
    // strtol is exactly that conversion, and saturates at LONG_MIN/LONG_MAX.
    return std::strtol(text.c_str(), nullptr, 10);
}
