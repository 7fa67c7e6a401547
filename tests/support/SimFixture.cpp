#include "SimFixture.h"

#include <stdexcept>

#include "unit/Unit.h"

SimLine::SimLine(int baud) : m_server(std::make_unique<unitsim::PtyServer>(m_bus)), m_baud(baud) {}

SimLine::~SimLine() { m_server->Stop(); }

void SimLine::Start()
{
    if (!m_server->Start(m_baud))
        throw std::runtime_error("cannot open a pseudo-terminal for the simulated bus");
}

void SimLine::Attach(CUnit& unit, int16_t timeoutMs)
{
    unit.GetComPort().SetDeviceOverride(Path());
    unit.SetInterface(1, 9600);
    unit.SetLineSettings(0, 8, 0, timeoutMs);
}

unitsim::SimUnitConfig MakeSimUnit(int address, int azNumber, int zones, int zoneParamCount, int width)
{
    unitsim::SimUnitConfig u;
    u.address = address;
    u.azNumber = azNumber;
    u.type = "MZR 12";
    u.eprom = 4711;
    u.version = 203;
    u.revDate = "12.03.21";
    u.zones = zones;
    u.zoneParamCount = zoneParamCount;
    u.valueWidth = width;
    return u;
}

unitsim::SimFault Fault(unitsim::FaultKind kind, const std::string& pattern, int times, int delayMs, int afterRequests)
{
    unitsim::SimFault fault;
    fault.kind = kind;
    fault.pattern = pattern;
    fault.times = times;
    fault.delayMs = delayMs;
    fault.afterRequests = afterRequests;
    return fault;
}
