#include "monitor/qt/DlgMonitor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "monitor/qt/MonitorChart.h"
#include "monitor/qt/MonitorTexts.h"
#include "platform/SafeFormat.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/Guard.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "platform/qt/QtText.h"

namespace mt = monitortext;

namespace {

constexpr int kTextClose = 70;
constexpr const char* kSettingsSection = "MONITOR";
constexpr const char* kToleranceKey = "Tolerance";

// The mark of an actual value outside its tolerance. Both colours are set:
// a palette's text colour on a fixed background is unreadable in one of the
// light and dark palettes.
const QColor kMarkBackground(0xb0, 0x00, 0x20);
const QColor kMarkText(0xff, 0xff, 0xff);

enum Column { kColZone, kColSet, kColActual, kColDifference, kColumns };

std::string T(const mt::Text& text) { return TheTextMemory().GetTextOr(text.n, text.english); }

std::string Format(const mt::Text& text, const std::vector<platform::FormatArg>& args)
{
    return platform::SafeFormat(T(text), args);
}

std::string Milliseconds(double ms)
{
    if (ms < 0)
        return "-";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f", ms);
    return buffer;
}

QString ZoneName(int zone) { return QString("Z%1").arg(zone, 2, 10, QChar('0')); }

int StoredTolerance()
{
    CIniFile config("CONFIG.INI", false);
    config.ReadString(kSettingsSection, kToleranceKey);
    if (config.GetValue().empty())
        return CDlgMonitor::kDefaultTolerance;
    return std::clamp(static_cast<int>(ToNumber(config.GetValue())), 0, 99999);
}

}  // namespace

// The job's messages, posted to the dialog's thread. Never a blocking call:
// the window may wait for the job (its destructor), so the job must
// never wait for the window.
class CDlgMonitor::Observer : public IMonitorObserver
{
public:
    explicit Observer(CDlgMonitor* dialog) : m_dialog(dialog) {}

    void UnitIdentified(int16_t address, int32_t zones, int16_t width) override
    {
        Post([address, zones, width](CDlgMonitor& d) { d.OnUnitIdentified(address, zones, width); });
    }
    void LinkChanged(MonitorLink state, const std::string& text) override
    {
        Post([state, text](CDlgMonitor& d) { d.OnLinkChanged(state, text); });
    }
    void RecordingStopped(const std::string& text) override
    {
        Post([text](CDlgMonitor& d) { d.OnRecordingStopped(text); });
    }
    void Finished() override
    {
        Post([](CDlgMonitor& d) { d.OnFinished(); });
    }

private:
    template <typename F>
    void Post(F handler)
    {
        CDlgMonitor* dialog = m_dialog;
        // A message to a dialog already gone is dropped with it.
        QMetaObject::invokeMethod(
            dialog, [dialog, handler] { RunGuarded(dialog, [&] { handler(*dialog); }); }, Qt::QueuedConnection);
    }

    CDlgMonitor* m_dialog;
};

