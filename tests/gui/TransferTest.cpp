// Receive and send against a simulated unit: the progress dialog's range,
// the requests in order, Cancel at a given step, the colours and change
// lists a send leaves, and what a lost adapter or a silent unit costs.
#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/AutoResetEvent.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"
#include "workflows/Jobs.h"

namespace {

constexpr int kAddress = 4;
constexpr int kZones = 6;
constexpr int kZoneParams = 7;

// Global parameter i is "Gii" holding 10 i; the definitions allow 0..600.
unitsim::SimUnitConfig TestUnit(int address = kAddress, int zones = kZones, int params = kZoneParams)
{
    unitsim::SimUnitConfig unit = MakeSimUnit(address, 1200 + address, zones, params);
    for (int i = 1; i <= 10; ++i) {
        char command[16];
        std::snprintf(command, sizeof command, "G%02d", i);
        unit.globals.push_back({command, 10 * i, -1000, 1000});
    }
    return unit;
}

std::vector<GlobalParamDef> Definitions(int count)
{
    std::vector<GlobalParamDef> defs;
    for (int i = 1; i <= count; ++i) {
        GlobalParamDef def;
        char command[16];
        std::snprintf(command, sizeof command, "G%02d=", i);
        def.pCommand = command;
        def.pDescriptionE = def.pDescriptionD = std::string("Parameter ") + command;
        def.nMinVal = 0;
        def.nMaxVal = 600;
        defs.push_back(def);
    }
    return defs;
}

void ClickCancel(QWidget& dialog)
{
    if (auto* cancel = dialog.findChild<QPushButton*>("2"))
        cancel->click();
    else
        ADD_FAILURE() << "no Cancel button";
}

struct BarState
{
    int minimum = -100;
    int maximum = -100;
    int value = -100;
};

class TransferTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        TheUnit().SetGlobalParams(Definitions(10));
        line.Bus().AddUnit(TestUnit());
    }

    // The unit at kAddress picked after a scan and received.
    void Connect()
    {
        line.Start();
        line.Attach(TheUnit(), 30);
        window->OnDevicesItem(kAddress, "MZR 12");
        ExpectJob();
        window->OnUnitPicked(kAddress);
        ASSERT_EQ(window->GetCurrentView(), 2);
        ASSERT_EQ(TheUnit().QueryZoneCount(), kZones);
        line.Bus().ClearRequests();
    }

    // A receive or send dialog that runs its course.
    void ExpectJob()
    {
        script.ExpectDialog([this](QDialog& dialog) {
            ++jobs;
            titles.push_back(S(dialog.windowTitle()));
        });
    }

    // At the first request whose text begins with prefix, runs action with
    // the modal dialog on show on the user-interface thread. With bHold the
    // bus answers only after the action has run.
    void AtRequest(const std::string& prefix, bool bHold, std::function<void(QWidget&)> action)
    {
        auto fired = std::make_shared<std::atomic<bool>>(false);
        line.Bus().SetRequestObserver([=](const unitsim::SimRequest& request) {
            if (request.text.rfind(prefix, 0) != 0 || fired->exchange(true))
                return;
            auto run = [action] {
                if (QWidget* modal = QApplication::activeModalWidget())
                    action(*modal);
                else
                    ADD_FAILURE() << "no dialog on show";
            };
            if (bHold)
                QMetaObject::invokeMethod(qApp, run, Qt::BlockingQueuedConnection);
            else
                QTimer::singleShot(0, qApp, run);
        });
    }

    // Types text into the cell as the user does: a digit opens the edit box,
    // the rest is typed, Enter takes it over.
    void Edit(int g, int row, int col, const std::string& text)
    {
        window->ShowView(g);
        CMSFlexGrid& grid = window->Grid(g);
        grid.SetRow(row);
        grid.SetCol(col);
        window->StartCellEdit(text.substr(0, 1), false);
        ASSERT_TRUE(window->IsEditVisible());
        window->EditBox().setText(Q(text));
        window->CommitCellEdit();
        ASSERT_EQ(grid.GetTextMatrix(row, col), text);
    }

    void Send()
    {
        ExpectJob();
        window->OnSendParams();
        ASSERT_EQ(script.PendingDialogs(), 0);
    }

    std::string Cell(int g, int row, int col) { return window->Grid(g).GetTextMatrix(row, col); }
    uint32_t Colour(int g, int row, int col) { return window->Grid(g).GetCellColour(row, col); }

    int32_t SimZoneParam(SimLine& on, int address, int zone, int p)
    {
        std::lock_guard<std::mutex> lock(on.Bus().Mutex());
        return on.Bus().UnitAt(address)->zoneParams[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(zone - 1)];
    }
    int32_t SimZoneParam(int zone, int p) { return SimZoneParam(line, kAddress, zone, p); }
    int32_t SimSetValue(int zone)
    {
        std::lock_guard<std::mutex> lock(line.Bus().Mutex());
        return line.Bus().UnitAt(kAddress)->setValues[static_cast<std::size_t>(zone - 1)];
    }
    int32_t SimGlobal(int i)
    {
        std::lock_guard<std::mutex> lock(line.Bus().Mutex());
        return line.Bus().UnitAt(kAddress)->globals[static_cast<std::size_t>(i - 1)].value;
    }

    std::vector<std::string> RequestTexts(const std::string& prefix = "")
    {
        std::vector<std::string> texts;
        for (const unitsim::SimRequest& request : line.Bus().Requests()) {
            if (request.text.rfind(prefix, 0) == 0)
                texts.push_back(request.text);
        }
        return texts;
    }

    bool Requested(const std::string& prefix) { return !RequestTexts(prefix).empty(); }

    std::vector<std::string> GridTexts(int g)
    {
        std::vector<std::string> texts;
        CMSFlexGrid& grid = window->Grid(g);
        for (int r = 0; r < grid.GetRows(); ++r)
            for (int c = 0; c < grid.GetCols(); ++c)
                texts.push_back(grid.GetTextMatrix(r, c));
        return texts;
    }

    void ExpectBox(int text)
    {
        ASSERT_FALSE(script.Boxes().empty());
        const MessageBoxRequest& box = script.Boxes().back();
        EXPECT_EQ(box.text, TheTextMemory().GetText(text));
        EXPECT_EQ(box.caption, TheTextMemory().GetText(0));
        EXPECT_EQ(box.icon, MsgIcon::Error);
    }

    TestDir dir;
    DialogScript script;
    SimLine line;
    std::unique_ptr<CDarozozazWindowsDlg> window;
    int jobs = 0;
    std::vector<std::string> titles;
};

