// The looks a new user gets, step by step. Each case checks what it shows;
// with VORLENT_SCREENSHOTS naming a directory (make screenshots, under Xvfb)
// it also saves a picture of it there.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QStyleFactory>
#include <QTableWidget>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolTip>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/ModalRun.h"
#include "unit/Unit.h"
#include "unitsim/SimConfig.h"
#include "workflows/qt/DlgScanDevices.h"
#include "monitor/qt/DlgMonitor.h"
#include "monitor/qt/MonitorChart.h"
#include "records/qt/DlgChangeHistory.h"
#include "records/qt/DlgCompare.h"
#include "platform/SafeFormat.h"
#include "platform/qt/FileDialogs.h"
#include <QMessageBox>

namespace {

void Save(QWidget& widget, const char* name)
{
    const char* dir = std::getenv("VORLENT_SCREENSHOTS");
    if (!dir || !*dir)
        return;
    QDir().mkpath(dir);
    widget.grab().save(QString(dir) + "/" + name);
}

// The screen over a window, a second one and a tooltip on show, cropped to
// them: nothing of the bare screen around.
void SaveScreenAround(QWidget& widget, const char* name, QWidget* also = nullptr)
{
    const char* dir = std::getenv("VORLENT_SCREENSHOTS");
    if (!dir || !*dir)
        return;
    QDir().mkpath(dir);
    QRect area = widget.frameGeometry();
    if (also)
        area = area.united(also->frameGeometry());
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->inherits("QTipLabel"))
            area = area.united(top->frameGeometry());
    }
    area = area.intersected(QGuiApplication::primaryScreen()->geometry());
    QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(QString(dir) + "/" + name);
}

// Hovers a data cell as the mouse does and returns the tooltip on show.
std::string HoverCell(CMSFlexGrid& grid, int row, int col)
{
    QWidget* viewport = grid.viewport();
    const QPoint point = grid.visualRect(grid.model()->index(row - 1, col - 1)).center();
    QHelpEvent event(QEvent::ToolTip, point, viewport->mapToGlobal(point));
    QCoreApplication::sendEvent(viewport, &event);
    WaitFor([] { return QToolTip::isVisible(); }, 2000);
    return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
}

// The columns of a grid narrower than Qt's own measure of the texts they
// hold, headers included (the width sizing to contents would give them);
// column 0 is the row headers.
std::vector<int> NarrowColumns(CMSFlexGrid& grid)
{
    std::vector<int> narrow;
    for (int col = 0; col < grid.GetCols(); ++col) {
        const int need = col == 0 ? grid.verticalHeader()->sizeHint().width()
                                  : std::max(grid.horizontalHeader()->sectionSizeHint(col - 1),
                                             static_cast<QAbstractItemView&>(grid).sizeHintForColumn(col - 1));
        if (need > (col == 0 ? grid.verticalHeader()->width() : grid.columnWidth(col - 1)))
            narrow.push_back(col);
    }
    return narrow;
}

class Screenshots : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.CopyResource("English.lng");
        home.CopyResource("Deutsch.lng");
        home.CopyResource("GLOBAL.INI");
    }
    TestDir home;
    DialogScript script;
};

}  // namespace

TEST_F(Screenshots, InterfaceDialogAndOfflineMainWindow)
{
    // One real port (a pseudo-terminal) behind COM1; the others lead nowhere.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=1\r\nBaudrate=19200\r\n[GENERAL]\r\nLanguage=ENGLISH\r\n" +
                                 PortsSection(ptsname(master)));

    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    script.ExpectDialog([](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "134");
        auto* port = Child<QComboBox>(dialog, "1102");
        auto* baud = Child<QComboBox>(dialog, "1104");
        ASSERT_TRUE(port && baud);
        EXPECT_EQ(port->currentText(), "1");
        EXPECT_EQ(baud->currentText(), "19200");
        EXPECT_TRUE(Child<QRadioButton>(dialog, "1103")->isChecked());
        EXPECT_EQ(dialog.windowTitle().toStdString(), TheTextMemory().GetText(59));
        Save(dialog, "interface-dialog.png");
        // Work without a unit, so the main window shows its offline state.
        Child<QRadioButton>(dialog, "1105")->click();
        Child<QAbstractButton>(dialog, "1")->click();
    });
    window.RunStartupSequence();
    EXPECT_EQ(script.PendingDialogs(), 0);

    EXPECT_TRUE(TheUnit().IsOffline());
    EXPECT_EQ(window.windowTitle().toStdString(), TheTextMemory().GetText(0));
    CMenuBar& menu = window.Menu();
    EXPECT_EQ(menu.MenuCount(), 6);
    EXPECT_FALSE(menu.IsMenuEnabled(menupos::kDevices));
    EXPECT_FALSE(menu.IsMenuEnabled(menupos::kCommunication));
    EXPECT_FALSE(menu.IsMenuEnabled(menupos::kParameters));
    EXPECT_TRUE(menu.IsEnabled(cmd::kFileOpen));
    EXPECT_EQ(window.GetCurrentView(), -1);
    QTest::qWait(50);
    Save(window, "main-window-offline.png");
    close(master);
}

