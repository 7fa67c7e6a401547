#include "monitor/qt/DlgMonitor.h"

#include <QCheckBox>
#include <QApplication>
#include <QDateTime>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QDir>
#include <QStandardPaths>
#include <QTabBar>
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
#include <cmath>
#include <cstdio>
#include <sstream>
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
constexpr const char* kUnitsKey = "Units";
constexpr const char* kIntervalKey = "Interval";
constexpr const char* kRecordFolderKey = "RecordFolder";
// "Zones" + address: the ticked zones of that unit; "0" for none ticked.
constexpr const char* kZonesKeyPrefix = "Zones";

enum Column { kColZone, kColSet, kColActual, kColDifference, kColumns };
enum OverviewColumn {
    kOvLight, kOvUnit, kOvCycle, kOvMean, kOvPolls, kOvAnswered, kOvRetried, kOvNoAnswer, kOvLate, kOvState,
    kOvColumns
};

// --- Colours drawn from the palette ------------------------------------------

double Luminance(const QColor& c)
{
    auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor Blend(const QColor& from, const QColor& to, double share)
{
    return QColor::fromRgbF(static_cast<float>(from.redF() + (to.redF() - from.redF()) * share),
                            static_cast<float>(from.greenF() + (to.greenF() - from.greenF()) * share),
                            static_cast<float>(from.blueF() + (to.blueF() - from.blueF()) * share));
}

bool IsDark(const QPalette& pal) { return Luminance(pal.color(QPalette::Base)) < 0.2; }

// The palette's text colour when it reads on background, else black or
// white, whichever reads better.
QColor TextOn(const QColor& background, const QPalette& pal)
{
    const QColor text = pal.color(QPalette::Text);
    if (Contrast(text, background) >= 4.5)
        return text;
    return Contrast(Qt::black, background) >= Contrast(Qt::white, background) ? QColor(Qt::black) : QColor(Qt::white);
}

// The two steps of the tolerance mark: the base tinted a little, then
// clearly, towards a red that is neither the pure red that glares nor
// one that vanishes on a dark base.
QColor MarkBackground(const QPalette& pal, int level)
{
    const QColor red = IsDark(pal) ? QColor(0xe0, 0x40, 0x40) : QColor(0xd0, 0x20, 0x30);
    return Blend(pal.color(QPalette::Base), red, level >= 2 ? 0.62 : 0.26);
}

// Red, green, amber and grey as signal colours that read on the window's
// background, light or dark.
QColor Signal(const QPalette& pal, char which)
{
    const bool bDark = Luminance(pal.color(QPalette::Window)) < 0.2;
    switch (which) {
    case 'r': return bDark ? QColor(0xff, 0x6b, 0x6b) : QColor(0xb0, 0x10, 0x20);
    case 'g': return bDark ? QColor(0x5f, 0xd0, 0x68) : QColor(0x1f, 0x8a, 0x32);
    case 'a': return bDark ? QColor(0xf0, 0xb0, 0x40) : QColor(0x9a, 0x62, 0x00);
    default: return pal.color(QPalette::PlaceholderText);
    }
}

std::string Clock(std::chrono::steady_clock::duration d)
{
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

// A status light: a filled circle of colour with a darker rim, as an icon, so
// that a selected row's highlight does not repaint it.
QIcon Light(const QColor& colour, double ratio)
{
    const int size = static_cast<int>(std::lround(12 * ratio));
    QPixmap pixmap(size, size);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour.darker(150), 1));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    return QIcon(pixmap);
}

// The zone column's check boxes: the style's own, framed in the text
// colour, since some styles draw an unticked box in the base colour on the
// base colour of a dark palette.
class CZoneDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        if (!index.data(Qt::CheckStateRole).isValid())
            return;
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
        painter->save();
        QColor frame = opt.palette.color(QPalette::Text);
        frame.setAlpha(170);
        painter->setPen(QPen(frame, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRectF(box).adjusted(0.5, 0.5, -0.5, -0.5));
        painter->restore();
    }
};

void SetText(QTableWidgetItem* item, const QString& text)
{
    // A changed text repaints the cell: leave unchanged ones alone.
    if (item->text() != text)
        item->setText(text);
}

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

std::string Stored(const std::string& key)
{
    CIniFile config("CONFIG.INI", false);
    config.ReadString(kSettingsSection, key);
    return config.GetValue();
}

