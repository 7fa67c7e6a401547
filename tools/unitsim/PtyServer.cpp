// The pseudo-terminal side of the simulator.
#include "unitsim/PtyServer.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace unitsim {

namespace {

constexpr char kEtx = 0x03;
// Poll step: how long Stop() may have to wait.
constexpr int kStepMs = 20;
// Pause while no slave is open: short, because the first request after the
// program opens the device waits for it, and that would show in measured
// wire times.
constexpr int kHangUpPauseMs = 5;
// A line that never brings an ETX is garbage, not a telegram in the making.
constexpr std::size_t kMaxTelegram = 4096;
// A reply nobody reads (the program has the slave open but does not read) is
// dropped after this long rather than blocking the bus.
constexpr int kWriteGiveUpMs = 2000;

void MakeRaw(int fd)
{
    termios t{};
    if (tcgetattr(fd, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
}

}  // namespace

PtyServer::~PtyServer() { Stop(); }

bool PtyServer::Start(int baud, Delivery delivery)
{
    if (m_thread.joinable() || m_master >= 0)
        return false;
    int fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char name[128];
    if (grantpt(fd) != 0 || unlockpt(fd) != 0 || ptsname_r(fd, name, sizeof name) != 0) {
        close(fd);
        return false;
    }
    MakeRaw(fd);
    // A new slave is cooked: it would echo requests back onto the line and
    // turn line ends around. The program makes its side raw itself, but the
    // simulator must not depend on that; the setting stays with the slave as
    // long as the master is open.
    int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        MakeRaw(slave);
        close(slave);
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    m_master = fd;
    m_baud = baud;
    m_delivery = delivery;
    m_tStarted = std::chrono::steady_clock::now();
    m_strSlavePath = name;
    m_bStop = false;
    m_bServing = true;
    m_thread = std::thread([this] { Serve(); });
    return true;
}

void PtyServer::Stop()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    CloseMaster();
}

void PtyServer::CloseMaster()
{
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
    m_bServing = false;
}

bool PtyServer::Pause(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_bStop) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return true;
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(kStepMs)));
    }
    return false;
}

void PtyServer::WriteReply(const std::string& bytes, std::size_t requestBytes)
{
    using clock = std::chrono::steady_clock;
    // Ten bits a byte on the wire. The pseudo-terminal delivers the request at
    // once, so a paced line first lets the request's own wire time pass, as
    // on a real half-duplex bus. Every due time is counted from the start,
    // so that the sleeps' overshoot does not add up.
    const std::chrono::duration<double> perByte(m_baud > 0 ? 10.0 / m_baud : 0.0);
    const auto start = clock::now() + std::chrono::duration_cast<clock::duration>(perByte * static_cast<double>(requestBytes));
    auto arrived = [&](std::size_t count) {
        return start + std::chrono::duration_cast<clock::duration>(perByte * static_cast<double>(count));
    };
    const auto giveUp = arrived(bytes.size()) + std::chrono::milliseconds(kWriteGiveUpMs);
    std::size_t done = 0;
    while (done < bytes.size() && !m_bStop) {
        std::size_t end = bytes.size();
        if (m_baud > 0) {
            clock::time_point due;
            if (m_delivery == Delivery::Paced) {
                const auto piece = std::clamp<std::size_t>(
                    static_cast<std::size_t>(kPieceMaxMs / 1000.0 / perByte.count()), 1, kPieceBytes);
                end = std::min(bytes.size(), done + piece);
                due = arrived(end);
            } else {
                // The adapter's next tick after the next byte is complete,
                // and everything complete by then.
                const auto tick = std::chrono::milliseconds(kBurstMs);
                const auto since = arrived(done + 1) - m_tStarted;
                due = m_tStarted + (since / tick + 1) * tick;
                end = done + 1;
                while (end < bytes.size() && arrived(end + 1) <= due)
                    ++end;
            }
            while (!m_bStop && clock::now() < due)
                std::this_thread::sleep_for(std::min<clock::duration>(due - clock::now(), std::chrono::milliseconds(kStepMs)));
        }
        ssize_t n = write(m_master, bytes.data() + done, end - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return;  // no slave open (EIO): the answer is lost, as on a dead line
        if (clock::now() >= giveUp)
            return;
        pollfd p{m_master, POLLOUT, 0};
        poll(&p, 1, kStepMs);
    }
}

void PtyServer::Serve()
{
    // A unit's UART puts each byte out on time; the default slack of the
    // sleeps (50 us) would make every paced answer late by about that much.
    prctl(PR_SET_TIMERSLACK, 1UL);
    std::string pending;
    char chunk[512];
    while (!m_bStop) {
        pollfd p{m_master, POLLIN, 0};
        int r = poll(&p, 1, kStepMs);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0)
            continue;
        if (p.revents & POLLNVAL)
            break;
        ssize_t n = 0;
        if (p.revents & POLLIN) {
            n = read(m_master, chunk, sizeof chunk);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
        }
        if (n <= 0) {
            // EIO or POLLHUP: no slave is open right now, as between two jobs
            // of the program. Keep serving; a half telegram from before is
            // worthless.
            pending.clear();
            Pause(kHangUpPauseMs);
            continue;
        }
        pending.append(chunk, static_cast<std::size_t>(n));

        std::size_t etx;
        while (!m_bStop && (etx = pending.find(kEtx)) != std::string::npos) {
            const std::string telegram = pending.substr(0, etx + 1);
            pending.erase(0, etx + 1);
            SimBus::Reply reply = m_bus.Handle(telegram);
            ++m_nRequests;
            m_nBytes += static_cast<long long>(telegram.size() + reply.bytes.size());
            m_nAnswerBytes += static_cast<long long>(reply.bytes.size());
            if (reply.bDisconnect) {
                CloseMaster();
                return;
            }
            if (reply.delayMs > 0 && !Pause(reply.delayMs))
                return;
            if (!reply.bytes.empty())
                WriteReply(reply.bytes, telegram.size());
        }
        if (pending.size() > kMaxTelegram)
            pending.clear();
    }
}

}  // namespace unitsim
