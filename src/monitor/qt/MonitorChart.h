#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

class CMonitorHistory;
class QCustomPlot;

// The trend chart of one watched unit: per charted zone its actual values as
// a solid line and its set values as a dashed line of the same colour, time
// on the x axis (local time). The chart holds no history of its own: each
// Redraw asks the history for the visible span, at most two points (the
// lowest and highest sample) per pixel column and line, so a chart costs the
// same for a minute and for a day. Redraw runs on the owner's timer, never
// per sample.
//
// The wheel zooms the time axis around the mouse, a drag scrolls it. In
// follow mode the newest sample stays at the right edge and the span shown
// keeps its width; a drag ends follow mode (FollowChanged(false)).
class CMonitorChart : public QWidget
{
    Q_OBJECT
public:
    // What a fresh chart shows in follow mode.
    static constexpr double kDefaultSpanS = 300;
    // The span the wheel can reach: a second to a week.
    static constexpr double kMinSpanS = 1;
    static constexpr double kMaxSpanS = 7 * 24 * 3600;

    explicit CMonitorChart(QWidget* parent = nullptr);

    // The zones (1-based) to draw, in legend order.
    void SetZones(const std::vector<int>& zones);
    const std::vector<int>& Zones() const { return m_zones; }

    // Draws the unit's samples of the visible span from the history (in
    // follow mode the span ending at the newest sample). Returns the number
    // of points handed to the chart library, all lines together.
    std::size_t Redraw(const CMonitorHistory& history, int16_t address);

    void SetFollow(bool bFollow);
    bool IsFollowing() const { return m_bFollow; }
    // The width of the time axis, in seconds.
    double SpanSeconds() const;
    // The time axis' range, seconds since the epoch.
    double FromSeconds() const;
    double ToSeconds() const;
    // Sets the time axis as a user's scroll or zoom would.
    void SetTimeRange(double fromS, double toS);

    QCustomPlot& Plot() { return *m_plot; }

signals:
    void FollowChanged(bool bFollow);

protected:
    void changeEvent(QEvent* event) override;

private:
    void ApplyPalette();
    void OnRangeChanged(double lower, double upper);

    QCustomPlot* m_plot;
    std::vector<int> m_zones;
    bool m_bFollow = true;
    // While Redraw sets the range itself, a range change is no user's.
    bool m_bSettingRange = false;
    bool m_bDragging = false;
};
