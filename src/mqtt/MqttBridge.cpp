#include "mqtt/MqttBridge.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <thread>

#include "mqtt/MqttUrl.h"
#include "platform/Csv.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

constexpr std::chrono::milliseconds kGoodbyeWait{2000};

// The discovery topics' node level, of the client id: the home takes only
// letters, digits, '_' and '-' there (a host name's dots would hide the unit).
std::string DiscoveryNode(const std::string& clientId)
{
    std::string node = clientId.empty() ? std::string("_") : clientId;
    for (char& c : node) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) && u < 0x80) && c != '_' && c != '-')
            c = '_';
    }
    return node;
}

}  // namespace

struct CMqttBridge::UnitView
{
    int address = 0;
    mqtt::UnitDetails details;
    bool bDetailsWanted = false;
    int availability = -1;  // -1: not published yet, 0 offline, 1 online
    MonitorSample last;     // the last sample with values
    bool bLastAnswered = false;
    std::vector<int32_t> actualOut, setOut;  // per zone as published, kNoValue: not yet
    // Per zone, BASE/<address>/<zone>/actual and .../setpoint, built once:
    // with all values changing they are thousands a cycle.
    std::vector<std::string> actualTopic, setTopic;
    bool bDiscoveryOut = false;
};

CMqttBridge::CMqttBridge(MqttBridgeConfig config, std::function<void(const std::string&)> tell,
                         std::function<void()> wake)
    : m_config(std::move(config)), m_tell(std::move(tell)), m_pClient(std::make_unique<CMqttClient>(std::move(wake)))
{
    m_config.client.strWillTopic = m_config.strBase + "/status";
    for (int address : m_config.info.addresses)
        ViewOf(address);
}

CMqttBridge::~CMqttBridge() = default;

bool CMqttBridge::OpenChangeRecord(const std::string& path, std::string& error)
{
    m_bRecordOpen = m_record.Open(path);
    error = m_record.Error();
    return m_bRecordOpen;
}

bool CMqttBridge::Start(std::string& error) { return m_pClient->Start(m_config.client, error); }

bool CMqttBridge::WaitForFirstAnswer(std::chrono::milliseconds timeout, std::string& refusal)
{
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    m_bWaitingFirst = true;
    while (std::chrono::steady_clock::now() < giveUp) {
        HandleEvents();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_bAnswered) {
                refusal = m_strRefusal;
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_bWaitingFirst = false;
    return refusal.empty();
}

std::string CMqttBridge::Refusal() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_strRefusal;
}

CMqttBridge::UnitView* CMqttBridge::Find(int address)
{
    for (auto& view : m_units) {
        if (view->address == address)
            return view.get();
    }
    return nullptr;
}

CMqttBridge::UnitView& CMqttBridge::ViewOf(int address)
{
    if (UnitView* view = Find(address))
        return *view;
    m_units.push_back(std::make_unique<UnitView>());
    m_units.back()->address = address;
    return *m_units.back();
}

void CMqttBridge::Tell(const std::string& text)
{
    if (m_tell)
        m_tell(text);
}

void CMqttBridge::UnitIdentified(int16_t address, int32_t zones, int16_t width)
{
    UnitView& view = ViewOf(address);
    // A unit identified again may be another one, or the same with a new
    // layout: the state held of the former one is never sent again.
    view.last = MonitorSample{};
    view.bLastAnswered = false;
    view.details.zones = zones;
    view.details.width = width;
    view.bDetailsWanted = true;
    view.bDiscoveryOut = false;
    view.actualOut.assign(static_cast<std::size_t>(zones), kNoValue);
    view.setOut.assign(static_cast<std::size_t>(zones), kNoValue);
    view.actualTopic.clear();
    view.setTopic.clear();
    if (m_config.bPerZone) {
        for (int zone = 1; zone <= zones; ++zone) {
            const std::string prefix = m_config.strBase + "/" + std::to_string(address) + "/" + std::to_string(zone);
            view.actualTopic.push_back(prefix + "/actual");
            view.setTopic.push_back(prefix + "/setpoint");
        }
    }
}

void CMqttBridge::SampleTaken(const MonitorSample& sample) { m_pending.push_back(sample); }

