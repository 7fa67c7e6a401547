#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitor/MonitorTypes.h"

// The texts the monitor publishes: UTF-8 JSON, numbers as numbers, a value
// the unit did not give as null, times as the CSV writes them.
namespace mqtt {

// A JSON string literal of text, quotes included; text that is not UTF-8
// is taken as Windows-1252.
std::string JsonString(const std::string& text);

// What a state names of its unit besides the sample: -1 / empty when not known.
struct UnitDetails
{
    int azNumber = -1;
    std::string type;
    std::string firmware;
    int zones = 0;
    int width = 0;
};

// {"time":…,"address":3,"az":12,"type":"TORVA08","zones":12,"actual":[…],"set":[…]};
// a row the unit did not give is null.
std::string StateJson(const MonitorSample& sample, const UnitDetails& unit, const std::string& time);
// Appends the state to out (cleared first): the per-cycle path, which
// reuses one buffer.
void AppendStateJson(std::string& out, const MonitorSample& sample, const UnitDetails& unit,
                     const std::string& time);

struct BridgeInfo
{
    std::string version;
    std::string device;
    long baudrate = 0;
    std::vector<int> addresses;
    long long intervalMs = 0;
    bool bWrites = false;
};
std::string InfoJson(const BridgeInfo& info);

// The answer to a set-value command. status: ok, differs, nak, no-answer or
// refused; nullopt fields and an empty transaction or reason are null.
std::string ResultJson(const std::string& status, std::optional<int32_t> requested, std::optional<int32_t> readBack,
                       const std::string& transactionJson, const std::string& reason);

// Home Assistant discovery: the topic and config of one zone's actual-value
// sensor, and of its set-value number (only for zones that may be written).
struct Discovery
{
    std::string topic;
    std::string config;
};
// nodeId: a unique id of this monitor (its client id as a topic level).
Discovery SensorDiscovery(const std::string& prefix, const std::string& base, const std::string& nodeId, int address,
                          const UnitDetails& unit, int zone);
Discovery NumberDiscovery(const std::string& prefix, const std::string& base, const std::string& nodeId, int address,
                          const UnitDetails& unit, int zone, int32_t min, int32_t max);

}  // namespace mqtt
