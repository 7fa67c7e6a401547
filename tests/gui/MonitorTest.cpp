// The live view against a simulated bus: values on show and marked by the
// tolerance, units added, a recording, a lost adapter, and the link closed
// when the dialog closes.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <cmath>
#include <map>
#include <mutex>
#include <set>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "monitor/qt/DlgMonitor.h"
#include "monitor/qt/MonitorChart.h"
#include "monitor/qt/MonitorCommand.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "unit/Unit.h"

namespace {

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

constexpr int kAddress = 5;
constexpr int kOther = 7;

// The window with two units on the bus, the first one picked and received.
class MonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // One process may run several cases: each starts without a past.
        TheMonitorHistory()->Clear();
        home.CopyResource("English.lng");
        home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n");
        unitsim::SimUnitConfig unit = MakeSimUnit(kAddress, 11, 10, 2);
        unit.type = "PRESS 10";
        // Differences -6..+6 around the set value 200, zone 10 exactly on it.
        unit.setValues.assign(10, 200);
        unit.actualValues = {194, 195, 196, 204, 205, 206, 199, 201, 100, 200};
        line.Bus().AddUnit(unit);
        line.Bus().AddUnit(MakeSimUnit(kOther, 12, 3, 2));
        line.Start();
        ASSERT_TRUE(window.OnInitDialog());
        script.ExpectDialog(WorkWithoutUnit);
        window.show();
        ASSERT_TRUE(WaitFor([&] { return script.PendingDialogs() == 0; }));
        line.Attach(TheUnit(), 50);
        window.OnDevicesItem(kAddress, "PRESS 10");
        window.OnDevicesItem(kOther, "MZR 3");
        script.ExpectDialog([](QDialog&) {});  // the receive closes by itself
        window.OnUnitPicked(kAddress);
        ASSERT_EQ(window.GetCurrentView(), 2);
    }

    // Runs the monitor command; check runs once ready holds (by default:
    // every tab has values), then the dialog is closed with Escape.
    void Monitor(std::function<void(CDlgMonitor&)> check, std::function<bool(CDlgMonitor&)> ready = nullptr)
    {
        script.ExpectDialog([this, check, ready](QDialog& dialog) {
            auto& monitor = dynamic_cast<CDlgMonitor&>(dialog);
            WhenReady(
                dialog,
                [&monitor, ready] {
                    if (ready)
                        return ready(monitor);
                    for (int t = 0; t < monitor.TabCount(); ++t) {
                        if (!monitor.History().Latest(monitor.TabAddress(t)).Answered())
                            return false;
                    }
                    return true;
                },
                [&monitor, check] {
                    monitor.Refresh();
                    check(monitor);
                    // Escape, as Close, asks the job to stop; the dialog
                    // closes on its last message.
                    QTest::keyClick(&monitor, Qt::Key_Escape);
                },
                20000);
        });
        window.OnCommand(cmd::kMonitor);
        EXPECT_EQ(script.PendingDialogs(), 0);
    }

    TestDir home;
    SimLine line;
    DialogScript script;
    CDarozozazWindowsDlg window;
};

std::string Cell(QTableWidget& table, int zone, int column) { return table.item(zone - 1, column)->text().toStdString(); }

// The mark of a zone's row: its background, invalid when unmarked. Every
// cell of the row carries the same, and its text reads on it.
QColor Mark(QTableWidget& table, int zone)
{
    const QVariant background = table.item(zone - 1, 0)->data(Qt::BackgroundRole);
    for (int c = 1; c < table.columnCount(); ++c)
        EXPECT_EQ(table.item(zone - 1, c)->data(Qt::BackgroundRole), background) << "column " << c;
    if (!background.isValid())
        return QColor();
    const QColor text = table.item(zone - 1, 0)->data(Qt::ForegroundRole).value<QColor>();
    EXPECT_GE(Contrast(text, background.value<QColor>()), 4.5) << "zone " << zone;
    return background.value<QColor>();
}

