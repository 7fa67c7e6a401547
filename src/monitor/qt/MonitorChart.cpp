#include "monitor/qt/MonitorChart.h"

#include <QDateTime>
#include <QEvent>
#include <QPainter>
#include <QMouseEvent>
#include <QRubberBand>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <limits>
#include <qcustomplot.h>

#include "config/TextMemory.h"
#include "monitor/MonitorHistory.h"
#include "monitor/qt/MonitorTexts.h"
#include "platform/qt/QtText.h"

namespace {

// Twelve hues evenly spaced around the OKLCH hue circle (25°, 55°, ... 355°),
// each at lightness 0.60 to 0.68 and 85 % of the chroma sRGB allows there.
// That keeps every one between relative luminance 0.16 and 0.30: a contrast
// of about 3:1 or more both against a white base and against a dark one
// (#1e1e1e), and none of them glares. The zones take them in steps of five
// hues (150°), so neighbouring zones differ most: red, teal, magenta, olive,
// blue, orange, cyan, pink, green, violet, ochre, sky.
const QColor kLineColours[CMonitorChart::kHues] = {
    QColor(0xe6, 0x43, 0x43), QColor(0x37, 0xa0, 0x89), QColor(0xcc, 0x5e, 0xd4), QColor(0x8a, 0x94, 0x31),
    QColor(0x49, 0x77, 0xec), QColor(0xda, 0x7d, 0x34), QColor(0x3a, 0xa3, 0xae), QColor(0xe3, 0x49, 0x92),
    QColor(0x37, 0xa6, 0x43), QColor(0x8c, 0x5e, 0xe8), QColor(0xb2, 0x8c, 0x34), QColor(0x37, 0x9d, 0xd0),
};

// One wheel step zooms by this much, as the chart library's own zoom does.
constexpr double kWheelFactor = 0.85;
// A box narrower than this is a click, not a zoom (pixels).
constexpr int kMinBox = 5;

double SecondsOf(std::chrono::system_clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

std::chrono::system_clock::time_point TimeOf(double seconds)
{
    return std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds)));
}

// The value of the graph's point nearest to t; NaN in a gap or without data.
double ValueAt(const QCPGraph& graph, double t)
{
    const auto data = graph.data();
    if (data->isEmpty())
        return std::numeric_limits<double>::quiet_NaN();
    auto it = data->findBegin(t, false);
    if (it == data->constEnd() || (it != data->constBegin() && t - (it - 1)->key < it->key - t))
        --it;
    return it->value;
}

QString Number(double v) { return std::isnan(v) ? QStringLiteral("\u2013") : QString::number(v, 'f', 0); }

std::string T(const monitortext::Text& text) { return TheTextMemory().GetTextOr(text.n, text.english); }

}  // namespace

// The box beside the crosshair: the time, then per zone a swatch of its
// colour, its name, actual and set value in aligned columns. Painted by
// hand: a rich-text label lays out a table on every move, which costs more
// than the chart's lines.
class CChartReadout : public QWidget
{
public:
    struct Row
    {
        QColor colour;
        QString name;
        QString actual;
        QString set;
    };