TEST_F(TransferTest, AReceiveReportsItsRangeAndReadsTheRowsInOrder)
{
    Connect();
    struct Case
    {
        int globals;
        int maximum;
        int valueAtActualRow;  // the globals' position less one, within the range
    };
    for (const Case c : {Case{10, 17, 9}, Case{0, 7, 0}}) {
        SCOPED_TRACE(c.globals);
        TheUnit().SetGlobalParams(Definitions(c.globals));
        line.Bus().ClearRequests();
        BarState bar;
        AtRequest("KALPII=", true, [&](QWidget& dialog) {
            QProgressBar* progress = dialog.findChild<QProgressBar*>("1101");
            ASSERT_NE(progress, nullptr);
            bar = {progress->minimum(), progress->maximum(), progress->value()};
        });
        ExpectJob();
        window->OnReceiveParams();

        EXPECT_EQ(bar.minimum, 0);
        EXPECT_EQ(bar.maximum, c.maximum);
        EXPECT_EQ(bar.value, c.valueAtActualRow);
        const std::vector<std::string> rows{"KALPII=", "KALP00=", "KALP01=", "KALP02=", "KALP03=",
                                            "KALP04=", "KALP05=", "KALP06=", "KALP07="};
        EXPECT_EQ(RequestTexts("KALP"), rows);
        EXPECT_EQ(titles.back(), TheTextMemory().GetText(75));
        EXPECT_EQ(window->GetCurrentView(), 2);
        EXPECT_EQ(window->Grid(0).GetRows(), c.globals + 1);
        EXPECT_EQ(window->Grid(1).GetRows(), kZones + 1);
        EXPECT_EQ(window->Grid(1).GetCols(), kZoneParams + 1);
        EXPECT_FALSE(TheUnit().IsPortOpen());
    }
}

