#include "workflows/Jobs.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/AutoResetEvent.h"
#include "unit/Unit.h"

JobResult RunScan(CUnit& unit, IScanObserver& observer)
{
    for (int16_t address = 1; address <= 30; ++address) {
        unit.SetAddress(address);
        observer.Polling(true);
        const int16_t azNumber = unit.QueryAZNumber();
        observer.Polling(false);
        if (azNumber != -1)
            observer.Found(address, azNumber, unit.QueryType());
        if (observer.StopRequested())
            return JobResult::Stopped;
    }
    return JobResult::Done;
}

namespace {

// One pass of the receive. LineFault: the line misbehaved during it, so
// every value it took is suspect.
enum class PassResult { Done, Stopped, CommError, LineFault };

PassResult ReceivePass(CUnit& unit, IJobProgress& progress)
{
    unit.SettleLine();
    const long long faults = unit.GetLineFaults();
    // Asked after every step: a fault may show one or more exchanges after
    // the value it made wrong, so it voids the whole pass, not the step.
    auto faulted = [&] { return unit.GetLineFaults() != faults; };
    // Without an AZ number or a zone count the record would keep the previous
    // unit's, and its rows would be shown and saved under this one.
    if (unit.QueryAZNumber() == -1)
        return faulted() ? PassResult::LineFault : PassResult::CommError;
    // An identification the unit answered, but never whole, would go into
    // the recipe as an empty or stale value: the receive fails instead. One
    // it does not answer at all is one it does not have.
    auto broken = [&unit] {
        const TransactFailure failure = unit.GetLastFailure();
        return failure == TransactFailure::BadAnswer || failure == TransactFailure::SecondAnswer ||
               failure == TransactFailure::OtherAddress;
    };
    auto step = [&](auto&& query) {
        query();
        if (faulted())
            return PassResult::LineFault;
        return broken() ? PassResult::CommError : PassResult::Done;
    };
    // The scan leaves the type of the last unit it found, not of this one.
    PassResult r = step([&] { unit.QueryType(); });
    if (r == PassResult::Done)
        r = step([&] { unit.QueryEpromNumber(); });
    if (r == PassResult::Done)
        r = step([&] { unit.QueryVersion(); });
    if (r == PassResult::Done)
        r = step([&] { unit.QueryRevDate(); });
    if (r != PassResult::Done)
        return r;
    const int32_t zoneParams = unit.QueryZoneParamCount();
    const bool bZonesKnown = zoneParams != -1 && !faulted() && unit.QueryZoneCount() != -1;
    if (faulted())
        return PassResult::LineFault;
    if (!bZonesKnown)
        return PassResult::CommError;

    const int32_t globals = unit.GetGlobalParamCount();
    progress.SetRange(globals + zoneParams);
    const bool bGlobals = unit.ReadGlobalParams();
    if (faulted())
        return PassResult::LineFault;
    if (!bGlobals)
        return PassResult::CommError;
    progress.SetPosition(globals);

    for (int16_t row = -1; row <= zoneParams; ++row) {
        progress.SetPosition(globals + row);
        const bool bRow = unit.ReadParamRow(row);
        if (faulted())
            return PassResult::LineFault;
        if (!bRow)
            return PassResult::CommError;
        if (progress.StopRequested())
            return PassResult::Stopped;
    }
    // The last answer has no next request behind it to watch the line.
    if (!unit.WatchLine())
        return PassResult::LineFault;
    return PassResult::Done;
}

}  // namespace

JobResult RunReceive(CUnit& unit, IJobProgress& progress)
{
    for (int pass = 0; pass < kReceivePasses; ++pass) {
        // A pass that saw a line fault has let the line go quiet: the next
        // one asks every value again on a line that owes nothing.
        switch (ReceivePass(unit, progress)) {
        case PassResult::Done: return JobResult::Done;
        case PassResult::Stopped: return JobResult::Stopped;
        case PassResult::CommError: return JobResult::CommError;
        case PassResult::LineFault:
            if (progress.StopRequested())
                return JobResult::Stopped;
            break;
        }
    }
    // Never a value the line may have put in another's place. A request
    // that failed in the last pass says why; else more answers came than
    // were asked for.
    if (unit.GetLastFailure() == TransactFailure::None)
        unit.SetLastFailure(TransactFailure::SecondAnswer);
    return JobResult::CommError;
}

int WaitPollLimit(int timeoutMs)
{
    return 60000 / (3 * std::max(timeoutMs, 0) + 100);
}

JobResult RunWaitForUnit(CUnit& unit, IJobProgress& progress, int maxWaitMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
    const int limit = WaitPollLimit(unit.GetTimeout());
    progress.SetRange(limit);
    constexpr auto kPause = std::chrono::milliseconds(100);
    // The pause in slices, so that Cancel is taken within a few milliseconds
    // rather than after the poll.
    constexpr auto kSlice = std::chrono::milliseconds(10);
    int polls = 0;
    while (true) {
        const auto pauseEnd = Clock::now() + kPause;
        for (auto now = Clock::now(); now < pauseEnd; now = Clock::now()) {
            if (progress.StopRequested())
                return JobResult::Stopped;
            if (now >= deadline)
                return JobResult::Done;
            std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, pauseEnd - now));
        }
        ++polls;
        progress.SetPosition(polls);
        if (unit.QueryAZNumber() != -1 || polls >= limit || Clock::now() >= deadline)
            return JobResult::Done;
        if (progress.StopRequested())
            return JobResult::Stopped;
    }
}