    explicit CChartReadout(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void SetContent(const QString& title, const QString& actualHeader, const QString& setHeader, std::vector<Row> rows)
    {
        m_title = title;
        m_actualHeader = actualHeader;
        m_setHeader = setHeader;
        m_rows = std::move(rows);
        const QFontMetrics fm = fontMetrics();
        m_nName = 0;
        m_nActual = fm.horizontalAdvance(m_actualHeader);
        m_nSet = fm.horizontalAdvance(m_setHeader);
        for (const Row& row : m_rows) {
            m_nName = std::max(m_nName, fm.horizontalAdvance(row.name));
            m_nActual = std::max(m_nActual, fm.horizontalAdvance(row.actual));
            m_nSet = std::max(m_nSet, fm.horizontalAdvance(row.set));
        }
        const int swatch = fm.height();
        const int width = std::max(fm.horizontalAdvance(m_title) + m_nActual + m_nSet + 2 * kGap,
                                   swatch + m_nName + m_nActual + m_nSet + 3 * kGap);
        resize(width + 2 * kMargin, fm.height() * static_cast<int>(m_rows.size() + 1) + 2 * kMargin);
        update();
    }

    QString Text() const
    {
        QString text = m_title + " " + m_actualHeader + " " + m_setHeader;
        for (const Row& row : m_rows)
            text += "\n" + row.name + " " + row.actual + " " + row.set;
        return text;
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QPalette pal = palette();
        QColor base = pal.color(QPalette::Base);
        base.setAlpha(235);
        QColor frame = pal.color(QPalette::Text);
        frame.setAlpha(120);
        painter.setPen(frame);
        painter.setBrush(base);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
        painter.setPen(pal.color(QPalette::Text));
        const QFontMetrics fm = fontMetrics();
        const int line = fm.height();
        const int right = width() - kMargin;
        const int setLeft = right - m_nSet;
        const int actualLeft = setLeft - kGap - m_nActual;
        int y = kMargin;
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.drawText(QRect(kMargin, y, actualLeft - kMargin, line), Qt::AlignLeft | Qt::AlignVCenter, m_title);
        painter.setFont(font());
        painter.drawText(QRect(actualLeft, y, m_nActual, line), Qt::AlignRight | Qt::AlignVCenter, m_actualHeader);
        painter.drawText(QRect(setLeft, y, m_nSet, line), Qt::AlignRight | Qt::AlignVCenter, m_setHeader);
        const int swatch = line * 3 / 5;
        for (const Row& row : m_rows) {
            y += line;
            painter.fillRect(QRect(kMargin, y + (line - swatch) / 2, swatch, swatch), row.colour);
            painter.drawText(QRect(kMargin + line, y, m_nName, line), Qt::AlignLeft | Qt::AlignVCenter, row.name);
            painter.drawText(QRect(actualLeft, y, m_nActual, line), Qt::AlignRight | Qt::AlignVCenter, row.actual);
            painter.drawText(QRect(setLeft, y, m_nSet, line), Qt::AlignRight | Qt::AlignVCenter, row.set);
        }
    }

private:
    static constexpr int kMargin = 5;
    static constexpr int kGap = 10;
    QString m_title;
    QString m_actualHeader;
    QString m_setHeader;
    std::vector<Row> m_rows;
    int m_nName = 0;
    int m_nActual = 0;
    int m_nSet = 0;
};

QColor CMonitorChart::LineColour(int index) { return kLineColours[static_cast<std::size_t>(index) % kHues]; }

CMonitorChart::CMonitorChart(QWidget* parent)
    : QWidget(parent), m_plot(new QCustomPlot(this)), m_dNewestS(std::numeric_limits<double>::quiet_NaN())
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_plot);

    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat("HH:mm:ss");
    ticker->setDateTimeSpec(Qt::LocalTime);
    m_plot->xAxis->setTicker(ticker);
    // The wheel is ours (it zooms the axis it is over); the library drags.
    m_plot->setInteractions(QCP::iRangeDrag);
    m_plot->axisRect()->setRangeDrag(Qt::Horizontal);
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

    // The crosshair moves on a layer of its own: a mouse move repaints that
    // layer alone, never the lines.
    m_plot->layer("overlay")->setMode(QCPLayer::lmBuffered);
    m_crossLine = new QCPItemStraightLine(m_plot);
    m_crossLine->setLayer("overlay");
    m_crossLine->setVisible(false);
    m_crossLine->setSelectable(false);
    m_readout = new CChartReadout(m_plot);
    m_readout->setObjectName("readout");
    m_readout->hide();
    m_band = new QRubberBand(QRubberBand::Rectangle, m_plot);
    m_plot->setMouseTracking(true);
    m_plot->installEventFilter(this);

    const double now = SecondsOf(std::chrono::system_clock::now());
    m_plot->xAxis->setRange(now - kDefaultSpanS, now);
    m_plot->yAxis->setRange(0, 100);
    connect(m_plot->xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& range) { OnRangeChanged(range.lower, range.upper); });
    ApplyPalette();
}

void CMonitorChart::SetZones(const std::vector<int>& zones)
{
    m_zones = zones;
    m_plot->clearGraphs();
    for (std::size_t i = 0; i < m_zones.size(); ++i) {
        QCPGraph* actual = m_plot->addGraph();
        actual->setName(QString("Z%1").arg(m_zones[i], 2, 10, QChar('0')));
        actual->setAdaptiveSampling(true);
        QCPGraph* set = m_plot->addGraph();
        set->removeFromLegend();
    }
    m_dPenRatio = 0;
    ApplyPens();
    if (m_nCrossX >= 0)
        UpdateReadout();
}

