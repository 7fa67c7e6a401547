#include "monitor/qt/MonitorChart.h"

#include <QEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>
#include <qcustomplot.h>

#include "monitor/MonitorHistory.h"

namespace {

// Line colours that keep their contrast on a light and on a dark background.
const QColor kLineColours[] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x17, 0xbe, 0xcf),
};

double SecondsOf(std::chrono::system_clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

std::chrono::system_clock::time_point TimeOf(double seconds)
{
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds)));
}

}  // namespace

CMonitorChart::CMonitorChart(QWidget* parent) : QWidget(parent), m_plot(new QCustomPlot(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat("HH:mm:ss");
    ticker->setDateTimeSpec(Qt::LocalTime);
    m_plot->xAxis->setTicker(ticker);
    m_plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
    m_plot->axisRect()->setRangeZoom(Qt::Horizontal);
    m_plot->legend->setVisible(true);
    // Beside the plot, never over it: the lines grow from the left edge and
    // then keep their newest at the right one, and a box inside would hide
    // either. The row below the legend takes the height it does not need.
    auto* side = new QCPLayoutGrid;
    m_plot->plotLayout()->addElement(0, 1, side);
    m_plot->plotLayout()->setColumnStretchFactor(1, 0.001);
    side->addElement(0, 0, m_plot->legend);
    side->addElement(1, 0, new QCPLayoutElement(m_plot));
    side->setRowStretchFactor(0, 0.001);
    side->setMargins(QMargins(0, 6, 6, 6));
    // The zones' legend is small beside the lines it names.
    QFont legendFont = font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.85);
    m_plot->legend->setFont(legendFont);
    m_plot->legend->setRowSpacing(0);

    const double now = SecondsOf(std::chrono::system_clock::now());
    m_plot->xAxis->setRange(now - kDefaultSpanS, now);
    m_plot->yAxis->setRange(0, 100);
    connect(m_plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& range) { OnRangeChanged(range.lower, range.upper); });
    connect(m_plot, &QCustomPlot::mousePress, this, [this](QMouseEvent*) { m_bDragging = true; });
    connect(m_plot, &QCustomPlot::mouseRelease, this, [this](QMouseEvent*) { m_bDragging = false; });
    ApplyPalette();
}

void CMonitorChart::SetZones(const std::vector<int>& zones)
{
    m_zones = zones;
    m_plot->clearGraphs();
    for (std::size_t i = 0; i < m_zones.size(); ++i) {
        const QColor colour = kLineColours[i % std::size(kLineColours)];
        QCPGraph* actual = m_plot->addGraph();
        // A pen wider than one pixel costs the raster engine twenty times
        // as much on a noisy line (290 ms against 12 ms for 16 zones over
        // 8 hours): the set line's dashes tell it apart instead.
        actual->setPen(QPen(colour, 1.0));
        actual->setName(QString("Z%1").arg(m_zones[i], 2, 10, QChar('0')));
        actual->setAdaptiveSampling(true);
        QCPGraph* set = m_plot->addGraph();
        set->setPen(QPen(colour, 1.0, Qt::DashLine));
        set->removeFromLegend();
    }
}

