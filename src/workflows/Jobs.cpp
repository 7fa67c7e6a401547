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

JobResult RunReceive(CUnit& unit, IJobProgress& progress)
{
    // Without an AZ number or a zone count the record would keep the previous
    // unit's, and its rows would be shown and saved under this one.
    if (unit.QueryAZNumber() == -1)
        return JobResult::CommError;
    // An identification the unit answered, but never whole, would go into
    // the recipe as an empty or stale value: the receive fails instead. One
    // it does not answer at all is one it does not have.
    auto broken = [&unit] {
        const TransactFailure failure = unit.GetLastFailure();
        return failure == TransactFailure::BadAnswer || failure == TransactFailure::SecondAnswer;
    };
    // The scan leaves the type of the last unit it found, not of this one.
    unit.QueryType();
    if (broken())
        return JobResult::CommError;
    unit.QueryEpromNumber();
    if (broken())
        return JobResult::CommError;
    unit.QueryVersion();
    if (broken())
        return JobResult::CommError;
    unit.QueryRevDate();
    if (broken())
        return JobResult::CommError;
    const int32_t zoneParams = unit.QueryZoneParamCount();
    if (zoneParams == -1 || unit.QueryZoneCount() == -1)
        return JobResult::CommError;

    const int32_t globals = unit.GetGlobalParamCount();
    progress.SetRange(globals + zoneParams);
    if (!unit.ReadGlobalParams())
        return JobResult::CommError;
    progress.SetPosition(globals);

    for (int16_t row = -1; row <= zoneParams; ++row) {
        progress.SetPosition(globals + row);
        if (!unit.ReadParamRow(row))
            return JobResult::CommError;
        if (progress.StopRequested())
            return JobResult::Stopped;
    }
    return JobResult::Done;
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
    switch (item.kind) {
    case SendItem::Kind::Global:
        outcome.code = unit.WriteGlobalParam(item.index, item.value);
        outcome.bWriteAnswered = unit.GetLastFailure() == TransactFailure::None;
        outcome.readBack = unit.ReadGlobalParam(item.index);
        break;
    case SendItem::Kind::ZoneParam:
        outcome.code = unit.WriteZoneParam(item.zone, item.index, item.value);
        outcome.bWriteAnswered = unit.GetLastFailure() == TransactFailure::None;
        outcome.readBack = unit.ReadZoneParam(item.zone, item.index);
        break;
    case SendItem::Kind::SetValue:
        outcome.code = unit.WriteSetValue(item.zone, item.value);
        outcome.bWriteAnswered = unit.GetLastFailure() == TransactFailure::None;
        outcome.readBack = unit.ReadSetValue(item.zone);
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