void CMonitorChart::ApplyPens()
{
    // One pixel of the screen's logical size: two device pixels at scale 2.
    // Wider pens cost the raster engine far more on a noisy line (290 ms
    // against 12 ms for 16 zones over 8 hours), so no wider than that; the
    // set line's dashes tell it apart.
    const double ratio = devicePixelRatioF();
    if (ratio == m_dPenRatio)
        return;
    m_dPenRatio = ratio;
    for (std::size_t i = 0; i < m_zones.size(); ++i) {
        const QColor colour = LineColour(static_cast<int>(i));
        QPen actual(colour, std::max(1.0, std::round(ratio)));
        actual.setCosmetic(true);
        QPen set = actual;
        set.setStyle(Qt::DashLine);
        m_plot->graph(static_cast<int>(2 * i))->setPen(actual);
        m_plot->graph(static_cast<int>(2 * i + 1))->setPen(set);
    }
}

std::size_t CMonitorChart::Redraw(const CMonitorHistory& history, int16_t address)
{
    m_pHistory = &history;
    m_nAddress = address;
    ApplyPens();
    std::chrono::system_clock::time_point oldest;
    std::chrono::system_clock::time_point newest;
    const bool bAny = history.Span(address, oldest, newest);
    m_dNewestS = bAny ? SecondsOf(newest) : std::numeric_limits<double>::quiet_NaN();
    if (m_bFollow && bAny) {
        // As a chart recorder that starts with its paper fitted to what it
        // has: first to last sample until they span the chosen width, then
        // the newest at the right edge.
        const double first = SecondsOf(oldest);
        const double last = SecondsOf(newest);
        double left = m_bFitAll || last - first < m_dSpanS ? first : last - m_dSpanS;
        double right = last;
        if (right - left < kMinSpanS) {
            // One sample, or a few within a second: centred in the narrowest view.
            const double centre = (left + right) / 2;
            left = centre - kMinSpanS / 2;
            right = centre + kMinSpanS / 2;
        }
        m_bSettingRange = true;
        m_plot->xAxis->setRange(left, right);
        m_bSettingRange = false;
    }
    const QCPRange range = m_plot->xAxis->range();
    const std::size_t columns = static_cast<std::size_t>(std::max(m_plot->axisRect()->width(), 1));
    std::vector<std::vector<CMonitorHistory::Point>> lines;
    std::vector<double> breaks;
    if (bAny) {
        if (!m_zones.empty())
            lines = history.Query(address, m_zones, TimeOf(range.lower), TimeOf(range.upper), columns);
        for (const CMonitorHistory::Break& b : history.Breaks(TimeOf(range.lower), TimeOf(range.upper)))
            breaks.push_back(static_cast<double>(b.tMs) / 1000.0);
    }

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
        const qsizetype n = data.size();
        if (hi == lo && n >= 2 && data[n - 1].value == lo && data[n - 2].value == lo) {
            // A run of one value is one straight stroke: its last point moves
            // on instead of another joining it (a set line is mostly one).
            data[n - 1].key = t;
        } else {
            data.push_back(QCPGraphData(t, lo));
            if (hi != lo)
                data.push_back(QCPGraphData(t, hi));
        }
        low = std::min(low, static_cast<double>(lo));
        high = std::max(high, static_cast<double>(hi));
    };
    for (std::size_t i = 0; i < m_zones.size(); ++i) {
        actual.clear();
        set.clear();
        if (i < lines.size()) {
            std::size_t nextBreak = 0;
            for (const CMonitorHistory::Point& p : lines[i]) {
                const double t = static_cast<double>(p.tMs) / 1000.0;
                // No line across a pause: the values in it are not known.
                for (; nextBreak < breaks.size() && breaks[nextBreak] <= t; ++nextBreak) {
                    actual.push_back(QCPGraphData(breaks[nextBreak], gap));
                    set.push_back(QCPGraphData(breaks[nextBreak], gap));
                }
                add(actual, t, p.nActualMin, p.nActualMax);
                add(set, t, p.nSetMin, p.nSetMax);
            }
        }
        handed += static_cast<std::size_t>(actual.size() + set.size());
        m_plot->graph(static_cast<int>(2 * i))->data()->set(actual, true);
        m_plot->graph(static_cast<int>(2 * i + 1))->data()->set(set, true);
    }
    if (m_bAutoValues && low <= high) {
        // A flat line sits in the middle of a band of 10.
        const double margin = std::max((high - low) * 0.08, 5.0);
        m_plot->yAxis->setRange(low - margin, high + margin);
    }
    PlaceMarks(breaks);
    if (m_nCrossX >= 0)
        UpdateReadout();
    m_plot->replot(QCustomPlot::rpQueuedReplot);
    return handed;
}

