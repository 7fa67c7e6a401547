#pragma once

#include <cstddef>
#include <vector>

// What the trend chart hands to the chart library for one line. A chart
// never gets more points than it has pixel columns times two: for each
// column the lowest and the highest sample, in the order they came, so a
// spike of one sample still shows while hours of history cost a few
// thousand points.
struct ChartPoint
{
    double t;  // seconds on the chart's time axis
    double v;  // value; NaN breaks the line (no answer in that cycle)
};

// Reduces the samples (t ascending) that lie in [tFrom, tTo] to at most two
// per column of `columns` equal time steps, keeping each column's minimum
// and maximum in time order. A column holding a gap (NaN) keeps one NaN
// point after its values, so that the line breaks there. The last sample
// before tFrom and the first after tTo are kept as well, so that the line
// runs to the chart's edges. columns < 1 or tTo <= tFrom gives the samples
// of the range unreduced.
void DecimateMinMax(const ChartPoint* samples, std::size_t count, double tFrom, double tTo, int columns,
                    std::vector<ChartPoint>& out);
