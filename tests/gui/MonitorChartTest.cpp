// The trend chart's view of a history: fitted to the samples until they
// span the chosen width, then following the newest; and the readout under
// the crosshair, gaps included.
#include <QApplication>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>
#include <qcustomplot.h>

#include "monitor/MonitorHistory.h"
#include "monitor/qt/MonitorChart.h"

namespace {

constexpr int16_t kAddress = 3;
constexpr long long kStartS = 1800000000;

std::chrono::system_clock::time_point At(double s)
{
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(static_cast<long long>(s * 1000)));
}

// One sample a second from kStartS on, zone 1 at 100 + i and set 200; the
// seconds in silent give no answer.
void Fill(CMonitorHistory& history, int seconds, const std::vector<int>& silent = {})
{
    for (int i = 0; i < seconds; ++i) {
        MonitorSample sample;
        sample.nAddress = kAddress;
        sample.nCycle = i + 1;
        sample.tWall = At(static_cast<double>(kStartS + i));
        if (std::find(silent.begin(), silent.end(), i) == silent.end()) {
            sample.actual = {100 + i, 50};
            sample.set = {200, 60};
        }
        history.Add(sample);
    }
}

}  // namespace

TEST(MonitorChart, FitsTheSamplesUntilTheyFillTheChosenSpan)
{
    struct Case
    {
        int samples;   // one a second: the span is one less
        bool bFitAll;  // the Fit button (or a double-click) first
        double from;   // the view expected, seconds after the first sample
        double to;
    };
    const double span = CMonitorChart::kDefaultSpanS;
    const Case cases[] = {
        {2, false, 0, 1},
        {61, false, 0, 60},
        {300, false, 0, 299},
        {301, false, 0, 300},
        {601, false, 600 - span, 600},
        {601, true, 0, 600},
        {7200, true, 0, 7199},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.samples) + (c.bFitAll ? " fit" : ""));
        CMonitorHistory history;
        Fill(history, c.samples);
        CMonitorChart chart;
        chart.resize(900, 400);
        chart.SetZones({1, 2});
        if (c.bFitAll)
            chart.FitAll();
        chart.Redraw(history, kAddress);
        EXPECT_NEAR(chart.FromSeconds(), static_cast<double>(kStartS) + c.from, 1e-3);
        EXPECT_NEAR(chart.ToSeconds(), static_cast<double>(kStartS) + c.to, 1e-3);
        EXPECT_TRUE(chart.IsFollowing());
    }
}

TEST(MonitorChart, ReadsOutTheValuesUnderTheCrosshairAndLeavesGapsOpen)
{
    CMonitorHistory history;
    Fill(history, 60, {30, 31, 32});
    // A pause between 45 and 46 s: no line across it.
    history.AddBreak(At(static_cast<double>(kStartS) + 45.5), CMonitorHistory::BreakKind::Paused);
    CMonitorChart chart;
    chart.resize(900, 400);
    chart.SetZones({1, 2});
    chart.show();
    chart.Redraw(history, kAddress);
    chart.Plot().replot();

    struct Case
    {
        double at;             // seconds after the first sample
        const char* expected;  // a line of the readout
    };
    const Case cases[] = {
        {10, "Z01 110 200"},
        {10, "Z02 50 60"},
        {31, "Z01 \u2013 \u2013"},
        {45.5, "Z01 \u2013 \u2013"},
        {50, "Z01 150 200"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.at);
        const double x = chart.Plot().xAxis->coordToPixel(static_cast<double>(kStartS) + c.at);
        chart.SetCrosshair(static_cast<int>(std::lround(x)));
        QString text = chart.ReadoutText().simplified();
        EXPECT_TRUE(text.contains(c.expected)) << text.toStdString();
    }
    chart.HideCrosshair();
    EXPECT_TRUE(chart.ReadoutText().isEmpty());
}

// The gestures, one after the other on ten minutes of samples: each leaves
// the view it promises.
TEST(MonitorChart, ZoomsTheAxisUnderTheWheelAndIntoABox)
{
    CMonitorHistory history;
    Fill(history, 601);
    CMonitorChart chart;
    chart.resize(900, 400);
    chart.SetZones({1});
    chart.show();
    chart.Redraw(history, kAddress);
    chart.Plot().replot();
    QCustomPlot& plot = chart.Plot();
    const QRect area = plot.axisRect()->rect();
    const double t0 = static_cast<double>(kStartS);
    auto wheel = [&plot](QPoint at) {
        QWheelEvent event(at, plot.mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(&plot, &event);
    };

    // Over the plot, following: a narrower span that still ends at the newest.
    wheel(area.center());
    EXPECT_NEAR(chart.SpanSeconds(), 300 * 0.85, 1e-6);
    EXPECT_NEAR(chart.ToSeconds(), t0 + 600, 1e-6);
    EXPECT_TRUE(chart.IsFollowing());

    // Over the value axis: values only.
    const QCPRange values = plot.yAxis->range();
    const double span = chart.SpanSeconds();
    wheel(QPoint(area.left() - 8, area.center().y()));
    EXPECT_NEAR(plot.yAxis->range().size(), values.size() * 0.85, 1e-6);
    EXPECT_NEAR(chart.SpanSeconds(), span, 1e-6);

    // A box with the right button: its times and values, no longer following.
    const QPoint from(area.left() + area.width() / 4, area.top() + area.height() / 4);
    const QPoint to(area.left() + area.width() * 3 / 4, area.top() + area.height() * 3 / 4);
    const double boxFrom = plot.xAxis->pixelToCoord(from.x());
    const double boxTo = plot.xAxis->pixelToCoord(to.x());
    QTest::mousePress(&plot, Qt::RightButton, Qt::NoModifier, from);
    QTest::mouseMove(&plot, to);
    QTest::mouseRelease(&plot, Qt::RightButton, Qt::NoModifier, to);
    EXPECT_NEAR(chart.FromSeconds(), boxFrom, 1.0);
    EXPECT_NEAR(chart.ToSeconds(), boxTo, 1.0);
    EXPECT_FALSE(chart.IsFollowing());

    // A double-click: everything, following again.
    QTest::mouseDClick(&plot, Qt::LeftButton, Qt::NoModifier, area.center());
    chart.Redraw(history, kAddress);
    EXPECT_NEAR(chart.FromSeconds(), t0, 1e-3);
    EXPECT_NEAR(chart.ToSeconds(), t0 + 600, 1e-3);
    EXPECT_TRUE(chart.IsFollowing());
}
