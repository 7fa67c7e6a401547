// The two chart libraries of Debian 12 on the trend chart's worst case:
// 16 zones × 8 hours at one sample a second (460 800 points), drawn into a
// 1200 × 500 chart on the offscreen platform. Each run hands the points to
// the library and draws one frame, as the chart's redraw timer does; once
// with every point, once reduced by the monitor history's query to the
// lowest and highest sample per pixel column. The memory counter is the
// resident size the chart adds while it holds the points (the samples
// themselves excluded). Last, the trend chart itself, history query
// included, as the monitor dialog redraws it.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <memory>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

#include <qcustomplot.h>
#ifdef VORLENT_BENCH_QTCHARTS
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#endif

#include "BenchGui.h"
#include "monitor/MonitorHistory.h"
#include "monitor/qt/MonitorChart.h"

namespace {

struct ChartPoint
{
    double t;
    double v;
};

constexpr int kZones = 16;
constexpr int kSamples = 8 * 3600;
constexpr int kWidth = 1200;
constexpr int kHeight = 500;
// The plot area is narrower than the widget; the axes take the rest.
constexpr int kColumns = 1100;

QApplication& App() { return bench::App("bench_gui_chart"); }

// With VORLENT_BENCH_FRAMES set to a folder, the last frame of each run
// is saved there, to see that the library drew every line.
void SaveFrame(const QImage& frame, const char* name, bool decimate)
{
    if (const char* folder = std::getenv("VORLENT_BENCH_FRAMES"))
        frame.save(QString("%1/%2-%3.png").arg(folder, name, decimate ? "reduced" : "all"));
}

double ResidentMb()
{
    long pages = 0;
    long resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Zones heating toward their set values, with noise.
const std::vector<std::vector<ChartPoint>>& Samples()
{
    static const std::vector<std::vector<ChartPoint>> zones = [] {
        std::vector<std::vector<ChartPoint>> z(kZones);
        unsigned seed = 1;
        for (int k = 0; k < kZones; ++k) {
            z[k].reserve(kSamples);
            const double target = 150 + 10 * k;
            for (int i = 0; i < kSamples; ++i) {
                seed = seed * 1103515245u + 12345u;
                const double noise = static_cast<double>((seed >> 16) % 100) / 50.0 - 1.0;
                z[k].push_back({static_cast<double>(i), 20 + (target - 20) * (1 - std::exp(-i / 900.0)) + noise});
            }
        }
        return z;
    }();
    return zones;
}

constexpr int16_t kAddress = 1;
constexpr double kStartS = 1.8e9;

// The same samples in a monitor history, set values beside them.
const CMonitorHistory& History()
{
    static const std::unique_ptr<CMonitorHistory> history = [] {
        auto h = std::make_unique<CMonitorHistory>();
        const auto& zones = Samples();
        for (int i = 0; i < kSamples; ++i) {
            MonitorSample sample;
            sample.nAddress = kAddress;
            sample.nCycle = i + 1;
            sample.tWall = std::chrono::system_clock::time_point(std::chrono::seconds(static_cast<long long>(kStartS) + i));
            for (int k = 0; k < kZones; ++k) {
                sample.actual.push_back(static_cast<int32_t>(zones[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)].v));
                sample.set.push_back(150 + 10 * k);
            }
            h->Add(sample);
        }
        return h;
    }();
    return *history;
}

std::vector<int> AllZones()
{
    std::vector<int> zones;
    for (int k = 1; k <= kZones; ++k)
        zones.push_back(k);
    return zones;
}

// Every sample of zone k, or the history's reduction to kColumns slices
// (each slice its lowest and highest value).
void Points(bool decimate, int k, std::vector<ChartPoint>& out)
{
    const auto& s = Samples()[static_cast<std::size_t>(k)];
    if (!decimate) {
        out.assign(s.begin(), s.end());
        return;
    }
    out.clear();
    const auto from = std::chrono::system_clock::time_point(std::chrono::seconds(static_cast<long long>(kStartS)));
    const auto points = History().Query(kAddress, k + 1, from, from + std::chrono::seconds(kSamples), kColumns);
    for (const CMonitorHistory::Point& p : points) {
        const double t = static_cast<double>(p.tMs) / 1000.0 - kStartS;
        out.push_back({t, static_cast<double>(p.nActualMin)});
        if (p.nActualMax != p.nActualMin)
            out.push_back({t, static_cast<double>(p.nActualMax)});
    }
}

// What each run of a library does per frame: every zone's points handed
// over as the library's own point type (hand), what the chart's layout and
// updates still have to do, then one frame drawn into frame (draw).
template <typename LibraryPoint, typename Hand, typename Draw>
void DrawFrames(benchmark::State& state, bool decimate, QImage& frame, Hand hand, Draw draw)
{
    std::vector<ChartPoint> points;
    for (auto _ : state) {
        for (int k = 0; k < kZones; ++k) {
            Points(decimate, k, points);
            QList<LibraryPoint> data;
            data.reserve(static_cast<qsizetype>(points.size()));
            for (const ChartPoint& p : points)
                data.push_back(LibraryPoint(p.t, p.v));
            hand(k, data);
        }
        QApplication::processEvents();
        frame.fill(Qt::white);
        QPainter painter(&frame);
        draw(painter);
        painter.end();
        benchmark::DoNotOptimize(frame.constBits());
    }
}

void BM_QCustomPlot(benchmark::State& state)
{
    App();
    History();
    const bool decimate = state.range(0) != 0;
    const double before = ResidentMb();
    double heldMb = 0;
    {
        QCustomPlot plot;
        plot.resize(kWidth, kHeight);
        for (int k = 0; k < kZones; ++k)
            plot.addGraph()->setPen(QPen(QColor::fromHsv(k * 360 / kZones, 200, 200)));
        plot.xAxis->setRange(0, kSamples);
        plot.yAxis->setRange(0, 320);
        plot.show();
        QApplication::processEvents();
        QImage frame(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        DrawFrames<QCPGraphData>(
            state, decimate, frame,
            [&plot](int k, const QList<QCPGraphData>& data) { plot.graph(k)->data()->set(data, true); },
            [&plot](QPainter& painter) {
                plot.replot(QCustomPlot::rpImmediateRefresh);
                plot.render(&painter);
            });
        heldMb = ResidentMb() - before;
        SaveFrame(frame, "qcustomplot", decimate);
    }
    state.counters["chart_MB"] = heldMb;
}

#ifdef VORLENT_BENCH_QTCHARTS
void BM_QtCharts(benchmark::State& state)
{
    App();
    History();
    const bool decimate = state.range(0) != 0;
    const double before = ResidentMb();
    double heldMb = 0;
    {
        auto* chart = new QChart;
        std::vector<QLineSeries*> series;
        for (int k = 0; k < kZones; ++k) {
            auto* line = new QLineSeries;
            line->setPen(QPen(QColor::fromHsv(k * 360 / kZones, 200, 200)));
            chart->addSeries(line);
            series.push_back(line);
        }
        auto* x = new QValueAxis;
        auto* y = new QValueAxis;
        x->setRange(0, kSamples);
        y->setRange(0, 320);
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(y, Qt::AlignLeft);
        for (QLineSeries* line : series) {
            line->attachAxis(x);
            line->attachAxis(y);
        }
        chart->legend()->hide();
        QChartView view(chart);
        view.resize(kWidth, kHeight);
        view.show();
        QApplication::processEvents();
        QImage frame(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        DrawFrames<QPointF>(
            state, decimate, frame,
            [&series](int k, const QList<QPointF>& list) { series[static_cast<std::size_t>(k)]->replace(list); },
            [&view](QPainter& painter) { view.render(&painter); });
        heldMb = ResidentMb() - before;
        SaveFrame(frame, "qtcharts", decimate);
    }
    state.counters["chart_MB"] = heldMb;
}
#endif

// The monitor dialog's chart on the same history: a follow-mode redraw
// of all 16 zones over the whole 8 hours, the frame drawn included; with
// argument 1 the crosshair in the middle, moved a pixel before each redraw,
// its readout of 16 zones renewed.
void BM_TrendChartRedraw(benchmark::State& state)
{
    App();
    const CMonitorHistory& history = History();
    CMonitorChart chart;
    chart.resize(kWidth, kHeight);
    chart.SetZones(AllZones());
    chart.SetTimeRange(kStartS, kStartS + kSamples);
    chart.show();
    QApplication::processEvents();
    chart.Redraw(history, kAddress);
    QApplication::processEvents();
    if (state.range(0) != 0)
        chart.SetCrosshair(kWidth / 2);
    std::size_t handed = 0;
    double redrawS = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        // The crosshair moves by a pixel between redraws, as under a hand.
        if (state.range(0) != 0)
            chart.SetCrosshair(kWidth / 2 + static_cast<int>(handed % 2));
        handed = chart.Redraw(history, kAddress);
        redrawS += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        // The redraw is queued: the frame is drawn by the event loop.
        QApplication::processEvents();
    }
    state.counters["query_and_hand_ms"] = redrawS * 1000 / static_cast<double>(state.iterations());
    state.counters["points_handed"] = static_cast<double>(handed);
    state.counters["history_MB"] = static_cast<double>(history.MemoryBytes()) / (1024.0 * 1024.0);
    state.counters["readout"] = chart.ReadoutText().isEmpty() ? 0 : 1;
}

}  // namespace

// Argument: 0 every point, 1 reduced to two per pixel column.
BENCHMARK(BM_QCustomPlot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#ifdef VORLENT_BENCH_QTCHARTS
BENCHMARK(BM_QtCharts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

// Argument: 1 with the crosshair and its readout.
BENCHMARK(BM_TrendChartRedraw)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The application object is a function's static: destroyed by the exit
// handlers after Qt's own input devices are gone, it crashed in their
// teardown (and `make bench` counted that as a failure). The figures are
// out by then; the process ends without the static destructors.
int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}