void Store(const std::string& key, const std::string& value)
{
    CIniFile config("CONFIG.INI", false);
    config.SetValue(value);
    config.WriteString(kSettingsSection, key);
}

int StoredTolerance()
{
    const std::string value = Stored(kToleranceKey);
    if (value.empty())
        return CDlgMonitor::kDefaultTolerance;
    return std::clamp(static_cast<int>(ToNumber(value)), 0, 99999);
}

// The numbers of a comma-separated list within [low, high], each once, in
// their order; anything else in it is skipped.
std::vector<int> NumberList(const std::string& text, int low, int high)
{
    std::vector<int> numbers;
    std::stringstream in(text);
    std::string field;
    while (std::getline(in, field, ',')) {
        const long n = ToNumber(field);
        if (n >= low && n <= high && std::find(numbers.begin(), numbers.end(), n) == numbers.end())
            numbers.push_back(static_cast<int>(n));
    }
    return numbers;
}

std::string ListOf(const std::vector<int>& numbers)
{
    std::string text;
    for (int n : numbers)
        text += (text.empty() ? "" : ",") + std::to_string(n);
    return text;
}

std::string LineName(const MonitorLine& line)
{
    return line.strDevice.empty() ? "COM" + std::to_string(line.nPort) : line.strDevice;
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
                         const std::string& type, QWidget* parent, std::shared_ptr<CMonitorHistory> history)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMaximizeButtonHint),
      m_line(line),
      m_others(std::move(others)),
      m_strType(type),
      m_pHistory(history ? std::move(history) : std::make_shared<CMonitorHistory>()),
      m_pObserver(std::make_unique<Observer>(this))
{
    setObjectName("monitor");
    // The units watched last time, in their order, and the one asked for.
    std::vector<MonitorUnit> watched;
    for (int address : NumberList(Stored(kUnitsKey), 1, 30)) {
        MonitorUnit stored;
        stored.nAddress = static_cast<int16_t>(address);
        watched.push_back(address == unit.nAddress ? unit : stored);
    }
    if (std::none_of(watched.begin(), watched.end(),
                     [&unit](const MonitorUnit& u) { return u.nAddress == unit.nAddress; }))
        watched.push_back(unit);
    m_others.erase(std::remove_if(m_others.begin(), m_others.end(),
                                  [&watched](const MonitorUnit& u) {
                                      return std::any_of(watched.begin(), watched.end(), [&u](const MonitorUnit& w) {
                                          return w.nAddress == u.nAddress;
                                      });
                                  }),
                   m_others.end());

    m_labelInterval = new QLabel(this);
    m_interval = new QComboBox(this);
    for (int ms : kIntervalsMs)
        m_interval->addItem(QString(), ms);
    const int storedInterval = m_interval->findData(static_cast<int>(ToNumber(Stored(kIntervalKey))));
    m_interval->setCurrentIndex(storedInterval >= 0 && !Stored(kIntervalKey).empty()
                                    ? storedInterval
                                    : m_interval->findData(kDefaultIntervalMs));
    m_labelInterval->setBuddy(m_interval);
    m_btnPause = new QPushButton(this);
    m_btnRecord = new QPushButton(this);
    m_recording = new QLabel(this);
    m_recording->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_paused = new QLabel(this);
    m_paused->setObjectName("paused");
    m_paused->setAutoFillBackground(true);
    m_paused->setMargin(3);
    m_paused->hide();

    auto* top = new QHBoxLayout;
    top->addWidget(m_labelInterval);
    top->addWidget(m_interval);
    top->addSpacing(12);
    top->addWidget(m_btnPause);
    top->addWidget(m_paused);
    top->addWidget(m_btnRecord);
    top->addWidget(m_recording, 1);

    m_overview = new QTableWidget(0, kOvColumns, this);
    m_overview->setObjectName("overview");
    m_overview->verticalHeader()->hide();
    m_overview->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_overview->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_overview->setSelectionMode(QAbstractItemView::SingleSelection);
    m_overview->horizontalHeader()->setStretchLastSection(true);
    m_overview->verticalHeader()->setDefaultSectionSize(m_overview->fontMetrics().height() + 6);
    m_tabs = new QTabWidget(this);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_overview);
    split->addWidget(m_tabs);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    // Room for four units; more scroll.
    const int overviewHeight = m_overview->horizontalHeader()->sizeHint().height() +
                               4 * m_overview->verticalHeader()->defaultSectionSize() + 4;
    split->setSizes({overviewHeight, 560});

    m_labelTolerance = new QLabel(this);
    m_tolerance = new QSpinBox(this);
    m_tolerance->setRange(0, 99999);
    m_tolerance->setValue(StoredTolerance());
    m_labelTolerance->setBuddy(m_tolerance);
    m_follow = new QCheckBox(this);
    m_follow->setChecked(true);
    m_btnFit = new QPushButton(this);
    m_btnWatchAll = new QPushButton(this);
    m_btnWatchAll->setEnabled(!m_others.empty());
    m_btnRemove = new QPushButton(this);

    auto* options = new QHBoxLayout;
    options->addWidget(m_labelTolerance);
    options->addWidget(m_tolerance);
    options->addSpacing(12);
    options->addWidget(m_follow);
    options->addWidget(m_btnFit);
    options->addStretch(1);
    options->addWidget(m_btnRemove);
    options->addWidget(m_btnWatchAll);

    m_statistics = new QLabel(this);
    m_statistics->setWordWrap(true);
    m_statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_btnClose = new QPushButton(this);
    m_btnClose->setDefault(true);
    for (QPushButton* button : {m_btnPause, m_btnRecord, m_btnWatchAll, m_btnFit, m_btnRemove})
        button->setAutoDefault(false);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_statistics, 1);
    bottom->addWidget(m_btnClose, 0, Qt::AlignBottom);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);
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
            RefreshOverview();
            RefreshStatistics();
            RefreshRecordingState();
            EmitLiveValues();
        });
    });
    connect(m_chartTimer, &QTimer::timeout, this, [this] { RunGuarded(this, [this] { RedrawChart(); }); });
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        RunGuarded(this, [this, index] {
            if (index >= 0 && index < m_overview->rowCount() && m_overview->currentRow() != index)
                m_overview->selectRow(index);
            Refresh();
        });
    });
    connect(m_overview, &QTableWidget::currentCellChanged, this, [this](int row) {
        if (row >= 0 && row < m_tabs->count())
            m_tabs->setCurrentIndex(row);
    });
    connect(m_btnFit, &QPushButton::clicked, this, [this] {
        if (m_tabs->currentIndex() >= 0)
            m_units[static_cast<std::size_t>(m_tabs->currentIndex())].chart->FitAll();
        const QSignalBlocker block(m_follow);
        m_follow->setChecked(true);
    });
    connect(m_btnRemove, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { OnRemoveUnit(); }); });
    connect(m_btnClose, &QPushButton::clicked, this, &CDlgMonitor::reject);
    connect(m_btnPause, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { OnPauseResume(); }); });
    connect(m_btnRecord, &QPushButton::clicked, this, [this] { RunGuarded(this, [this] { OnRecord(); }); });
    connect(m_btnWatchAll, &QPushButton::clicked, this,
            [this] { RunGuarded(this, [this] { OnWatchAllFoundUnits(); }); });
    connect(m_interval, &QComboBox::currentIndexChanged, this, [this] {
        Store(kIntervalKey, std::to_string(m_interval->currentData().toInt()));
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

    for (const MonitorUnit& u : watched)
        AddTab(u);
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        if (m_units[i].unit.nAddress == unit.nAddress)
            m_tabs->setCurrentIndex(static_cast<int>(i));
    }
    RebuildOverviewRows();
    ApplyTexts();
    // Roomy, as far as the screen allows.
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect(0, 0, 1100, 760);
    resize(std::min(1100, screen.width() * 9 / 10), std::min(760, screen.height() * 9 / 10));
}