// Marks of rows by step (0 none, 1 beyond the tolerance, 2 beyond twice it):
// one colour per step, the second further from the base than the first.
void ExpectMarkSteps(QTableWidget& table, const std::vector<std::pair<int, int>>& zoneSteps)
{
    std::map<int, std::set<QRgb>> colours;
    for (const auto& [zone, step] : zoneSteps) {
        const QColor mark = Mark(table, zone);
        EXPECT_EQ(mark.isValid(), step > 0) << "zone " << zone;
        if (mark.isValid())
            colours[step].insert(mark.rgb());
    }
    ASSERT_EQ(colours[1].size(), 1u);
    ASSERT_EQ(colours[2].size(), 1u);
    const QColor base = table.palette().color(QPalette::Base);
    EXPECT_GT(Contrast(QColor(*colours[2].begin()), base), Contrast(QColor(*colours[1].begin()), base));
}

}  // namespace

TEST_F(MonitorTest, ShowsTheUnitsValuesAndClosesTheLinkOnClose)
{
    EXPECT_TRUE(window.Menu().IsEnabled(cmd::kMonitor));
    bool bChecked = false;
    Monitor([&](CDlgMonitor& monitor) {
        bChecked = true;
        // The title names the monitor and its line, not one of its units.
        EXPECT_EQ(monitor.windowTitle().toStdString(), "Monitor \u2013 " + line.Path());
        ASSERT_EQ(monitor.TabCount(), 1);
        QTableWidget& table = monitor.Table(0);
        ASSERT_EQ(table.rowCount(), 10);
        EXPECT_EQ(Cell(table, 1, 0), "Z01");
        EXPECT_EQ(Cell(table, 1, 1), "200");
        EXPECT_EQ(Cell(table, 1, 2), "194");
        EXPECT_EQ(Cell(table, 1, 3), "-6");
        EXPECT_EQ(monitor.Chart(0).Zones(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_TRUE(monitor.IsJobRunning());
        EXPECT_NE(monitor.StatisticsLine().text().toStdString().find("Unit 5: polls"), std::string::npos);
        ASSERT_EQ(monitor.Overview().rowCount(), 1);
        EXPECT_EQ(monitor.Overview().item(0, 1)->text().toStdString(), "Unit 5");
        EXPECT_EQ(monitor.Overview().item(0, 9)->text().toStdString(), "answering");
        // The window's record keeps its link closed: the monitor has its own.
        EXPECT_FALSE(TheUnit().IsPortOpen());
    });
    EXPECT_TRUE(bChecked);
    // Closed: the device can be had again.
    ASSERT_TRUE(TheUnit().OpenPort());
    TheUnit().ClosePort();
}

TEST_F(MonitorTest, MarksValuesOutsideTheToleranceAndStoresIt)
{
    // Zone, difference, the mark's step at the default 5 and at 2.
    struct Row
    {
        int zone;
        const char* difference;
        int at5;
        int at2;
    };
    const Row rows[] = {
        {1, "-6", 1, 2},   {2, "-5", 0, 2}, {3, "-4", 0, 1}, {4, "4", 0, 1},  {5, "5", 0, 2},
        {6, "6", 1, 2},    {7, "-1", 0, 0}, {8, "1", 0, 0},  {9, "-100", 2, 2}, {10, "0", 0, 0},
    };
    auto check = [&rows](CDlgMonitor& monitor, int Row::*step) {
        std::vector<std::pair<int, int>> steps;
        for (const Row& row : rows) {
            EXPECT_EQ(Cell(monitor.Table(0), row.zone, 3), row.difference);
            steps.emplace_back(row.zone, row.*step);
        }
        ExpectMarkSteps(monitor.Table(0), steps);
    };
    Monitor([&](CDlgMonitor& monitor) {
        EXPECT_EQ(monitor.ToleranceBox().value(), 5);
        check(monitor, &Row::at5);
        monitor.ToleranceBox().setValue(2);
        check(monitor, &Row::at2);
        // The same steps, drawn from a dark palette's base.
        QPalette dark = monitor.Table(0).palette();
        dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
        dark.setColor(QPalette::Text, Qt::white);
        monitor.Table(0).setPalette(dark);
        monitor.Refresh();
        check(monitor, &Row::at2);
    });
    CIniFile config("CONFIG.INI", false);
    config.ReadString("MONITOR", "Tolerance");
    EXPECT_EQ(config.GetValue(), "2");
}

TEST_F(MonitorTest, WatchesAllFoundUnitsAndRecordsThemToOneFile)
{
    const std::string csv = home.File("live.csv");
    home.Write("live.csv", "an older file the save dialog was told to replace\n");
    SetFileDialogHook([&](const std::string& kind, const std::string&, const std::string& extension, std::string& path) {
        EXPECT_EQ(kind, "save");
        EXPECT_EQ(extension, "csv");
        path = csv;
        return true;
    });
    long long linesAtClose = 0;
    Monitor(
        [&](CDlgMonitor& monitor) {
            ASSERT_EQ(monitor.TabCount(), 2);
            EXPECT_EQ(monitor.TabAddress(1), kOther);
            EXPECT_EQ(monitor.Table(1).rowCount(), 3);
            EXPECT_FALSE(monitor.WatchAllButton().isEnabled());
            EXPECT_EQ(monitor.RecordingState().text().toStdString().rfind("\u25cf Recording 00:00:", 0), 0u)
                << monitor.RecordingState().text().toStdString();
            EXPECT_NE(monitor.RecordingState().toolTip().toStdString().find(csv), std::string::npos);
            linesAtClose = monitor.Job()->RecordedLines();
        },
        [](CDlgMonitor& monitor) {
            // First the one unit, then the recording, then all units.
            if (monitor.TabCount() == 1 && monitor.History().Latest(kAddress).Answered()) {
                monitor.IntervalBox().setCurrentIndex(monitor.IntervalBox().findData(0));
                monitor.OnRecord();
                monitor.OnWatchAllFoundUnits();
            }
            return monitor.TabCount() == 2 && monitor.IsJobRunning() && monitor.History().Latest(kOther).Answered() &&
                   monitor.Job()->RecordedLines() >= 4;
        });
    SetFileDialogHook(nullptr);
    const std::string text = home.Read("live.csv");
    EXPECT_EQ(text.rfind("time,address,Z01 actual,Z01 set,", 0), 0u) << text.substr(0, 80);
    // As many zone columns as the widest unit has (10), no more.
    const std::string header = text.substr(0, text.find('\n'));
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), 1 + 2 * 10) << header;
    EXPECT_EQ(text.find("older"), std::string::npos);
    EXPECT_NE(text.find(",5,194,200,"), std::string::npos);
    EXPECT_NE(text.find(",7,"), std::string::npos);
    EXPECT_GE(std::count(text.begin(), text.end(), '\n'), linesAtClose + 1);
}

