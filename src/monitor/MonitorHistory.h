#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "monitor/MonitorTypes.h"

// The recent past of every watched unit, for the trend chart. Thread-safe:
// the job's worker adds, the window's thread queries, each under one lock
// held only for the copy.
//
// The bound, per unit and whatever its zone count: the newest
// FineCycles(zones) cycles at full resolution, and before them up to
// CoarseCycles(zones) older cycles folded kCoarseStep at a time into steps
// that keep the minimum and maximum of each zone's actual and set value. The
// capacities shrink as the zone count grows, so that one unit never takes
// more than kUnitBudgetBytes (about 51 MB):
//   128 zones: 32 768 cycles full (9.1 h at one cycle a second) and
//              131 072 more in steps of 16 (36.4 h), 45.5 h in all, so
//              128 zones x 24 h at one cycle a second fits;
//   12 zones:  325 159 cycles full (90 h) and 1 347 408 more in steps (374 h).
// What falls out of the coarse store is gone; a monitor left running over a
// weekend stays at this size. Several watched units take one bound each.
class CMonitorHistory
{
public:
    static constexpr std::size_t kCoarseStep = 16;
    // A cycle in the fine store: its time (8 bytes) and per zone the actual
    // and set value (4 bytes each); a step in the coarse store: its time and
    // per zone four extremes.
    static constexpr std::size_t kFineBytes = 32768 * (8 + 8 * 128);
    static constexpr std::size_t kCoarseBytes = 8192 * (8 + 16 * 128);
    static constexpr std::size_t kUnitBudgetBytes = kFineBytes + kCoarseBytes + 64 * 1024;

    // Cycles kept at full resolution, and cycles kept in steps, for a unit
    // of zoneCount zones (1..128; outside counts as the nearest).
    static std::size_t FineCycles(int zoneCount);
    static std::size_t CoarseCycles(int zoneCount);

    // One point of a query: the minimum and maximum of the values in its
    // time span. A field is kNoValue where the unit gave no value in the
    // whole span (a gap the chart leaves open).
    struct Point
    {
        // The span's first sample time, ms since the epoch (system clock).
        int64_t tMs = 0;
        int32_t nActualMin = kNoValue;
        int32_t nActualMax = kNoValue;
        int32_t nSetMin = kNoValue;
        int32_t nSetMax = kNoValue;
    };

    CMonitorHistory();
    ~CMonitorHistory();
    CMonitorHistory(const CMonitorHistory&) = delete;
    CMonitorHistory& operator=(const CMonitorHistory&) = delete;

    // Stores one sample. The first sample of an address fixes its zone
    // count (taken from the longer row; a silent first sample stores
    // nothing); rows of another length are stored as gaps. Sample times run
    // forward: a time before the unit's newest is stored as that time (a
    // clock set back must not break the order the queries rely on).
    void Add(const MonitorSample& sample);

    // The points of one zone (1-based) of the unit at address between from
    // and to (both included), at most maxPoints: when more samples lie in
    // the span it is cut into maxPoints equal time slices and each slice
    // gives one point with the minimum and maximum of its samples; slices
    // without samples give none. Empty for an unknown address or zone, an
    // empty span, or maxPoints 0.
    std::vector<Point> Query(int16_t address, int zone, std::chrono::system_clock::time_point from,
                             std::chrono::system_clock::time_point to, std::size_t maxPoints) const;
    // The same for several zones at once, under one lock: [i] for zones[i].
    std::vector<std::vector<Point>> Query(int16_t address, const std::vector<int>& zones,
                                          std::chrono::system_clock::time_point from,
                                          std::chrono::system_clock::time_point to, std::size_t maxPoints) const;

    // The time of the oldest and the newest stored sample of the unit; false
    // when it has none.
    bool Span(int16_t address, std::chrono::system_clock::time_point& oldest,
              std::chrono::system_clock::time_point& newest) const;
    // The newest sample of the unit as it was added (empty rows when it was
    // silent); nAddress 0 when there is none.
    MonitorSample Latest(int16_t address) const;
    // The zone count of the unit's store, 0 when it has none yet.
    int ZoneCount(int16_t address) const;

    // Where the samples stop for a while: the monitor paused (and with it a
    // recording), or closed. A chart breaks its lines there and marks the
    // spot, so that a pause does not look like a straight ramp. Kept for
    // every unit at once; the newest kMaxBreaks.
    enum class BreakKind { Paused, Closed };
    struct Break
    {
        int64_t tMs = 0;  // ms since the epoch (system clock)
        BreakKind kind = BreakKind::Paused;
    };
    static constexpr std::size_t kMaxBreaks = 4096;
    void AddBreak(std::chrono::system_clock::time_point t, BreakKind kind);
    // The breaks in [from, to], oldest first.
    std::vector<Break> Breaks(std::chrono::system_clock::time_point from,
                              std::chrono::system_clock::time_point to) const;

    // How a unit has been answering, from the samples added (silent ones
    // included, which the store of values may not keep).
    struct Answering
    {
        int64_t tLastAnsweredMs = 0;  // 0: never answered
        int64_t tSilentSinceMs = 0;   // the first silent sample after it; 0 while answering
        long long nSilentCycles = 0;  // silent samples in a row
        bool bSeen = false;           // any sample at all
    };
    Answering AnsweringOf(int16_t address) const;

    // Bytes the stored samples take (the capacity reserved so far).
    std::size_t MemoryBytes() const;
    void Clear();

private:
    struct UnitStore;
    mutable std::mutex m_mutex;
    std::map<int16_t, std::unique_ptr<UnitStore>> m_units;
    std::map<int16_t, Answering> m_answering;
    std::vector<Break> m_breaks;
};
