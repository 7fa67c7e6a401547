#include "monitor/MonitorJob.h"

#include <algorithm>
#include <utility>

#include "platform/ThreadName.h"
#include "unit/Unit.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

struct CMonitorJob::UnitState
{
    MonitorUnit given;  // as the caller named it
    MonitorUnit unit;   // as last identified
    bool bKnown = false;  // zone count and width known
    bool bIdentifiedOnce = false;
    // Identified in this cycle, and the line faults counted before it.
    bool bJustIdentified = false;
    long long nIdentifyFaults = 0;
    std::size_t index = 0;  // into m_stats
    long long nTimedCycles = 0;
    double dSumMs = 0.0;
};

MonitorLine MonitorLineOf(CUnit& unit)
{
    MonitorLine line;
    line.nPort = unit.GetPort();
    line.nBaudrate = unit.GetBaudrate();
    line.nParity = unit.GetParity();
    line.nDataBits = unit.GetDataBits();
    line.nStopBits = unit.GetStopBits();
    line.nTimeout = unit.GetTimeout();
    line.strDevice = unit.GetComPort().GetDeviceOverride();
    line.bCheckAnswerAddress = unit.GetCheckAnswerAddress();
    return line;
}

CMonitorJob::CMonitorJob(IMonitorObserver& observer) : m_observer(observer) {}

CMonitorJob::~CMonitorJob()
{
    RequestStop();
    Wait();
    StopRecording();
}

bool CMonitorJob::Start(const MonitorConfig& config)
{
    if (m_bRunning.load()) {
        m_strOpenError = "a monitor is running already";
        return false;
    }
    if (m_thread.joinable())
        m_thread.join();
    m_strOpenError.clear();
    m_bPortInUse = false;
    m_nHolderPid = 0;
    if (config.units.empty()) {
        m_strOpenError = "no unit to watch";
        return false;
    }

    m_config = config;
    m_pUnit = std::make_unique<CUnit>();
    m_pUnit->SetInterface(config.line.nPort, config.line.nBaudrate);
    m_pUnit->SetLineSettings(config.line.nParity, config.line.nDataBits, config.line.nStopBits,
                             config.line.nTimeout);
    m_pUnit->GetComPort().SetDeviceOverride(config.line.strDevice);
    m_pUnit->SetCheckAnswerAddress(config.line.bCheckAnswerAddress);
    const bool bOpen = m_pUnit->OpenPort();
    CComPort& port = m_pUnit->GetComPort();
    m_strDevicePath = port.GetDevicePath();
    if (!bOpen) {
        m_strOpenError = port.GetLastError();
        m_bPortInUse = port.IsInUse();
        m_nHolderPid = port.GetHolderPid();
        m_pUnit.reset();
        return false;
    }

    // The units are taken in as if added, before the first cycle.
    m_states.clear();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = false;
        m_interval = std::max(config.interval, std::chrono::milliseconds(0));
        m_stats.clear();
        m_watched.clear();
        m_added.clear();
        m_removed.clear();
        for (const MonitorUnit& unit : config.units) {
            if (std::find(m_watched.begin(), m_watched.end(), unit.nAddress) != m_watched.end())
                continue;
            m_watched.push_back(unit.nAddress);
            m_added.push_back(unit);
        }
    }
    m_nCycles = 0;
    m_bLinkGone = false;
    m_bRunning = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CMonitorJob::RequestStop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_wake.notify_all();
}

bool CMonitorJob::Wait(std::chrono::milliseconds timeout)
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_wake.wait_for(lock, timeout, [this] { return !m_bRunning.load(); }))
            return false;
    }
    // The worker has made its last call; what is left of it is its return.
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
    return true;
}

void CMonitorJob::Wait()
{
    while (!Wait(std::chrono::milliseconds(1000))) {
    }
}

