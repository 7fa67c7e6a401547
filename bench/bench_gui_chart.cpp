// The two chart libraries of Debian 12 on the trend chart's worst case:
// 16 zones × 8 hours at one sample a second (460 800 points), drawn into a
// 1200 × 500 chart on the offscreen platform. Each run hands the points to
// the library and draws one frame, as the chart's redraw timer does; once
// with every point, once reduced to the lowest and highest sample per pixel
// column. The memory counter is the resident size the chart adds while it
// holds the points (the samples themselves excluded).

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
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

#include "monitor/qt/ChartPoints.h"

namespace {

constexpr int kZones = 16;
constexpr int kSamples = 8 * 3600;
constexpr int kWidth = 1200;
constexpr int kHeight = 500;
// The plot area is narrower than the widget; the axes take the rest.
constexpr int kColumns = 1100;

QApplication& App()
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "bench_gui_chart";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

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

void Reduce(bool decimate, int k, std::vector<ChartPoint>& out)
{
    const auto& s = Samples()[static_cast<std::size_t>(k)];
    if (decimate)
        DecimateMinMax(s.data(), s.size(), 0, kSamples - 1, kColumns, out);
    else
        out.assign(s.begin(), s.end());
}

void BM_QCustomPlot(benchmark::State& state)
{
    App();
    Samples();
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
        std::vector<ChartPoint> points;
        for (auto _ : state) {
            for (int k = 0; k < kZones; ++k) {
                Reduce(decimate, k, points);
                QVector<QCPGraphData> data;
                data.reserve(static_cast<qsizetype>(points.size()));
                for (const ChartPoint& p : points)
                    data.push_back(QCPGraphData(p.t, p.v));
                plot.graph(k)->data()->set(data, true);
            }
            // What the chart's own layout and updates still have to do.
            QApplication::processEvents();
            frame.fill(Qt::white);
            QPainter painter(&frame);
            plot.replot(QCustomPlot::rpImmediateRefresh);
            plot.render(&painter);
            painter.end();
            benchmark::DoNotOptimize(frame.constBits());
        }
        heldMb = ResidentMb() - before;
        SaveFrame(frame, "qcustomplot", decimate);
    }
    state.counters["chart_MB"] = heldMb;
}

#ifdef VORLENT_BENCH_QTCHARTS
void BM_QtCharts(benchmark::State& state)
{
    App();
    Samples();
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
        std::vector<ChartPoint> points;
        for (auto _ : state) {
            for (int k = 0; k < kZones; ++k) {
                Reduce(decimate, k, points);
                QList<QPointF> list;
                list.reserve(static_cast<qsizetype>(points.size()));
                for (const ChartPoint& p : points)
                    list.push_back(QPointF(p.t, p.v));
                series[static_cast<std::size_t>(k)]->replace(list);
            }
            QApplication::processEvents();
            frame.fill(Qt::white);
            QPainter painter(&frame);
            view.render(&painter);
            painter.end();
            benchmark::DoNotOptimize(frame.constBits());
        }
        heldMb = ResidentMb() - before;
        SaveFrame(frame, "qtcharts", decimate);
    }
    state.counters["chart_MB"] = heldMb;
}
#endif

}  // namespace

// Argument: 0 every point, 1 reduced to two per pixel column.
BENCHMARK(BM_QCustomPlot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#ifdef VORLENT_BENCH_QTCHARTS
BENCHMARK(BM_QtCharts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK_MAIN();