CDlgMonitor::CDlgMonitor(const MonitorLine& line, const MonitorUnit& unit, std::vector<MonitorUnit> others,
                         const std::string& type, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMaximizeButtonHint),
      m_line(line),
      m_others(std::move(others)),
      m_strType(type),
      m_pHistory(std::make_shared<CMonitorHistory>()),
      m_pObserver(std::make_unique<Observer>(this))
{
    setObjectName("monitor");
    m_others.erase(std::remove_if(m_others.begin(), m_others.end(),
                                  [&unit](const MonitorUnit& u) { return u.nAddress == unit.nAddress; }),
                   m_others.end());

    m_labelInterval = new QLabel(this);
    m_interval = new QComboBox(this);
    for (int ms : kIntervalsMs)
        m_interval->addItem(QString(), ms);
    m_interval->setCurrentIndex(m_interval->findData(kDefaultIntervalMs));
    m_labelInterval->setBuddy(m_interval);
    m_btnPause = new QPushButton(this);
    m_btnRecord = new QPushButton(this);
    m_recording = new QLabel(this);
    m_recording->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* top = new QHBoxLayout;
    top->addWidget(m_labelInterval);
    top->addWidget(m_interval);
    top->addSpacing(12);
    top->addWidget(m_btnPause);
    top->addWidget(m_btnRecord);
    top->addWidget(m_recording, 1);

    m_tabs = new QTabWidget(this);

    m_labelTolerance = new QLabel(this);
    m_tolerance = new QSpinBox(this);
    m_tolerance->setRange(0, 99999);
    m_tolerance->setValue(StoredTolerance());
    m_labelTolerance->setBuddy(m_tolerance);
    m_follow = new QCheckBox(this);
    m_follow->setChecked(true);
    m_btnWatchAll = new QPushButton(this);
    m_btnWatchAll->setEnabled(!m_others.empty());

    auto* options = new QHBoxLayout;
    options->addWidget(m_labelTolerance);
    options->addWidget(m_tolerance);
    options->addSpacing(12);
    options->addWidget(m_follow);
    options->addStretch(1);
    options->addWidget(m_btnWatchAll);

    m_statistics = new QLabel(this);
    m_statistics->setWordWrap(true);
    m_statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_btnClose = new QPushButton(this);
    m_btnClose->setDefault(true);
    for (QPushButton* button : {m_btnPause, m_btnRecord, m_btnWatchAll})
        button->setAutoDefault(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_statistics, 1);
    bottom->addWidget(m_btnClose, 0, Qt::AlignBottom);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_tabs, 1);
    layout->addLayout(options);
    layout->addLayout(bottom);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setInterval(kRefreshMs);
    m_chartTimer = new QTimer(this);
    m_chartTimer->setInterval(kChartMs);
    connect(m_refreshTimer, &QTimer::timeout, this, [this] {
        RunGuarded(this, [this] {
            if (m_tabs->currentIndex() >= 0)
                RefreshTable(m_units[static_cast<std::size_t>(m_tabs->currentIndex())]);
            RefreshStatistics();
            RefreshRecordingState();
        });
    });
    connect(m_chartTimer, &QTimer::timeout, this, [this] { RunGuarded(this, [this] { RedrawChart(); }); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this] { RunGuarded(this, [this] { Refresh(); }); });
    connect(m_btnClose, &QPushButton::clicked, this, &CDlgMonitor::reject);
    connect(m_btnPause, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { OnPauseResume(); }); });
    connect(m_btnRecord, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { OnRecord(); }); });
    connect(m_btnWatchAll, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { OnWatchAllFoundUnits(); }); });
    connect(m_interval, &QComboBox::currentIndexChanged, this, [this] {
        if (m_pJob)
            m_pJob->SetInterval(std::chrono::milliseconds(m_interval->currentData().toInt()));
    });
    connect(m_tolerance, &QSpinBox::valueChanged, this,
            [this](int value) { RunGuarded(this, [this, value] { OnToleranceChanged(value); }); });
    connect(m_follow, &QCheckBox::toggled, this, [this](bool checked) {
        for (UnitTab& tab : m_units)
            tab.chart->SetFollow(checked);
        RedrawChart();
    });

    AddTab(unit);
    ApplyTexts();
    resize(1100, 680);
}

CDlgMonitor::~CDlgMonitor()
{
    // Only posted messages come from the job: waiting for it here cannot
    // wait on this thread.
    if (m_pJob) {
        m_pJob->RequestStop();
        m_pJob->Wait();
    }
}

void CDlgMonitor::ApplyTexts()
{
    const MonitorUnit& first = m_units.front().unit;
    setWindowTitle(Q(Format(mt::kTitle, {static_cast<long long>(first.nAddress), m_strType})).trimmed());
    m_labelInterval->setText(Q(T(mt::kInterval)));
    for (int i = 0; i < m_interval->count(); ++i) {
        const int ms = m_interval->itemData(i).toInt();
        m_interval->setItemText(i, ms == 0 ? Q(T(mt::kAsFastAsPossible))
                                           : Q(Format(mt::kSeconds, {S(QString::number(ms / 1000.0))})));
    }
    m_labelTolerance->setText(Q(T(mt::kTolerance)));
    m_follow->setText(Q(T(mt::kFollow)));
    m_btnWatchAll->setText(Q(T(mt::kWatchAll)));
    m_btnClose->setText(Q(TheTextMemory().GetTextOr(kTextClose, "Close")));
    m_btnPause->setText(Q(T(m_pJob && m_pJob->IsPaused() ? mt::kResume : mt::kPause)));
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        m_tabs->setTabText(static_cast<int>(i),
                           Q(Format(mt::kUnitTab, {static_cast<long long>(m_units[i].unit.nAddress)})));
        m_units[i].table->setHorizontalHeaderLabels(
            {Q(T(mt::kZone)), Q(T(mt::kSet)), Q(T(mt::kActual)), Q(T(mt::kDifference))});
        m_units[i].chart->setToolTip(Q(T(mt::kChartHint)));
    }
    RefreshRecordingState();
}