TEST_F(TransferTest, ReceiveParametersWhitensEveryCellAndKeepsTheView)
{
    Connect();
    struct Case
    {
        int viewBefore;
        int viewAfter;
    };
    for (const Case c : {Case{1, 1}, Case{-1, 2}}) {
        SCOPED_TRACE(c.viewBefore);
        for (int g = 0; g < 3; ++g) {
            CMSFlexGrid& grid = window->Grid(g);
            grid.SetFillStyle(0);
            grid.SetRow(1);
            grid.SetCol(1);
            grid.SetCellBackColor(CMSFlexGrid::kRed);
            grid.SetRow(grid.GetRows() - 1);
            grid.SetCol(grid.GetCols() - 1);
            grid.SetCellBackColor(CMSFlexGrid::kYellow);
        }
        window->ShowView(c.viewBefore);
        ExpectJob();
        window->OnReceiveParams();

        EXPECT_EQ(window->GetCurrentView(), c.viewAfter);
        for (int g = 0; g < 3; ++g) {
            CMSFlexGrid& grid = window->Grid(g);
            for (int r = 1; r < grid.GetRows(); ++r)
                for (int k = 1; k < grid.GetCols(); ++k)
                    EXPECT_EQ(grid.GetCellColour(r, k), CMSFlexGrid::kWhite) << g << ": " << r << ", " << k;
        }
    }
}

TEST_F(TransferTest, CancelAfterTheActualValuesKeepsTheRowsOfBefore)
{
    Connect();
    {
        std::lock_guard<std::mutex> lock(line.Bus().Mutex());
        unitsim::SimUnitConfig* unit = line.Bus().UnitAt(kAddress);
        unit->actualValues[0] = 444;
        unit->setValues[0] = 333;
        unit->zoneParams[0][0] = 555;
    }
    const int32_t setBefore = TheUnit().ReadSetValue(1);
    const int32_t paramBefore = TheUnit().ReadZoneParam(1, 1);
    // The click is taken while the worker waits for the row of actual
    // values, and the worker stops after that row.
    AtRequest("KALPII=", true, ClickCancel);
    ExpectJob();
    window->OnReceiveParams();

    EXPECT_EQ(TheUnit().ReadActualValue(1), 444);
    EXPECT_EQ(TheUnit().ReadSetValue(1), setBefore);
    EXPECT_EQ(TheUnit().ReadZoneParam(1, 1), paramBefore);
    EXPECT_FALSE(Requested("KALP00="));
    EXPECT_TRUE(script.Boxes().empty());
    EXPECT_EQ(window->GetCurrentView(), -1);
    EXPECT_EQ(window->Grid(0).GetRows(), 2);
    EXPECT_FALSE(window->Menu().IsEnabled(cmd::kFileOpen));
    EXPECT_FALSE(TheUnit().IsPortOpen());
}

TEST_F(TransferTest, AFailedReceiveIsReportedAndLeavesNoGridOnShow)
{
    Connect();
    struct Case
    {
        const char* name;
        int text;
        int zonesAfter;
    };
    for (const Case c : {Case{"a global parameter without answer", 33, 0}, Case{"no port", 32, kZones}}) {
        SCOPED_TRACE(c.name);
        if (c.text == 33)
            line.Bus().AddFault(Fault(unitsim::FaultKind::Silence, "G03="));
        else
            TheUnit().GetComPort().SetDeviceOverride(dir.File("no-such-port"));
        ExpectJob();
        window->OnReceiveParams();

        ExpectBox(c.text);
        EXPECT_EQ(TheUnit().QueryZoneCount(), c.zonesAfter);
        EXPECT_EQ(window->GetCurrentView(), -1);
        EXPECT_EQ(window->Grid(0).GetRows(), 2);
        EXPECT_EQ(window->Grid(0).GetCols(), 2);
        EXPECT_FALSE(TheUnit().IsPortOpen());

        // The fault gone, the next receive works.
        line.Bus().ClearFaults();
        line.Attach(TheUnit(), 30);
        ExpectJob();
        window->OnReceiveParams();
        EXPECT_EQ(window->GetCurrentView(), 2);
        EXPECT_EQ(TheUnit().QueryZoneCount(), kZones);
    }
}

