// The client of a build without an MQTT library: it never connects, so a
// caller that did not ask IsAvailable() first learns why from Start.
#include "mqtt/MqttClient.h"

bool CMqttClient::IsAvailable() { return false; }

CMqttClient::CMqttClient(std::function<void()> wake) : m_wake(std::move(wake)) {}

CMqttClient::~CMqttClient() = default;

bool CMqttClient::Start(const Settings&, std::string& error)
{
    error = "MQTT is not available in this build";
    return false;
}

void CMqttClient::KeepTrying() {}

bool CMqttClient::Publish(const std::string&, const char*, std::size_t, int, bool) { return false; }

bool CMqttClient::PublishAndWait(const std::string&, const std::string&, bool, std::chrono::milliseconds)
{
    return false;
}

bool CMqttClient::Subscribe(const std::string&, int) { return false; }

std::vector<CMqttClient::Event> CMqttClient::TakeEvents() { return {}; }

void CMqttClient::Stop() {}
