#include "monitor/qt/ChartPoints.h"

#include <algorithm>
#include <cmath>

void DecimateMinMax(const ChartPoint* samples, std::size_t count, double tFrom, double tTo, int columns,
                    std::vector<ChartPoint>& out)
{
    out.clear();
    if (count == 0)
        return;
    const ChartPoint* end = samples + count;
    const ChartPoint* first =
        std::lower_bound(samples, end, tFrom, [](const ChartPoint& p, double t) { return p.t < t; });
    const ChartPoint* last =
        std::upper_bound(first, end, tTo, [](double t, const ChartPoint& p) { return t < p.t; });
    if (first != samples)
        --first;
    if (last != end)
        ++last;
    if (columns < 1 || !(tTo > tFrom) || last - first <= 2 * static_cast<std::ptrdiff_t>(columns)) {
        out.assign(first, last);
        return;
    }
    out.reserve(static_cast<std::size_t>(columns) * 2 + 4);
    const double step = (tTo - tFrom) / columns;
    const ChartPoint* p = first;
    while (p != last) {
        const double column = std::floor((p->t - tFrom) / step);
        const double columnEnd = tFrom + (column + 1) * step;
        const ChartPoint* lo = nullptr;
        const ChartPoint* hi = nullptr;
        bool gap = false;
        // The first sample always belongs to its column, whatever the
        // rounding of columnEnd: the walk must move on.
        for (const ChartPoint* begin = p; p != last && (p == begin || p->t < columnEnd); ++p) {
            if (std::isnan(p->v)) {
                gap = true;
                continue;
            }
            if (!lo || p->v < lo->v)
                lo = p;
            if (!hi || p->v > hi->v)
                hi = p;
        }
        if (lo) {
            out.push_back(lo->t <= hi->t ? *lo : *hi);
            if (lo != hi)
                out.push_back(lo->t <= hi->t ? *hi : *lo);
        }
        if (gap)
            out.push_back({out.empty() ? tFrom : out.back().t, std::nan("")});
    }
}