void CMqttBridge::HandleEvents()
{
    for (CMqttClient::Event& event : m_pClient->TakeEvents()) {
        using Kind = CMqttClient::Event::Kind;
        switch (event.kind) {
        case Kind::Connected:
            Connected();
            break;
        case Kind::Refused:
        case Kind::Lost: {
            const bool bRefused = event.kind == Kind::Refused;
            m_bWelcomed = false;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_bAnswered = true;
                if (bRefused)
                    m_strRefusal = event.text;
            }
            if (bRefused && m_bWaitingFirst)
                break;
            // Told once per reason: a broker that stays away is no news
            // every second.
            const std::string text = "broker " + m_config.strBrokerName + ": " +
                                     (bRefused ? event.text : "no connection: " + event.text);
            if (text != m_strTold) {
                Tell(text + "; trying again, the monitor goes on");
                m_strTold = text;
            }
            break;
        }
        case Kind::Message:
            if (!m_config.strDiscoveryPrefix.empty() && event.topic == m_config.strDiscoveryPrefix + "/status") {
                // Only the home's own "online", as it starts: a retained one
                // comes with every subscription, after the configs that
                // follow each connect went out already.
                if (event.payload == "online" && !event.bRetained) {
                    for (auto& view : m_units)
                        view->bDiscoveryOut = false;
                }
            } else {
                m_commands.push_back(std::move(event));
            }
            break;
        }
    }
}

void CMqttBridge::Connected()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bAnswered = true;
        m_strRefusal.clear();
    }
    if (!m_strTold.empty())
        Tell("connected to the broker " + m_config.strBrokerName + " again");
    m_strTold.clear();
    m_bEverConnected = true;
    m_bWelcomed = true;
    const std::string& base = m_config.strBase;
    m_pClient->Publish(base + "/status", "online", 1, true);
    m_pClient->Publish(base + "/info", mqtt::InfoJson(m_config.info), 1, true);
    if (m_config.guard.Any())
        m_pClient->Subscribe(base + "/+/+/setpoint/set", 1);
    if (!m_config.strDiscoveryPrefix.empty())
        m_pClient->Subscribe(m_config.strDiscoveryPrefix + "/status", 1);
    // Whatever the broker lost with the connection (or never had) goes again.
    for (auto& view : m_units) {
        view->bDiscoveryOut = false;
        if (view->availability >= 0) {
            const int was = view->availability;
            view->availability = -1;
            PublishAvailability(*view, was == 1);
        }
        if (view->bLastAnswered) {
            mqtt::AppendStateJson(m_strBuffer, view->last, view->details, platform::IsoLocalTime(view->last.tWall));
            m_pClient->Publish(base + "/" + std::to_string(view->address) + "/state", m_strBuffer, 0, true);
            PublishPerZone(*view, true);
        }
    }
}

void CMqttBridge::PublishAvailability(UnitView& view, bool bOnline)
{
    if (view.availability == (bOnline ? 1 : 0))
        return;
    if (m_pClient->Publish(m_config.strBase + "/" + std::to_string(view.address) + "/availability",
                           bOnline ? "online" : "offline", 1, true) ||
        !m_pClient->IsConnected())
        view.availability = bOnline ? 1 : 0;
}

void CMqttBridge::PublishPerZone(UnitView& view, bool bAll)
{
    if (!m_config.bPerZone || !view.bLastAnswered)
        return;
    auto publishRow = [&](const std::vector<int32_t>& row, std::vector<int32_t>& out,
                          const std::vector<std::string>& topics) {
        // Only the zones of the layout identified: a row is never longer.
        const std::size_t zones = std::min(row.size(), topics.size());
        if (out.size() < zones)
            out.resize(zones, kNoValue);
        char text[16];
        for (std::size_t z = 0; z < zones; ++z) {
            if (row[z] == kNoValue || (!bAll && row[z] == out[z]))
                continue;
            const char* end = std::to_chars(text, text + sizeof text, row[z]).ptr;
            if (m_pClient->Publish(topics[z], text, static_cast<std::size_t>(end - text), 0, true))
                out[z] = row[z];
        }
    };
    publishRow(view.last.actual, view.actualOut, view.actualTopic);
    publishRow(view.last.set, view.setOut, view.setTopic);
}