TEST_F(MonitorTest, TellsOfALostAdapterAndStillCloses)
{
    Monitor([](CDlgMonitor&) {},
            [this](CDlgMonitor& monitor) {
                if (monitor.History().Latest(kAddress).Answered() && line.Server().Serving())
                    line.Unplug();
                monitor.Refresh();
                return monitor.StatisticsLine().text().startsWith("Device gone");
            });
}

// What the monitor watched, charted and how, comes back when it opens again,
// with the history of the first run; a unit watched then that no longer
// answers is red in the overview and its tab, and a recording is no wider
// than the widest unit that answers.
TEST_F(MonitorTest, RestoresItsSetUpAndKeepsTheHistory)
{
    Monitor(
        [](CDlgMonitor& monitor) { EXPECT_EQ(monitor.Overview().rowCount(), 2); },
        [](CDlgMonitor& monitor) {
            if (monitor.TabCount() == 1 && monitor.History().Latest(kAddress).Answered()) {
                monitor.OnWatchAllFoundUnits();
                monitor.Table(0).item(1, 0)->setCheckState(Qt::Unchecked);
                monitor.IntervalBox().setCurrentIndex(monitor.IntervalBox().findData(500));
                monitor.ToleranceBox().setValue(3);
            }
            return monitor.TabCount() == 2 && monitor.History().Latest(kOther).Answered();
        });
    const std::pair<const char*, const char*> stored[] = {
        {"Units", "5,7"}, {"Zones5", "1,3,4,5,6,7,8"}, {"Zones7", ""}, {"Interval", "500"}, {"Tolerance", "3"},
    };
    for (const auto& [key, value] : stored) {
        CIniFile config("CONFIG.INI", false);
        config.ReadString("MONITOR", key);
        EXPECT_EQ(config.GetValue(), value) << key;
    }
    // Unit 9 was watched as well, on a bus it has left since.
    CIniFile config("CONFIG.INI", false);
    config.SetValue("5,7,9");
    config.WriteString("MONITOR", "Units");

    const auto reopened = std::chrono::system_clock::now();
    const std::string csv = home.File("restored.csv");
    SetFileDialogHook([&](const std::string&, const std::string&, const std::string&, std::string& path) {
        path = csv;
        return true;
    });
    Monitor(
        [&](CDlgMonitor& monitor) {
            ASSERT_EQ(monitor.TabCount(), 3);
            EXPECT_EQ(monitor.TabAddress(0), kAddress);
            EXPECT_EQ(monitor.TabAddress(1), kOther);
            EXPECT_EQ(monitor.TabAddress(2), 9);
            EXPECT_EQ(monitor.Chart(0).Zones(), (std::vector<int>{1, 3, 4, 5, 6, 7, 8}));
            EXPECT_EQ(monitor.Table(0).item(1, 0)->checkState(), Qt::Unchecked);
            EXPECT_EQ(monitor.IntervalBox().currentData().toInt(), 500);
            EXPECT_EQ(monitor.ToleranceBox().value(), 3);
            std::chrono::system_clock::time_point oldest, newest;
            ASSERT_TRUE(monitor.History().Span(kAddress, oldest, newest));
            EXPECT_LT(oldest, reopened);
            // The close is marked, so that no line joins the two runs.
            const auto breaks = monitor.History().Breaks(oldest, reopened);
            ASSERT_FALSE(breaks.empty());
            EXPECT_EQ(breaks.back().kind, CMonitorHistory::BreakKind::Closed);
            // The silent unit: red in the overview and on its tab.
            EXPECT_EQ(monitor.Overview().item(0, 9)->text().toStdString(), "answering");
            EXPECT_FALSE(monitor.Overview().item(0, 1)->data(Qt::BackgroundRole).isValid());
            EXPECT_TRUE(monitor.Overview().item(2, 1)->data(Qt::BackgroundRole).isValid());
            const QColor tab = monitor.Tabs().tabBar()->tabTextColor(2);
            EXPECT_NE(tab, monitor.Tabs().tabBar()->tabTextColor(0));
            EXPECT_GT(tab.redF(), 1.5 * tab.greenF());
        },
        [](CDlgMonitor& monitor) {
            monitor.Refresh();
            if (!monitor.Job()->IsRecording() && monitor.History().Latest(kAddress).Answered())
                monitor.OnRecord();
            return monitor.Overview().item(2, 9)->text().startsWith("no answer since ") &&
                   monitor.Job()->RecordedLines() >= 3;
        });
    SetFileDialogHook(nullptr);
    const std::string text = home.Read("restored.csv");
    const std::string header = text.substr(0, text.find('\n'));
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), 1 + 2 * 10) << header;
}

// While the monitor runs, the main grid's actual values are its newest of
// the selected unit; another watched unit's never land there.
TEST_F(MonitorTest, KeepsTheMainGridsActualValuesLive)
{
    CMSFlexGrid& grid = window.Grid(2);
    ASSERT_EQ(grid.GetTextMatrix(1, 2), "194");
    Monitor([](CDlgMonitor&) {},
            [&](CDlgMonitor& monitor) {
                if (monitor.TabCount() == 1) {
                    monitor.OnWatchAllFoundUnits();
                    std::lock_guard<std::mutex> lock(line.Bus().Mutex());
                    line.Bus().UnitAt(kAddress)->actualValues[0] = 321;
                }
                return grid.GetTextMatrix(1, 2) == "321" && monitor.History().Latest(kOther).Answered();
            });
    EXPECT_EQ(grid.GetTextMatrix(1, 2), "321");
    EXPECT_EQ(grid.GetTextMatrix(2, 2), "195");
    EXPECT_EQ(grid.GetTextMatrix(4, 2), "204");
}