void CDlgMonitor::AddTab(const MonitorUnit& unit)
{
    UnitTab tab;
    tab.unit = unit;
    auto* splitter = new QSplitter(Qt::Horizontal);
    tab.table = new QTableWidget(0, kColumns, splitter);
    tab.table->verticalHeader()->hide();
    tab.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tab.table->setSelectionMode(QAbstractItemView::NoSelection);
    // Fixed shares of the table's width: no column re-measures its cells
    // as the values change.
    tab.table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tab.table->verticalHeader()->setDefaultSectionSize(tab.table->fontMetrics().height() + 6);
    tab.chart = new CMonitorChart(splitter);
    splitter->addWidget(tab.table);
    splitter->addWidget(tab.chart);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({330, 700});
    tab.chart->SetFollow(m_follow->isChecked());
    QTableWidget* table = tab.table;
    const int16_t address = unit.nAddress;
    connect(table, &QTableWidget::itemChanged, this, [this, address](QTableWidgetItem* item) {
        if (m_bFilling || item->column() != kColZone)
            return;
        if (UnitTab* t = TabOf(address))
            ChartZonesFromTable(*t);
    });
    connect(tab.chart, &CMonitorChart::FollowChanged, this, [this](bool bFollow) {
        if (!bFollow) {
            const QSignalBlocker block(m_follow);
            m_follow->setChecked(false);
        }
    });
    m_units.push_back(tab);
    m_tabs->addTab(splitter, QString());
    SetRows(m_units.back(), unit.nZoneCount);
}

CDlgMonitor::UnitTab* CDlgMonitor::TabOf(int16_t address)
{
    for (UnitTab& tab : m_units) {
        if (tab.unit.nAddress == address)
            return &tab;
    }
    return nullptr;
}

void CDlgMonitor::SetRows(UnitTab& tab, int zones)
{
    zones = std::clamp(zones, 0, 128);
    if (zones <= tab.nRows)
        return;
    m_bFilling = true;
    tab.table->setRowCount(zones);
    for (int r = tab.nRows; r < zones; ++r) {
        auto* zone = new QTableWidgetItem(ZoneName(r + 1));
        zone->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        zone->setCheckState(r < kDefaultChartZones ? Qt::Checked : Qt::Unchecked);
        tab.table->setItem(r, kColZone, zone);
        for (int c = kColSet; c < kColumns; ++c) {
            auto* value = new QTableWidgetItem;
            value->setFlags(Qt::ItemIsEnabled);
            value->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            tab.table->setItem(r, c, value);
        }
    }
    tab.nRows = zones;
    m_bFilling = false;
    ChartZonesFromTable(tab);
}

void CDlgMonitor::ChartZonesFromTable(UnitTab& tab)
{
    std::vector<int> zones;
    for (int r = 0; r < tab.nRows; ++r) {
        if (tab.table->item(r, kColZone)->checkState() == Qt::Checked)
            zones.push_back(r + 1);
    }
    if (zones != tab.chart->Zones()) {
        tab.chart->SetZones(zones);
        tab.chart->Redraw(*m_pHistory, tab.unit.nAddress);
    }
}

void CDlgMonitor::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_bInitialised)
        return;
    m_bInitialised = true;
    bool bRunning = false;
    RunGuarded(this, [this, &bRunning] { bRunning = StartJob(); });
    if (!bRunning) {
        RejectLater(*this);
        return;
    }
    m_refreshTimer->start();
    m_chartTimer->start();
    Refresh();
}

bool CDlgMonitor::StartJob()
{
    MonitorConfig config;
    config.line = m_line;
    for (const UnitTab& tab : m_units)
        config.units.push_back(tab.unit);
    config.interval = std::chrono::milliseconds(m_interval->currentData().toInt());
    config.pHistory = m_pHistory;
    m_pJob = std::make_unique<CMonitorJob>(*m_pObserver);
    if (!m_pJob->Start(config)) {
        ShowMessageBox(this, Format(mt::kPortFailed, {m_pJob->GetOpenError()}),
                       TheTextMemory().GetTextOr(0, "Vorlent"), MsgIcon::Error);
        return false;
    }
    m_bJobRunning = true;
    return true;
}

