#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "unitsim/SimBus.h"

namespace unitsim {

// Serves a SimBus on the master side of a new pseudo-terminal, on a thread of
// its own. The slave path is what a program opens as its serial device.
//
// Telegrams are read up to ETX and answered one after the other, as a real
// unit does: an answer held back by a Delay fault goes out late, and the
// requests that came meanwhile are answered after it. No answer begins
// before its request has left the wire. The line from the units to the
// program carries one answer at a time: a twin's answer (FaultKind::Twin),
// due its delay after the first unit's, goes out then or as soon as the line
// is free, while the server goes on taking requests. A program may close and
// reopen the slave as often as it likes while the server runs.
class PtyServer
{
public:
    explicit PtyServer(SimBus& bus) : m_bus(bus) {}
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // How an answer paced at a baud rate reaches the program.
    enum class Delivery
    {
        // In pieces of kPieceBytes, each when its last bit would have
        // arrived: a unit sending byte after byte into a port whose receive
        // FIFO hands them on a few at a time. A piece spans kPieceMaxMs of
        // wire at most (one byte at least): the FIFO's receive time-out hands
        // on what it holds after a few quiet character times, so on a slow
        // line the bytes come one or two at a time.
        Paced,
        // Every kBurstMs, all that the wire has carried by then: a USB
        // adapter with its latency timer.
        Bursts,
    };
    static constexpr std::size_t kPieceBytes = 16;
    static constexpr double kPieceMaxMs = 8.0;
    static constexpr int kBurstMs = 16;

    // Opens the pseudo-terminal and starts serving. baud > 0 paces the output
    // at that rate (10 bits a byte) so that wire time can be measured; 0 puts
    // each answer out at once, though not before its request would have left
    // the wire at the rate (and character frame) the program set on the
    // line. False when no pseudo-terminal could be had or the server already
    // runs.
    bool Start(int baud = 0, Delivery delivery = Delivery::Paced);
    // Stops serving and closes the master (the slave path disappears).
    void Stop();
    const std::string& SlavePath() const { return m_strSlavePath; }
    // Requests seen so far. A request is counted once the bus has handled
    // it (its effect on the units is visible), before its answer is written.
    int RequestCount() const { return m_nRequests.load(); }
    // Bytes of the telegrams taken and of the answers put on the line, for
    // computing wire times.
    long long BytesExchanged() const { return m_nBytes.load(); }
    // Of those, the bytes of the answers.
    long long BytesAnswered() const { return m_nAnswerBytes.load(); }
    // True from Start() until Stop() or until a Disconnect fault took the
    // line away.
    bool Serving() const { return m_bServing.load(); }

private:
    using Clock = std::chrono::steady_clock;
    // One answer on the line: its bytes, when its first bit goes out, and how
    // many of them the program has been handed.
    struct Transmission
    {
        std::string bytes;
        Clock::time_point due{};    // when its unit would begin it
        Clock::time_point start{};  // when it begins: due, or when the line is free
        std::size_t done = 0;
    };

    void Serve();
    // Answers one telegram that arrived at `arrived`: puts the answers on the
    // schedule. False when the line goes away instead.
    bool Answer(const std::string& telegram, Clock::time_point arrived);
    // Puts bytes on the line no sooner than due, and returns when they end.
    Clock::time_point Schedule(std::string bytes, Clock::time_point due);
    // Hands the program what the line has carried by now; returns when the
    // next piece is due (Clock::time_point::max(): nothing is waiting).
    Clock::time_point Deliver();
    // The wire time of n characters: at the pacing rate, or for a request at
    // the line's own rate when answers are not paced.
    Clock::duration PerByte() const;
    Clock::duration RequestWireTime(std::size_t n) const;
    void CloseMaster();

    SimBus& m_bus;
    int m_master = -1;
    int m_baud = 0;
    Delivery m_delivery = Delivery::Paced;
    std::chrono::steady_clock::time_point m_tStarted{};
    std::string m_strSlavePath;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bServing{false};
    std::atomic<int> m_nRequests{0};
    std::atomic<long long> m_nBytes{0};
    std::atomic<long long> m_nAnswerBytes{0};
    std::vector<Transmission> m_line;  // in the order they go out
    Clock::time_point m_tUnitFree{};   // when the first unit's last answer ends
    Clock::time_point m_tTwinFree{};   // the same for the twin
};

}  // namespace unitsim
