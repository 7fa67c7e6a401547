#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/CsvRecorder.h"
#include "monitor/MonitorHistory.h"
#include "monitor/MonitorTypes.h"

class CUnit;

// What the worker tells as it goes. Every call comes on the worker thread,
// in this order per cycle: UnitIdentified (before a unit's first sample
// with values, and again whenever it was identified anew: after it was
// silent, after the device came back, after a row that did not fit; its
// layout may have changed), SampleTaken for each watched unit in polling
// order, CycleDone. A cycle's calls come after the watch behind its last
// answer. LinkChanged and RecordingStopped come between them, Finished
// last of all. An implementation may block (a blocking-queued call to the
// window) but must never wait for the job to end: Wait() from the thread it
// blocks on would deadlock.
class IMonitorObserver
{
public:
    virtual ~IMonitorObserver() = default;
    virtual void UnitIdentified(int16_t /*address*/, int32_t /*zoneCount*/, int16_t /*valueWidth*/) {}
    virtual void SampleTaken(const MonitorSample& /*sample*/) {}
    // cycleMs: the whole cycle's time; stats: one entry per watched unit, in
    // polling order.
    virtual void CycleDone(long long /*cycle*/, double /*cycleMs*/, const std::vector<MonitorStats>& /*stats*/) {}
    // Open: the device is open again after it was gone. Gone: text says
    // what failed; the job tries again every 2 s.
    virtual void LinkChanged(MonitorLink /*state*/, const std::string& /*text*/) {}
    // The recording stopped on an error (text: the file and the reason); the
    // file is closed and holds whole lines only. The monitor goes on.
    virtual void RecordingStopped(const std::string& /*text*/) {}
    // The worker is done and the link closed: the owner may now Wait().
    virtual void Finished() {}
    // The line is free for other work (a write asked for from elsewhere):
    // after each CycleDone, while the job waits for its next cycle whenever
    // WakeBetweenCycles() was called, and every 2 s while the device is gone. unit is the job's own record,
    // its link open unless the device is gone; what it is told here (address,
    // layout) the job tells it again before its next poll.
    virtual void BetweenCycles(CUnit& /*unit*/) {}
};

struct MonitorConfig
{
    MonitorLine line;
    std::vector<MonitorUnit> units;  // polled in this order; at least one
    // From one cycle's start to the next; 0: as fast as the line allows. A
    // cycle that takes longer starts the next at once, without catching up.
    std::chrono::milliseconds interval{1000};
    long long nMaxCycles = 0;  // the job ends by itself after this many; 0: never
    // Where samples are kept for the chart; null: nowhere.
    std::shared_ptr<CMonitorHistory> pHistory;
};

// The line settings and device override of a unit record, for MonitorLine.
MonitorLine MonitorLineOf(CUnit& unit);

// A monitor: a worker that polls the watched units' actual and set rows in
// turn, cycle after cycle, until stopped. It opens its own unit record and
// link, so that the window's record and its link stay untouched.
//
// A silent unit gives an empty sample and is asked again next cycle. No
// sample holds a value other than the one the unit sent in that cycle: a
// line fault (see CUnit::Transact) from a sample's first request to the
// watch behind the cycle's last answer makes it an empty sample. A unit is
// identified again (its zone count and width) after a row that failed, and
// after the device came back; a cycle in which that fails, or in which the
// line misbehaved after it, gives an empty sample. When the device goes
// away (read error, hang-up) the job says so, closes it and
// opens the same path every 2 s until it is back or the job is stopped.
//
// Control calls (Stop, pause, interval, recording) are thread-safe and never
// wait for a telegram.
class CMonitorJob
{
public:
    static constexpr std::chrono::milliseconds kReopenInterval{2000};

    explicit CMonitorJob(IMonitorObserver& observer);
    CMonitorJob(const CMonitorJob&) = delete;
    CMonitorJob& operator=(const CMonitorJob&) = delete;
    // Stops the worker and waits for it: destroy only from a thread the
    // observer never blocks on, or after Finished().
    ~CMonitorJob();

    // Opens the link on the calling thread (quick), then starts the worker.
    // False when the device cannot be opened (GetOpenError(), IsPortInUse())
    // or a job already runs; nothing runs then.
    bool Start(const MonitorConfig& config);
    // Asks the worker to end after the unit it is polling; returns at once.
    void RequestStop();
    // Waits until the worker has ended; true when it has (always true when
    // none was started). Never call it from the thread the observer blocks on.
    bool Wait(std::chrono::milliseconds timeout);
    void Wait();
    bool IsRunning() const { return m_bRunning.load(); }

