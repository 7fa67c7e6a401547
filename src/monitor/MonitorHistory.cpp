#include "monitor/MonitorHistory.h"

#include <algorithm>

#include "unit/Unit.h"

namespace {

using Point = CMonitorHistory::Point;

// A coarse step's extremes of one zone, without the time its step shares.
struct Extremes
{
    int32_t nActualMin = kNoValue;
    int32_t nActualMax = kNoValue;
    int32_t nSetMin = kNoValue;
    int32_t nSetMax = kNoValue;
};

int64_t ToMs(std::chrono::system_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

std::chrono::system_clock::time_point FromMs(int64_t ms)
{
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

int32_t Lower(int32_t a, int32_t b)
{
    return a == kNoValue ? b : b == kNoValue ? a : std::min(a, b);
}

// kNoValue is the least int32_t: the larger of a value and none is the value.
int32_t Higher(int32_t a, int32_t b) { return std::max(a, b); }

template <typename Into, typename From>
void Merge(Into& into, const From& p)
{
    into.nActualMin = Lower(into.nActualMin, p.nActualMin);
    into.nActualMax = Higher(into.nActualMax, p.nActualMax);
    into.nSetMin = Lower(into.nSetMin, p.nSetMin);
    into.nSetMax = Higher(into.nSetMax, p.nSetMax);
}

// Grows v towards capacity in steps, so that a short monitor does not take
// the whole bound at once, and never beyond it.
template <typename T>
void GrowTowards(std::vector<T>& v, std::size_t needed, std::size_t capacity)
{
    if (needed <= v.capacity())
        return;
    v.reserve(std::min(capacity, std::max(needed, 2 * v.capacity())));
}

}  // namespace

std::size_t CMonitorHistory::FineCycles(int zoneCount)
{
    return kFineBytes / (8 + 8 * static_cast<std::size_t>(std::clamp(zoneCount, 1, kMaxZones)));
}

std::size_t CMonitorHistory::CoarseCycles(int zoneCount)
{
    return kCoarseBytes / (8 + 16 * static_cast<std::size_t>(std::clamp(zoneCount, 1, kMaxZones))) * kCoarseStep;
}

// One unit's samples: a ring of the newest cycles at full resolution, and
// before it a ring of steps of kCoarseStep cycles each; the step being
// filled from what leaves the fine ring is the pending one.
struct CMonitorHistory::UnitStore
{
    explicit UnitStore(int zoneCount)
        : zones(static_cast<std::size_t>(std::clamp(zoneCount, 1, kMaxZones))),
          fineCapacity(FineCycles(zoneCount)),
          coarseCapacity(CoarseCycles(zoneCount) / kCoarseStep),
          pending(zones)
    {
    }

    std::size_t zones;
    std::size_t fineCapacity;    // cycles
    std::size_t coarseCapacity;  // steps

    // Fine ring: [slot] times, [slot * zones + z] values.
    std::vector<int64_t> fineTime;
    std::vector<int32_t> fineActual;
    std::vector<int32_t> fineSet;
    std::size_t fineHead = 0;  // oldest slot once the ring is full

    // Coarse ring: [slot] times, [slot * zones + z] extremes.
    std::vector<int64_t> coarseTime;
    std::vector<Extremes> coarse;
    std::size_t coarseHead = 0;

    // The step being gathered from the fine ring's oldest cycles.
    std::vector<Extremes> pending;
    int64_t pendingTime = 0;
    std::size_t pendingCycles = 0;

    int64_t newest = INT64_MIN;
    MonitorSample latest;

    std::size_t FineCount() const { return fineTime.size(); }
    std::size_t FineSlot(std::size_t i) const
    {
        return fineTime.size() < fineCapacity ? i : (fineHead + i) % fineCapacity;
    }
    std::size_t CoarseCount() const { return coarseTime.size(); }
    std::size_t CoarseSlot(std::size_t i) const
    {
        return coarseTime.size() < coarseCapacity ? i : (coarseHead + i) % coarseCapacity;
    }

    void Add(int64_t t, const MonitorSample& sample)
    {
        if (fineTime.size() == fineCapacity)
            Retire(fineHead);
        std::size_t slot;
        if (fineTime.size() < fineCapacity) {
            slot = fineTime.size();
            GrowTowards(fineTime, slot + 1, fineCapacity);
            GrowTowards(fineActual, (slot + 1) * zones, fineCapacity * zones);
            GrowTowards(fineSet, (slot + 1) * zones, fineCapacity * zones);
            fineTime.push_back(t);
            fineActual.resize((slot + 1) * zones);
            fineSet.resize((slot + 1) * zones);
        } else {
            slot = fineHead;
            fineHead = (fineHead + 1) % fineCapacity;
            fineTime[slot] = t;
        }
        // Rows of another length than the store's are not this layout:
        // stored as a gap rather than as values under the wrong zones.
        const bool bActual = sample.actual.size() == zones;
        const bool bSet = sample.set.size() == zones;
        for (std::size_t z = 0; z < zones; ++z) {
            fineActual[slot * zones + z] = bActual ? sample.actual[z] : kNoValue;
            fineSet[slot * zones + z] = bSet ? sample.set[z] : kNoValue;
        }
    }

    // Folds the cycle in the fine slot into the pending step.
    void Retire(std::size_t slot)
    {
        if (pendingCycles == 0) {
            pendingTime = fineTime[slot];
            std::fill(pending.begin(), pending.end(), Extremes{});
        }
        for (std::size_t z = 0; z < zones; ++z) {
            const int32_t a = fineActual[slot * zones + z];
            const int32_t s = fineSet[slot * zones + z];
            Merge(pending[z], Extremes{a, a, s, s});
        }
        if (++pendingCycles < kCoarseStep)
            return;
        pendingCycles = 0;
        std::size_t to;
        if (coarseTime.size() < coarseCapacity) {
            to = coarseTime.size();
            GrowTowards(coarseTime, to + 1, coarseCapacity);
            GrowTowards(coarse, (to + 1) * zones, coarseCapacity * zones);
            coarseTime.push_back(pendingTime);
            coarse.resize((to + 1) * zones);
        } else {
            to = coarseHead;
            coarseHead = (coarseHead + 1) % coarseCapacity;
            coarseTime[to] = pendingTime;
        }
        std::copy(pending.begin(), pending.end(), coarse.begin() + static_cast<long>(to * zones));
    }

    // The first index of a ring (in time order) whose time is not before
    // t, and the count of the ring.
    template <typename TimeAt>
    static std::size_t FirstFrom(std::size_t count, int64_t t, TimeAt timeAt)
    {
        std::size_t lo = 0, hi = count;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (timeAt(mid) < t)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo;
    }
    int64_t CoarseTimeAt(std::size_t i) const { return coarseTime[CoarseSlot(i)]; }
    int64_t FineTimeAt(std::size_t i) const { return fineTime[FineSlot(i)]; }

    // How many steps and cycles lie in [fromMs, toMs].
    std::size_t Count(int64_t fromMs, int64_t toMs) const
    {
        auto within = [&](std::size_t count, auto timeAt) {
            return FirstFrom(count, toMs + 1, timeAt) - FirstFrom(count, fromMs, timeAt);
        };
        return within(CoarseCount(), [&](std::size_t i) { return CoarseTimeAt(i); }) +
               (pendingCycles > 0 && pendingTime >= fromMs && pendingTime <= toMs ? 1 : 0) +
               within(FineCount(), [&](std::size_t i) { return FineTimeAt(i); });
    }

    // Hands every step (steps(t, extremes of all zones)) and then every
    // cycle (cycles(t, actual values, set values of all zones)) in [fromMs,
    // toMs] over, oldest first, a whole row at a time: the zones of one time
    // lie side by side, so a query of several zones reads each row once.
    template <typename Steps, typename Cycles>
    void Visit(int64_t fromMs, int64_t toMs, Steps&& steps, Cycles&& cycles) const
    {
        for (std::size_t i = FirstFrom(CoarseCount(), fromMs, [&](std::size_t k) { return CoarseTimeAt(k); });
             i < CoarseCount(); ++i) {
            const std::size_t slot = CoarseSlot(i);
            if (coarseTime[slot] > toMs)
                return;
            steps(coarseTime[slot], &coarse[slot * zones]);
        }
        if (pendingCycles > 0 && pendingTime >= fromMs) {
            if (pendingTime > toMs)
                return;
            steps(pendingTime, pending.data());
        }
        for (std::size_t i = FirstFrom(FineCount(), fromMs, [&](std::size_t k) { return FineTimeAt(k); });
             i < FineCount(); ++i) {
            const std::size_t slot = FineSlot(i);
            if (fineTime[slot] > toMs)
                return;
            cycles(fineTime[slot], &fineActual[slot * zones], &fineSet[slot * zones]);
        }
    }

    std::size_t Bytes() const
    {
        return fineTime.capacity() * sizeof(int64_t) + (fineActual.capacity() + fineSet.capacity()) * sizeof(int32_t) +
               coarseTime.capacity() * sizeof(int64_t) + (coarse.capacity() + pending.capacity()) * sizeof(Extremes) +
               (latest.actual.capacity() + latest.set.capacity()) * sizeof(int32_t);
    }
};

CMonitorHistory::CMonitorHistory() = default;
CMonitorHistory::~CMonitorHistory() = default;

void CMonitorHistory::Add(const MonitorSample& sample)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Answering& answering = m_answering[sample.nAddress];
    const int64_t tSample = ToMs(sample.tWall);
    answering.bSeen = true;
    if (sample.Answered()) {
        answering.tLastAnsweredMs = tSample;
        answering.tSilentSinceMs = 0;
        answering.nSilentCycles = 0;
    } else {
        if (answering.nSilentCycles++ == 0)
            answering.tSilentSinceMs = tSample;
    }
    auto it = m_units.find(sample.nAddress);
    if (it == m_units.end()) {
        const std::size_t zones = std::max(sample.actual.size(), sample.set.size());
        if (zones == 0)
            return;
        it = m_units.emplace(sample.nAddress, std::make_unique<UnitStore>(static_cast<int>(zones))).first;
    }
    UnitStore& store = *it->second;
    const int64_t t = std::max(ToMs(sample.tWall), store.newest);
    store.newest = t;
    store.latest = sample;
    store.latest.tWall = FromMs(t);
    store.Add(t, sample);
}

std::vector<std::vector<CMonitorHistory::Point>> CMonitorHistory::Query(
    int16_t address, const std::vector<int>& zones, std::chrono::system_clock::time_point from,
    std::chrono::system_clock::time_point to, std::size_t maxPoints) const
{
    std::vector<std::vector<Point>> result(zones.size());
    const int64_t fromMs = ToMs(from);
    const int64_t toMs = ToMs(to);
    if (maxPoints == 0 || toMs < fromMs)
        return result;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_units.find(address);
    if (it == m_units.end())
        return result;
    const UnitStore& store = *it->second;
    // The slices are the same for every zone and every query of the same
    // span, so that a redraw does not make the lines shimmer.
    const int64_t span = toMs - fromMs + 1;
    const bool bSlice = store.Count(fromMs, toMs) > maxPoints;
    std::vector<std::size_t> wanted;  // [k]: the zone's index, or none
    for (std::size_t k = 0; k < zones.size(); ++k) {
        const bool bValid = zones[k] >= 1 && static_cast<std::size_t>(zones[k]) <= store.zones;
        wanted.push_back(bValid ? static_cast<std::size_t>(zones[k] - 1) : store.zones);
        if (bValid)
            result[k].reserve(std::min<std::size_t>(maxPoints, 4096));
    }
    // The slices are shared by all zones: the slice of a row is worked out
    // once, and while it stays the same each zone's extremes gather in acc;
    // a new slice hands them over. Without slicing every row is a point.
    std::vector<Point> acc(zones.size());
    long long current = -1;
    bool bOpen = false;
    auto flush = [&] {
        if (!bOpen)
            return;
        for (std::size_t k = 0; k < wanted.size(); ++k) {
            if (wanted[k] < store.zones)
                result[k].push_back(acc[k]);
        }
        bOpen = false;
    };
    // Starts a point at t (a new slice) or widens the open one; true to start.
    auto begin = [&](int64_t t) {
        const long long s =
            bSlice ? static_cast<long long>((static_cast<__int128>(t - fromMs) * static_cast<long long>(maxPoints)) /
                                            span)
                   : current + 1;
        if (bOpen && s == current)
            return false;
        flush();
        current = s;
        bOpen = true;
        return true;
    };
    store.Visit(
        fromMs, toMs,
        [&](int64_t t, const Extremes* row) {
            const bool bNew = begin(t);
            for (std::size_t k = 0; k < wanted.size(); ++k) {
                if (wanted[k] >= store.zones)
                    continue;
                const Extremes& e = row[wanted[k]];
                if (bNew)
                    acc[k] = Point{t, e.nActualMin, e.nActualMax, e.nSetMin, e.nSetMax};
                else
                    Merge(acc[k], e);
            }
        },
        [&](int64_t t, const int32_t* actual, const int32_t* set) {
            const bool bNew = begin(t);
            for (std::size_t k = 0; k < wanted.size(); ++k) {
                const std::size_t z = wanted[k];
                if (z >= store.zones)
                    continue;
                const int32_t a = actual[z];
                const int32_t v = set[z];
                if (bNew) {
                    acc[k] = Point{t, a, a, v, v};
                    continue;
                }
                Point& p = acc[k];
                p.nActualMin = Lower(p.nActualMin, a);
                p.nActualMax = Higher(p.nActualMax, a);
                p.nSetMin = Lower(p.nSetMin, v);
                p.nSetMax = Higher(p.nSetMax, v);
            }
        });
    flush();
    return result;
}

std::vector<CMonitorHistory::Point> CMonitorHistory::Query(int16_t address, int zone,
                                                           std::chrono::system_clock::time_point from,
                                                           std::chrono::system_clock::time_point to,
                                                           std::size_t maxPoints) const
{
    return std::move(Query(address, std::vector<int>{zone}, from, to, maxPoints).front());
}

bool CMonitorHistory::Span(int16_t address, std::chrono::system_clock::time_point& oldest,
                           std::chrono::system_clock::time_point& newest) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_units.find(address);
    if (it == m_units.end() || it->second->FineCount() == 0)
        return false;
    const UnitStore& store = *it->second;
    int64_t first = store.fineTime[store.FineSlot(0)];
    if (store.pendingCycles > 0)
        first = store.pendingTime;
    if (store.CoarseCount() > 0)
        first = store.coarseTime[store.CoarseSlot(0)];
    oldest = FromMs(first);
    newest = FromMs(store.newest);
    return true;
}

