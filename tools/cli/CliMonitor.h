#pragma once

#include <iosfwd>
#include <string>
#include <vector>

class CUnit;

// The monitor command's operands: ADDRESS... [--interval SECONDS]
// [--count N] [--csv FILE|-] [--append].
struct MonitorArgs
{
    std::vector<int> addresses;  // 1..30, each once, in the order given
    int nIntervalMs = 1000;      // 0..86 400 000
    long long nCount = 0;        // cycles; 0: until SIGINT or SIGTERM
    std::string strCsv;          // empty: none; "-": standard output
    bool bAppend = false;

    // --mqtt URL and its options, as given: judged when the monitor starts
    // (exit 2 for a bad one), before the line is touched.
    std::string strMqttUrl;          // empty: no broker
    std::string strMqttPasswordFile;
    std::string strMqttCaFile;
    std::string strMqttCert;
    std::string strMqttKey;
    std::string strMqttClientId;
    std::string strMqttKeepAlive;    // seconds, empty: 30
    bool bMqttPerZone = false;
    bool bMqttDiscovery = false;
    std::string strMqttDiscoveryPrefix;  // empty with bMqttDiscovery: "homeassistant"
    std::vector<std::string> mqttAllowWrites;  // ADDRESS:ZONES, each as given
    bool bMqttOptions = false;       // any --mqtt-... option was given
    // A --mqtt option that is unknown or lacks its value: told, with status
    // 2, when the monitor starts.
    std::string strMqttError;
};

// Exit status for a bad --mqtt URL or option.
constexpr int kCliMqttUsage = 2;

// False with a message (no "vorlent-cli: " in front) for a usage error.
bool ParseMonitorArgs(const std::vector<std::string>& operands, MonitorArgs& args, std::string& error);

// Watches the units over the line of the unit record (its settings and device
// override, which stay untouched) until the count is reached or a stop
// signal comes. Returns a CliStatus.
int RunMonitorCommand(CUnit& lineOf, const std::string& device, const MonitorArgs& args, std::ostream& out,
                      std::ostream& err);