TEST_F(TransferTest, ASendWritesTheEditedCellAndReadsItBack)
{
    Connect();
    Edit(1, 5, 3, "250");
    ASSERT_EQ(window->GetChangeCount(1), 1);
    ASSERT_EQ(Colour(1, 5, 3), CMSFlexGrid::kYellow);
    Send();

    EXPECT_EQ(titles.back(), TheTextMemory().GetText(21));
    EXPECT_EQ(SimZoneParam(5, 3), 250);
    const std::vector<std::string> exchange{"K05P03=0250", "K05P03="};
    EXPECT_EQ(RequestTexts("K05P03"), exchange);
    EXPECT_EQ(TheUnit().ReadZoneParam(5, 3), 250);
    EXPECT_EQ(window->GetChangeCount(1), 0);
    EXPECT_EQ(window->GetChange(1, 0).nFirst, -1);
    EXPECT_EQ(window->GetChange(1, 0).nSecond, -1);
    EXPECT_EQ(Cell(1, 5, 3), "250");
    EXPECT_EQ(Colour(1, 5, 3), CMSFlexGrid::kWhite);
    EXPECT_EQ(window->GetCurrentView(), 1);
    EXPECT_FALSE(window->Grid(1).isHidden());
    EXPECT_TRUE(script.Boxes().empty());
    EXPECT_FALSE(TheUnit().IsPortOpen());
}

TEST_F(TransferTest, ARefusedValueTurnsRedAndTheListsAreEmptied)
{
    GlobalParamDef* fixed = TheUnit().GetGlobalParamDef(3);
    fixed->nMinVal = fixed->nMaxVal = 30;
    Connect();
    const std::string setBefore = Cell(2, 1, 1);
    const std::string globalBefore = Cell(0, 1, 1);
    EXPECT_EQ(window->Grid(0).GetCellToolTip(2, 0), "Limits: 0 to 600");
    EXPECT_EQ(window->Grid(0).GetCellToolTip(3, 1), "Limits: 30 to 30");
    line.Bus().AddFault(Fault(unitsim::FaultKind::Nak, "K01P00=0999"));
    Edit(2, 1, 1, "999");
    Edit(2, 2, 1, "210");
    // Beyond the definition's limits, or fixed: never sent.
    Edit(0, 1, 1, "700");
    Edit(0, 3, 1, "31");
    Send();

    // Each red cell tells what went out, what the unit holds, and why.
    const struct
    {
        int grid, row;
        std::string tip;
    } reds[] = {
        {2, 1, "Sent: 999\nThe unit holds: " + setBefore + "\nThe unit did not acknowledge the value."},
        {0, 1, "Entered, not sent: 700\nThe unit holds: 10\nRefused: outside the limits 0 to 600."},
        {0, 3, "Entered, not sent: 31\nThe unit holds: 30\nNot sent: a fixed parameter."},
    };
    for (const auto& red : reds) {
        EXPECT_EQ(Colour(red.grid, red.row, 1), CMSFlexGrid::kRed) << red.tip;
        EXPECT_EQ(window->Grid(red.grid).GetCellToolTip(red.row, 1), red.tip);
    }
    EXPECT_EQ(window->Grid(2).GetCellToolTip(2, 1), "");

    EXPECT_TRUE(script.Boxes().empty());
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(window->GetChangeCount(g), 0) << g;
    EXPECT_EQ(Cell(2, 1, 1), setBefore);
    EXPECT_EQ(Colour(2, 1, 1), CMSFlexGrid::kRed);
    EXPECT_EQ(Cell(2, 2, 1), "210");
    EXPECT_EQ(Colour(2, 2, 1), CMSFlexGrid::kWhite);
    // Grid 0's refill gives its value cells their plain colours; the mark
    // of the refused value comes back.
    EXPECT_EQ(Cell(0, 1, 1), globalBefore);
    EXPECT_EQ(Colour(0, 1, 1), CMSFlexGrid::kRed);
    EXPECT_EQ(Colour(0, 2, 1), CMSFlexGrid::kWhite);
    EXPECT_EQ(SimSetValue(1), std::stoi(setBefore));
    EXPECT_EQ(SimSetValue(2), 210);
    EXPECT_EQ(SimGlobal(1), 10);
    EXPECT_FALSE(Requested("G01=0700"));
    EXPECT_EQ(TheUnit().ReadSetValue(1), std::stoi(setBefore));

    // The next send starts by clearing the marks; with nothing to send it
    // opens no dialog.
    window->OnSendParams();
    EXPECT_EQ(Colour(2, 1, 1), CMSFlexGrid::kWhite);
    EXPECT_EQ(Colour(0, 1, 1), CMSFlexGrid::kWhite);
    EXPECT_EQ(window->Grid(2).GetCellToolTip(1, 1), "");
    EXPECT_EQ(window->Grid(0).GetCellToolTip(1, 1), "Limits: 0 to 600");
    EXPECT_EQ(jobs, 2);
}

