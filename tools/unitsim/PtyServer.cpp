// The pseudo-terminal side of the simulator.
#include "unitsim/PtyServer.h"

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
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

// The kernel's termios2, which carries the rate as a number; its header
// cannot be included beside the C library's termios.
struct KernelTermios2
{
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed;
    speed_t c_ospeed;
};
constexpr unsigned long kGetTermios2 = _IOR('T', 0x2A, KernelTermios2);
constexpr tcflag_t kOtherRate = 0010000;  // BOTHER

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

PtyServer::Clock::duration PtyServer::PerByte() const
{
    if (m_baud <= 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(10.0 / m_baud));
}

PtyServer::Clock::duration PtyServer::RequestWireTime(std::size_t n) const
{
    if (m_baud > 0)
        return PerByte() * static_cast<long long>(n);
    // The slave's settings, as the program made them: a pseudo-terminal's
    // master reads them through its own descriptor.
    KernelTermios2 t{};
    if (ioctl(m_master, kGetTermios2, &t) != 0)
        return Clock::duration::zero();
    long long baud = t.c_ospeed;
    if ((t.c_cflag & CBAUD) != kOtherRate) {
        static const std::pair<tcflag_t, long long> rates[] = {
            {B1200, 1200}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
            {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
        baud = 0;
        for (const auto& [code, rate] : rates)
            if ((t.c_cflag & CBAUD) == code)
                baud = rate;
    }
    if (baud <= 0)
        return Clock::duration::zero();
    const tcflag_t size = t.c_cflag & CSIZE;
    const int bits = 1 + (size == CS5 ? 5 : size == CS6 ? 6 : size == CS7 ? 7 : 8) + ((t.c_cflag & PARENB) ? 1 : 0) +
                     ((t.c_cflag & CSTOPB) ? 2 : 1);
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(n) * bits / static_cast<double>(baud)));
}

PtyServer::Clock::time_point PtyServer::Schedule(std::string bytes, Clock::time_point due)
{
    // The line carries one answer at a time, in the order they become due:
    // an answer due later (a twin's) never holds up one due earlier, and
    // one due while another is on the line follows it.
    Transmission t;
    t.due = due;
    t.bytes = std::move(bytes);
    auto at = std::upper_bound(m_line.begin(), m_line.end(), due,
                               [](Clock::time_point d, const Transmission& x) { return d < x.due; });
    // Never ahead of one that has begun.
    const auto now = Clock::now();
    auto begun = [now](const Transmission& x) { return x.done > 0 || (x.start != Clock::time_point{} && x.start <= now); };
    while (at != m_line.end() && begun(*at))
        ++at;
    const auto index = static_cast<std::size_t>(at - m_line.begin());
    m_line.insert(at, std::move(t));
    Clock::time_point free{};
    for (Transmission& x : m_line) {
        if (x.start == Clock::time_point{} || !begun(x))
            x.start = std::max(x.due, free);
        free = x.start + PerByte() * static_cast<long long>(x.bytes.size());
    }
    return m_line[index].start + PerByte() * static_cast<long long>(m_line[index].bytes.size());
}

bool PtyServer::Answer(const std::string& telegram, Clock::time_point arrived)
{
    SimBus::Reply reply = m_bus.Handle(telegram);
    ++m_nRequests;
    m_nBytes += static_cast<long long>(telegram.size() + reply.bytes.size() + reply.twinBytes.size());
    m_nAnswerBytes += static_cast<long long>(reply.bytes.size() + reply.twinBytes.size());
    if (reply.bDisconnect)
        return false;
    // A unit answers once its request has left the wire, after its earlier
    // answers, and a Delay fault later still.
    const auto onWire = arrived + RequestWireTime(telegram.size());
    const auto due = std::max(onWire, m_tUnitFree) + std::chrono::milliseconds(std::max(reply.delayMs, 0));
    Clock::time_point end = due;
    if (!reply.bytes.empty()) {
        end = Schedule(reply.bytes, due);
        m_tUnitFree = end;
    }
    if (!reply.twinBytes.empty()) {
        // The twin heard the same request and answers its delay after the
        // first unit has ended, or after its own earlier answer.
        const auto twinDue = std::max(end + std::chrono::milliseconds(std::max(reply.twinDelayMs, 0)), m_tTwinFree);
        m_tTwinFree = Schedule(reply.twinBytes, twinDue);
    }
    return true;
}

