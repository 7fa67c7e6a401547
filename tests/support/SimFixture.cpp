#include "SimFixture.h"

#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "unit/Unit.h"

SimLine::SimLine(int baud, unitsim::PtyServer::Delivery delivery)
    : m_server(std::make_unique<unitsim::PtyServer>(m_bus)), m_baud(baud), m_delivery(delivery)
{
}

SimLine::~SimLine() { m_server->Stop(); }

void SimLine::Start()
{
    if (!m_server->Start(m_baud, m_delivery))
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

DeviceHolder::DeviceHolder(const std::string& path)
{
    int ready[2], hold[2];
    if (pipe(ready) != 0)
        return;
    if (pipe(hold) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0) {
        close(ready[0]);
        close(hold[1]);
        const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        char c = fd >= 0 ? 'y' : 'n';
        if (write(ready[1], &c, 1) == 1)
            (void)read(hold[0], &c, 1);  // until the parent lets go
        _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    m_release = hold[1];
    char c = 'n';
    m_bHolds = m_pid > 0 && read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
}

DeviceHolder::~DeviceHolder()
{
    if (m_release >= 0)
        close(m_release);
    if (m_pid > 0)
        waitpid(m_pid, nullptr, 0);
}

pid_t EndedProcess()
{
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    return pid;
}