TEST_F(TransferTest, AValueWiderThanTheUnitsFieldIsRefusedAndKeptInTheBox)
{
    Connect();  // a unit of value width 4: -999..9999
    struct Case
    {
        int grid, row, col;
        const char* text;
        bool bAccepted;
    };
    const Case cases[] = {
        {1, 5, 3, "10000", false}, {1, 5, 3, "9999", true}, {1, 5, 4, "-1000", false},
        {1, 5, 4, "-999", true},   {2, 1, 1, "12000", false}, {0, 1, 1, "12000", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " in grid " + std::to_string(c.grid));
        window->ShowView(c.grid);
        CMSFlexGrid& grid = window->Grid(c.grid);
        grid.SetRow(c.row);
        grid.SetCol(c.col);
        const std::string before = Cell(c.grid, c.row, c.col);
        const int listed = window->GetChangeCount(c.grid);
        const std::size_t boxes = script.Boxes().size();
        window->StartCellEdit(std::string(1, c.text[0]), false);
        window->EditBox().setText(c.text);
        window->OnDefaultButton();  // Enter
        if (c.bAccepted) {
            EXPECT_FALSE(window->IsEditVisible());
            EXPECT_EQ(Cell(c.grid, c.row, c.col), c.text);
            EXPECT_EQ(Colour(c.grid, c.row, c.col), CMSFlexGrid::kYellow);
            EXPECT_EQ(script.Boxes().size(), boxes);
            continue;
        }
        ASSERT_EQ(script.Boxes().size(), boxes + 1);
        EXPECT_EQ(script.Boxes().back().text,
                  "The unit takes values from -999 to 9999.\nPlease enter a value in this range.");
        EXPECT_EQ(script.Boxes().back().icon, MsgIcon::Warning);
        ASSERT_TRUE(window->IsEditVisible());
        EXPECT_EQ(S(window->EditBox().text()), c.text);
        EXPECT_EQ(Cell(c.grid, c.row, c.col), before);
        EXPECT_EQ(window->GetChangeCount(c.grid), listed);
        window->HideCellEdit();
    }
    EXPECT_TRUE(RequestTexts().empty());
}

