#include "mqtt/MqttPayloads.h"

#include <charconv>
#include <cstdio>

#include "platform/ProfileFile.h"

namespace mqtt {

namespace {

// to_chars, not snprintf: a cycle of 30 units has 7,680 numbers, and the
// format parser took most of the state's time.
void AppendNumber(std::string& out, long long value)
{
    char text[24];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, end);
}

void AppendRow(std::string& out, const std::vector<int32_t>& row)
{
    if (row.empty()) {
        out += "null";
        return;
    }
    out += '[';
    for (std::size_t i = 0; i < row.size(); ++i) {
        if (i)
            out += ',';
        if (row[i] == kNoValue)
            out += "null";
        else
            AppendNumber(out, row[i]);
    }
    out += ']';
}

std::string DeviceJson(const std::string& nodeId, int address, const UnitDetails& unit)
{
    std::string name = "Unit " + std::to_string(address);
    if (!unit.type.empty())
        name += " " + unit.type;
    std::string json = "{\"identifiers\":[" + JsonString(nodeId + "_" + std::to_string(address)) +
                       "],\"name\":" + JsonString(name) + ",\"manufacturer\":\"Vorlent\"";
    if (!unit.type.empty())
        json += ",\"model\":" + JsonString(unit.type);
    if (!unit.firmware.empty())
        json += ",\"sw_version\":" + JsonString(unit.firmware);
    return json + "}";
}

std::string CommonJson(const std::string& base, const std::string& nodeId, int address, const UnitDetails& unit,
                       int zone, const char* what, const char* template_)
{
    const std::string unitTopic = base + "/" + std::to_string(address);
    char value[64];
    std::snprintf(value, sizeof value, "{{ value_json.%s[%d] }}", template_, zone - 1);
    return "{\"name\":" + JsonString("Zone " + std::to_string(zone) + " " + what) + ",\"unique_id\":" +
           JsonString(nodeId + "_" + std::to_string(address) + "_" + std::to_string(zone) + "_" + template_) +
           ",\"state_topic\":" + JsonString(unitTopic + "/state") + ",\"value_template\":" + JsonString(value) +
           ",\"availability\":[{\"topic\":" + JsonString(base + "/status") + "},{\"topic\":" +
           JsonString(unitTopic + "/availability") + "}],\"availability_mode\":\"all\",\"device\":" +
           DeviceJson(nodeId, address, unit);
}

}  // namespace

std::string JsonString(const std::string& raw)
{
    // A unit's type or a device name need not be UTF-8: bytes that are not
    // read as the code page the units' own files use, so the JSON stays valid.
    const std::string text = platform::IsValidUtf8(raw) ? raw : platform::Windows1252ToUtf8(raw);
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void AppendStateJson(std::string& out, const MonitorSample& sample, const UnitDetails& unit,
                     const std::string& time)
{
    out.clear();
    out += "{\"time\":";
    out += JsonString(time);
    out += ",\"address\":";
    AppendNumber(out, sample.nAddress);
    out += ",\"az\":";
    if (unit.azNumber >= 0)
        AppendNumber(out, unit.azNumber);
    else
        out += "null";
    out += ",\"type\":";
    out += unit.type.empty() ? std::string("null") : JsonString(unit.type);
    out += ",\"zones\":";
    AppendNumber(out, unit.zones);
    out += ",\"actual\":";
    AppendRow(out, sample.actual);
    out += ",\"set\":";
    AppendRow(out, sample.set);
    out += '}';
}

std::string StateJson(const MonitorSample& sample, const UnitDetails& unit, const std::string& time)
{
    std::string out;
    AppendStateJson(out, sample, unit, time);
    return out;
}

std::string InfoJson(const BridgeInfo& info)
{
    std::string out = "{\"version\":" + JsonString(info.version) + ",\"device\":" + JsonString(info.device) +
                      ",\"baudrate\":" + std::to_string(info.baudrate) + ",\"addresses\":[";
    for (std::size_t i = 0; i < info.addresses.size(); ++i)
        out += (i ? "," : "") + std::to_string(info.addresses[i]);
    char interval[32];
    std::snprintf(interval, sizeof interval, "%.3f", static_cast<double>(info.intervalMs) / 1000.0);
    out += std::string("],\"interval\":") + interval + ",\"writes_allowed\":" + (info.bWrites ? "true" : "false") + "}";
    return out;
}

std::string ResultJson(const std::string& status, std::optional<int32_t> requested, std::optional<int32_t> readBack,
                       const std::string& transactionJson, const std::string& reason)
{
    auto number = [](std::optional<int32_t> v) { return v ? std::to_string(*v) : std::string("null"); };
    return "{\"status\":" + JsonString(status) + ",\"requested\":" + number(requested) +
           ",\"read_back\":" + number(readBack) +
           ",\"transaction\":" + (transactionJson.empty() ? std::string("null") : transactionJson) +
           ",\"reason\":" + (reason.empty() ? std::string("null") : JsonString(reason)) + "}";
}

Discovery SensorDiscovery(const std::string& prefix, const std::string& base, const std::string& nodeId, int address,
                          const UnitDetails& unit, int zone)
{
    const std::string objectId = std::to_string(address) + "_" + std::to_string(zone) + "_actual";
    return {prefix + "/sensor/" + nodeId + "/" + objectId + "/config",
            CommonJson(base, nodeId, address, unit, zone, "actual value", "actual") +
                ",\"state_class\":\"measurement\"}"};
}

Discovery NumberDiscovery(const std::string& prefix, const std::string& base, const std::string& nodeId, int address,
                          const UnitDetails& unit, int zone, int32_t min, int32_t max)
{
    const std::string objectId = std::to_string(address) + "_" + std::to_string(zone) + "_set";
    return {prefix + "/number/" + nodeId + "/" + objectId + "/config",
            CommonJson(base, nodeId, address, unit, zone, "set value", "set") + ",\"command_topic\":" +
                JsonString(base + "/" + std::to_string(address) + "/" + std::to_string(zone) + "/setpoint/set") +
                ",\"min\":" + std::to_string(min) + ",\"max\":" + std::to_string(max) +
                ",\"step\":1,\"mode\":\"box\",\"retain\":false}"};
}

}  // namespace mqtt