// A newcomer's first session against the demo bus: the interface dialog with
// COM1 preselected, both units found, the 12-zone unit received, two cells
// edited and sent, one of them refused by the unit.
TEST_F(Screenshots, NewUserFindsReceivesEditsAndSends)
{
    SimLine line;
    std::string error;
    ASSERT_TRUE(unitsim::LoadBusFile(VORLENT_SOURCE_DIR "/tools/unitsim/examples/demo.bus", line.Bus(), error)) << error;
    line.Bus().AddFault(Fault(unitsim::FaultKind::Nak, "K06P02=0"));  // refuses this write
    line.Start();
    home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=1\r\nBaudrate=9600\r\nTimeout=30\r\n[GENERAL]\r\nLanguage=ENGLISH\r\n" +
                                 PortsSection(line.Path()));

    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    script.ExpectDialog([](QDialog& dialog) {
        EXPECT_EQ(Child<QComboBox>(dialog, "1102")->currentText(), "1");
        EXPECT_TRUE(Child<QRadioButton>(dialog, "1103")->isChecked());
        Child<QAbstractButton>(dialog, "1")->click();
    });
    script.ExpectDialog([](QDialog& dialog) {
        auto& scan = dynamic_cast<CDlgScanDevices&>(dialog);
        // Half-way: the bar stands at the address polled.
        auto* bar = Child<QProgressBar>(dialog, "1130");
        ASSERT_NE(bar, nullptr);
        WhenReady(dialog, [&scan, bar] { return bar->value() >= 14 || !scan.IsScanning(); }, [&scan, bar] {
            EXPECT_EQ(bar->maximum(), 30);
            Save(scan, "scan-progress.png");
            WhenReady(scan, [&scan] { return !scan.IsScanning(); }, [&scan, bar] {
                EXPECT_EQ(bar->value(), 30);
                EXPECT_TRUE(Child<QRadioButton>(scan, "1009")->isChecked());  // G03 preselected
                EXPECT_TRUE(Child<QRadioButton>(scan, "1018")->isEnabled());  // G12 found
                EXPECT_FALSE(Child<QRadioButton>(scan, "1010")->isEnabled());
                Save(scan, "scan-dialog.png");
                Child<QAbstractButton>(scan, "2")->click();
            }, 20000);
        }, 20000);
    });
    script.ExpectDialog([](QDialog&) {});  // the receive closes by itself
    window.RunStartupSequence();
    ASSERT_EQ(script.PendingDialogs(), 0);
    ASSERT_TRUE(script.Boxes().empty()) << script.Boxes()[0].text;

    // The 12-zone unit's actual and set values are on show.
    ASSERT_EQ(window.GetCurrentView(), 2);
    CMSFlexGrid& values = window.Grid(2);
    ASSERT_EQ(values.GetRows(), 13);
    {
        std::lock_guard lock(line.Bus().Mutex());
        const auto* unit = line.Bus().UnitAt(3);
        EXPECT_EQ(values.GetTextMatrix(5, 1), std::to_string(unit->setValues[4]));
        EXPECT_EQ(values.GetTextMatrix(5, 2), std::to_string(unit->actualValues[4]));
    }
    EXPECT_TRUE(window.Menu().IsChecked(33002));
    // The status bar says where the program stands.
    EXPECT_EQ(window.GetStatusText(0), "Unit 3: TORVA08, AZ number 7, 12 zones, firmware 203");
    EXPECT_EQ(window.GetStatusText(1), "COM1: " + line.Path() + " at 9600 baud");
    EXPECT_EQ(window.GetStatusText(2).rfind("Received at ", 0), 0u) << window.GetStatusText(2);
    QTest::qWait(50);
    Save(window, "actual-set-values.png");

    // Zone parameters: P03 of zone 5 to 250, P02 of zone 6 to 99 (refused).
    window.ShowView(1);
    CMSFlexGrid& zones = window.Grid(1);
    auto edit = [&](int zone, int param, const char* value) {
        zones.SetRow(zone);
        zones.SetCol(param);
        window.StartCellEdit(value, true);
        window.CommitCellEdit();
    };
    edit(5, 3, "250");
    edit(6, 2, "99");
    EXPECT_EQ(zones.GetCellColour(5, 3), CMSFlexGrid::kYellow);
    EXPECT_EQ(window.GetChangeCount(1), 2);

    script.ExpectDialog([](QDialog&) {});  // the send closes by itself
    window.OnSendParams();
    ASSERT_EQ(script.PendingDialogs(), 0);
    {
        std::lock_guard lock(line.Bus().Mutex());
        EXPECT_EQ(line.Bus().UnitAt(3)->zoneParams[2][4], 250);
    }
    EXPECT_EQ(zones.GetCellColour(5, 3), CMSFlexGrid::kWhite);
    EXPECT_EQ(zones.GetCellColour(6, 2), CMSFlexGrid::kRed);
    EXPECT_EQ(window.GetChangeCount(1), 0);
    EXPECT_EQ(zones.GetTextMatrix(5, 3), "250");
    EXPECT_EQ(window.GetStatusText(2), "2 values sent, 1 of them refused or differing");

    // One more edit waits, yellow, beside the red one.
    edit(7, 1, "12");
    EXPECT_EQ(zones.GetCellColour(7, 1), CMSFlexGrid::kYellow);
    QTest::qWait(50);
    Save(window, "zone-parameters-yellow-red.png");

    // The red cell says why, under the mouse.
    std::string held;
    {
        std::lock_guard lock(line.Bus().Mutex());
        held = std::to_string(line.Bus().UnitAt(3)->zoneParams[1][5]);
    }
    EXPECT_EQ(HoverCell(zones, 6, 2), "Sent: 99\nThe unit holds: " + held + "\nThe unit did not acknowledge the value.");
    QTest::qWait(100);
    SaveScreenAround(window, "red-cell-tooltip.png");
    QToolTip::hideText();
}

