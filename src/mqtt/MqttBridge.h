#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "monitor/MonitorTypes.h"
#include "mqtt/MqttClient.h"
#include "mqtt/MqttPayloads.h"
#include "mqtt/WriteGuard.h"
#include "records/ChangeRecord.h"

class CUnit;

struct MqttBridgeConfig
{
    CMqttClient::Settings client;  // its will topic is set from the base
    std::string strBase;           // the topic prefix, checked
    std::string strBrokerName;     // "host:port", for messages
    bool bPerZone = false;         // BASE/<address>/<zone>/actual and /setpoint as well
    std::string strDiscoveryPrefix;  // empty: no Home Assistant discovery
    CWriteGuard guard;             // empty: no writes, nothing subscribed
    mqtt::BridgeInfo info;
    // The change record's user and host columns ("mqtt:vorlent").
    std::string strRecordUser;
    std::string strRecordHost;
};

// The monitor's samples on an MQTT broker, and set values from the plant
// written through the monitor's line. Every call but Start, Finish and the
// accessors comes on the monitor's thread: the client's callbacks only queue
// events, taken in BetweenCycles, where the line is free.
//
// Topics under BASE: status (online/offline, retained, QoS 1, the Last Will),
// info (retained), <address>/availability (retained), <address>/state
// (retained, QoS 0, once per cycle of a unit that answered), per zone
// <address>/<zone>/actual and /setpoint (retained, on change), commands on
// <address>/<zone>/setpoint/set answered on .../setpoint/result.
class CMqttBridge
{
public:
    // tell: a message for the user (no "vorlent-cli: " in front); wake: has
    // the monitor call BetweenCycles soon. Both may be called on the
    // client's thread.
    CMqttBridge(MqttBridgeConfig config, std::function<void(const std::string&)> tell,
                std::function<void()> wake);
    ~CMqttBridge();

    // Opens the change record for the writes (only with an allow-list).
    bool OpenChangeRecord(const std::string& path, std::string& error);
    // Starts the connection; false only for settings the library refuses.
    bool Start(std::string& error);
    // Waits up to timeout for the broker's first answer: true when it took
    // the login or has not answered; false with the reason when it refused
    // the login or the TLS handshake.
    bool WaitForFirstAnswer(std::chrono::milliseconds timeout, std::string& refusal);

    // The monitor's calls.
    void UnitIdentified(int16_t address, int32_t zones, int16_t width);
    void SampleTaken(const MonitorSample& sample);
    void BetweenCycles(CUnit& unit);

    // After the monitor has ended: every unit offline, then the status
    // offline, each waited for (bounded), and a clean disconnect. False
    // when the change record could not be written.
    bool Finish();
    // The refusal told last, empty when the broker took the login since.
    std::string Refusal() const;
    bool EverConnected() const { return m_bEverConnected; }
    const std::string& BrokerName() const { return m_config.strBrokerName; }

    // Cycles published and commands answered, for tests and the benchmark.
    long long PublishedStates() const { return m_nStates; }

private:
    struct UnitView;
    UnitView* Find(int address);
    UnitView& ViewOf(int address);
    void HandleEvents();
    void Connected();
    void PublishSample(UnitView& view, const MonitorSample& sample);
    void PublishAvailability(UnitView& view, bool bOnline);
    void PublishPerZone(UnitView& view, bool bAll);
    void PublishDiscovery(UnitView& view);
    void QueryDetails(CUnit& unit, UnitView& view);
    void Execute(CUnit& unit, const CMqttClient::Event& command);
    // Appends one change-record line; time empty: now. False when the line
    // is not in the record (then no write may follow it).
    bool Record(const UnitView& view, int zone, std::optional<int32_t> before, int32_t sent,
                std::optional<int32_t> readBack, const std::string& outcome, std::string time = {});
    void Tell(const std::string& text);

    MqttBridgeConfig m_config;
    std::function<void(const std::string&)> m_tell;
    std::unique_ptr<CMqttClient> m_pClient;
    std::vector<std::unique_ptr<UnitView>> m_units;
    std::vector<MonitorSample> m_pending;
    std::vector<CMqttClient::Event> m_commands;
    std::string m_strBuffer;
    std::string m_strTold;  // the connection trouble told last
    std::string m_strRefusal;
    bool m_bEverConnected = false;
    bool m_bWelcomed = false;  // Connected() handled, no loss since
    bool m_bAnswered = false;
    bool m_bWaitingFirst = false;  // a refusal is the caller's to tell
    long long m_nStates = 0;
    records::CChangeFile m_record;
    bool m_bRecordOpen = false;
    mutable std::mutex m_mutex;  // m_strRefusal, m_bAnswered for WaitForFirstAnswer
};