void CMqttBridge::PublishDiscovery(UnitView& view)
{
    // Not before the connection is welcomed here: sent in the moment between
    // the library's connect and Connected(), they went out twice.
    if (m_config.strDiscoveryPrefix.empty() || view.bDiscoveryOut || view.details.zones <= 0 || !m_bWelcomed)
        return;
    const std::string node = DiscoveryNode(m_config.client.strClientId);
    const ValueRange range = ValueRangeOfWidth(view.details.width, view.details.zones >= 100);
    bool bAll = true;
    for (int zone = 1; zone <= view.details.zones; ++zone) {
        const mqtt::Discovery sensor =
            mqtt::SensorDiscovery(m_config.strDiscoveryPrefix, m_config.strBase, node, view.address, view.details, zone);
        bAll = m_pClient->Publish(sensor.topic, sensor.config, 1, true) && bAll;
        if (!m_config.guard.Allows(view.address, zone))
            continue;
        const mqtt::Discovery number = mqtt::NumberDiscovery(m_config.strDiscoveryPrefix, m_config.strBase, node,
                                                             view.address, view.details, zone, range.nMin, range.nMax);
        bAll = m_pClient->Publish(number.topic, number.config, 1, true) && bAll;
    }
    view.bDiscoveryOut = bAll;
}

void CMqttBridge::PublishSample(UnitView& view, const MonitorSample& sample)
{
    const bool bAnswered = sample.Answered();
    PublishAvailability(view, bAnswered);
    view.bLastAnswered = bAnswered;
    // A unit that did not answer publishes nothing: its last state stays
    // as it was, marked by its availability, never sent again as new.
    if (!bAnswered)
        return;
    view.last = sample;
    mqtt::AppendStateJson(m_strBuffer, sample, view.details, platform::IsoLocalTime(sample.tWall));
    if (m_pClient->Publish(m_config.strBase + "/" + std::to_string(view.address) + "/state", m_strBuffer, 0, true))
        ++m_nStates;
    PublishPerZone(view, false);
}

void CMqttBridge::QueryDetails(CUnit& unit, UnitView& view)
{
    view.bDetailsWanted = false;
    if (!unit.IsPortOpen())
        return;
    unit.SetAddress(static_cast<int16_t>(view.address));
    const int16_t az = unit.QueryAZNumber();
    view.details.azNumber = az;
    view.details.type = az == -1 ? std::string() : unit.QueryType();
    const int32_t version = az == -1 ? -1 : unit.QueryVersion();
    view.details.firmware = version == -1 ? std::string() : std::to_string(version);
}

void CMqttBridge::BetweenCycles(CUnit& unit)
{
    HandleEvents();
    m_pClient->KeepTrying();
    for (auto& view : m_units) {
        if (view->bDetailsWanted)
            QueryDetails(unit, *view);
    }
    for (const MonitorSample& sample : m_pending)
        PublishSample(ViewOf(sample.nAddress), sample);
    m_pending.clear();
    for (auto& view : m_units)
        PublishDiscovery(*view);
    std::vector<CMqttClient::Event> commands;
    commands.swap(m_commands);
    for (const CMqttClient::Event& command : commands)
        Execute(unit, command);
}