// Load standard parameters: the wait for the unit behind the progress
// dialog, which the window keeps painting and whose Cancel goes on with the
// receive.
TEST_F(Screenshots, StandardParametersWaitForTheUnit)
{
    SimLine line;
    unitsim::SimUnitConfig unit = MakeSimUnit(9, 42, 4, 3);
    unit.restartSeconds = 30;
    line.Bus().AddUnit(unit);
    line.Start();
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n" + PortsSection(line.Path()));

    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    script.ExpectDialog(WorkWithoutUnit);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(WaitFor([&] { return script.PendingDialogs() == 0; }));
    line.Attach(TheUnit(), 50);
    window.OnDevicesItem(9, unit.type);
    script.ExpectDialog([](QDialog&) {});  // the receive closes by itself
    window.OnUnitPicked(9);
    ASSERT_EQ(window.GetCurrentView(), 2);

    bool bCancelled = false;
    script.ExpectDialog([&bCancelled, &window](QDialog& dialog) {
        auto* bar = Child<QProgressBar>(dialog, "1101");
        ASSERT_NE(bar, nullptr);
        WhenReady(dialog, [bar] { return bar->value() >= 3; }, [&bCancelled, &window, bar, &dialog] {
            EXPECT_EQ(bar->maximum(), 60000 / 250);
            EXPECT_EQ(dialog.windowTitle().toStdString(), "Loading standard parameters: waiting for the unit");
            Save(dialog, "standard-parameters-wait.png");
            SaveScreenAround(window, "standard-parameters-wait-screen.png", &dialog);
            Child<QPushButton>(dialog, "2")->click();
            bCancelled = true;
        });
    });
    script.ExpectDialog([](QDialog&) {});  // the receive after the wait
    window.OnCommand(cmd::kLoadStandardParams);
    EXPECT_EQ(script.PendingDialogs(), 0);
    EXPECT_TRUE(bCancelled);
}

