#pragma once

#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <vector>

class CMonitorHistory;
class QCustomPlot;
class QCPItemStraightLine;
class CChartReadout;
class QMouseEvent;
class QRubberBand;
class QWheelEvent;

// The trend chart of one watched unit: per charted zone its actual values as
// a solid line and its set values as a dashed line of the same hue, time on
// the x axis (local time). The chart holds no history of its own: each
// Redraw asks the history for the visible span, at most two points (the
// lowest and highest sample) per pixel column and line, so a chart costs the
// same for a minute and for a day. Redraw runs on the owner's timer, never
// per sample. Lines break where the unit gave no value and where the monitor
// paused or was closed; a pause is marked by a vertical line.
//
// The view:
// - Follow (the default): the newest sample stays at the right edge. Until
//   the samples span the chosen width the view fits them, first to last;
//   then it shows the chosen width.
// - Fit (FitAll(), a double-click): every sample, first to last, growing
//   with them; the value axis fits again as well.
// - The wheel over the plot or the time axis zooms time around the mouse
//   (in follow mode it changes the chosen width); over the value axis it
//   zooms values, which then stop fitting themselves until the next Fit.
// - A drag with the left button scrolls time; it never goes beyond the
//   newest sample. A drag into the past ends follow mode, one back to the
//   newest sample resumes it (FollowChanged).
// - A drag with the right button, or with Ctrl and the left, zooms into the
//   box drawn.
// - Hovering shows a crosshair and beside it the time and each charted
//   zone's actual and set value under it.
class CMonitorChart : public QWidget
{
    Q_OBJECT
public:
    // The width a fresh chart fills before it starts to scroll.
    static constexpr double kDefaultSpanS = 300;
    // The span the wheel can reach: a second to a week.
    static constexpr double kMinSpanS = 1;
    static constexpr double kMaxSpanS = 7 * 24 * 3600;
    // Hues told apart on a light and on a dark base, in the order the zones
    // take them (see the .cpp); the 13th zone takes the first again.
    static constexpr int kHues = 12;
    static QColor LineColour(int index);

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
    // Every sample, first to last, from the next Redraw on; follows.
    void FitAll();
    bool IsFittingAll() const { return m_bFitAll; }
    // The width of the time axis, in seconds.
    double SpanSeconds() const;
    // The width follow mode shows once the samples fill it.
    double ChosenSpanSeconds() const { return m_dSpanS; }
    // The time axis' range, seconds since the epoch.
    double FromSeconds() const;
    double ToSeconds() const;
    // Sets the time axis as a user's scroll or zoom would.
    void SetTimeRange(double fromS, double toS);

    // The crosshair at pixel x of the chart widget (what hovering does), or
    // none; the readout's text (empty when none is shown).
    void SetCrosshair(int x);
    void HideCrosshair();
    QString ReadoutText() const;

    QCustomPlot& Plot() { return *m_plot; }

signals:
    void FollowChanged(bool bFollow);

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ApplyPalette();
    void ApplyPens();
    void OnRangeChanged(double lower, double upper);
    void OnWheel(QWheelEvent* event);
    void UpdateReadout();
    void PlaceMarks(const std::vector<double>& breaks);
    bool BoxPress(QMouseEvent* event);
    // A redraw from the last history soon, after an interaction changed the
    // view; several in one turn of the event loop make one.
    void RedrawSoon();

    QCustomPlot* m_plot;
    CChartReadout* m_readout;
    QRubberBand* m_band;
    QCPItemStraightLine* m_crossLine = nullptr;
    std::vector<QCPItemStraightLine*> m_marks;
    std::vector<int> m_zones;
    // What the last Redraw drew: the owner's history outlives the chart.
    const CMonitorHistory* m_pHistory = nullptr;
    int16_t m_nAddress = 0;
    bool m_bRedrawPending = false;
    double m_dPenRatio = 0;
    bool m_bFollow = true;
    bool m_bFitAll = false;
    bool m_bAutoValues = true;
    double m_dSpanS = kDefaultSpanS;
    // The newest sample of the last Redraw, seconds; NaN before one.
    double m_dNewestS;
    // While Redraw sets the range itself, a range change is no user's.
    bool m_bSettingRange = false;
    bool m_bDragging = false;
    bool m_bBoxing = false;
    QPoint m_boxStart;
    // The crosshair's pixel column in the plot, -1: none.
    int m_nCrossX = -1;
};