bool CMonitorJob::AddUnit(const MonitorUnit& unit)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_bRunning.load() || unit.nAddress < 1 || unit.nAddress > 30 ||
        std::find(m_watched.begin(), m_watched.end(), unit.nAddress) != m_watched.end())
        return false;
    m_watched.push_back(unit.nAddress);
    m_added.push_back(unit);
    return true;
}

bool CMonitorJob::RemoveUnit(int16_t address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find(m_watched.begin(), m_watched.end(), address);
    if (!m_bRunning.load() || it == m_watched.end() || m_watched.size() == 1)
        return false;
    m_watched.erase(it);
    // One added since the last cycle was never taken in: it is not added.
    auto pending = std::find_if(m_added.begin(), m_added.end(),
                                [address](const MonitorUnit& u) { return u.nAddress == address; });
    if (pending != m_added.end())
        m_added.erase(pending);
    else
        m_removed.push_back(address);
    return true;
}

void CMonitorJob::ApplyUnitChanges()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (int16_t address : m_removed) {
        auto it = std::find_if(m_states.begin(), m_states.end(),
                               [address](const UnitState& s) { return s.unit.nAddress == address; });
        if (it == m_states.end())
            continue;
        m_stats.erase(m_stats.begin() + static_cast<long>(it->index));
        m_states.erase(it);
    }
    for (const MonitorUnit& unit : m_added) {
        UnitState state;
        state.given = unit;
        state.unit = unit;
        state.unit.nZoneCount = std::clamp(unit.nZoneCount, 0, kMaxZones);
        state.bKnown = state.unit.nZoneCount > 0 && (unit.nValueWidth == 4 || unit.nValueWidth == 5);
        m_states.push_back(state);
        MonitorStats s;
        s.nAddress = unit.nAddress;
        s.nZoneCount = state.bKnown ? state.unit.nZoneCount : 0;
        m_stats.push_back(s);
    }
    for (std::size_t i = 0; i < m_states.size(); ++i)
        m_states[i].index = i;
    m_added.clear();
    m_removed.clear();
}

void CMonitorJob::SetPaused(bool bPaused)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bPaused = bPaused;
    }
    m_wake.notify_all();
}

void CMonitorJob::SetInterval(std::chrono::milliseconds interval)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_interval = std::max(interval, std::chrono::milliseconds(0));
    }
    m_wake.notify_all();
}

void CMonitorJob::WakeBetweenCycles()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bBetweenWanted = true;
    }
    m_wake.notify_all();
}

std::chrono::milliseconds CMonitorJob::GetInterval() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_interval;
}

bool CMonitorJob::StartRecording(const std::string& path, bool bAppend, std::string& error)
{
    auto recorder = std::make_unique<CCsvRecorder>();
    if (!recorder->Open(path, bAppend, error))
        return false;
    ReplaceRecorder(std::move(recorder));
    return true;
}

bool CMonitorJob::StartRecordingTo(int fd, const std::string& name)
{
    auto recorder = std::make_unique<CCsvRecorder>();
    if (!recorder->OpenDescriptor(fd, name))
        return false;
    ReplaceRecorder(std::move(recorder));
    return true;
}

void CMonitorJob::StopRecording() { ReplaceRecorder(nullptr); }

void CMonitorJob::ReplaceRecorder(std::unique_ptr<CCsvRecorder> recorder)
{
    std::unique_ptr<CCsvRecorder> previous;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        previous = std::exchange(m_pRecorder, std::move(recorder));
        PublishRecording(m_pRecorder.get());
    }
    // Synced and closed outside the lock: the worker does not wait for a
    // slow disk to take the last lines.
    if (previous && !previous->Close())
        m_observer.RecordingStopped(previous->GetError());
}

void CMonitorJob::PublishRecording(const CCsvRecorder* recorder)
{
    RecordingView view;
    if (recorder && recorder->IsOpen())
        view = {true, recorder->GetPath(), recorder->GetLines()};
    std::lock_guard<std::mutex> lock(m_viewMutex);
    m_recordingView = std::move(view);
}