// Every value readable: the widest values of a unit of width 5 (decimal,
// and hexadecimal with 100 zones or more) fill the three grids, or a wider
// value is typed into a narrow cell of each (offline, and for the unit), and
// no column is too narrow. Under make screenshots the first is pictured.
TEST_F(Screenshots, WidestValuesShowWhole)
{
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n" + PortsSection());
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    script.ExpectDialog(WorkWithoutUnit);
    window.show();
    ASSERT_TRUE(WaitFor([&] { return script.PendingDialogs() == 0; }));
    CUnit& unit = TheUnit();
    unit.SetValueWidth(5);
    for (const auto& [zones, low, high, typed, offline] : {std::tuple{20, -9999, 99999, "", true},
             {128, -524288, 524287, "", true}, {4, 0, 1, "-99999", true}, {4, 0, 1, "99999", false}}) {
        unit.SetOffline(offline);
        unit.SetZoneCount(static_cast<int16_t>(zones));
        unit.SetZoneParamCount(9);
        for (int16_t z = 1; z <= zones; ++z) {
            unit.WriteSetValue(z, low);
            unit.SetActualValue(z, high);
            for (int16_t p = 1; p <= 9; ++p)
                unit.WriteZoneParam(z, p, p % 2 ? low : high);
        }
        for (int16_t i = 1; i <= unit.GetGlobalParamCount(); ++i)
            unit.WriteGlobalParam(i, i % 2 ? low : high);
        for (int g = 0; g < 3; ++g) {
            ASSERT_TRUE(window.FillGrid(g, false, true));
            window.ShowView(g);
            if (*typed) {
                // Over the first editable cell: the actual values are
                // editable only without a unit.
                window.Grid(g).SetRow(1);
                window.Grid(g).SetCol(1);
                window.StartCellEdit(typed, true);
                window.CommitCellEdit();
                EXPECT_EQ(window.Grid(g).GetText(), typed) << "grid " << g << ", " << zones << " zones, row "
                                                           << window.Grid(g).GetRow() << " col " << window.Grid(g).GetCol();
            }
            EXPECT_EQ(NarrowColumns(window.Grid(g)), std::vector<int>{}) << "grid " << g << ", " << zones << " zones";
            if (zones == 20 && g > 0)
                Save(window, g == 1 ? "width5-zone-parameters.png" : "width5-actual-set-values.png");
        }
    }
}

// The live view of the demo bus's first unit while its zones heat (zone 5
// has the broken heater), zoomed to the last 30 s, in the light palette and
// in a dark one (Fusion).
TEST_F(Screenshots, MonitorLiveChartLightAndDark)
{
    SimLine line;
    std::string error;
    ASSERT_TRUE(unitsim::LoadBusFile(VORLENT_SOURCE_DIR "/tools/unitsim/examples/demo.bus", line.Bus(), error)) << error;
    line.Start();
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n");
    ASSERT_TRUE(TheTextMemory().Load("English.lng"));

    MonitorLine link;
    link.nTimeout = 50;
    link.strDevice = line.Path();
    MonitorUnit unit;
    unit.nAddress = 3;
    CDlgMonitor dialog(link, unit, {MonitorUnit{12, 0, 0}}, "TORVA 3");
    dialog.IntervalBox().setCurrentIndex(dialog.IntervalBox().findData(500));
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    dialog.Chart(0).SetTimeRange(now, now + 30);

    QElapsedTimer darkSince;
    // The pictures after this one keep the palette of their run.
    const QPalette palette = QApplication::palette();
    const QString style = QApplication::style()->name();
    script.ExpectDialog([&](QDialog&) {
        WhenReady(
            dialog, [&] { return dialog.Job() && dialog.Job()->Cycles() >= 40; },
            [&] {
                dialog.Refresh();
                QTableWidget& table = dialog.Table(0);
                // The cold zone is marked, a heating one not yet at its set value.
                EXPECT_TRUE(table.item(4, 2)->data(Qt::BackgroundRole).isValid());
                EXPECT_LT(table.item(0, 2)->text().toInt(), table.item(0, 1)->text().toInt());
                EXPECT_EQ(dialog.Chart(0).Zones().size(), 8u);
                // Fitted to the values while they span less than the 30 s chosen.
                EXPECT_LE(dialog.Chart(0).SpanSeconds(), 30.5);
                QTest::qWait(50);
                Save(dialog, "monitor-light.png");

                QPalette dark;
                dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
                dark.setColor(QPalette::WindowText, Qt::white);
                dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
                dark.setColor(QPalette::AlternateBase, QColor(0x35, 0x35, 0x35));
                dark.setColor(QPalette::Text, Qt::white);
                dark.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
                dark.setColor(QPalette::ButtonText, Qt::white);
                dark.setColor(QPalette::Mid, QColor(0x60, 0x60, 0x60));
                dark.setColor(QPalette::Highlight, QColor(0x2a, 0x82, 0xda));
                dark.setColor(QPalette::HighlightedText, Qt::black);
                QApplication::setStyle(QStyleFactory::create("Fusion"));
                QApplication::setPalette(dark);
                darkSince.start();
                WhenReady(
                    dialog, [&] { return darkSince.elapsed() >= 1200; },
                    [&] {
                        dialog.Refresh();
                        EXPECT_TRUE(table.item(4, 2)->data(Qt::ForegroundRole).isValid());
                        QTest::qWait(50);
                        Save(dialog, "monitor-dark.png");
                        QTest::keyClick(&dialog, Qt::Key_Escape);
                    });
            },
            30000);
    });
    RunModal(dialog);
    QApplication::setStyle(QStyleFactory::create(style));
    QApplication::setPalette(palette);
    EXPECT_EQ(script.PendingDialogs(), 0);
    EXPECT_FALSE(dialog.IsJobRunning());
}

