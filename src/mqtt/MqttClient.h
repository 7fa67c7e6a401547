#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;

// The broker connection: libmosquitto with its own network thread, MQTT
// 3.1.1, a Last Will, reconnects after 1 s growing to 30 s. Its callbacks
// only queue events and call the wake function; whoever owns the client
// takes the events on its own thread (TakeEvents) and publishes from there.
// Publish is safe from any thread.
class CMqttClient
{
public:
    struct Settings
    {
        std::string strHost;
        int nPort = 1883;
        bool bTls = false;
        std::string strUser;      // empty: no login
        std::string strPassword;
        std::string strCaFile;    // TLS: empty uses the system's CAs
        std::string strCertFile;  // TLS client certificate and key, both or neither
        std::string strKeyFile;
        std::string strClientId;
        int nKeepAlive = 30;      // s
        std::string strWillTopic; // the Last Will: "offline" there, retained, QoS 1
    };

    struct Event
    {
        enum class Kind
        {
            Connected,  // the broker took the login (again)
            Refused,    // the broker or the TLS handshake refused us: text says why
            Lost,       // the connection ended; the client tries again by itself
            Message,    // a message on a subscribed topic
        };
        Kind kind = Kind::Lost;
        std::string text;  // Refused, Lost: the reason
        std::string topic;
        std::string payload;
        bool bRetained = false;
    };

    // At most this many messages wait; more are dropped and counted.
    static constexpr std::size_t kMaxWaitingMessages = 256;
    // Of a longer message, only this many bytes are kept.
    static constexpr std::size_t kMaxPayload = 1024;

    // False in a build without an MQTT library (Windows): there Start
    // always fails and nothing is ever sent.
    static bool IsAvailable();

    explicit CMqttClient(std::function<void()> wake = {});
    ~CMqttClient();  // Stop()
    CMqttClient(const CMqttClient&) = delete;
    CMqttClient& operator=(const CMqttClient&) = delete;

    // Starts the network thread, then the connection: false with the reason
    // only for settings the library refuses (a missing CA file, say). A
    // broker that is not there yet is no failure: the thread keeps trying.
    bool Start(const Settings& settings, std::string& error);
    // Asks for a new connection when the library's thread gave up (after a
    // TLS failure it does not try again by itself); does nothing otherwise.
    // Call now and then from the owner's thread.
    void KeepTrying();

    bool IsConnected() const { return m_bConnected.load(); }
    // Nothing is queued while there is no connection: false then, and the
    // message is gone (states come again next cycle; what must survive is
    // published again after the reconnect).
    bool Publish(const std::string& topic, const std::string& payload, int qos, bool bRetain)
    {
        return Publish(topic, payload.data(), payload.size(), qos, bRetain);
    }
    bool Publish(const std::string& topic, const char* payload, std::size_t size, int qos, bool bRetain);
    // The same, then waits up to timeout until the broker has it (QoS 1).
    bool PublishAndWait(const std::string& topic, const std::string& payload, bool bRetain,
                        std::chrono::milliseconds timeout);
    bool Subscribe(const std::string& pattern, int qos);

    std::vector<Event> TakeEvents();
    long long DroppedMessages() const { return m_nDropped.load(); }

    // Disconnects cleanly and ends the thread.
    void Stop();

private:
    static void OnConnect(mosquitto*, void* self, int rc);
    static void OnDisconnect(mosquitto*, void* self, int rc);
    static void OnMessage(mosquitto*, void* self, const struct mosquitto_message* message);
    static void OnPublish(mosquitto*, void* self, int mid);
    static void OnLog(mosquitto*, void* self, int level, const char* text);
    void Queue(Event event);

    std::function<void()> m_wake;
    mosquitto* m_pMosq = nullptr;
    bool m_bLoopRunning = false;
    std::atomic<bool> m_bConnected{false};
    std::atomic<bool> m_bLoopEnded{false};
    std::chrono::steady_clock::time_point m_tNextTry{};
    std::chrono::seconds m_retryDelay{1};
    std::atomic<long long> m_nDropped{0};

    std::mutex m_mutex;  // guards what follows
    std::condition_variable m_published;
    std::deque<Event> m_events;
    std::size_t m_nMessages = 0;
    std::vector<int> m_acked;
    std::string m_strLastLogError;
};
