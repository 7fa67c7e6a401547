#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the plant may write: an allow-list of set values by unit and zone,
// and the judgement of one command before anything goes to the line. A
// command that is refused here is never written.
class CWriteGuard
{
public:
    // "ADDRESS:ZONES": an address 1..30 and zones as "5", "1-12" or a comma
    // list of both ("1-4,7"), zones 1..128. Repeated entries add up. False
    // with the reason in error.
    bool Allow(const std::string& entry, std::string& error);
    bool Any() const { return !m_entries.empty(); }
    bool Allows(int address, int zone) const;
    // The zones of an address that may be written, ascending.
    std::vector<int> ZonesOf(int address) const;
    std::vector<int> Addresses() const;

    // A command's payload: a plain whole number, or a JSON object with a
    // whole number "value" and an optional "transaction" (a string or a
    // number, given back as it came). nullopt value: the payload is neither.
    struct Command
    {
        std::optional<int32_t> value;
        std::string transactionJson;  // the transaction as JSON text, empty when none
        std::string reason;           // why there is no value
    };
    static Command ParsePayload(const std::string& payload);

    // The address and zone of BASE/<address>/<zone>/setpoint/set; false for
    // any other topic or numbers outside 1..30 and 1..128.
    static bool ParseTopic(const std::string& base, const std::string& topic, int& address, int& zone);

    // The whole judgement before a write: empty when it may be written, else
    // the reason for the refusal. zones and width: the unit's layout as last
    // identified (0: not known).
    std::string Judge(bool bRetained, int address, int zone, const Command& command, int zones, int width) const;

private:
    struct Entry
    {
        int address;
        int first;
        int last;
    };
    std::vector<Entry> m_entries;
};