void CDlgMonitor::reject()
{
    if (m_bJobRunning) {
        // The dialog closes on the job's last message, once its link is shut.
        m_bClosing = true;
        m_pJob->RequestStop();
        for (QWidget* w : std::initializer_list<QWidget*>{m_btnClose, m_btnPause, m_btnRecord, m_btnWatchAll})
            w->setEnabled(false);
        m_statistics->setText(Q(T(mt::kStopping)));
        return;
    }
    done(QDialog::Rejected);
}

void CDlgMonitor::OnFinished()
{
    m_bJobRunning = false;
    if (m_pJob)
        m_pJob->Wait();
    m_refreshTimer->stop();
    m_chartTimer->stop();
    if (isVisible())
        done(QDialog::Rejected);
}

void CDlgMonitor::OnUnitIdentified(int16_t address, int32_t zones, int16_t width)
{
    UnitTab* tab = TabOf(address);
    if (!tab)
        return;
    tab->unit.nZoneCount = zones;
    tab->unit.nValueWidth = width;
    SetRows(*tab, zones);
}

void CDlgMonitor::OnLinkChanged(MonitorLink state, const std::string& text)
{
    m_strLinkGone = state == MonitorLink::Gone ? (text.empty() ? std::string("-") : text) : std::string();
    RefreshStatistics();
}

void CDlgMonitor::OnRecordingStopped(const std::string& text)
{
    RefreshRecordingState();
    ShowMessageBox(this, Format(mt::kRecordingStopped, {text}), TheTextMemory().GetTextOr(0, "Vorlent"),
                   MsgIcon::Warning);
}

void CDlgMonitor::Refresh()
{
    if (m_tabs->currentIndex() >= 0)
        RefreshTable(m_units[static_cast<std::size_t>(m_tabs->currentIndex())]);
    RefreshStatistics();
    RefreshRecordingState();
    RedrawChart();
}

void CDlgMonitor::RefreshTable(UnitTab& tab)
{
    const MonitorSample sample = m_pHistory->Latest(tab.unit.nAddress);
    if (sample.nAddress == 0)
        return;
    SetRows(tab, static_cast<int>(std::max(sample.actual.size(), sample.set.size())));
    const int tolerance = m_tolerance->value();
    const QString none = QStringLiteral("\u2013");
    const QString outside = Q(Format(mt::kOutOfTolerance, {static_cast<long long>(tolerance)}));
    m_bFilling = true;
    for (int r = 0; r < tab.nRows; ++r) {
        const auto at = [r](const std::vector<int32_t>& row) {
            return static_cast<std::size_t>(r) < row.size() ? row[static_cast<std::size_t>(r)] : kNoValue;
        };
        const int32_t actual = at(sample.actual);
        const int32_t set = at(sample.set);
        const bool bBoth = actual != kNoValue && set != kNoValue;
        const long long difference = bBoth ? static_cast<long long>(actual) - set : 0;
        tab.table->item(r, kColSet)->setText(set == kNoValue ? none : QString::number(set));
        tab.table->item(r, kColActual)->setText(actual == kNoValue ? none : QString::number(actual));
        tab.table->item(r, kColDifference)->setText(bBoth ? QString::number(difference) : none);
        const bool bMark = bBoth && (difference > tolerance || difference < -tolerance);
        for (int c : {kColActual, kColDifference}) {
            QTableWidgetItem* item = tab.table->item(r, c);
            item->setData(Qt::BackgroundRole, bMark ? QVariant::fromValue(kMarkBackground) : QVariant());
            item->setData(Qt::ForegroundRole, bMark ? QVariant::fromValue(kMarkText) : QVariant());
            item->setToolTip(bMark ? outside : QString());
        }
    }
    m_bFilling = false;
}

