// The definitions file GLOBAL.INI and the settings file CONFIG.INI: the
// renumbering pass, the loader of the global parameter catalogue and of the
// line settings, and the catalogue getters of the unit record.
#include "config/Definitions.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramDir.h"
#include "unit/Unit.h"

namespace {

constexpr const char* kDefinitionsFile = "GLOBAL.INI";
constexpr const char* kSettingsFile = "CONFIG.INI";

constexpr int kLastSectionNumber = 99;

constexpr int kDefaultZoneParams = 10;
constexpr uint8_t kDefaultDataBits = 8;
constexpr int16_t kDefaultTimeout = 200;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The offset in text of the two digits of a definitions header line
// "[GLOBAL_PARAM_nn]" (the name in any letter case, blanks around it as the
// profile reader allows them), or npos for any other line. Other sections a
// site keeps (revision notes, comments) are neither counted nor changed.
std::size_t HeaderNumberOffset(std::string_view text, std::string_view line)
{
    constexpr std::string_view kPrefix = "GLOBAL_PARAM_";
    const auto name = platform::ProfileHeaderName(line);
    if (!name || name->size() != kPrefix.size() + 2 ||
        !platform::SameProfileName(name->substr(0, kPrefix.size()), kPrefix))
        return std::string::npos;
    if (!IsDigit((*name)[kPrefix.size()]) || !IsDigit((*name)[kPrefix.size() + 1]))
        return std::string::npos;
    return static_cast<std::size_t>(name->data() - text.data()) + kPrefix.size();
}

std::string ProfileValue(CIniFile& ini, const std::string& section, const std::string& key)
{
    ini.ReadString(section, key);
    return ini.GetValue();
}

void WriteNumber(CIniFile& ini, const std::string& section, const std::string& key, long value)
{
    ini.SetValue(std::to_string(value));
    ini.WriteString(section, key);
}

// A limit beyond 16 bits is taken as the nearest one that fits, never
// wrapped into a value of the other sign.
int16_t Limit(const std::string& text)
{
    return static_cast<int16_t>(std::clamp<long>(ToNumber(text), INT16_MIN, INT16_MAX));
}

uint8_t ParityCode(const std::string& text)
{
    if (text == "odd")
        return 1;
    if (text == "even")
        return 2;
    if (text == "mark")
        return 3;
    if (text == "space")
        return 4;
    return 0;
}

}  // namespace

int RenumberDefinitionsFile()
{
    // Only the two digits of a header are ever replaced, each with two
    // digits, so the file keeps its length, its encoding and every other
    // byte. A file without a write bit is refused even when nothing would
    // change, as every other writer refuses it.
    const bool bStored = platform::EditFile(platform::ProgramFile(kDefinitionsFile), [](std::string& text) {
        int k = 0;
        bool bChanged = false;
        for (const std::string_view line : platform::SplitProfileLines(text)) {
            if (k > kLastSectionNumber)
                break;
            const std::size_t digits = HeaderNumberOffset(text, line);
            if (digits == std::string::npos)
                continue;
            const int current = (text[digits] - '0') * 10 + (text[digits + 1] - '0');
            if (current != k) {
                text[digits] = static_cast<char>('0' + k / 10);
                text[digits + 1] = static_cast<char>('0' + k % 10);
                bChanged = true;
            }
            ++k;
        }
        return bChanged;
    });
    return bStored ? 0 : -1;
}