MonitorSample CMonitorHistory::Latest(int16_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_units.find(address);
    return it == m_units.end() ? MonitorSample{} : it->second->latest;
}

int CMonitorHistory::ZoneCount(int16_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_units.find(address);
    return it == m_units.end() ? 0 : static_cast<int>(it->second->zones);
}

std::size_t CMonitorHistory::MemoryBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t bytes = 0;
    for (const auto& [address, store] : m_units)
        bytes += sizeof(UnitStore) + store->Bytes();
    return bytes;
}

void CMonitorHistory::AddBreak(std::chrono::system_clock::time_point t, BreakKind kind)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int64_t tMs = ToMs(t);
    // Kept in time order for the chart's merge, as the samples are.
    if (!m_breaks.empty())
        tMs = std::max(tMs, m_breaks.back().tMs);
    if (m_breaks.size() == kMaxBreaks)
        m_breaks.erase(m_breaks.begin());
    m_breaks.push_back(Break{tMs, kind});
}

std::vector<CMonitorHistory::Break> CMonitorHistory::Breaks(std::chrono::system_clock::time_point from,
                                                            std::chrono::system_clock::time_point to) const
{
    const int64_t fromMs = ToMs(from);
    const int64_t toMs = ToMs(to);
    std::lock_guard<std::mutex> lock(m_mutex);
    auto first = std::lower_bound(m_breaks.begin(), m_breaks.end(), fromMs,
                                  [](const Break& b, int64_t t) { return b.tMs < t; });
    std::vector<Break> result;
    for (auto it = first; it != m_breaks.end() && it->tMs <= toMs; ++it)
        result.push_back(*it);
    return result;
}

CMonitorHistory::Answering CMonitorHistory::AnsweringOf(int16_t address) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_answering.find(address);
    return it == m_answering.end() ? Answering{} : it->second;
}

void CMonitorHistory::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_units.clear();
    m_answering.clear();
    m_breaks.clear();
}