void CMonitorChart::PlaceMarks(const std::vector<double>& breaks)
{
    while (m_marks.size() < breaks.size()) {
        auto* mark = new QCPItemStraightLine(m_plot);
        mark->setSelectable(false);
        QPen pen(palette().color(QPalette::Text), 1, Qt::DashDotLine);
        pen.setCosmetic(true);
        mark->setPen(pen);
        m_marks.push_back(mark);
    }
    for (std::size_t i = 0; i < m_marks.size(); ++i) {
        m_marks[i]->setVisible(i < breaks.size());
        if (i < breaks.size()) {
            m_marks[i]->point1->setCoords(breaks[i], 0);
            m_marks[i]->point2->setCoords(breaks[i], 1);
        }
    }
}

void CMonitorChart::SetFollow(bool bFollow)
{
    if (m_bFollow == bFollow)
        return;
    m_bFollow = bFollow;
    if (!bFollow)
        m_bFitAll = false;
    emit FollowChanged(bFollow);
}

void CMonitorChart::FitAll()
{
    m_bFitAll = true;
    m_bAutoValues = true;
    SetFollow(true);
    RedrawSoon();
}

double CMonitorChart::SpanSeconds() const { return m_plot->xAxis->range().size(); }
double CMonitorChart::FromSeconds() const { return m_plot->xAxis->range().lower; }
double CMonitorChart::ToSeconds() const { return m_plot->xAxis->range().upper; }

void CMonitorChart::SetTimeRange(double fromS, double toS)
{
    m_bFitAll = false;
    m_dSpanS = std::clamp(toS - fromS, kMinSpanS, kMaxSpanS);
    m_plot->xAxis->setRange(fromS, toS);
}

void CMonitorChart::OnRangeChanged(double lower, double upper)
{
    if (m_bSettingRange)
        return;
    double span = upper - lower;
    if (span < kMinSpanS || span > kMaxSpanS) {
        // Beyond what a trend can show: keep the centre, clamp the width.
        const double centre = (lower + upper) / 2;
        span = std::clamp(span, kMinSpanS, kMaxSpanS);
        lower = centre - span / 2;
        upper = centre + span / 2;
        m_bSettingRange = true;
        m_plot->xAxis->setRange(lower, upper);
        m_bSettingRange = false;
    }
    if (m_bDragging && !std::isnan(m_dNewestS)) {
        // A drag stops at the newest sample: beyond it lies nothing to see.
        // There it follows again, at the width on show; short of it, it
        // looks at the past.
        if (upper >= m_dNewestS) {
            m_bSettingRange = true;
            m_plot->xAxis->setRange(m_dNewestS - span, m_dNewestS);
            m_bSettingRange = false;
            m_dSpanS = span;
            SetFollow(true);
        } else {
            SetFollow(false);
        }
    }
    RedrawSoon();
}

void CMonitorChart::RedrawSoon()
{
    if (m_bRedrawPending || !m_pHistory)
        return;
    m_bRedrawPending = true;
    QTimer::singleShot(0, this, [this] {
        m_bRedrawPending = false;
        if (m_pHistory)
            Redraw(*m_pHistory, m_nAddress);
    });
}

void CMonitorChart::OnWheel(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    const double factor = std::pow(kWheelFactor, steps);
    const QPointF pos = event->position();
    const QRect plot = m_plot->axisRect()->rect();
    if (pos.x() < plot.left() && pos.y() >= plot.top() && pos.y() <= plot.bottom()) {
        // Over the value axis: values, around the mouse; they keep that
        // zoom until the next Fit.
        m_bAutoValues = false;
        m_plot->yAxis->scaleRange(factor, m_plot->yAxis->pixelToCoord(pos.y()));
        m_plot->replot(QCustomPlot::rpQueuedReplot);
        return;
    }
    m_bFitAll = false;
    if (m_bFollow) {
        // The newest stays at the right edge; the width is the new choice.
        m_dSpanS = std::clamp(SpanSeconds() * factor, kMinSpanS, kMaxSpanS);
        const double right = std::isnan(m_dNewestS) ? ToSeconds() : m_dNewestS;
        m_bSettingRange = true;
        m_plot->xAxis->setRange(right - m_dSpanS, right);
        m_bSettingRange = false;
        RedrawSoon();
        return;
    }
    m_plot->xAxis->scaleRange(factor, m_plot->xAxis->pixelToCoord(pos.x()));
}

bool CMonitorChart::BoxPress(QMouseEvent* event)
{
    const bool bBox = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier));
    if (!bBox || !m_plot->axisRect()->rect().contains(event->position().toPoint()))
        return false;
    m_bBoxing = true;
    m_boxStart = event->position().toPoint();
    m_band->setGeometry(QRect(m_boxStart, QSize()));
    m_band->show();
    HideCrosshair();
    return true;
}