TEST_F(TransferTest, CancelDuringASendKeepsTheListsAndTheTypedValues)
{
    Connect();
    Edit(0, 1, 1, "300");
    Edit(1, 5, 3, "250");
    Edit(2, 2, 1, "222");
    const int32_t paramBefore = SimZoneParam(5, 3);
    const int32_t setBefore = SimSetValue(2);
    // Cancel comes while the global parameter is being written.
    AtRequest("G01=0300", false, ClickCancel);
    Send();

    EXPECT_EQ(SimGlobal(1), 300);
    EXPECT_EQ(SimZoneParam(5, 3), paramBefore);
    EXPECT_EQ(SimSetValue(2), setBefore);
    EXPECT_FALSE(Requested("K05P03"));
    EXPECT_FALSE(Requested("K02P00"));
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(window->GetChangeCount(g), 1) << g;
    EXPECT_EQ(Cell(1, 5, 3), "250");
    EXPECT_EQ(Colour(1, 5, 3), CMSFlexGrid::kYellow);
    EXPECT_EQ(Cell(2, 2, 1), "222");
    EXPECT_EQ(Colour(2, 2, 1), CMSFlexGrid::kYellow);
    EXPECT_EQ(Cell(0, 1, 1), "300");
    EXPECT_FALSE(window->Grid(window->GetCurrentView()).isHidden());

    // The next send sends what is still waiting.
    line.Bus().SetRequestObserver(nullptr);
    Send();
    EXPECT_EQ(SimZoneParam(5, 3), 250);
    EXPECT_EQ(SimSetValue(2), 222);
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(window->GetChangeCount(g), 0) << g;
    EXPECT_EQ(Cell(1, 5, 3), "250");
    EXPECT_EQ(Colour(1, 5, 3), CMSFlexGrid::kWhite);
}

TEST_F(TransferTest, AStaleStopRequestDoesNotStopTheNextJob)
{
    Connect();
    // A Cancel that came after a job's last test of the stop request.
    TransferStopEvent().Set();
    ExpectJob();
    window->OnReceiveParams();
    EXPECT_EQ(window->GetCurrentView(), 2);
    EXPECT_TRUE(Requested("KALP07="));

    Edit(1, 1, 1, "111");
    Edit(1, 2, 1, "112");
    TransferStopEvent().Set();
    Send();
    EXPECT_EQ(SimZoneParam(1, 1), 111);
    EXPECT_EQ(SimZoneParam(2, 1), 112);
    EXPECT_EQ(window->GetChangeCount(1), 0);
}

// The change question (answered Yes) drops the edit made for the unit before.
TEST_F(TransferTest, AnEntryListedForTheUnitBeforeIsNeverSentToTheNext)
{
    line.Bus().AddUnit(TestUnit(9, 2, 3));
    Connect();
    const int32_t farBefore = SimZoneParam(kZones, kZoneParams);
    Edit(1, kZones, kZoneParams, "123");
    window->OnDevicesItem(9, "MZR 12");
    ExpectJob();
    window->OnCommand(cmd::kFirstUnit + 8);
    ASSERT_EQ(TheUnit().GetAddress(), 9);
    ASSERT_EQ(window->Grid(1).GetRows(), 3);
    Edit(1, 1, 1, "77");
    ASSERT_EQ(window->GetChangeCount(1), 1);
    line.Bus().ClearRequests();
    Send();

    EXPECT_EQ(SimZoneParam(line, 9, 1, 1), 77);
    EXPECT_EQ(SimZoneParam(kZones, kZoneParams), farBefore);
    EXPECT_FALSE(Requested("K06P07"));
    EXPECT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(window->GetChangeCount(1), 0);
}

TEST_F(TransferTest, AnAdapterUnpluggedDuringAReceiveEndsItWithACommunicationError)
{
    Connect();
    line.Bus().AddFault(Fault(unitsim::FaultKind::Disconnect, "KALP01="));
    ExpectJob();
    window->OnReceiveParams();

    ExpectBox(33);
    EXPECT_EQ(TheUnit().QueryZoneCount(), 0);
    EXPECT_EQ(TheUnit().QueryZoneParamCount(), 0);
    EXPECT_EQ(window->GetCurrentView(), -1);
    EXPECT_FALSE(TheUnit().IsPortOpen());

    SimLine back;
    back.Bus().AddUnit(TestUnit());
    back.Start();
    back.Attach(TheUnit(), 30);
    ExpectJob();
    window->OnReceiveParams();
    EXPECT_EQ(window->GetCurrentView(), 2);
    EXPECT_EQ(TheUnit().QueryZoneCount(), kZones);
    EXPECT_EQ(window->Grid(1).GetRows(), kZones + 1);
}

