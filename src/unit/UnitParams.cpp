// Parameter commands: single reads and writes, bulk rows, standard parameters.
#include <cstdio>

#include "unit/Unit.h"

namespace {

constexpr char kAck = 0x06;
constexpr char kNak = 0x15;

bool Contains(const std::string& s, char c) { return s.find(c) != std::string::npos; }

bool ParamInRange(int p) { return p >= 1 && p <= kMaxZoneParams; }

std::string ZoneRequest(bool bHex, int zone, const char* param)
{
    char text[32];
    std::snprintf(text, sizeof text, bHex ? "K%02XP%s=" : "K%02dP%s=", zone, param);
    return text;
}

std::string ParamText(bool bHex, int p)
{
    char text[8];
    std::snprintf(text, sizeof text, bHex ? "%02X" : "%02d", p);
    return text;
}

}  // namespace

std::string CUnit::FormatValue(int32_t value, bool bHex) const
{
    char text[24];
    const int digits = (m_nValueWidth == 4) ? 4 : 5;
    if (bHex)
        std::snprintf(text, sizeof text, "%0*X", digits, static_cast<uint32_t>(value));
    else
        std::snprintf(text, sizeof text, "%0*d", digits, value);
    return text;
}

int32_t CUnit::ReadValue(const std::string& request, bool bHex, int32_t& stored)
{
    if (!m_bPortOpen)
        return stored;
    const std::string answer = Transact(request, bHex, AnswerShape::Number());
    // A read-back that gets no answer must not replace a good value with -1:
    // it would be shown, saved and sent on. Only a refusal (NAK) means the
    // unit has no value.
    if (Contains(answer, kNak) && !CheckAnswer(answer)) {
        stored = -1;
        return stored;
    }
    if (!CheckAnswer(answer))
        return -1;
    stored = AnswerNumber(answer, bHex);
    return stored;
}

WriteResult CUnit::WriteValue(const std::string& request, bool bHex, int32_t value, int32_t& stored)
{
    if (!m_bPortOpen) {
        stored = value;
        return WriteResult::LinkClosed;
    }
    if (!Contains(Transact(request, bHex), kAck))
        return WriteResult::NotAcknowledged;
    stored = value;
    return WriteResult::Acknowledged;
}

int32_t CUnit::ReadZoneParam(int16_t zone, int16_t p)
{
    if (!ZoneInRange(zone) || !ParamInRange(p))
        return -1;
    if (!m_bPortOpen)
        return m_aZoneParam[p - 1][zone - 1];
    const bool hex = HexNumbering();
    return ReadValue(ZoneRequest(hex, zone, ParamText(hex, p).c_str()), hex, m_aZoneParam[p - 1][zone - 1]);
}

WriteResult CUnit::WriteZoneParam(int16_t zone, int16_t p, int32_t value)
{
    if (!ZoneInRange(zone) || !ParamInRange(p))
        return WriteResult::NotAcknowledged;
    if (!m_bPortOpen) {
        m_aZoneParam[p - 1][zone - 1] = value;
        return WriteResult::LinkClosed;
    }
    const bool hex = HexNumbering();
    const std::string request = ZoneRequest(hex, zone, ParamText(hex, p).c_str()) + FormatValue(value, hex);
    return WriteValue(request, hex, value, m_aZoneParam[p - 1][zone - 1]);
}

int32_t CUnit::ReadSetValue(int16_t zone)
{
    if (!ZoneInRange(zone))
        return -1;
    const bool hex = HexNumbering();
    return ReadValue(ZoneRequest(hex, zone, "00"), hex, m_aSetValue[zone - 1]);
}

WriteResult CUnit::WriteSetValue(int16_t zone, int32_t value)
{
    if (!ZoneInRange(zone))
        return WriteResult::NotAcknowledged;
    const bool hex = HexNumbering();
    return WriteValue(ZoneRequest(hex, zone, "00") + FormatValue(value, hex), hex, value, m_aSetValue[zone - 1]);
}

int32_t CUnit::ReadActualValue(int16_t zone)
{
    if (!ZoneInRange(zone))
        return -1;
    const bool hex = HexNumbering();
    return ReadValue(ZoneRequest(hex, zone, "II"), hex, m_aActualValue[zone - 1]);
}

int32_t CUnit::ReadGlobalParam(int16_t i)
{
    GlobalParamDef* def = GetGlobalParamDef(i);
    if (!def)
        return -1;
    return ReadValue(def->pCommand, false, def->nValue);
}

WriteResult CUnit::WriteGlobalParam(int16_t i, int32_t value)
{
    GlobalParamDef* def = GetGlobalParamDef(i);
    if (!def)
        return WriteResult::NotAcknowledged;
    if (!m_bPortOpen) {
        def->nValue = value;
        return WriteResult::LinkClosed;
    }
    if (def->nMinVal == def->nMaxVal || value < def->nMinVal || value > def->nMaxVal)
        return WriteResult::Refused;
    return WriteValue(def->pCommand + FormatValue(value, false), false, value, def->nValue);
}

bool CUnit::ReadGlobalParams()
{
    if (!m_bDefinitionsLoaded)
        return false;
    for (GlobalParamDef& def : m_pGlobalParams) {
        const std::string answer = Transact(def.pCommand, false, AnswerShape::Number());
        const int32_t value = AnswerNumber(answer, false);
        // -1 is a valid value where the limits allow negatives: the answer
        // itself tells whether the unit spoke.
        const bool usable = !answer.empty() && (Contains(answer, kAck) || Contains(answer, kNak) || CheckAnswer(answer));
        if (!usable) {
            def.bPresent = false;
            return false;
        }
        def.bPresent = true;
        def.nValue = value;
    }
    return true;
}

bool CUnit::ReadParamRow(int16_t row)
{
    if (m_nAddress == 0)
        return false;
    int32_t* destination;
    std::string request;
    if (row == -1) {
        destination = m_aActualValue;
        request = "KALPII=";
    } else if (row == 0) {
        destination = m_aSetValue;
        request = "KALP00=";
    } else if (ParamInRange(row)) {
        destination = m_aZoneParam[row - 1];
        char text[16];
        std::snprintf(text, sizeof text, "KALP%02d=", static_cast<int>(row));
        request = text;
    } else {
        return false;
    }
    // A row is judged by the zone count: without a usable one it is not
    // asked for.
    if (!RowShapeKnown())
        return false;
    return AnswerValueList(Transact(request, false, AnswerShape::Values(m_nZoneCount, m_nZoneCount)), destination);
}

bool CUnit::LoadStandardParams()
{
    if (!m_bPortOpen)
        return false;
    return Contains(Transact("XSTD=", false), kAck);
}