void CMqttBridge::Execute(CUnit& unit, const CMqttClient::Event& command)
{
    int address = 0, zone = 0;
    if (!CWriteGuard::ParseTopic(m_config.strBase, command.topic, address, zone))
        return;
    const CWriteGuard::Command parsed = CWriteGuard::ParsePayload(command.payload);
    UnitView* view = Find(address);
    const int zones = view ? view->details.zones : 0;
    const int width = view ? view->details.width : 0;
    const std::string resultTopic = command.topic.substr(0, command.topic.size() - 3) + "result";
    const std::string refusal = m_config.guard.Judge(command.bRetained, address, zone, parsed, zones, width);
    // What the held row says the unit had: the record's "before".
    std::optional<int32_t> before;
    if (view && view->bLastAnswered && static_cast<std::size_t>(zone) <= view->last.set.size() &&
        view->last.set[static_cast<std::size_t>(zone - 1)] != kNoValue)
        before = view->last.set[static_cast<std::size_t>(zone - 1)];

    if (!refusal.empty()) {
        // Only a value judged against the unit is recorded; a retained
        // message, a zone that may not be written or a text that is no
        // number was never a write.
        if (!command.bRetained && parsed.value && zones > 0 && m_config.guard.Allows(address, zone))
            Record(*view, zone, before, *parsed.value, std::nullopt, "refused");
        m_pClient->Publish(resultTopic, mqtt::ResultJson("refused", parsed.value, std::nullopt,
                                                         parsed.transactionJson, refusal),
                           1, false);
        return;
    }
    if (!unit.IsPortOpen()) {
        m_pClient->Publish(resultTopic, mqtt::ResultJson("no-answer", parsed.value, std::nullopt,
                                                         parsed.transactionJson,
                                                         "the serial device is away; nothing was written"),
                           1, false);
        return;
    }
    // The record is told the unit's layout, as the monitor's poll tells it.
    unit.SetAddress(static_cast<int16_t>(address));
    unit.SetOffline(true);
    unit.SetZoneCount(zones);
    unit.SetValueWidth(static_cast<int16_t>(width));
    SendItem item;
    item.kind = SendItem::Kind::SetValue;
    item.zone = static_cast<int16_t>(zone);
    item.value = *parsed.value;
    // No value reaches a unit without its line in the record: the line goes
    // in first, and the outcome line with the same time pairs with it.
    const std::string sendingTime = platform::IsoLocalTime(std::chrono::system_clock::now());
    if (m_bRecordOpen &&
        !Record(*view, zone, before, item.value, std::nullopt, records::kUnconfirmed, sendingTime)) {
        m_pClient->Publish(resultTopic, mqtt::ResultJson("refused", parsed.value, std::nullopt,
                                                         parsed.transactionJson,
                                                         "the change record cannot be written; nothing was written"),
                           1, false);
        return;
    }
    const SendOutcome outcome = SendOne(unit, item);
    const std::string status = records::OutcomeName(outcome);
    const std::optional<int32_t> readBack =
        status == "no-answer" ? std::nullopt : std::optional<int32_t>(outcome.readBack);
    Record(*view, zone, before, item.value, readBack, status, sendingTime);
    m_pClient->Publish(resultTopic, mqtt::ResultJson(status, item.value, readBack, parsed.transactionJson, ""), 1,
                       false);

    // A fresh state, so that the plant sees at once what the unit holds now.
    MonitorSample fresh;
    fresh.nAddress = static_cast<int16_t>(address);
    fresh.nCycle = view->last.nCycle;
    fresh.tWall = std::chrono::system_clock::now();
    if (unit.ReadParamRow(-1) && unit.ReadParamRow(0)) {
        for (int16_t z = 1; z <= zones; ++z) {
            fresh.actual.push_back(unit.GetStoredActualValue(z));
            fresh.set.push_back(unit.GetStoredSetValue(z));
        }
    }
    PublishSample(*view, fresh);
}

bool CMqttBridge::Record(const UnitView& view, int zone, std::optional<int32_t> before, int32_t sent,
                         std::optional<int32_t> readBack, const std::string& outcome, std::string time)
{
    if (!m_bRecordOpen)
        return true;
    if (time.empty())
        time = platform::IsoLocalTime(std::chrono::system_clock::now());
    SendItem item;
    item.kind = SendItem::Kind::SetValue;
    item.zone = static_cast<int16_t>(zone);
    item.value = sent;
    const std::string line = records::ChangeLine(
        {time, m_config.strRecordUser, m_config.strRecordHost,
         m_config.info.device, std::to_string(view.address),
         view.details.azNumber >= 0 ? std::to_string(view.details.azNumber) : std::string(), view.details.type,
         view.details.firmware, records::WhereOf(item), "", before ? std::to_string(*before) : std::string(),
         std::to_string(sent), readBack ? std::to_string(*readBack) : std::string(), outcome});
    if (m_record.Append(line))
        return true;
    Tell("the change record could not be written: " + m_record.Error());
    return false;
}

bool CMqttBridge::Finish()
{
    HandleEvents();
    // QoS 1 keeps the order: once the status is taken, so is all before it.
    for (auto& view : m_units)
        m_pClient->Publish(m_config.strBase + "/" + std::to_string(view->address) + "/availability", "offline", 1, true);
    m_pClient->PublishAndWait(m_config.strBase + "/status", "offline", true, kGoodbyeWait);
    m_pClient->Stop();
    return !m_bRecordOpen || m_record.Close();
}
