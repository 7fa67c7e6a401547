#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

struct mosquitto;

// A mosquitto of the test's own on a free loopback port, with a generated
// configuration in dir (extra lines appended), stopped by its process id.
// A missing broker fails the test that asks for one.
class TestBroker
{
public:
    TestBroker(const std::string& dir, const std::string& extra = "allow_anonymous true\n");
    ~TestBroker() { Stop(); }
    // Starts it (again, on the same port); false when it did not listen
    // within 5 s.
    bool Start();
    void Stop();
    int Port() const { return m_nPort; }

private:
    std::string m_strDir;
    std::string m_strExtra;
    int m_nPort = 0;
    pid_t m_pid = -1;
};

// A port nobody listens on now.
int FreePort();

// A subscriber (and publisher) on the plain broker at port.
class TestClient
{
public:
    struct Message
    {
        std::string topic;
        std::string payload;
        bool bRetained;
    };
    // Subscribed to pattern when the constructor returns (or Ready() false).
    TestClient(int port, const std::string& pattern);
    ~TestClient();
    bool Ready() const { return m_bReady; }
    void Publish(const std::string& topic, const std::string& payload, bool bRetain);
    std::vector<Message> Messages();
    std::vector<Message> On(const std::string& topic);
    // Waits up to timeout until count messages on topic have come (payload
    // given: with that payload).
    bool WaitFor(const std::string& topic, std::size_t count, std::chrono::milliseconds timeout,
                 const std::string& payload = "");

private:
    mosquitto* m_pMosq = nullptr;
    bool m_bReady = false;
    std::mutex m_mutex;
    std::vector<Message> m_messages;
};
