#include "mqtt/WriteGuard.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/ProfileFile.h"
#include "workflows/Jobs.h"

namespace {

constexpr std::size_t kMaxTransaction = 200;

bool Whole(const std::string& text, long low, long high, int& value)
{
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long number = std::strtol(text.c_str(), nullptr, 10);
    if (number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

void SkipBlanks(const std::string& text, std::size_t& i)
{
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
}

// A JSON number at i: its text, or empty when there is none.
std::string NumberAt(const std::string& text, std::size_t& i)
{
    const std::size_t start = i;
    if (i < text.size() && text[i] == '-')
        ++i;
    while (i < text.size() && (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.' ||
                               text[i] == 'e' || text[i] == 'E' || text[i] == '+' || text[i] == '-'))
        ++i;
    return text.substr(start, i - start);
}

// A JSON string at i (the quote included), as its JSON text; false when it
// is not closed.
bool StringAt(const std::string& text, std::size_t& i, std::string& json)
{
    const std::size_t start = i++;
    while (i < text.size() && text[i] != '"') {
        if (static_cast<unsigned char>(text[i]) < 0x20)
            return false;
        i += text[i] == '\\' ? 2 : 1;
    }
    if (i >= text.size())
        return false;
    json = text.substr(start, ++i - start);
    return true;
}

// True when json, as StringAt or NumberAt cut it, is a JSON value that can
// go back to the plant as it came: a string with only JSON's escapes and
// UTF-8 inside, a number in JSON's own form, true or false.
bool ValidJsonValue(const std::string& json)
{
    if (json == "true" || json == "false")
        return true;
    if (json.empty() || json[0] != '"') {
        std::size_t i = json[0] == '-' ? 1 : 0;
        auto digits = [&] {
            const std::size_t start = i;
            while (i < json.size() && std::isdigit(static_cast<unsigned char>(json[i])))
                ++i;
            return i - start;
        };
        const std::size_t first = i;
        if (digits() == 0 || (json[first] == '0' && i - first > 1))
            return false;
        if (i < json.size() && json[i] == '.') {
            ++i;
            if (digits() == 0)
                return false;
        }
        if (i < json.size() && (json[i] == 'e' || json[i] == 'E')) {
            ++i;
            if (i < json.size() && (json[i] == '+' || json[i] == '-'))
                ++i;
            if (digits() == 0)
                return false;
        }
        return i == json.size();
    }
    for (std::size_t i = 1; i + 1 < json.size(); ++i) {
        if (json[i] != '\\')
            continue;
        const char escaped = json[++i];
        if (escaped == 'u') {
            if (i + 4 >= json.size())
                return false;
            for (std::size_t k = 1; k <= 4; ++k) {
                if (!std::isxdigit(static_cast<unsigned char>(json[i + k])))
                    return false;
            }
            i += 4;
        } else if (std::string_view("\"\\/bfnrt").find(escaped) == std::string_view::npos) {
            return false;
        }
    }
    return platform::IsValidUtf8(json);
}

// A whole number in int32, from a JSON number or a plain payload.
std::optional<int32_t> WholeNumber(const std::string& text)
{
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i >= text.size() || text.size() > 12 || text.find_first_not_of("0123456789", i) != std::string::npos)
        return std::nullopt;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

}  // namespace

bool CWriteGuard::Allow(const std::string& entry, std::string& error)
{
    error = "--mqtt-allow-writes takes ADDRESS:ZONES (e.g. 3:1-12 or 3:1-4,7), not '" + entry + "'";
    const std::size_t colon = entry.find(':');
    int address = 0;
    if (colon == std::string::npos || !Whole(entry.substr(0, colon), 1, 30, address))
        return false;
    std::vector<Entry> added;
    std::size_t from = colon + 1;
    for (;;) {
        const std::size_t comma = entry.find(',', from);
        const std::string part = entry.substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        const std::size_t dash = part.find('-');
        int first = 0, last = 0;
        if (!Whole(part.substr(0, dash), 1, kMaxZones, first))
            return false;
        last = first;
        if (dash != std::string::npos && (!Whole(part.substr(dash + 1), 1, kMaxZones, last) || last < first))
            return false;
        added.push_back({address, first, last});
        if (comma == std::string::npos)
            break;
        from = comma + 1;
    }
    m_entries.insert(m_entries.end(), added.begin(), added.end());
    error.clear();
    return true;
}

bool CWriteGuard::Allows(int address, int zone) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
        return e.address == address && zone >= e.first && zone <= e.last;
    });
}

std::vector<int> CWriteGuard::ZonesOf(int address) const
{
    std::vector<int> zones;
    for (int zone = 1; zone <= kMaxZones; ++zone) {
        if (Allows(address, zone))
            zones.push_back(zone);
    }
    return zones;
}