void CDlgMonitor::RefreshStatistics()
{
    if (m_bClosing || !m_pJob)
        return;
    const int current = m_tabs->currentIndex();
    if (current < 0)
        return;
    const int16_t address = m_units[static_cast<std::size_t>(current)].unit.nAddress;
    std::string line;
    for (const MonitorStats& s : m_pJob->Statistics()) {
        if (s.nAddress != address)
            continue;
        line = Format(mt::kStatistics, {static_cast<long long>(s.nAddress), s.nPolls, s.nAnswered, s.nRetried,
                                        s.nNoAnswer, s.nLateDiscarded, Milliseconds(s.dLastCycleMs),
                                        Milliseconds(s.dMeanCycleMs)});
    }
    const MonitorSample latest = m_pHistory->Latest(address);
    if (m_pJob->Cycles() == 0)
        line = T(mt::kWaiting) + (line.empty() ? "" : "\n" + line);
    else
        line = Format(mt::kCycles, {m_pJob->Cycles()}) + " \u2013 " + line;
    if (latest.nAddress != 0 && !latest.Answered())
        line += " \u2013 " + T(mt::kNoAnswer);
    if (m_pJob->IsPaused())
        line = T(mt::kPaused) + " " + line;
    if (!m_strLinkGone.empty())
        line = Format(mt::kDeviceGone, {m_strLinkGone}) + "\n" + line;
    m_statistics->setText(Q(line));
}

void CDlgMonitor::RefreshRecordingState()
{
    const bool bRecording = m_pJob && m_pJob->IsRecording();
    m_btnRecord->setText(Q(T(bRecording ? mt::kStopRecording : mt::kRecord)));
    if (bRecording)
        m_recording->setText(Q(Format(mt::kRecordingTo, {m_pJob->RecordingPath(), m_pJob->RecordedLines()})));
    else
        m_recording->setText(Q(T(mt::kNotRecording)));
}

void CDlgMonitor::RedrawChart()
{
    const int current = m_tabs->currentIndex();
    if (current < 0)
        return;
    UnitTab& tab = m_units[static_cast<std::size_t>(current)];
    tab.chart->Redraw(*m_pHistory, tab.unit.nAddress);
}

void CDlgMonitor::OnPauseResume()
{
    if (!m_pJob)
        return;
    m_pJob->SetPaused(!m_pJob->IsPaused());
    m_btnPause->setText(Q(T(m_pJob->IsPaused() ? mt::kResume : mt::kPause)));
    RefreshStatistics();
}

void CDlgMonitor::OnRecord()
{
    if (!m_pJob)
        return;
    if (m_pJob->IsRecording()) {
        m_pJob->StopRecording();
        RefreshRecordingState();
        return;
    }
    std::string path;
    // The save dialog asks before it names a file that exists; it starts
    // where the last recording went.
    if (!GetSaveFilePath(this, T(mt::kCsvFilter), "csv", m_strRecordPath, path) || path.empty())
        return;
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        std::filesystem::remove(path, ec);
    std::string error;
    if (!m_pJob->StartRecording(path, false, error)) {
        ShowMessageBox(this, Format(mt::kRecordingFailed, {error}), TheTextMemory().GetTextOr(0, "Vorlent"),
                       MsgIcon::Error);
        return;
    }
    m_strRecordPath = path;
    RefreshRecordingState();
}

void CDlgMonitor::OnToleranceChanged(int value)
{
    CIniFile config("CONFIG.INI", false);
    config.SetValue(std::to_string(value));
    config.WriteString(kSettingsSection, kToleranceKey);
    if (m_tabs->currentIndex() >= 0)
        RefreshTable(m_units[static_cast<std::size_t>(m_tabs->currentIndex())]);
}

void CDlgMonitor::OnWatchAllFoundUnits()
{
    if (m_others.empty())
        return;
    for (const MonitorUnit& unit : m_others) {
        if (!TabOf(unit.nAddress))
            AddTab(unit);
    }
    // Polled in turn from the job's next cycle, recorded to the same file.
    if (m_bJobRunning) {
        for (const MonitorUnit& unit : m_others)
            m_pJob->AddUnit(unit);
    }
    m_others.clear();
    m_btnWatchAll->setEnabled(false);
    ApplyTexts();
}

int CDlgMonitor::TabCount() const { return static_cast<int>(m_units.size()); }
int16_t CDlgMonitor::TabAddress(int tab) const { return m_units.at(static_cast<std::size_t>(tab)).unit.nAddress; }
QTableWidget& CDlgMonitor::Table(int tab) { return *m_units.at(static_cast<std::size_t>(tab)).table; }
CMonitorChart& CDlgMonitor::Chart(int tab) { return *m_units.at(static_cast<std::size_t>(tab)).chart; }