std::size_t CMonitorChart::Redraw(const CMonitorHistory& history, int16_t address)
{
    std::chrono::system_clock::time_point oldest;
    std::chrono::system_clock::time_point newest;
    const bool bAny = history.Span(address, oldest, newest);
    if (m_bFollow && bAny) {
        // As a chart recorder: the lines grow from the left edge until they
        // fill the span, then the newest stays at the right edge.
        const double span = SpanSeconds();
        const double right = std::max(SecondsOf(newest), SecondsOf(oldest) + span);
        m_bSettingRange = true;
        m_plot->xAxis->setRange(right - span, right);
        m_bSettingRange = false;
    }
    const QCPRange range = m_plot->xAxis->range();
    const std::size_t columns = static_cast<std::size_t>(std::max(m_plot->axisRect()->width(), 1));
    std::vector<std::vector<CMonitorHistory::Point>> lines;
    if (bAny && !m_zones.empty())
        lines = history.Query(address, m_zones, TimeOf(range.lower), TimeOf(range.upper), columns);

    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    std::size_t handed = 0;
    QVector<QCPGraphData> actual;
    QVector<QCPGraphData> set;
    const double gap = std::numeric_limits<double>::quiet_NaN();
    // A slice gives its lowest and its highest value at its time: a spike of
    // one sample still shows as a stroke.
    auto add = [&](QVector<QCPGraphData>& data, double t, int32_t lo, int32_t hi) {
        if (lo == kNoValue || hi == kNoValue) {
            data.push_back(QCPGraphData(t, gap));
            return;
        }
        data.push_back(QCPGraphData(t, lo));
        if (hi != lo)
            data.push_back(QCPGraphData(t, hi));
        low = std::min(low, static_cast<double>(lo));
        high = std::max(high, static_cast<double>(hi));
    };
    for (std::size_t i = 0; i < m_zones.size(); ++i) {
        actual.clear();
        set.clear();
        if (i < lines.size()) {
            for (const CMonitorHistory::Point& p : lines[i]) {
                const double t = static_cast<double>(p.tMs) / 1000.0;
                add(actual, t, p.nActualMin, p.nActualMax);
                add(set, t, p.nSetMin, p.nSetMax);
            }
        }
        handed += static_cast<std::size_t>(actual.size() + set.size());
        m_plot->graph(static_cast<int>(2 * i))->data()->set(actual, true);
        m_plot->graph(static_cast<int>(2 * i + 1))->data()->set(set, true);
    }
    if (low <= high) {
        // A flat line sits in the middle of a band of 10.
        const double margin = std::max((high - low) * 0.08, 5.0);
        m_plot->yAxis->setRange(low - margin, high + margin);
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
    return handed;
}

void CMonitorChart::SetFollow(bool bFollow)
{
    if (m_bFollow == bFollow)
        return;
    m_bFollow = bFollow;
    emit FollowChanged(bFollow);
}

double CMonitorChart::SpanSeconds() const { return m_plot->xAxis->range().size(); }
double CMonitorChart::FromSeconds() const { return m_plot->xAxis->range().lower; }
double CMonitorChart::ToSeconds() const { return m_plot->xAxis->range().upper; }

void CMonitorChart::SetTimeRange(double fromS, double toS) { m_plot->xAxis->setRange(fromS, toS); }

void CMonitorChart::OnRangeChanged(double lower, double upper)
{
    if (m_bSettingRange)
        return;
    const double span = upper - lower;
    if (span < kMinSpanS || span > kMaxSpanS) {
        // Beyond what a trend can show: keep the centre, clamp the width.
        const double centre = (lower + upper) / 2;
        const double width = std::clamp(span, kMinSpanS, kMaxSpanS);
        m_bSettingRange = true;
        m_plot->xAxis->setRange(centre - width / 2, centre + width / 2);
        m_bSettingRange = false;
    }
    // A zoom keeps following (at the new width); a scroll looks at the past.
    if (m_bDragging)
        SetFollow(false);
}

void CMonitorChart::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        ApplyPalette();
}

void CMonitorChart::ApplyPalette()
{
    // The chart paints itself: it takes the window's colours, light or dark.
    const QPalette pal = palette();
    const QColor text = pal.color(QPalette::Text);
    const QColor grid = pal.color(QPalette::Mid);
    m_plot->setBackground(pal.brush(QPalette::Base));
    m_plot->axisRect()->setBackground(pal.brush(QPalette::Base));
    for (QCPAxis* axis : {m_plot->xAxis, m_plot->yAxis}) {
        axis->setBasePen(QPen(text));
        axis->setTickPen(QPen(text));
        axis->setSubTickPen(QPen(text));
        axis->setTickLabelColor(text);
        axis->setLabelColor(text);
        axis->grid()->setPen(QPen(grid, 0, Qt::DotLine));
    }
    m_plot->legend->setBrush(pal.brush(QPalette::Base));
    m_plot->legend->setBorderPen(QPen(grid));
    m_plot->legend->setTextColor(text);
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}