// The history opens wide enough for every column, the outcome at the right
// end included, as far as the screen has room (under Xvfb it has).
TEST_F(Screenshots, ChangeHistoryShowsEveryColumnWhole)
{
    CDlgChangeHistory dialog({{"2026-12-09T14:03:07.250+01:00", "operator", "workshop-pc", "/dev/ttyUSB0", "3", "1103",
                               "MZR 12", "4711", "zone parameter", "Zone 05 P03", "120", "9999", "120", "refused"}},
                             1103);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTableView& table = *dialog.findChild<QTableView*>("table");
    const int chrome = dialog.frameGeometry().width() - table.viewport()->width();
    const int room = dialog.screen()->availableGeometry().width() - chrome;
    EXPECT_GE(table.viewport()->width(), std::min(table.horizontalHeader()->length(), room));
    Save(dialog, "change-history.png");
}

// The comparison with a recipe, named as the grids name values, and the
// message an export leaves.
TEST_F(Screenshots, ComparisonAndExportMessage)
{
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n");
    ASSERT_TRUE(TheTextMemory().Load("English.lng"));
    CDlgCompare compare({{"Global 02", "250", "240"}, {"Zone03 P00", "180", "185"}, {"Zone05 P03", "12", "-"},
                         {"Zone07 P11", "40", "44"}},
                        "extruder-a.1103", nullptr, [](const SendItem&) { return true; });
    compare.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&compare));
    EXPECT_EQ(compare.Table().item(1, 0)->text().toStdString(), "Zone 03 \u00b7 Set value");
    EXPECT_EQ(compare.Table().item(1, 3)->text().toStdString(), "+5");
    compare.Table().selectRow(3);
    Save(compare, "comparison.png");

    // The box as the program shows it, with the text of a finished export.
    QMessageBox box(QMessageBox::Information, "Vorlent",
                    QString::fromStdString(platform::SafeFormat(
                        TheTextMemory().GetText(188), {std::string("/home/operator/unit03-values.csv")})),
                    QMessageBox::Ok);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    EXPECT_NE(box.text().indexOf("unit03-values.csv"), -1);
    Save(box, "export-message.png");
}

// A monitor recording to a file, as the monitor dialog shows it.
TEST_F(Screenshots, MonitorRecording)
{
    SimLine line;
    std::string error;
    ASSERT_TRUE(unitsim::LoadBusFile(VORLENT_SOURCE_DIR "/tools/unitsim/examples/demo.bus", line.Bus(), error)) << error;
    line.Start();
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n");
    ASSERT_TRUE(TheTextMemory().Load("English.lng"));
    MonitorLine link;
    link.nTimeout = 50;
    link.strDevice = line.Path();
    MonitorUnit unit;
    unit.nAddress = 3;
    CDlgMonitor dialog(link, unit, {}, "TORVA 3");
    dialog.IntervalBox().setCurrentIndex(dialog.IntervalBox().findData(500));
    const std::string file = home.File("unit03-recording.csv");
    SetFileDialogHook([file](const std::string&, const std::string&, const std::string&, std::string& chosen) {
        chosen = file;
        return true;
    });
    script.ExpectDialog([&](QDialog&) {
        WhenReady(dialog, [&] { return dialog.Job() && dialog.Job()->Cycles() >= 3; }, [&] {
            QPushButton* record = nullptr;
            for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
                if (button->text() == QString::fromStdString(TheTextMemory().GetText(129)))
                    record = button;
            }
            ASSERT_NE(record, nullptr);
            record->click();
            WhenReady(dialog, [&] { return dialog.Job()->IsRecording() && dialog.Job()->RecordedLines() >= 8; }, [&] {
                dialog.Refresh();
                QTest::qWait(50);
                Save(dialog, "monitor-recording.png");
                QTest::keyClick(&dialog, Qt::Key_Escape);
            }, 20000);
        }, 20000);
    });
    RunModal(dialog);
    SetFileDialogHook(nullptr);
    EXPECT_EQ(script.PendingDialogs(), 0);
    EXPECT_NE(home.Read("unit03-recording.csv").find('\n'), std::string::npos);
}