void CUnit::LoadDefinitions(bool bWriteSettings)
{
    // Some three hundred keys of one file: it is read and decoded once.
    const platform::ProfileIndex definitions =
        platform::ProfileIndex::FromFile(platform::ProgramFile(kDefinitionsFile));
    const auto value = [&definitions](const char* section, const char* key) {
        const std::optional<std::string> raw = definitions.Value(section, key);
        return raw ? CIniFile::Decode(*raw) : std::string();
    };
    std::vector<GlobalParamDef> params;
    // Of the 64 slots one always held the section that ends the list, so the
    // catalogue has at most 63 parameters; a longer file loads its first 63.
    for (int k = 0; k < kMaxGlobalParams; ++k) {
        char section[32];
        std::snprintf(section, sizeof section, "GLOBAL_PARAM_%02d", k);
        GlobalParamDef def;
        def.pDescriptionD = value(section, "Description_d");
        def.pDescriptionE = value(section, "Description_e");
        def.nMinVal = Limit(value(section, "MinVal"));
        def.nMaxVal = Limit(value(section, "MaxVal"));
        const std::string command = value(section, "Command");
        if (command.empty())
            break;
        def.pCommand = command + "=";
        def.nValue = -1;
        def.bPresent = false;
        params.push_back(std::move(def));
    }
    SetGlobalParams(std::move(params));

    CIniFile settings(kSettingsFile, false);

    // Only a value that reads as 0 (missing, empty, not a number) is replaced
    // in the file; an unusable number stays for the user to see and fix.
    const long zoneParams = ToNumber(ProfileValue(settings, "GENERAL", "AnzPar"));
    if (zoneParams == 0 && bWriteSettings)
        WriteNumber(settings, "GENERAL", "AnzPar", kDefaultZoneParams);
    m_nDefaultZoneParamCount =
        (zoneParams >= 1 && zoneParams <= kMaxZoneParams) ? static_cast<int32_t>(zoneParams) : kDefaultZoneParams;

    if (bWriteSettings) {
        if (ToNumber(ProfileValue(settings, "COM_PORT", "Port")) != m_nPort)
            WriteNumber(settings, "COM_PORT", "Port", m_nPort);
        if (m_nBaudrate != 0 && ToNumber(ProfileValue(settings, "COM_PORT", "Baudrate")) != m_nBaudrate)
            WriteNumber(settings, "COM_PORT", "Baudrate", m_nBaudrate);
    }

    m_nParity = ParityCode(ProfileValue(settings, "COM_PORT", "Parity"));

    const long dataBits = ToNumber(ProfileValue(settings, "COM_PORT", "DataBits"));
    m_nDataBits = (dataBits >= 5 && dataBits <= 8) ? static_cast<uint8_t>(dataBits) : kDefaultDataBits;

    // "1" is one stop bit (code 0); "1.5" converts to 1, the code for one and
    // a half; "2" is code 2. Any other number means one stop bit; it is
    // judged as read, since cut to 8 bits 257 would pass for 1.
    const std::string stopBits = ProfileValue(settings, "COM_PORT", "StopBits");
    const long stopCode = stopBits == "1" ? 0 : ToNumber(stopBits);
    m_nStopBits = (stopCode == 1 || stopCode == 2) ? static_cast<uint8_t>(stopCode) : 0;

    // Judged before the cut to 16 bits, where 65737 would pass for 201.
    const long timeout = ToNumber(ProfileValue(settings, "COM_PORT", "Timeout"));
    m_nTimeout = (timeout >= 1 && timeout <= INT16_MAX) ? static_cast<int16_t>(timeout) : kDefaultTimeout;

    // Only an explicit 0 turns the address check off: a missing or mistyped
    // value keeps the check, which refuses nothing an honest unit sends.
    const std::string checkAddress = ProfileValue(settings, "COM_PORT", "CheckAnswerAddress");
    m_bCheckAnswerAddress =
        !(checkAddress.find('0') != std::string::npos && checkAddress.find_first_not_of(" \t0") == std::string::npos);
}

void CUnit::SetGlobalParams(std::vector<GlobalParamDef> params)
{
    if (params.size() > static_cast<std::size_t>(kMaxGlobalParams))
        params.resize(kMaxGlobalParams);
    m_pGlobalParams = std::move(params);
    m_nGlobalParamCount = static_cast<int32_t>(m_pGlobalParams.size());
    m_bDefinitionsLoaded = true;
}

GlobalParamDef* CUnit::GetGlobalParamDef(int n)
{
    if (n < 1 || n > m_nGlobalParamCount)
        return nullptr;
    return &m_pGlobalParams[static_cast<std::size_t>(n - 1)];
}

const GlobalParamDef* CUnit::GetGlobalParamDef(int n) const
{
    if (n < 1 || n > m_nGlobalParamCount)
        return nullptr;
    return &m_pGlobalParams[static_cast<std::size_t>(n - 1)];
}

void CUnit::GetParamDescription(int n, std::string& text) const
{
    const GlobalParamDef* def = GetGlobalParamDef(n);
    if (!def)
        return;
    text = TheTextMemory().GetLanguageName() == "English" ? def->pDescriptionE : def->pDescriptionD;
}

int16_t CUnit::GetParamMin(int n) const
{
    const GlobalParamDef* def = GetGlobalParamDef(n);
    return def ? def->nMinVal : 0;
}

int16_t CUnit::GetParamMax(int n) const
{
    const GlobalParamDef* def = GetGlobalParamDef(n);
    return def ? def->nMaxVal : 0;
}
