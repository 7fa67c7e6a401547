#include "mqtt/MqttClient.h"

#include <mosquitto.h>

#include <algorithm>
#include <cstring>

namespace {

std::once_flag g_libInit;

// The errors after which the library's thread ends instead of trying again.
bool EndsTheLoop(int rc)
{
    switch (rc) {
    case MOSQ_ERR_NOMEM:
    case MOSQ_ERR_PROTOCOL:
    case MOSQ_ERR_INVAL:
    case MOSQ_ERR_NOT_FOUND:
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_PAYLOAD_SIZE:
    case MOSQ_ERR_NOT_SUPPORTED:
    case MOSQ_ERR_AUTH:
    case MOSQ_ERR_ACL_DENIED:
    case MOSQ_ERR_UNKNOWN:
    case MOSQ_ERR_EAI:
    case MOSQ_ERR_PROXY:
        return true;
    default:
        return false;
    }
}

const char* OrNull(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

CMqttClient::CMqttClient(std::function<void()> wake) : m_wake(std::move(wake))
{
    std::call_once(g_libInit, [] { mosquitto_lib_init(); });
}

CMqttClient::~CMqttClient() { Stop(); }

bool CMqttClient::IsAvailable() { return true; }

bool CMqttClient::Start(const Settings& settings, std::string& error)
{
    m_pMosq = mosquitto_new(settings.strClientId.c_str(), true, this);
    if (!m_pMosq) {
        error = std::strerror(errno);
        return false;
    }
    mosquitto_int_option(m_pMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_pMosq, OnConnect);
    mosquitto_disconnect_callback_set(m_pMosq, OnDisconnect);
    mosquitto_message_callback_set(m_pMosq, OnMessage);
    mosquitto_publish_callback_set(m_pMosq, OnPublish);
    mosquitto_log_callback_set(m_pMosq, OnLog);
    mosquitto_reconnect_delay_set(m_pMosq, 1, 30, true);
    int rc = MOSQ_ERR_SUCCESS;
    if (!settings.strUser.empty())
        rc = mosquitto_username_pw_set(m_pMosq, settings.strUser.c_str(), OrNull(settings.strPassword));
    if (rc == MOSQ_ERR_SUCCESS && !settings.strWillTopic.empty())
        rc = mosquitto_will_set(m_pMosq, settings.strWillTopic.c_str(), 7, "offline", 1, true);
    if (rc == MOSQ_ERR_SUCCESS && settings.bTls) {
        const bool bOwnCa = !settings.strCaFile.empty();
        rc = mosquitto_tls_set(m_pMosq, bOwnCa ? settings.strCaFile.c_str() : nullptr,
                               bOwnCa ? nullptr : "/etc/ssl/certs", OrNull(settings.strCertFile),
                               OrNull(settings.strKeyFile), nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        return false;
    }
    // The thread first: started after a connect that failed (no broker
    // yet), it would never try again.
    rc = mosquitto_loop_start(m_pMosq);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = mosquitto_strerror(rc);
        return false;
    }
    m_bLoopRunning = true;
    rc = mosquitto_connect_async(m_pMosq, settings.strHost.c_str(), settings.nPort, settings.nKeepAlive);
    if (rc == MOSQ_ERR_EAI || rc == MOSQ_ERR_INVAL) {
        error = "cannot connect to " + settings.strHost + ": " + mosquitto_strerror(rc);
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_TLS) {
        Event event;
        event.kind = Event::Kind::Lost;
        event.text = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
        Queue(std::move(event));
    }
    return true;
}

void CMqttClient::KeepTrying()
{
    if (!m_pMosq || !m_bLoopEnded.load() || std::chrono::steady_clock::now() < m_tNextTry)
        return;
    m_bLoopEnded = false;
    mosquitto_loop_stop(m_pMosq, false);
    mosquitto_loop_start(m_pMosq);
    mosquitto_reconnect_async(m_pMosq);
}

bool CMqttClient::Publish(const std::string& topic, const char* payload, std::size_t size, int qos, bool bRetain)
{
    if (!m_pMosq || !m_bConnected.load())
        return false;
    return mosquitto_publish(m_pMosq, nullptr, topic.c_str(), static_cast<int>(size), payload, qos, bRetain) ==
           MOSQ_ERR_SUCCESS;
}

bool CMqttClient::PublishAndWait(const std::string& topic, const std::string& payload, bool bRetain,
                                 std::chrono::milliseconds timeout)
{
    if (!m_pMosq || !m_bConnected.load())
        return false;
    int mid = 0;
    if (mosquitto_publish(m_pMosq, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          bRetain) != MOSQ_ERR_SUCCESS)
        return false;
    // An acknowledgement that came before the wait began is in the list.
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_published.wait_for(lock, timeout, [&] {
        return std::find(m_acked.begin(), m_acked.end(), mid) != m_acked.end();
    });
}

bool CMqttClient::Subscribe(const std::string& pattern, int qos)
{
    return m_pMosq && mosquitto_subscribe(m_pMosq, nullptr, pattern.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

std::vector<CMqttClient::Event> CMqttClient::TakeEvents()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Event> events(std::make_move_iterator(m_events.begin()), std::make_move_iterator(m_events.end()));
    m_events.clear();
    m_nMessages = 0;
    return events;
}

void CMqttClient::Stop()
{
    if (!m_pMosq)
        return;
    // Without a connection the thread is between tries and would try on
    // for ever: it is cancelled instead of waited for.
    const bool bConnected = mosquitto_disconnect(m_pMosq) == MOSQ_ERR_SUCCESS;
    if (m_bLoopRunning)
        mosquitto_loop_stop(m_pMosq, !bConnected);
    m_bLoopRunning = false;
    mosquitto_destroy(m_pMosq);
    m_pMosq = nullptr;
    m_bConnected = false;
}

void CMqttClient::Queue(Event event)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (event.kind == Event::Kind::Message) {
            if (m_nMessages >= kMaxWaitingMessages) {
                ++m_nDropped;
                return;
            }
            ++m_nMessages;
        }
        m_events.push_back(std::move(event));
    }
    if (m_wake)
        m_wake();
}

void CMqttClient::OnConnect(mosquitto* mosq, void* self, int rc)
{
    auto* client = static_cast<CMqttClient*>(self);
    Event event;
    if (rc == 0) {
        // With a log callback set, the library formats a line for every
        // message it publishes: with thousands of per-zone values a cycle
        // that was a third of the publishing thread's time. The log tells
        // only why a connection could not be made, so it is heard only
        // while there is none.
        mosquitto_log_callback_set(mosq, nullptr);
        client->m_bConnected = true;
        client->m_retryDelay = std::chrono::seconds(1);
        event.kind = Event::Kind::Connected;
    } else {
        event.kind = Event::Kind::Refused;
        event.text = std::string("the broker refused the login: ") + mosquitto_connack_string(rc);
    }
    client->Queue(std::move(event));
}

void CMqttClient::OnDisconnect(mosquitto* mosq, void* self, int rc)
{
    auto* client = static_cast<CMqttClient*>(self);
    client->m_bConnected = false;
    mosquitto_log_callback_set(mosq, OnLog);
    if (rc == MOSQ_ERR_SUCCESS)
        return;  // our own disconnect
    Event event;
    event.kind = rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_AUTH ? Event::Kind::Refused : Event::Kind::Lost;
    {
        std::lock_guard<std::mutex> lock(client->m_mutex);
        event.text = client->m_strLastLogError.empty() ? std::string(mosquitto_strerror(rc))
                                                       : client->m_strLastLogError;
        client->m_strLastLogError.clear();
    }
    if (rc == MOSQ_ERR_CONN_REFUSED)
        return;  // told by OnConnect with the broker's reason
    if (EndsTheLoop(rc)) {
        client->m_tNextTry = std::chrono::steady_clock::now() + client->m_retryDelay;
        client->m_retryDelay = std::min(client->m_retryDelay * 2, std::chrono::seconds(30));
        client->m_bLoopEnded = true;
    }
    client->Queue(std::move(event));
}

void CMqttClient::OnMessage(mosquitto*, void* self, const struct mosquitto_message* message)
{
    Event event;
    event.kind = Event::Kind::Message;
    event.topic = message->topic ? message->topic : "";
    // A command is a few dozen bytes: one of megabytes, cut to what shows it
    // is none, keeps the waiting messages small.
    if (message->payload && message->payloadlen > 0)
        event.payload.assign(static_cast<const char*>(message->payload),
                             std::min(static_cast<std::size_t>(message->payloadlen), kMaxPayload));
    event.bRetained = message->retain;
    static_cast<CMqttClient*>(self)->Queue(std::move(event));
}

void CMqttClient::OnPublish(mosquitto*, void* self, int mid)
{
    auto* client = static_cast<CMqttClient*>(self);
    {
        std::lock_guard<std::mutex> lock(client->m_mutex);
        client->m_acked.push_back(mid);
        if (client->m_acked.size() > 64)
            client->m_acked.erase(client->m_acked.begin());
    }
    client->m_published.notify_all();
}

void CMqttClient::OnLog(mosquitto*, void* self, int level, const char* text)
{
    if (level != MOSQ_LOG_ERR || !text)
        return;
    auto* client = static_cast<CMqttClient*>(self);
    {
        std::lock_guard<std::mutex> lock(client->m_mutex);
        client->m_strLastLogError = text;
    }
    // A failed handshake reaches no other callback: the library's thread
    // tries again by itself, and only its log tells why it failed.
    if (std::strstr(text, "OpenSSL Error") || std::strstr(text, "TLS")) {
        Event event;
        event.kind = Event::Kind::Refused;
        event.text = std::string("the TLS handshake failed: ") + text;
        client->Queue(std::move(event));
    }
}