bool CMonitorJob::IsRecording() const
{
    std::lock_guard<std::mutex> lock(m_viewMutex);
    return m_recordingView.bOpen;
}

std::string CMonitorJob::RecordingPath() const
{
    std::lock_guard<std::mutex> lock(m_viewMutex);
    return m_recordingView.strPath;
}

long long CMonitorJob::RecordedLines() const
{
    std::lock_guard<std::mutex> lock(m_viewMutex);
    return m_recordingView.nLines;
}

std::vector<MonitorStats> CMonitorJob::Statistics() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}

bool CMonitorJob::WaitUntil(Clock::time_point due)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_until(lock, due, [this] { return m_bStop; });
    return !m_bStop;
}

bool CMonitorJob::WaitWhilePaused()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return m_bStop || !m_bPaused.load(); });
    return !m_bStop;
}

void CMonitorJob::Run()
{
    platform::NameCurrentThread("vorlent-monitor");
    // The turnaround before each telegram is a 1 ms sleep; the default
    // slack of a sleep would add to every telegram of a monitor that runs
    // as fast as the line allows.
    platform::UsePreciseSleeps();
    for (long long cycle = 1;; ++cycle) {
        if (!WaitWhilePaused())
            break;
        if (m_bLinkGone && !Reopen())
            break;
        ApplyUnitChanges();
        const Clock::time_point start = Clock::now();
        CUnit& unit = *m_pUnit;
        // What came since the last cycle's watch belongs to that cycle's
        // answers, which counted already: let it go, and start this cycle
        // on a quiet line.
        if (!m_bLinkGone)
            unit.SettleLine();

        // Every unit's layout is asked first, so that a recording's header
        // can name the zones of the widest unit before its first line.
        bool bStopped = false;
        for (UnitState& state : m_states) {
            state.bJustIdentified = false;
            if (!state.bKnown && !m_bLinkGone) {
                state.nIdentifyFaults = unit.GetLineFaults();
                state.bJustIdentified = Identify(state);
            }
        }
        // Samples wait for the watch behind the cycle's last answer: a line
        // fault may show exchanges after the value it made wrong.
        struct Taken
        {
            UnitState* state;
            MonitorSample sample;
            long long nFaultsBefore;
        };
        std::vector<Taken> taken;
        for (UnitState& state : m_states) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                bStopped = m_bStop;
            }
            if (bStopped)
                break;
            const long long before = unit.GetLineFaults();
            taken.push_back({&state, PollUnit(state, cycle), before});
        }
        if (!m_bLinkGone)
            unit.WatchLine();
        const long long faults = unit.GetLineFaults();
        for (UnitState& state : m_states) {
            if (!state.bJustIdentified)
                continue;
            if (state.nIdentifyFaults != faults) {
                // Its answers may have been another's: asked again next cycle.
                state.bKnown = false;
                continue;
            }
            state.bIdentifiedOnce = true;
            m_observer.UnitIdentified(state.unit.nAddress, state.unit.nZoneCount, state.unit.nValueWidth);
        }
        for (Taken& t : taken) {
            // A sample counts only when the line behaved from its first
            // request to the watch, and the layout it was cut by did too.
            if (t.nFaultsBefore != faults || (t.state->bJustIdentified && !t.state->bKnown)) {
                t.sample.actual.clear();
                t.sample.set.clear();
            }
            m_observer.SampleTaken(t.sample);
            if (m_config.pHistory)
                m_config.pHistory->Add(t.sample);
            Record(t.sample);
        }
        if (bStopped)
            break;

        const double cycleMs = MsBetween(start, Clock::now());
        m_nCycles = cycle;
        m_observer.CycleDone(cycle, cycleMs, Statistics());
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bBetweenWanted = false;
        }
        m_observer.BetweenCycles(*m_pUnit);
        if (m_config.nMaxCycles > 0 && cycle >= m_config.nMaxCycles)
            break;

        // The next cycle starts one interval after this one started, or at
        // once when this one took longer: never a burst to catch up. A new
        // interval counts from this cycle's start.
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const Clock::time_point due = start + m_interval;
            if (m_bStop || Clock::now() >= due)
                break;
            if (m_bBetweenWanted) {
                m_bBetweenWanted = false;
                lock.unlock();
                m_observer.BetweenCycles(*m_pUnit);
                lock.lock();
                continue;
            }
            m_wake.wait_until(lock, due);
        }
        if (m_bStop)
            break;
    }
    m_pUnit->ClosePort();
    StopRecording();
    m_observer.Finished();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bRunning = false;
    }
    m_wake.notify_all();
}

