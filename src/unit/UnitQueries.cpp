// Identification queries: getters that ask the unit while the link is open.
#include <algorithm>

#include "unit/Unit.h"

namespace {

// The unit's own spellings of the one type the tool knows by name.
std::string NormalisedType(const std::string& type)
{
    if (type == "TORVA 3" || type == "TORVA3")
        return "TORVA08";
    return type;
}

}  // namespace

int16_t CUnit::QueryAZNumber()
{
    if (!m_bPortOpen)
        return m_nAZNumber;
    std::string answer = Transact("?AZ#=", false, AnswerShape::Number(INT16_MIN, INT16_MAX));
    if (answer.empty())
        return -1;
    m_nAZNumber = static_cast<int16_t>(AnswerNumber(answer, false));
    m_bOffline = false;
    return m_nAZNumber;
}

int32_t CUnit::QueryEpromNumber()
{
    if (!m_bPortOpen)
        return m_nEpromNumber;
    std::string answer = Transact("?SER=", false, AnswerShape::Number());
    if (answer.empty())
        return -1;
    m_nEpromNumber = AnswerNumber(answer, false);
    m_bOffline = false;
    return m_nEpromNumber;
}

int32_t CUnit::QueryVersion()
{
    if (!m_bPortOpen)
        return m_nVersion;
    std::string answer = Transact("?VER=", false, AnswerShape::Number());
    if (answer.empty())
        return -1;
    m_nVersion = AnswerNumber(answer, false);
    m_bOffline = false;
    return m_nVersion;
}

int32_t CUnit::QueryZoneCount()
{
    if (!m_bPortOpen)
        return m_nZoneCount;
    std::string answer = Transact("?KAN=", false, AnswerShape::Number(1, kMaxZones));
    if (answer.empty())
        return -1;
    const int32_t count = AnswerNumber(answer, false);
    // Transact took only a count of 1..kMaxZones; a NAK decodes as -1. A
    // damaged answer must never size the tables beyond their capacity.
    m_nZoneCount = std::clamp(count, 0, kMaxZones);
    m_bOffline = false;
    return count == -1 ? -1 : m_nZoneCount;
}

std::string CUnit::QueryType()
{
    if (m_bPortOpen) {
        m_strType = AnswerText(Transact("?TYP=", false, AnswerShape::Text()));
        m_bOffline = false;
    }
    m_strType = NormalisedType(m_strType);
    return m_strType;
}

std::string CUnit::QueryRevDate()
{
    if (m_bPortOpen) {
        m_strRevDate = AnswerText(Transact("?DAT=", false, AnswerShape::Text()));
        m_bOffline = false;
    }
    return m_strRevDate;
}

int32_t CUnit::QueryZoneParamCount()
{
    if (!m_bPortOpen)
        return m_nZoneParamCount;

    // Each count request the unit does not know gets silence, and the next
    // is tried; one it answers only brokenly leaves the count unknown: the
    // default would be a guess that loses or invents parameters.
    auto unknown = [this] { return m_eLastFailure != TransactFailure::None && m_eLastFailure != TransactFailure::NoAnswer; };
    int32_t count = m_nDefaultZoneParamCount;
    std::string answer = Transact("?PAN=", false, AnswerShape::Number(1, kMaxZoneParams + 1));
    if (CheckAnswer(answer)) {
        // The unit counts the set value P00 too.
        count = AnswerNumber(answer, false) - 1;
    } else if (unknown()) {
        return -1;
    } else if (m_nValueWidth > 0 &&
               CheckAnswer(answer = Transact("PALMIN=", false, AnswerShape::Values(1, kMaxZoneParams + 1)))) {
        // One minimum per parameter, P00 included.
        count = static_cast<int32_t>((answer.size() - 7) / static_cast<std::size_t>(m_nValueWidth)) - 1;
    } else if (unknown()) {
        return -1;
    } else if (m_nValueWidth > 0 &&
               CheckAnswer(answer = Transact("K01MIN=", false, AnswerShape::Values(0, kMaxZoneParams)))) {
        count = static_cast<int32_t>((answer.size() - 7) / static_cast<std::size_t>(m_nValueWidth));
    } else if (unknown()) {
        return -1;
    }
    m_nZoneParamCount = std::clamp(count, 0, kMaxZoneParams);
    return m_nZoneParamCount;
}