TEST_F(TransferTest, AnAdapterUnpluggedDuringASendLeavesItsUnsentCellsRed)
{
    Connect();
    Edit(1, 1, 1, "111");
    Edit(1, 2, 1, "112");
    Edit(1, 3, 1, "113");
    line.Bus().AddFault(Fault(unitsim::FaultKind::Disconnect, "K02P01=0112"));
    Send();

    ExpectBox(33);
    EXPECT_EQ(SimZoneParam(1, 1), 111);
    EXPECT_EQ(Colour(1, 1, 1), CMSFlexGrid::kWhite);
    for (int zone : {2, 3}) {
        EXPECT_EQ(Colour(1, zone, 1), CMSFlexGrid::kRed) << zone;
        EXPECT_EQ(Cell(1, zone, 1), std::to_string(110 + zone)) << zone;
        EXPECT_EQ(window->Grid(1).GetCellToolTip(zone, 1),
                  "Sent: " + std::to_string(110 + zone) + "\nThe unit gave no answer.");
    }
    EXPECT_EQ(window->GetChangeCount(1), 3);
    EXPECT_EQ(TheUnit().QueryZoneCount(), kZones);
    EXPECT_FALSE(TheUnit().IsPortOpen());
    EXPECT_FALSE(window->Grid(1).isHidden());

    // The adapter back: the next send sends every cell still waiting.
    SimLine back;
    back.Bus().AddUnit(TestUnit());
    back.Start();
    back.Attach(TheUnit(), 30);
    Send();
    for (int zone : {1, 2, 3})
        EXPECT_EQ(SimZoneParam(back, kAddress, zone, 1), 110 + zone) << zone;
    EXPECT_EQ(window->GetChangeCount(1), 0);
    EXPECT_EQ(Colour(1, 2, 1), CMSFlexGrid::kWhite);
}

TEST_F(TransferTest, AUnitThatStopsAnsweringHalfWayThroughASendLosesNothingElse)
{
    Connect();
    const std::vector<std::string> setAndActual = GridTexts(2);
    const std::vector<std::string> globals = GridTexts(0);
    for (int zone = 1; zone <= 4; ++zone)
        Edit(1, zone, 1, std::to_string(110 + zone));
    line.Bus().AddFault(Fault(unitsim::FaultKind::Silence, "K03P01="));
    line.Bus().AddFault(Fault(unitsim::FaultKind::Silence, "K04P01="));
    Send();

    ExpectBox(33);
    for (int zone = 1; zone <= 4; ++zone) {
        SCOPED_TRACE(zone);
        const bool bSent = zone <= 2;
        EXPECT_EQ(Cell(1, zone, 1), std::to_string(110 + zone));
        EXPECT_EQ(Colour(1, zone, 1), bSent ? CMSFlexGrid::kWhite : CMSFlexGrid::kRed);
        EXPECT_EQ(SimZoneParam(zone, 1), bSent ? 110 + zone : 100 + zone);
        EXPECT_EQ(TheUnit().ReadZoneParam(static_cast<int16_t>(zone), 1), bSent ? 110 + zone : 100 + zone);
    }
    EXPECT_EQ(window->GetChangeCount(1), 4);
    EXPECT_EQ(GridTexts(2), setAndActual);
    EXPECT_EQ(GridTexts(0), globals);
    EXPECT_EQ(TheUnit().QueryZoneCount(), kZones);
    EXPECT_EQ(TheUnit().QueryZoneParamCount(), kZoneParams);
}

}  // namespace