PtyServer::Clock::time_point PtyServer::Deliver()
{
    const auto perByte = PerByte();
    const auto now = Clock::now();
    auto arrived = [&](const Transmission& t, std::size_t count) { return t.start + perByte * static_cast<long long>(count); };
    while (!m_line.empty()) {
        Transmission& t = m_line.front();
        // How many bytes the program has by now, and when the next come.
        std::size_t ready = 0;
        Clock::time_point next = Clock::time_point::max();
        if (m_baud <= 0) {
            ready = now >= t.start ? t.bytes.size() : 0;
            next = t.start;
        } else if (m_delivery == Delivery::Paced) {
            const auto piece = std::clamp<std::size_t>(
                static_cast<std::size_t>(kPieceMaxMs / 1000.0 / std::chrono::duration<double>(perByte).count()), 1,
                kPieceBytes);
            for (std::size_t end = std::min(t.bytes.size(), t.done + piece);; end = std::min(t.bytes.size(), end + piece)) {
                if (arrived(t, end) > now) {
                    next = arrived(t, end);
                    break;
                }
                ready = end;
                if (end == t.bytes.size())
                    break;
            }
        } else {
            // The adapter's ticks: at each, all that is complete by then.
            const auto tick = std::chrono::milliseconds(kBurstMs);
            const auto lastTick = m_tStarted + ((now - m_tStarted) / tick) * tick;
            while (ready < t.bytes.size() && arrived(t, ready + 1) <= lastTick)
                ++ready;
            if (ready < t.bytes.size())
                next = m_tStarted + ((arrived(t, ready + 1) - m_tStarted) / tick + 1) * tick;
        }
        while (t.done < ready) {
            const ssize_t n = write(m_master, t.bytes.data() + t.done, ready - t.done);
            if (n > 0) {
                t.done += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN && now < arrived(t, t.bytes.size()) + std::chrono::milliseconds(kWriteGiveUpMs))
                return now + std::chrono::milliseconds(1);  // the program is not reading yet
            // No slave open (EIO), or nobody reads: lost, as on a dead line.
            t.done = t.bytes.size();
            ready = t.done;
        }
        if (t.done < t.bytes.size())
            return next;
        m_line.erase(m_line.begin());
    }
    return Clock::time_point::max();
}

void PtyServer::Serve()
{
    // A unit's UART puts each byte out on time; the default slack of the
    // sleeps (50 us) would make every paced answer late by about that much.
    prctl(PR_SET_TIMERSLACK, 1UL);
    std::string pending;
    char chunk[512];
    bool bUnplug = false;
    while (!m_bStop) {
        const auto nextPiece = Deliver();
        if (bUnplug && m_line.empty()) {
            // What was on its way went out first, as it would have.
            CloseMaster();
            return;
        }
        // Until the next piece is due, in steps short enough for Stop().
        auto wait = std::chrono::nanoseconds(std::chrono::milliseconds(kStepMs));
        if (nextPiece != Clock::time_point::max())
            wait = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(nextPiece - Clock::now()),
                              std::chrono::nanoseconds::zero(), wait);
        const timespec ts{0, static_cast<long>(wait.count())};
        pollfd p{m_master, static_cast<short>(bUnplug ? 0 : POLLIN), 0};
        int r = ppoll(&p, 1, &ts, nullptr);
        if (r < 0 && errno != EINTR)
            break;
        if (r <= 0 || bUnplug)
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
            // worthless, and so are answers still on their way.
            pending.clear();
            m_line.clear();
            std::this_thread::sleep_for(std::chrono::milliseconds(kHangUpPauseMs));
            continue;
        }
        const auto arrived = Clock::now();
        pending.append(chunk, static_cast<std::size_t>(n));

        std::size_t etx;
        while (!bUnplug && (etx = pending.find(kEtx)) != std::string::npos) {
            const std::string telegram = pending.substr(0, etx + 1);
            pending.erase(0, etx + 1);
            bUnplug = !Answer(telegram, arrived);
        }
        if (pending.size() > kMaxTelegram)
            pending.clear();
    }
}

}  // namespace unitsim
