// The live view against a simulated bus: values on show and marked by the
// tolerance, units added, a recording, a lost adapter, and the link closed
// when the dialog closes.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <mutex>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "monitor/qt/DlgMonitor.h"
#include "monitor/qt/MonitorChart.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "unit/Unit.h"

namespace {

constexpr int kAddress = 5;
constexpr int kOther = 7;

// The window with two units on the bus, the first one picked and received.
class MonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
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
bool Marked(QTableWidget& table, int zone, int column)
{
    const QTableWidgetItem* item = table.item(zone - 1, column);
    // The mark sets both colours, or none.
    EXPECT_EQ(item->data(Qt::BackgroundRole).isValid(), item->data(Qt::ForegroundRole).isValid());
    return item->data(Qt::BackgroundRole).isValid();
}

}  // namespace

TEST_F(MonitorTest, ShowsTheUnitsValuesAndClosesTheLinkOnClose)
{
    EXPECT_TRUE(window.Menu().IsEnabled(cmd::kMonitor));
    bool bChecked = false;
    Monitor([&](CDlgMonitor& monitor) {
        bChecked = true;
        EXPECT_EQ(monitor.windowTitle().toStdString(), "Monitor: unit 5 PRESS 10");
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
    // Zone, difference, marked at the default 5, marked at 2.
    struct Row
    {
        int zone;
        const char* difference;
        bool bAt5;
        bool bAt2;
    };
    const Row rows[] = {
        {1, "-6", true, true},  {2, "-5", false, true}, {3, "-4", false, true}, {4, "4", false, true},
        {5, "5", false, true},  {6, "6", true, true},   {7, "-1", false, false}, {8, "1", false, false},
        {9, "-100", true, true}, {10, "0", false, false},
    };
    Monitor([&](CDlgMonitor& monitor) {
        QTableWidget& table = monitor.Table(0);
        EXPECT_EQ(monitor.ToleranceBox().value(), 5);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.zone);
            EXPECT_EQ(Cell(table, row.zone, 3), row.difference);
            EXPECT_EQ(Marked(table, row.zone, 2), row.bAt5);
            EXPECT_EQ(Marked(table, row.zone, 3), row.bAt5);
            EXPECT_FALSE(Marked(table, row.zone, 1));
        }
        monitor.ToleranceBox().setValue(2);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.zone);
            EXPECT_EQ(Marked(table, row.zone, 2), row.bAt2);
        }
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
            EXPECT_NE(monitor.RecordingState().text().toStdString().find(csv), std::string::npos);
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