CDlgMonitor::~CDlgMonitor()
{
    // Only posted messages come from the job: waiting for it here cannot
    // wait on this thread.
    if (m_pJob) {
        m_pJob->RequestStop();
        m_pJob->Wait();
    }
    // A history that outlives the dialog must not join the values of this
    // run to those of the next with a line.
    if (m_bInitialised)
        m_pHistory->AddBreak(std::chrono::system_clock::now(), CMonitorHistory::BreakKind::Closed);
}

void CDlgMonitor::ApplyTexts()
{
    setWindowTitle(Q(Format(mt::kTitleLine, {LineName(m_line)})));
    m_labelInterval->setText(Q(T(mt::kInterval)));
    for (int i = 0; i < m_interval->count(); ++i) {
        const int ms = m_interval->itemData(i).toInt();
        m_interval->setItemText(i, ms == 0 ? Q(T(mt::kAsFastAsPossible))
                                           : Q(Format(mt::kSeconds, {S(QString::number(ms / 1000.0))})));
    }
    m_labelTolerance->setText(Q(T(mt::kTolerance)));
    m_follow->setText(Q(T(mt::kFollow)));
    m_btnWatchAll->setText(Q(T(mt::kWatchAll)));
    m_btnFit->setText(Q(T(mt::kFit)));
    m_btnFit->setToolTip(Q(T(mt::kChartHelp)));
    m_btnRemove->setText(Q(T(mt::kRemoveUnit)));
    m_btnRemove->setEnabled(m_units.size() > 1);
    m_paused->setText(Q(T(mt::kPausedBadge)));
    m_overview->setHorizontalHeaderLabels({QString(), Q(T(mt::kOverviewUnit)), Q(T(mt::kOverviewCycle)),
                                           Q(T(mt::kOverviewMean)), Q(T(mt::kOverviewPolls)),
                                           Q(T(mt::kOverviewAnswered)), Q(T(mt::kOverviewRetried)),
                                           Q(T(mt::kOverviewNoAnswer)), Q(T(mt::kOverviewLate)),
                                           Q(T(mt::kOverviewState))});
    // Sized once to the headers and a few digits: a column that re-measured
    // its cells would do so on every refresh.
    QFont headerFont = m_overview->horizontalHeader()->font();
    headerFont.setBold(true);
    const QFontMetrics header(headerFont);
    const QFontMetrics metrics = m_overview->fontMetrics();
    for (int c = kOvUnit; c < kOvState; ++c) {
        const int title = header.horizontalAdvance(m_overview->horizontalHeaderItem(c)->text()) + 20;
        m_overview->setColumnWidth(c, std::max(title, metrics.horizontalAdvance("000000000") + 12));
    }
    m_overview->setColumnWidth(kOvLight, m_overview->iconSize().width() + 16);
    m_btnClose->setText(Q(TheTextMemory().GetTextOr(kTextClose, "Close")));
    m_btnPause->setText(Q(T(m_pJob && m_pJob->IsPaused() ? mt::kResume : mt::kPause)));
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        m_tabs->setTabText(static_cast<int>(i),
                           Q(Format(mt::kUnitTab, {static_cast<long long>(m_units[i].unit.nAddress)})));
        m_units[i].table->setHorizontalHeaderLabels(
            {Q(T(mt::kZone)), Q(T(mt::kSet)), Q(T(mt::kActual)), Q(T(mt::kDifference))});
    }
    RefreshRecordingState();
}

