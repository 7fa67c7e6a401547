#pragma once

#include <QDialog>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "monitor/MonitorJob.h"

class CMonitorChart;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTableWidget;
class QTimer;

// The live view: a monitor job behind a modal dialog, as a receive runs
// behind its progress dialog. The job opens its own link when the dialog
// shows and closes it when it ends; Close (and Escape, and the window's
// close) asks it to stop, and the dialog closes on the job's last message.
//
// Above, the overview: one row per watched unit with its status light
// (answering, no answer for some cycles, device gone), its cycle time and
// its counters; a click shows its tab. One tab per watched unit: a table of
// zone, set value, actual value and difference, whose zone boxes choose the
// charted zones (the first 8 at the start), and the trend chart. A unit
// that does not answer turns its overview row and its tab red. Rows out of
// tolerance are marked in two steps (beyond it, beyond twice it), in
// colours drawn from the palette's base.
//
// The set-up (watched units, ticked zones per unit, interval, tolerance,
// the folder of the last recording) is kept in CONFIG.INI [MONITOR] as it
// is chosen and restored when the monitor opens again; the history is the
// caller's and may outlive the dialog.
//
// The worker's messages are posted, never sent: the job never waits for the
// window, so the window may wait for the job. The tables and the statistics
// refresh on one timer and the chart on another, from the history the job
// fills; nothing is drawn per sample.
class CDlgMonitor : public QDialog
{
    Q_OBJECT
public:
    // The table and statistics refresh, and the chart's redraw.
    static constexpr int kRefreshMs = 250;
    static constexpr int kChartMs = 500;
    // Zones charted when a tab opens.
    static constexpr int kDefaultChartZones = 8;
    static constexpr int kDefaultTolerance = 5;
    static constexpr int kIntervalsMs[] = {0, 500, 1000, 2000, 5000, 10000, 60000};
    static constexpr int kDefaultIntervalMs = 1000;

    // line: the window's line settings. unit: the unit the dialog is titled
    // with, watched from the start; others: the further units found on the
    // bus, which "Watch all found units" adds. A zone count or value width
    // of 0 is learned from the unit. type: the unit's type name, for the
    // title; may be empty.
    // history: where the samples go (the program keeps one for its whole
    // run); null: the dialog's own.
    CDlgMonitor(const MonitorLine& line, const MonitorUnit& unit, std::vector<MonitorUnit> others,
                const std::string& type, QWidget* parent = nullptr,
                std::shared_ptr<CMonitorHistory> history = nullptr);
    // A job still running (a close that never got its last message) is
    // stopped and waited for.
    ~CDlgMonitor() override;

    // --- For the window tests and the benches ------------------------------
    int TabCount() const;
    int16_t TabAddress(int tab) const;
    QTableWidget& Table(int tab);
    CMonitorChart& Chart(int tab);
    QTabWidget& Tabs() { return *m_tabs; }
    QLabel& StatisticsLine() { return *m_statistics; }
    QLabel& RecordingState() { return *m_recording; }
    QPushButton& PauseButton() { return *m_btnPause; }
    QPushButton& RecordButton() { return *m_btnRecord; }
    QPushButton& WatchAllButton() { return *m_btnWatchAll; }
    QComboBox& IntervalBox() { return *m_interval; }
    QSpinBox& ToleranceBox() { return *m_tolerance; }
    QCheckBox& FollowBox() { return *m_follow; }
    QPushButton& FitButton() { return *m_btnFit; }
    QPushButton& RemoveButton() { return *m_btnRemove; }
    QTableWidget& Overview() { return *m_overview; }
    QLabel& PausedBadge() { return *m_paused; }
    // How far a difference lies out of tolerance: 0 within, 1 beyond it,
    // 2 beyond twice it (and at least one more than the first step).
    static int MarkLevel(long long difference, int tolerance);
    // The overview's rows up to date now, as the refresh timer does.
    void RefreshOverview();
    bool IsJobRunning() const { return m_bJobRunning; }
    const CMonitorJob* Job() const { return m_pJob.get(); }
    const CMonitorHistory& History() const { return *m_pHistory; }
    // Brings the tables, the statistics line and the chart on show up to
    // date now, as their timers do.
    void Refresh();

    void OnWatchAllFoundUnits();
    void OnRecord();
    void OnPauseResume();
    // Stops watching the unit on show (never the last one).
    void OnRemoveUnit();

signals:
    // The newest actual values of a watched unit, [zone-1], kNoValue where
    // the unit gave none; once per new sample with values, from the
    // refresh timer (never per sample of a fast line).
    void LiveActualValues(int address, const std::vector<int32_t>& actual);

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    class Observer;
    struct UnitTab
    {
        MonitorUnit unit;
        QTableWidget* table = nullptr;
        CMonitorChart* chart = nullptr;
        QWidget* page = nullptr;
        int nRows = 0;
        long long nLastLiveCycle = 0;
        std::vector<int> storedZones;  // ticked when the monitor last ran; empty: the default
        bool bZonesStored = false;
    };

    void ApplyTexts();
    void AddTab(const MonitorUnit& unit);
    UnitTab* TabOf(int16_t address);
    void SetRows(UnitTab& tab, int zones);
    bool StartJob();
    void OnUnitIdentified(int16_t address, int32_t zones, int16_t width);
    void OnLinkChanged(MonitorLink state, const std::string& text);
    void OnRecordingStopped(const std::string& text);
    void OnFinished();
    void RefreshTable(UnitTab& tab);
    void RefreshStatistics();
    void RefreshRecordingState();
    void RedrawChart();
    void ChartZonesFromTable(UnitTab& tab);
    void OnToleranceChanged(int value);
    void RebuildOverviewRows();
    void StoreUnits() const;
    void StoreZones(const UnitTab& tab) const;
    void EmitLiveValues();
    std::string ProposedRecordPath() const;

    MonitorLine m_line;
    std::vector<MonitorUnit> m_others;
    std::string m_strType;
    std::vector<UnitTab> m_units;
    std::shared_ptr<CMonitorHistory> m_pHistory;
    std::unique_ptr<Observer> m_pObserver;
    std::unique_ptr<CMonitorJob> m_pJob;

    QTabWidget* m_tabs;
    QComboBox* m_interval;
    QPushButton* m_btnPause;
    QPushButton* m_btnRecord;
    QPushButton* m_btnWatchAll;
    QPushButton* m_btnClose;
    QPushButton* m_btnFit;
    QPushButton* m_btnRemove;
    QTableWidget* m_overview;
    QLabel* m_paused;
    QSpinBox* m_tolerance;
    QCheckBox* m_follow;
    QLabel* m_labelInterval;
    QLabel* m_labelTolerance;
    QLabel* m_recording;
    QLabel* m_statistics;
    QTimer* m_refreshTimer;
    QTimer* m_chartTimer;

    bool m_bInitialised = false;
    bool m_bJobRunning = false;
    bool m_bClosing = false;
    // The last recording's file: where the next file dialog starts.
    std::string m_strRecordPath;
    std::string m_strLinkGone;  // empty while the device is there
    // The recording's clock: its start, and the time paused since.
    std::chrono::steady_clock::time_point m_tRecordStart{};
    std::chrono::steady_clock::duration m_pausedDuringRecording{};
    std::chrono::steady_clock::time_point m_tPausedAt{};
    bool m_bWasRecording = false;
    std::chrono::system_clock::time_point m_tOpened{};
    // Table cells are filled by the program: their changes are no choice of
    // zones.
    bool m_bFilling = false;
};
