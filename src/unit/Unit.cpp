#include "unit/Unit.h"

#include <algorithm>

#include "unit/BusTrace.h"

CUnit::CUnit() = default;

CUnit::~CUnit()
{
    if (m_bPortOpen)
        ClosePort();
    m_Port.Close();
}

CUnit& TheUnit()
{
    static CUnit unit;
    return unit;
}

bool CUnit::OpenPort()
{
    m_bPortOpen = true;
    if (!m_Port.Open(m_nPort, m_nBaudrate, m_nParity, m_nDataBits, m_nStopBits, m_nTimeout))
        m_bPortOpen = false;
    // Every job opens the link at its start and closes it at its end.
    if (CBusTrace* trace = ActiveBusTrace())
        trace->BeginJob(DescribeLinkForTrace(m_Port, m_nBaudrate, m_bPortOpen));
    return m_bPortOpen;
}

void CUnit::ClosePort()
{
    m_bPortOpen = false;
    m_Port.Close();
    if (CBusTrace* trace = ActiveBusTrace())
        trace->Flush();
}

void CUnit::SetAddress(int16_t address)
{
    // The width belongs to the unit that answers: another address may be a
    // unit of the other width, so it is learned again from its first answer.
    if (address != m_nAddress)
        m_nValueWidth = 0;
    m_nAddress = address;
}

void CUnit::SetOffline(bool offline)
{
    m_bOffline = offline;
    m_nValueWidth = 0;
}

void CUnit::SetInterface(int16_t port, int32_t baudrate)
{
    m_nPort = port;
    m_bOffline = (port == 0);
    m_nBaudrate = baudrate;
}

void CUnit::ResetZoneCounts()
{
    m_nZoneParamCount = 0;
    m_nZoneCount = 0;
}

void CUnit::SetLineSettings(uint8_t parity, uint8_t dataBits, uint8_t stopBits, int16_t timeout)
{
    m_nParity = parity;
    m_nDataBits = dataBits;
    m_nStopBits = stopBits;
    m_nTimeout = timeout;
}

void CUnit::SetDefaultZoneParamCount(int32_t count)
{
    m_nDefaultZoneParamCount = std::clamp(count, 0, kMaxZoneParams);
}

// Recipe setters: a recipe may define the unit only while none is selected.

void CUnit::SetAZNumber(int16_t n)
{
    if (m_bOffline)
        m_nAZNumber = n;
}

void CUnit::SetType(const std::string& type)
{
    if (m_bOffline)
        m_strType = type;
}

void CUnit::SetEpromNumber(int32_t n)
{
    if (m_bOffline)
        m_nEpromNumber = n;
}

void CUnit::SetVersion(int32_t n)
{
    if (m_bOffline)
        m_nVersion = n;
}

void CUnit::SetRevDate(const std::string& date)
{
    if (m_bOffline)
        m_strRevDate = date;
}

void CUnit::SetZoneCount(int32_t n)
{
    if (m_bOffline)
        m_nZoneCount = std::clamp(n, 0, kMaxZones);
}

void CUnit::SetZoneParamCount(int32_t n)
{
    if (m_bOffline)
        m_nZoneParamCount = std::clamp(n, 0, kMaxZoneParams);
}

void CUnit::SetValueWidth(int16_t width)
{
    if (m_bOffline)
        m_nValueWidth = width;
}

void CUnit::SetActualValue(int16_t zone, int32_t value)
{
    if (m_bOffline && ZoneInRange(zone))
        m_aActualValue[zone - 1] = value;
}