void CDlgMonitor::AddTab(const MonitorUnit& unit)
{
    UnitTab tab;
    tab.unit = unit;
    const std::string zones = Stored(kZonesKeyPrefix + std::to_string(unit.nAddress));
    tab.bZonesStored = !zones.empty();
    tab.storedZones = NumberList(zones, 1, 128);
    auto* splitter = new QSplitter(Qt::Horizontal);
    tab.page = splitter;
    tab.table = new QTableWidget(0, kColumns, splitter);
    tab.table->verticalHeader()->hide();
    tab.table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tab.table->setSelectionMode(QAbstractItemView::NoSelection);
    // Fixed shares of the table's width: no column re-measures its cells
    // as the values change.
    tab.table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    tab.table->verticalHeader()->setDefaultSectionSize(tab.table->fontMetrics().height() + 6);
    tab.table->setItemDelegateForColumn(kColZone, new CZoneDelegate(tab.table));
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
        if (UnitTab* t = TabOf(address)) {
            ChartZonesFromTable(*t);
            StoreZones(*t);
        }
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
        const bool bTicked = tab.bZonesStored ? std::find(tab.storedZones.begin(), tab.storedZones.end(), r + 1) !=
                                                    tab.storedZones.end()
                                              : r < kDefaultChartZones;
        zone->setCheckState(bTicked ? Qt::Checked : Qt::Unchecked);
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
    m_tOpened = std::chrono::system_clock::now();
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
    StoreUnits();
    return true;
}

