#pragma once

#include <memory>
#include <string>

#include <sys/types.h>

#include "unitsim/PtyServer.h"
#include "unitsim/SimBus.h"

class CUnit;

// A simulated bus on a pseudo-terminal, served on its own thread for the
// lifetime of the object.
class SimLine
{
public:
    explicit SimLine(int baud = 0, unitsim::PtyServer::Delivery delivery = unitsim::PtyServer::Delivery::Paced);
    ~SimLine();

    unitsim::SimBus& Bus() { return m_bus; }
    const std::string& Path() const { return m_server->SlavePath(); }
    // Starts serving; call after the units and faults are added.
    void Start();
    // The line goes away, as an unplugged adapter.
    void Unplug() { m_server->Stop(); }
    unitsim::PtyServer& Server() { return *m_server; }

    // Points the unit record at this line with the given time-out and opens
    // nothing yet.
    void Attach(CUnit& unit, int16_t timeoutMs = 50);

private:
    unitsim::SimBus m_bus;
    std::unique_ptr<unitsim::PtyServer> m_server;
    int m_baud;
    unitsim::PtyServer::Delivery m_delivery;
};

// A unit with plausible values: zones, zone parameter count and width given.
unitsim::SimUnitConfig MakeSimUnit(int address, int azNumber, int zones, int zoneParamCount,
                                   int width = 4);

// A fault for requests containing pattern; times -1: every one.
unitsim::SimFault Fault(unitsim::FaultKind kind, const std::string& pattern, int times = -1, int delayMs = 0,
                        int afterRequests = 0);

// Another process that has a device open without any lock, as a terminal
// program or a modem manager may, for the lifetime of the object.
class DeviceHolder
{
public:
    explicit DeviceHolder(const std::string& path);
    ~DeviceHolder();
    DeviceHolder(const DeviceHolder&) = delete;
    DeviceHolder& operator=(const DeviceHolder&) = delete;

    // False when the other process could not open the device.
    bool Holds() const { return m_bHolds; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_bHolds = false;
};

// The id of a process that has ended: a lock file naming it is stale.
pid_t EndedProcess();
