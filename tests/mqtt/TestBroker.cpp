#include "TestBroker.h"

#include <gtest/gtest.h>
#include <mosquitto.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "ChildProcess.h"

namespace {

std::string BrokerProgram()
{
    for (const char* path : {"/usr/sbin/mosquitto", "/usr/bin/mosquitto", "/usr/local/sbin/mosquitto"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return {};
}

bool Listens(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool bOk = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bOk;
}

}  // namespace

int FreePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

TestBroker::TestBroker(const std::string& dir, const std::string& extra) : m_strDir(dir), m_strExtra(extra)
{
    m_nPort = FreePort();
}

bool TestBroker::Start()
{
    const std::string program = BrokerProgram();
    if (program.empty()) {
        ADD_FAILURE() << "mosquitto is not installed: run scripts/install-deps";
        return false;
    }
    const std::string config = m_strDir + "/broker-" + std::to_string(m_nPort) + ".conf";
    {
        std::ofstream file(config);
        file << "listener " << m_nPort << " 127.0.0.1\npersistence false\n" << m_strExtra;
        // As root the broker would turn into the user "mosquitto", who may
        // not read the test's files.
        if (getuid() == 0)
            file << "user root\n";
    }
    m_pid = SpawnWithOutput({program, "-c", config}, m_strDir + "/broker.out", m_strDir + "/broker.log");
    for (int i = 0; i < 250; ++i) {
        if (Listens(m_nPort))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void TestBroker::Stop()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

TestClient::TestClient(int port, const std::string& pattern)
{
    mosquitto_lib_init();
    m_pMosq = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(m_pMosq, [](mosquitto*, void* self, const mosquitto_message* m) {
        auto* client = static_cast<TestClient*>(self);
        std::lock_guard<std::mutex> lock(client->m_mutex);
        client->m_messages.push_back({m->topic, std::string(static_cast<const char*>(m->payload),
                                                            static_cast<std::size_t>(m->payloadlen)),
                                      m->retain});
    });
    mosquitto_subscribe_callback_set(m_pMosq, [](mosquitto*, void* self, int, int, const int*) {
        static_cast<TestClient*>(self)->m_bReady = true;
    });
    if (mosquitto_connect(m_pMosq, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS)
        return;
    mosquitto_subscribe(m_pMosq, nullptr, pattern.c_str(), 1);
    mosquitto_loop_start(m_pMosq);
    for (int i = 0; i < 250 && !m_bReady; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

TestClient::~TestClient()
{
    mosquitto_disconnect(m_pMosq);
    mosquitto_loop_stop(m_pMosq, false);
    mosquitto_destroy(m_pMosq);
}

void TestClient::Publish(const std::string& topic, const std::string& payload, bool bRetain)
{
    mosquitto_publish(m_pMosq, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1, bRetain);
}

std::vector<TestClient::Message> TestClient::Messages()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<TestClient::Message> TestClient::On(const std::string& topic)
{
    std::vector<Message> found;
    for (const Message& m : Messages()) {
        if (m.topic == topic)
            found.push_back(m);
    }
    return found;
}

bool TestClient::WaitFor(const std::string& topic, std::size_t count, std::chrono::milliseconds timeout,
                         const std::string& payload)
{
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t n = 0;
        for (const Message& m : On(topic))
            n += payload.empty() || m.payload == payload ? 1 : 0;
        if (n >= count)
            return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