bool CMonitorJob::Identify(UnitState& state)
{
    CUnit& unit = *m_pUnit;
    CComPort& port = unit.GetComPort();
    const long long writes = port.GetWrites();
    const long long discarded = port.GetDiscardedBytes();
    unit.SetAddress(state.unit.nAddress);
    unit.SetOffline(false);
    int requests = 1;
    bool bOk = unit.QueryAZNumber() != -1;
    // The width of the unit's own answer, unless the caller knows better;
    // the zone count the caller gave holds for the first identification
    // only: a unit identified again may have come back as another.
    const int16_t width = state.given.nValueWidth == 4 || state.given.nValueWidth == 5 ? state.given.nValueWidth
                                                                                       : unit.GetValueWidth();
    int32_t zones = state.bIdentifiedOnce ? 0 : state.given.nZoneCount;
    if (bOk && zones == 0) {
        ++requests;
        const int32_t asked = unit.QueryZoneCount();
        bOk = asked >= 1 && asked <= kMaxZones;
        zones = asked;
    }
    bOk = bOk && (width == 4 || width == 5);
    CountPolls(state, requests, bOk, writes, discarded);
    if (bOk) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stats[state.index].nZoneCount = zones;
    }
    if (port.HasLinkFailed()) {
        DeviceGone(port.GetLinkError());
        return false;
    }
    if (!bOk)
        return false;
    state.unit.nZoneCount = zones;
    state.unit.nValueWidth = width;
    state.bKnown = true;
    return true;
}

MonitorSample CMonitorJob::PollUnit(UnitState& state, long long cycle)
{
    MonitorSample sample;
    sample.nAddress = state.unit.nAddress;
    sample.nCycle = cycle;
    sample.tWall = std::chrono::system_clock::now();
    const Clock::time_point start = Clock::now();
    if (state.bKnown && !m_bLinkGone) {
        CUnit& unit = *m_pUnit;
        // The record is told the unit's layout, so that its rows are cut
        // into the right values and checked against the right length.
        unit.SetAddress(state.unit.nAddress);
        unit.SetOffline(true);
        unit.SetZoneCount(state.unit.nZoneCount);
        unit.SetValueWidth(state.unit.nValueWidth);
        // A row that fails (silence, a row that does not fit the layout)
        // may mean a unit that reset or was replaced: it is identified
        // again before its next rows are taken.
        if (!RowTelegram(state, -1, sample.actual) || !RowTelegram(state, 0, sample.set)) {
            sample.actual.clear();
            sample.set.clear();
            state.bKnown = false;
        }
        const double ms = MsBetween(start, Clock::now());
        state.dSumMs += ms;
        ++state.nTimedCycles;
        std::lock_guard<std::mutex> lock(m_mutex);
        MonitorStats& s = m_stats[state.index];
        s.dLastCycleMs = ms;
        s.dMeanCycleMs = state.dSumMs / static_cast<double>(state.nTimedCycles);
    }
    return sample;
}