ValueRange ValueRangeOfWidth(int valueWidth, bool bHex)
{
    const bool bFour = valueWidth == 4;
    if (bHex)
        return bFour ? ValueRange{-0x8000, 0x7FFF} : ValueRange{-0x80000, 0x7FFFF};
    return bFour ? ValueRange{-999, 9999} : ValueRange{-9999, 99999};
}

SendOutcome SendOne(CUnit& unit, const SendItem& item)
{
    SendOutcome outcome;
    outcome.item = item;
    auto readBack = [&] {
        switch (item.kind) {
        case SendItem::Kind::Global: return unit.ReadGlobalParam(item.index);
        case SendItem::Kind::ZoneParam: return unit.ReadZoneParam(item.zone, item.index);
        case SendItem::Kind::SetValue: return unit.ReadSetValue(item.zone);
        }
        return int32_t{-1};
    };
    const long long faults = unit.GetLineFaults();
    switch (item.kind) {
    case SendItem::Kind::Global:
        outcome.code = unit.WriteGlobalParam(item.index, item.value);
        outcome.bWriteAnswered = unit.GetLastFailure() == TransactFailure::None;
        break;
    case SendItem::Kind::ZoneParam:
        outcome.code = unit.WriteZoneParam(item.zone, item.index, item.value);
        outcome.bWriteAnswered = unit.GetLastFailure() == TransactFailure::None;
        break;
    case SendItem::Kind::SetValue:
        outcome.code = unit.WriteSetValue(item.zone, item.value);
        outcome.bWriteAnswered = unit.GetLastFailure() == TransactFailure::None;
        break;
    }
    outcome.readBack = readBack();
    // A read-back taken while the line misbehaved may be another answer's
    // value; it is asked again on the quiet line the fault left, and not
    // believed at all while the line keeps misbehaving.
    for (int again = 1; unit.GetLineFaults() != faults || !unit.WatchLine(); ++again) {
        if (again >= kReceivePasses) {
            outcome.readBack = -1;
            break;
        }
        const long long before = unit.GetLineFaults();
        outcome.readBack = readBack();
        if (unit.GetLineFaults() == before && unit.WatchLine())
            break;
    }
    outcome.bDiffers = outcome.readBack != item.value;
    return outcome;
}

JobResult RunSend(CUnit& unit, const std::vector<SendItem>& items, IJobProgress& progress,
            std::vector<SendOutcome>& outcomes, const std::function<void(const SendOutcome&)>& onOutcome)
{
    progress.SetRange(static_cast<int>(items.size()));
    int position = 0;
    for (const SendItem& item : items) {
        outcomes.push_back(SendOne(unit, item));
        if (onOutcome)
            onOutcome(outcomes.back());
        progress.SetPosition(++position);
        if (progress.StopRequested())
            return JobResult::Stopped;
    }
    return JobResult::Done;
}

UnitValues CaptureValues(CUnit& unit)
{
    UnitValues values;
    for (int i = 1; i <= unit.GetGlobalParamCount(); ++i)
        values.globals.push_back(unit.ReadGlobalParam(static_cast<int16_t>(i)));
    const int zones = unit.QueryZoneCount();
    const int params = unit.QueryZoneParamCount();
    for (int16_t z = 1; z <= zones; ++z) {
        values.setValues.push_back(unit.ReadSetValue(z));
        std::vector<int32_t> row;
        for (int16_t p = 1; p <= params; ++p)
            row.push_back(unit.ReadZoneParam(z, p));
        values.zoneParams.push_back(std::move(row));
    }
    return values;
}

std::vector<SendItem> ChangedItems(const UnitValues& before, CUnit& unit)
{
    const UnitValues after = CaptureValues(unit);
    std::vector<SendItem> items;
    for (std::size_t i = 0; i < after.globals.size() && i < before.globals.size(); ++i) {
        if (after.globals[i] != -1 && after.globals[i] != before.globals[i])
            items.push_back({SendItem::Kind::Global, static_cast<int16_t>(i + 1), 0, after.globals[i]});
    }
    for (std::size_t z = 0; z < after.zoneParams.size() && z < before.zoneParams.size(); ++z) {
        for (std::size_t p = 0; p < after.zoneParams[z].size() && p < before.zoneParams[z].size(); ++p) {
            if (after.zoneParams[z][p] != before.zoneParams[z][p])
                items.push_back({SendItem::Kind::ZoneParam, static_cast<int16_t>(p + 1),
                                 static_cast<int16_t>(z + 1), after.zoneParams[z][p]});
        }
    }
    for (std::size_t z = 0; z < after.setValues.size() && z < before.setValues.size(); ++z) {
        if (after.setValues[z] != before.setValues[z])
            items.push_back({SendItem::Kind::SetValue, 0, static_cast<int16_t>(z + 1), after.setValues[z]});
    }
    return items;
}

platform::AutoResetEvent& ScanStopEvent()
{
    static platform::AutoResetEvent event;
    return event;
}

platform::AutoResetEvent& TransferStopEvent()
{
    static platform::AutoResetEvent event;
    return event;
}