bool CMonitorChart::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_plot)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel:
        OnWheel(static_cast<QWheelEvent*>(event));
        return true;
    case QEvent::MouseButtonDblClick:
        FitAll();
        return true;
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (BoxPress(mouse))
            return true;
        if (mouse->button() == Qt::LeftButton) {
            m_bDragging = true;
            m_bFitAll = false;
            HideCrosshair();
        }
        return false;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        if (m_bBoxing) {
            m_band->setGeometry(QRect(m_boxStart, pos).normalized().intersected(m_plot->axisRect()->rect()));
            return true;
        }
        if (!m_bDragging)
            SetCrosshair(pos.x());
        return false;
    }
    case QEvent::MouseButtonRelease:
        if (m_bBoxing) {
            m_bBoxing = false;
            m_band->hide();
            const QRect box = m_band->geometry();
            if (box.width() < kMinBox && box.height() < kMinBox)
                return true;
            SetFollow(false);
            m_bFitAll = false;
            if (box.width() >= kMinBox) {
                const double from = m_plot->xAxis->pixelToCoord(box.left());
                const double to = m_plot->xAxis->pixelToCoord(box.right());
                m_dSpanS = std::clamp(to - from, kMinSpanS, kMaxSpanS);
                m_plot->xAxis->setRange(from, to);
            }
            if (box.height() >= kMinBox) {
                m_bAutoValues = false;
                m_plot->yAxis->setRange(m_plot->yAxis->pixelToCoord(box.bottom()),
                                        m_plot->yAxis->pixelToCoord(box.top()));
            }
            RedrawSoon();
            m_plot->replot(QCustomPlot::rpQueuedReplot);
            return true;
        }
        m_bDragging = false;
        return false;
    case QEvent::Leave:
        HideCrosshair();
        return false;
    default:
        return false;
    }
}

void CMonitorChart::SetCrosshair(int x)
{
    const QRect plot = m_plot->axisRect()->rect();
    if (x < plot.left() || x > plot.right()) {
        HideCrosshair();
        return;
    }
    m_nCrossX = x;
    UpdateReadout();
    m_plot->layer("overlay")->replot();
}

void CMonitorChart::HideCrosshair()
{
    if (m_nCrossX < 0)
        return;
    m_nCrossX = -1;
    m_crossLine->setVisible(false);
    m_readout->hide();
    m_plot->layer("overlay")->replot();
}

QString CMonitorChart::ReadoutText() const
{
    return m_nCrossX < 0 ? QString() : m_readout->Text();
}

void CMonitorChart::UpdateReadout()
{
    const double t = m_plot->xAxis->pixelToCoord(m_nCrossX);
    m_crossLine->point1->setCoords(t, 0);
    m_crossLine->point2->setCoords(t, 1);
    m_crossLine->setVisible(true);

    const QDateTime when = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::llround(t * 1000)));
    const QString format = SpanSeconds() > 20 * 3600 ? "yyyy-MM-dd HH:mm:ss" : "HH:mm:ss";
    std::vector<CChartReadout::Row> rows;
    rows.reserve(m_zones.size());
    for (std::size_t i = 0; i < m_zones.size(); ++i) {
        const double actual = ValueAt(*m_plot->graph(static_cast<int>(2 * i)), t);
        const double set = ValueAt(*m_plot->graph(static_cast<int>(2 * i + 1)), t);
        rows.push_back({LineColour(static_cast<int>(i)), QString("Z%1").arg(m_zones[i], 2, 10, QChar('0')),
                        Number(actual), Number(set)});
    }
    m_readout->SetContent(when.toString(format), Q(T(monitortext::kActual)), Q(T(monitortext::kSet)),
                          std::move(rows));
    // Beside the crosshair, on the side with room, at the plot's top.
    const QRect plot = m_plot->axisRect()->rect();
    int left = m_nCrossX + 12;
    if (left + m_readout->width() > plot.right())
        left = std::max(plot.left(), m_nCrossX - 12 - m_readout->width());
    m_readout->move(left, plot.top() + 4);
    m_readout->show();
    m_readout->raise();
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
    QPen cross(text, 1, Qt::DotLine);
    cross.setCosmetic(true);
    m_crossLine->setPen(cross);
    for (QCPItemStraightLine* mark : m_marks) {
        QPen pen(text, 1, Qt::DashDotLine);
        pen.setCosmetic(true);
        mark->setPen(pen);
    }
    m_plot->replot(QCustomPlot::rpQueuedReplot);
}