bool CMonitorJob::RowTelegram(UnitState& state, int16_t row, std::vector<int32_t>& values)
{
    CUnit& unit = *m_pUnit;
    CComPort& port = unit.GetComPort();
    const long long writes = port.GetWrites();
    const long long discarded = port.GetDiscardedBytes();
    // The telegram layer takes a row only whole (zone count x width), so no
    // value of an earlier answer stands in a short row's tail.
    // A row that came only after a silent try may come from a unit that
    // restarted meanwhile, perhaps as another: it is not cut by the old layout.
    const bool bOk = unit.ReadParamRow(row) && !unit.LastTransactHadSilence();
    CountPolls(state, 1, bOk, writes, discarded);
    if (port.HasLinkFailed()) {
        DeviceGone(port.GetLinkError());
        return false;
    }
    if (!bOk)
        return false;
    values.resize(static_cast<std::size_t>(state.unit.nZoneCount));
    for (int16_t zone = 1; zone <= state.unit.nZoneCount; ++zone)
        values[static_cast<std::size_t>(zone - 1)] =
            row == -1 ? unit.GetStoredActualValue(zone) : unit.GetStoredSetValue(zone);
    return true;
}

void CMonitorJob::CountPolls(const UnitState& state, int requests, bool bOk, long long writes, long long discarded)
{
    const CComPort& port = m_pUnit->GetComPort();
    std::lock_guard<std::mutex> lock(m_mutex);
    MonitorStats& s = m_stats[state.index];
    s.nPolls += requests;
    // A failed exchange is its last request; those before it were answered.
    s.nAnswered += bOk ? requests : requests - 1;
    s.nNoAnswer += bOk ? 0 : 1;
    s.nRetried += bOk && port.GetWrites() - writes > requests ? 1 : 0;
    s.nLateDiscarded += port.GetDiscardedBytes() > discarded ? 1 : 0;
}

void CMonitorJob::DeviceGone(const std::string& text)
{
    m_pUnit->ClosePort();
    m_bLinkGone = true;
    m_observer.LinkChanged(MonitorLink::Gone, m_strDevicePath + ": " + (text.empty() ? "the device went away" : text));
}

bool CMonitorJob::Reopen()
{
    // Each try right after the one before would find nothing new: an
    // adapter takes a moment to come back, and its name with it.
    for (;;) {
        if (!WaitUntil(Clock::now() + kReopenInterval))
            return false;
        // The line is free meanwhile, if of no use: others' work is told so.
        m_observer.BetweenCycles(*m_pUnit);
        if (m_pUnit->OpenPort()) {
            m_bLinkGone = false;
            // The device that came back may have other units behind it.
            for (UnitState& state : m_states)
                state.bKnown = false;
            m_observer.LinkChanged(MonitorLink::Open, m_strDevicePath);
            return true;
        }
    }
}

void CMonitorJob::Record(const MonitorSample& sample)
{
    MonitorStats widest;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const MonitorStats& s : m_stats) {
            if (s.nZoneCount > widest.nZoneCount)
                widest = s;
        }
    }
    std::string error;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        if (!m_pRecorder || !m_pRecorder->IsOpen())
            return;
        // A header names every zone a known unit has. A unit still unknown
        // (silent so far) does not widen it: should it turn out wider, the
        // recording stops below rather than leave a value out.
        if (m_pRecorder->GetZoneColumns() == 0)
            m_pRecorder->SetZoneColumns(widest.nZoneCount > 0 ? widest.nZoneCount : kMaxZones);
        const int columns = m_pRecorder->GetZoneColumns();
        if (widest.nZoneCount > columns) {
            // Its values would be cut off at the last column: not one line
            // more, rather than a file that holds less than the units sent.
            error = m_pRecorder->GetPath() + " has columns for " + std::to_string(columns) + " zones, unit " +
                    std::to_string(widest.nAddress) + " has " + std::to_string(widest.nZoneCount) +
                    "; the recording stopped after " + std::to_string(m_pRecorder->GetLines()) + " lines";
        } else if (m_pRecorder->Write(sample)) {
            PublishRecording(m_pRecorder.get());
            return;
        } else {
            error = m_pRecorder->GetError();
        }
        m_pRecorder.reset();
        PublishRecording(nullptr);
    }
    m_observer.RecordingStopped(error);
}