    // Paused: no telegram goes out, the link stays open; a pause asked for
    // mid-cycle begins after the current unit.
    void SetPaused(bool bPaused);
    bool IsPaused() const { return m_bPaused.load(); }
    // Units watched from the next cycle on, after those there are (false:
    // the address is watched already or is not 1..30); and a unit no longer
    // watched from the next cycle on (false: it is not watched). A job must
    // keep one unit: the last is not removed. Before Start() they change
    // nothing; give the units in MonitorConfig then.
    bool AddUnit(const MonitorUnit& unit);
    bool RemoveUnit(int16_t address);

    // Takes effect at once: the wait for the next cycle is measured again
    // from the current cycle's start.
    void SetInterval(std::chrono::milliseconds interval);
    // Has the observer's BetweenCycles called soon: at once while the job
    // waits for its next cycle, else after the current one. Returns at once.
    void WakeBetweenCycles();
    std::chrono::milliseconds GetInterval() const;

    // Starts recording every following sample to a new CSV file (or to the
    // end of one with bAppend). A new header gets the zone columns of the
    // widest watched unit at the first line, or all 128 while a watched unit
    // is still unknown then. A unit with more zones than the file's columns
    // (an append to a narrower recording, a unit added later) stops the
    // recording before its line, through RecordingStopped: no value is ever
    // left out. False with the reason in error; a recording already running
    // is ended first. May be called before Start().
    bool StartRecording(const std::string& path, bool bAppend, std::string& error);
    // The same to a descriptor the caller keeps (standard output).
    bool StartRecordingTo(int fd, const std::string& name);
    // Ends the recording: the file is synced and closed.
    void StopRecording();
    bool IsRecording() const;
    std::string RecordingPath() const;
    // Lines recorded so far (header excluded).
    long long RecordedLines() const;

    // A copy of the statistics, one entry per watched unit in polling order.
    std::vector<MonitorStats> Statistics() const;
    // Cycles completed so far.
    long long Cycles() const { return m_nCycles.load(); }

    // After a Start that failed: why, whether another program holds the
    // port, and which (0: not known).
    const std::string& GetOpenError() const { return m_strOpenError; }
    bool IsPortInUse() const { return m_bPortInUse; }
    long GetHolderPid() const { return m_nHolderPid; }
    // The device path the job opens.
    const std::string& GetDevicePath() const { return m_strDevicePath; }

private:
    struct UnitState;
    void Run();
    bool Identify(UnitState& state);
    // The unit's sample of this cycle, not yet told to anyone.
    MonitorSample PollUnit(UnitState& state, long long cycle);
    bool RowTelegram(UnitState& state, int16_t row, std::vector<int32_t>& values);
    // Counts an exchange of requests telegrams for the unit's statistics;
    // writes and discarded are the port's counts from before it.
    void CountPolls(const UnitState& state, int requests, bool bOk, long long writes, long long discarded);
    void DeviceGone(const std::string& text);
    bool Reopen();
    // Waits until due, a stop, or a change of the interval or pause; false
    // when stopped.
    bool WaitUntil(std::chrono::steady_clock::time_point due);
    bool WaitWhilePaused();
    void Record(const MonitorSample& sample);
    // Puts recorder (null: none) in place of the running recording, which
    // is ended; a failure to close it is told through RecordingStopped.
    void ReplaceRecorder(std::unique_ptr<CCsvRecorder> recorder);
    // Takes in the units added and drops those removed since the last cycle.
    void ApplyUnitChanges();

    IMonitorObserver& m_observer;
    MonitorConfig m_config;
    std::unique_ptr<CUnit> m_pUnit;
    std::vector<UnitState> m_states;
    std::thread m_thread;

    mutable std::mutex m_mutex;  // guards what follows and wakes the waits
    std::condition_variable m_wake;
    bool m_bStop = false;
    bool m_bBetweenWanted = false;
    std::chrono::milliseconds m_interval{1000};
    std::vector<MonitorStats> m_stats;
    // Addresses watched once the changes below are applied, and the changes.
    std::vector<int16_t> m_watched;
    std::vector<MonitorUnit> m_added;
    std::vector<int16_t> m_removed;
    // Apart, so that a slow disk holds no control call but the recording's.
    mutable std::mutex m_recordMutex;
    std::unique_ptr<CCsvRecorder> m_pRecorder;
    // What the window shows of the recording, copied after each line under
    // a lock of its own: a refresh never waits for a write or a sync.
    struct RecordingView
    {
        bool bOpen = false;
        std::string strPath;
        long long nLines = 0;
    };
    void PublishRecording(const CCsvRecorder* recorder);
    mutable std::mutex m_viewMutex;
    RecordingView m_recordingView;

    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bPaused{false};
    std::atomic<long long> m_nCycles{0};
    bool m_bLinkGone = false;
    std::string m_strOpenError;
    bool m_bPortInUse = false;
    long m_nHolderPid = 0;
    std::string m_strDevicePath;
};