std::vector<int> CWriteGuard::Addresses() const
{
    std::vector<int> addresses;
    for (const Entry& e : m_entries) {
        if (std::find(addresses.begin(), addresses.end(), e.address) == addresses.end())
            addresses.push_back(e.address);
    }
    return addresses;
}

CWriteGuard::Command CWriteGuard::ParsePayload(const std::string& payload)
{
    Command command;
    std::size_t i = 0;
    SkipBlanks(payload, i);
    std::size_t end = payload.size();
    while (end > i && std::isspace(static_cast<unsigned char>(payload[end - 1])))
        --end;
    const std::string text = payload.substr(i, end - i);
    if (text.empty()) {
        command.reason = "the payload is empty";
        return command;
    }
    if (text[0] != '{') {
        command.value = WholeNumber(text);
        if (!command.value)
            command.reason = "'" + text.substr(0, 40) + "' is not a whole number";
        return command;
    }
    // The object: "value" and "transaction" are read, anything else is passed over.
    i = 1;
    std::string valueText;
    bool bValue = false;
    for (;;) {
        SkipBlanks(text, i);
        if (i < text.size() && text[i] == '}') {
            command.reason = "the object has no \"value\"";
            return command;
        }
        std::string key;
        if (i >= text.size() || text[i] != '"' || !StringAt(text, i, key))
            break;
        SkipBlanks(text, i);
        if (i >= text.size() || text[i++] != ':')
            break;
        SkipBlanks(text, i);
        std::string value;
        if (i < text.size() && text[i] == '"') {
            if (!StringAt(text, i, value))
                break;
        } else {
            value = NumberAt(text, i);
            if (value.empty()) {
                const std::size_t start = i;
                while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i])))
                    ++i;
                value = text.substr(start, i - start);
                if (value != "true" && value != "false" && value != "null")
                    break;
            }
        }
        if (key == "\"value\"") {
            bValue = true;
            valueText = value;
        } else if (key == "\"transaction\"" && value != "null") {
            // Given back whole or not at all: a cut string is no JSON.
            if (value.size() > kMaxTransaction || !ValidJsonValue(value)) {
                command.reason = value.size() > kMaxTransaction
                                     ? "the transaction is longer than " + std::to_string(kMaxTransaction) + " bytes"
                                     : "the transaction is neither a JSON string, a number nor true or false";
                return command;
            }
            command.transactionJson = value;
        }
        SkipBlanks(text, i);
        if (i < text.size() && text[i] == ',') {
            ++i;
            continue;
        }
        if (i < text.size() && text[i] == '}' && i + 1 == text.size()) {
            if (!bValue) {
                command.reason = "the object has no \"value\"";
                return command;
            }
            command.value = WholeNumber(valueText);
            if (!command.value)
                command.reason = "\"value\" " + valueText.substr(0, 40) + " is not a whole number";
            return command;
        }
        break;
    }
    command.reason = "the payload is neither a number nor a JSON object with a \"value\"";
    return command;
}

bool CWriteGuard::ParseTopic(const std::string& base, const std::string& topic, int& address, int& zone)
{
    const std::string tail = "/setpoint/set";
    if (topic.size() <= base.size() + 1 + tail.size() || topic.compare(0, base.size(), base) != 0 ||
        topic[base.size()] != '/' || topic.compare(topic.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string middle = topic.substr(base.size() + 1, topic.size() - base.size() - 1 - tail.size());
    const std::size_t slash = middle.find('/');
    return slash != std::string::npos && Whole(middle.substr(0, slash), 1, 30, address) &&
           Whole(middle.substr(slash + 1), 1, kMaxZones, zone);
}

std::string CWriteGuard::Judge(bool bRetained, int address, int zone, const Command& command, int zones,
                               int width) const
{
    if (bRetained)
        return "a retained command is never carried out: it would be written again at every restart";
    if (!Allows(address, zone))
        return "unit " + std::to_string(address) + " zone " + std::to_string(zone) +
               " is not in the list of what may be written (--mqtt-allow-writes)";
    if (!command.value)
        return command.reason;
    if (zones <= 0 || (width != 4 && width != 5))
        return "unit " + std::to_string(address) + " is not identified yet";
    if (zone > zones)
        return "unit " + std::to_string(address) + " has " + std::to_string(zones) + " zones";
    const ValueRange range = ValueRangeOfWidth(width, zones >= 100);
    if (!range.Contains(*command.value))
        return std::to_string(*command.value) + " is outside " + std::to_string(range.nMin) + ".." +
               std::to_string(range.nMax) + ", what the unit's values can hold";
    return {};
}