void CDlgMonitor::reject()
{
    if (m_bJobRunning) {
        // The dialog closes on the job's last message, once its link is shut.
        m_bClosing = true;
        m_pJob->RequestStop();
        for (QWidget* w : std::initializer_list<QWidget*>{m_btnClose, m_btnPause, m_btnRecord, m_btnWatchAll, m_btnRemove})
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
    // Every tab has its rows once the history knows its unit, whether or
    // not the unit's identification message has been handled yet.
    for (UnitTab& tab : m_units)
        SetRows(tab, m_pHistory->ZoneCount(tab.unit.nAddress));
    if (m_tabs->currentIndex() >= 0)
        RefreshTable(m_units[static_cast<std::size_t>(m_tabs->currentIndex())]);
    RefreshOverview();
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
    const QString outside[] = {QString(), Q(Format(mt::kOutOfTolerance, {static_cast<long long>(tolerance)})),
                               Q(Format(mt::kFarOutOfTolerance, {static_cast<long long>(tolerance)}))};
    const QPalette pal = tab.table->palette();
    QVariant background[3];
    QVariant foreground[3];
    for (int level : {1, 2}) {
        const QColor colour = MarkBackground(pal, level);
        background[level] = QVariant::fromValue(colour);
        foreground[level] = QVariant::fromValue(TextOn(colour, pal));
    }
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
        // The whole row, so that a glance down the zone column finds it.
        const int level = bBoth ? MarkLevel(difference, tolerance) : 0;
        for (int c = kColZone; c < kColumns; ++c) {
            QTableWidgetItem* item = tab.table->item(r, c);
            if (item->data(Qt::BackgroundRole) != background[level])
                item->setData(Qt::BackgroundRole, background[level]);
            if (item->data(Qt::ForegroundRole) != foreground[level])
                item->setData(Qt::ForegroundRole, foreground[level]);
            if (item->toolTip() != outside[level])
                item->setToolTip(outside[level]);
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
    // The unit on show in words; every unit's counters are in the overview.
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
    const bool bPaused = m_pJob && m_pJob->IsPaused();
    m_btnRecord->setText(Q(T(bRecording ? mt::kStopRecording : mt::kRecord)));
    const QPalette pal = palette();
    QPalette badge = m_paused->palette();
    badge.setColor(QPalette::Window, Blend(pal.color(QPalette::Window), Signal(pal, 'a'), 0.35));
    badge.setColor(QPalette::WindowText, TextOn(badge.color(QPalette::Window), pal));
    m_paused->setPalette(badge);
    m_paused->setVisible(bPaused && !m_bClosing);
    QPalette label = m_recording->palette();
    label.setColor(QPalette::WindowText, bRecording && !bPaused ? Signal(pal, 'r') : pal.color(QPalette::WindowText));
    m_recording->setPalette(label);
    if (bRecording) {
        // The clock counts recorded time: it stands still while paused.
        auto elapsed = (bPaused ? m_tPausedAt : std::chrono::steady_clock::now()) - m_tRecordStart -
                       m_pausedDuringRecording;
        elapsed = std::max(elapsed, std::chrono::steady_clock::duration::zero());
        m_recording->setText(Q(Format(bPaused ? mt::kRecordingPausedClock : mt::kRecordingClock, {Clock(elapsed)})));
        m_recording->setToolTip(Q(Format(mt::kRecordingLine, {m_pJob->RecordingPath(), m_pJob->RecordedLines()})));
    } else if (m_bWasRecording && m_pJob) {
        m_recording->setText(Q(Format(mt::kRecordedTo, {m_pJob->RecordedLines(), m_strRecordPath})));
    } else {
        m_recording->setText(Q(T(mt::kNotRecording)));
        m_recording->setToolTip(QString());
    }
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
    const bool bPause = !m_pJob->IsPaused();
    const auto now = std::chrono::steady_clock::now();
    if (bPause) {
        m_tPausedAt = now;
        m_pHistory->AddBreak(std::chrono::system_clock::now(), CMonitorHistory::BreakKind::Paused);
    } else if (m_pJob->IsRecording()) {
        m_pausedDuringRecording += now - std::max(m_tPausedAt, m_tRecordStart);
    }
    m_pJob->SetPaused(bPause);
    m_btnPause->setText(Q(T(m_pJob->IsPaused() ? mt::kResume : mt::kPause)));
    RefreshStatistics();
    RefreshRecordingState();
    RedrawChart();
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
    // The save dialog asks before it names a file that exists; it proposes
    // a name of the unit and the moment in the folder the last recording went.
    if (!GetSaveFilePath(this, T(mt::kCsvFilter), "csv", ProposedRecordPath(), path) || path.empty())
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
    Store(kRecordFolderKey, std::filesystem::path(path).parent_path().string());
    m_tRecordStart = std::chrono::steady_clock::now();
    m_pausedDuringRecording = {};
    if (m_pJob->IsPaused())
        m_tPausedAt = m_tRecordStart;
    m_bWasRecording = true;
    RefreshRecordingState();
}

std::string CDlgMonitor::ProposedRecordPath() const
{
    std::string folder = Stored(kRecordFolderKey);
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        folder = S(!documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath());
    }
    const int current = std::max(m_tabs->currentIndex(), 0);
    char name[32];
    std::snprintf(name, sizeof name, "unit%02d-", m_units[static_cast<std::size_t>(current)].unit.nAddress);
    const std::string stamp = S(QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss"));
    return (std::filesystem::path(folder) / (name + stamp + ".csv")).string();
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
    StoreUnits();
    RebuildOverviewRows();
    ApplyTexts();
}

void CDlgMonitor::OnRemoveUnit()
{
    const int current = m_tabs->currentIndex();
    if (current < 0 || m_units.size() < 2)
        return;
    const UnitTab tab = m_units[static_cast<std::size_t>(current)];
    if (m_pJob && m_bJobRunning && !m_pJob->RemoveUnit(tab.unit.nAddress))
        return;
    m_units.erase(m_units.begin() + current);
    m_tabs->removeTab(current);
    delete tab.page;
    MonitorUnit again = tab.unit;
    m_others.push_back(again);
    m_btnWatchAll->setEnabled(true);
    StoreUnits();
    RebuildOverviewRows();
    ApplyTexts();
    Refresh();
}

int CDlgMonitor::MarkLevel(long long difference, int tolerance)
{
    const long long distance = difference < 0 ? -difference : difference;
    if (distance <= tolerance)
        return 0;
    return distance > std::max<long long>(2LL * tolerance, tolerance + 1LL) ? 2 : 1;
}

void CDlgMonitor::StoreUnits() const
{
    std::vector<int> addresses;
    for (const UnitTab& tab : m_units)
        addresses.push_back(tab.unit.nAddress);
    Store(kUnitsKey, ListOf(addresses));
}

void CDlgMonitor::StoreZones(const UnitTab& tab) const
{
    const std::vector<int>& zones = tab.chart->Zones();
    Store(kZonesKeyPrefix + std::to_string(tab.unit.nAddress), zones.empty() ? "0" : ListOf(zones));
}

void CDlgMonitor::RebuildOverviewRows()
{
    const QSignalBlocker block(m_overview);
    m_overview->setRowCount(static_cast<int>(m_units.size()));
    for (int r = 0; r < m_overview->rowCount(); ++r) {
        for (int c = 0; c < kOvColumns; ++c) {
            if (!m_overview->item(r, c)) {
                auto* item = new QTableWidgetItem;
                item->setTextAlignment(c >= kOvCycle && c < kOvState ? Qt::AlignRight | Qt::AlignVCenter
                                                                      : Qt::AlignLeft | Qt::AlignVCenter);
                m_overview->setItem(r, c, item);
            }
        }
        m_overview->item(r, kOvUnit)->setText(
            Q(Format(mt::kUnitTab, {static_cast<long long>(m_units[static_cast<std::size_t>(r)].unit.nAddress)})));
    }
    if (m_tabs->currentIndex() >= 0)
        m_overview->selectRow(m_tabs->currentIndex());
    RefreshOverview();
}

void CDlgMonitor::RefreshOverview()
{
    const std::vector<MonitorStats> stats = m_pJob ? m_pJob->Statistics() : std::vector<MonitorStats>{};
    const QPalette pal = palette();
    const QColor red = Signal(pal, 'r');
    const QVariant rowAlert = QVariant::fromValue(Blend(pal.color(QPalette::Base), red, IsDark(pal) ? 0.35 : 0.22));
    const QVariant rowText = QVariant::fromValue(TextOn(rowAlert.value<QColor>(), pal));
    for (std::size_t i = 0; i < m_units.size() && static_cast<int>(i) < m_overview->rowCount(); ++i) {
        const int r = static_cast<int>(i);
        const int16_t address = m_units[i].unit.nAddress;
        const MonitorStats* s = nullptr;
        for (const MonitorStats& candidate : stats) {
            if (candidate.nAddress == address)
                s = &candidate;
        }
        const CMonitorHistory::Answering answering = m_pHistory->AnsweringOf(address);
        // The light: grey while the device is gone (nothing can answer), red
        // while the unit is silent, green while it answers, amber before
        // the first word from it.
        char signal = 'a';
        std::string state = T(mt::kNotYetAnswered);
        bool bAlert = false;
        if (!m_strLinkGone.empty()) {
            signal = 'x';
            state = T(mt::kDeviceGoneShort);
        } else if (answering.nSilentCycles > 0) {
            signal = 'r';
            bAlert = true;
            const std::string since = S(QDateTime::fromMSecsSinceEpoch(answering.tSilentSinceMs).toString("HH:mm:ss"));
            state = answering.nSilentCycles == 1
                        ? Format(mt::kNoAnswerOneCycle, {since})
                        : Format(mt::kNoAnswerCycles, {since, answering.nSilentCycles});
        } else if (answering.tLastAnsweredMs != 0) {
            signal = 'g';
            state = T(mt::kAnswering);
        }
        QTableWidgetItem* lightItem = m_overview->item(r, kOvLight);
        // Drawn again only when its colour changes (a new state or palette).
        const int lightKey = signal + (IsDark(pal) ? 256 : 0);
        if (lightItem->data(Qt::UserRole).toInt() != lightKey) {
            lightItem->setData(Qt::UserRole, lightKey);
            lightItem->setIcon(Light(Signal(pal, signal), devicePixelRatioF()));
        }
        SetText(m_overview->item(r, kOvState), Q(state));
        const auto count = [](long long n) { return QString::number(n); };
        SetText(m_overview->item(r, kOvCycle), Q(s ? Milliseconds(s->dLastCycleMs) : "-"));
        SetText(m_overview->item(r, kOvMean), Q(s ? Milliseconds(s->dMeanCycleMs) : "-"));
        SetText(m_overview->item(r, kOvPolls), s ? count(s->nPolls) : QString());
        SetText(m_overview->item(r, kOvAnswered), s ? count(s->nAnswered) : QString());
        SetText(m_overview->item(r, kOvRetried), s ? count(s->nRetried) : QString());
        SetText(m_overview->item(r, kOvNoAnswer), s ? count(s->nNoAnswer) : QString());
        SetText(m_overview->item(r, kOvLate), s ? count(s->nLateDiscarded) : QString());
        for (int c = kOvUnit; c < kOvColumns; ++c) {
            QTableWidgetItem* item = m_overview->item(r, c);
            const QVariant background = bAlert ? rowAlert : QVariant();
            if (item->data(Qt::BackgroundRole) != background) {
                item->setData(Qt::BackgroundRole, background);
                item->setData(Qt::ForegroundRole, bAlert ? rowText : QVariant());
            }
        }
        const QColor tabColour = bAlert ? red : pal.color(QPalette::WindowText);
        if (m_tabs->tabBar()->tabTextColor(r) != tabColour) {
            m_tabs->tabBar()->setTabTextColor(r, tabColour);
            m_tabs->setTabToolTip(r, bAlert ? Q(state) : QString());
        }
    }
}

void CDlgMonitor::EmitLiveValues()
{
    for (UnitTab& tab : m_units) {
        const MonitorSample sample = m_pHistory->Latest(tab.unit.nAddress);
        // A history kept from an earlier run holds values that are not live.
        if (sample.nAddress == 0 || sample.actual.empty() || sample.nCycle == tab.nLastLiveCycle ||
            sample.tWall < m_tOpened)
            continue;
        tab.nLastLiveCycle = sample.nCycle;
        emit LiveActualValues(tab.unit.nAddress, sample.actual);
    }
}

int CDlgMonitor::TabCount() const { return static_cast<int>(m_units.size()); }
int16_t CDlgMonitor::TabAddress(int tab) const { return m_units.at(static_cast<std::size_t>(tab)).unit.nAddress; }
QTableWidget& CDlgMonitor::Table(int tab) { return *m_units.at(static_cast<std::size_t>(tab)).table; }
CMonitorChart& CDlgMonitor::Chart(int tab) { return *m_units.at(static_cast<std::size_t>(tab)).chart; }
