// Load standard parameters against a simulated bus: the question, the
// address-1 rule of the units that move there, and the unit received again.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"

namespace {

// Set values 150, 151 now, 55, 56 after "XSTD=".
unitsim::SimUnitConfig Unit(int address, int azNumber, const std::string& type)
{
    unitsim::SimUnitConfig unit = MakeSimUnit(address, azNumber, 2, 3);
    unit.type = type;
    unit.setValues = {150, 151};
    unit.standardSetValues = {55, 56};
    unit.restartSeconds = 0.05;
    return unit;
}

class StandardParamsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        dir.CopyResource("GLOBAL.INI");
        script.ExpectDialog(WorkWithoutUnit);
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        window->show();
        ASSERT_TRUE(WaitFor([&] { return script.PendingDialogs() == 0; }));
        TheUnit().SetGlobalParams({});
    }

    // The line with its units serving, the record pointed at it, the units
    // listed in the Devices menu as a scan leaves them, and the one at
    // address received as after a pick.
    void Connect(const std::vector<std::pair<int, std::string>>& listed, int address)
    {
        line.Start();
        line.Attach(TheUnit(), 20);
        for (const auto& [a, type] : listed)
            window->OnDevicesItem(a, type);
        ExpectReceive();
        window->OnUnitPicked(address);
        ASSERT_EQ(script.PendingDialogs(), 0);
        ASSERT_EQ(Grid2SetValue(), "150");
        line.Bus().ClearRequests();
    }

    void ExpectReceive()
    {
        script.ExpectDialog([this](QDialog&) { ++receives; });
    }

    // The wait behind the progress dialog, left to end by itself; its range
    // is recorded once the worker has told it.
    void ExpectWait()
    {
        script.ExpectDialog([this](QDialog& dialog) {
            EXPECT_EQ(dialog.objectName(), "132");
            auto* bar = Child<QProgressBar>(dialog, "1101");
            ASSERT_NE(bar, nullptr);
            ++waits;
            WhenReady(dialog, [bar] { return bar->value() > 0; }, [this, bar] { waitRange = bar->maximum(); });
        });
    }

    void LoadStandard() { window->OnCommand(cmd::kLoadStandardParams); }

    std::string Grid2SetValue() { return window->Grid(2).GetTextMatrix(1, 1); }

    std::vector<int> DeviceIds()
    {
        std::vector<int> ids;
        for (QAction* action : window->Menu().Menu(menupos::kDevices)->actions())
            ids.push_back(CMenuBar::IdOf(action));
        return ids;
    }

    std::vector<unitsim::SimRequest> Requests() { return line.Bus().Requests(); }

    TestDir dir;
    DialogScript script;
    SimLine line;
    std::unique_ptr<CDarozozazWindowsDlg> window;
    int receives = 0;
    int waits = 0;
    int waitRange = -1;
};

TEST_F(StandardParamsTest, NoToTheQuestionSendsNothing)
{
    line.Bus().AddUnit(Unit(9, 42, "MZR 12"));
    Connect({{9, "MZR 12"}}, 9);
    script.AnswerNextBox(kIdNo);
    LoadStandard();
    ASSERT_EQ(script.Boxes().size(), 1u);
    const MessageBoxRequest& question = script.Boxes()[0];
    EXPECT_EQ(question.text, TheTextMemory().GetText(27));
    EXPECT_EQ(question.caption, TheTextMemory().GetText(0));
    EXPECT_EQ(question.icon, MsgIcon::Question);
    EXPECT_EQ(question.buttons, MsgButtons::YesNo);
    EXPECT_TRUE(question.bDefaultNo);
    EXPECT_TRUE(Requests().empty());
}

TEST_F(StandardParamsTest, AnotherUnitAtAddressOneRefusesAMovingUnit)
{
    line.Bus().AddUnit(Unit(5, 42, "TORVA08"));
    Connect({{1, "MZR 12"}, {5, "TORVA08"}}, 5);
    const std::vector<int> before = DeviceIds();
    LoadStandard();
    ASSERT_EQ(script.Boxes().size(), 2u);
    EXPECT_EQ(script.Boxes()[1].text, TheTextMemory().GetText(28));
    EXPECT_EQ(script.Boxes()[1].icon, MsgIcon::Warning);
    EXPECT_TRUE(Requests().empty());
    EXPECT_EQ(DeviceIds(), before);
    EXPECT_EQ(TheUnit().GetAddress(), 5);
}

TEST_F(StandardParamsTest, AMovingUnitIsPolledWhereItWasAndReceivedAtAddressOne)
{
    line.Bus().AddUnit(Unit(5, 42, "TORVA08"));
    // A second unit behind address 5 answers once the first has moved, so
    // the wait ends at its first poll instead of running for a minute.
    line.Bus().AddUnit(Unit(5, 77, "MZR 12"));
    Connect({{3, "MZR 12"}, {5, "TORVA08"}}, 5);
    ExpectWait();
    ExpectReceive();
    LoadStandard();

    const std::vector<int> expected{cmd::kFirstUnit, cmd::kFirstUnit + 2, 0, cmd::kScanDevices};
    EXPECT_EQ(DeviceIds(), expected);
    QAction* item = window->Menu().Find(cmd::kFirstUnit);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(S(item->text()), TheTextMemory().GetText(57) + " 01\tTORVA08");

    const std::vector<unitsim::SimRequest> requests = Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].text, "XSTD=");
    EXPECT_EQ(requests[0].address, 5);
    EXPECT_EQ(requests[1].text, "?AZ#=");
    EXPECT_EQ(requests[1].address, 5);
    EXPECT_EQ(requests.back().address, 1);
    EXPECT_EQ(receives, 2);
    EXPECT_EQ(TheUnit().GetAddress(), 1);
    EXPECT_FALSE(TheUnit().IsOffline());
    EXPECT_EQ(TheUnit().QueryAZNumber(), 42);
    EXPECT_EQ(Grid2SetValue(), "55");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(StandardParamsTest, AnyOtherUnitIsWaitedForAndReceivedAtItsAddress)
{
    unitsim::SimUnitConfig unit = Unit(9, 42, "MZR 12");
    unit.restartSeconds = 0.3;
    line.Bus().AddUnit(unit);
    Connect({{9, "MZR 12"}}, 9);
    const std::vector<int> before = DeviceIds();
    ExpectWait();
    ExpectReceive();
    LoadStandard();

    EXPECT_EQ(DeviceIds(), before);
    EXPECT_EQ(receives, 2);
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(waitRange, 375);  // polls at 20 ms: 60000 div 160
    EXPECT_EQ(TheUnit().GetAddress(), 9);
    EXPECT_EQ(Grid2SetValue(), "55");
    for (const unitsim::SimRequest& request : Requests())
        EXPECT_EQ(request.address, 9) << request.text;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(StandardParamsTest, AMovingUnitThatRefusesStaysWhereItIs)
{
    line.Bus().AddUnit(Unit(5, 42, "TORVA08"));
    line.Bus().AddFault(Fault(unitsim::FaultKind::Nak, "XSTD="));
    Connect({{5, "TORVA08"}}, 5);
    const std::vector<int> before = DeviceIds();
    ExpectWait();
    ExpectReceive();
    LoadStandard();

    EXPECT_EQ(DeviceIds(), before);
    EXPECT_EQ(receives, 2);
    EXPECT_EQ(TheUnit().GetAddress(), 5);
    EXPECT_EQ(Grid2SetValue(), "150");
    for (const unitsim::SimRequest& request : Requests())
        EXPECT_EQ(request.address, 5) << request.text;
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(StandardParamsTest, CancelEndsTheWaitAndGoesOnWithTheSelection)
{
    unitsim::SimUnitConfig unit = Unit(9, 42, "MZR 12");
    unit.restartSeconds = 30;
    line.Bus().AddUnit(unit);
    Connect({{9, "MZR 12"}}, 9);
    // The window takes the user's Cancel while the unit is still silent.
    script.ExpectDialog([this](QDialog& dialog) {
        auto* bar = Child<QProgressBar>(dialog, "1101");
        ASSERT_NE(bar, nullptr);
        WhenReady(dialog, [bar] { return bar->value() >= 2; }, [this, bar, &dialog] {
            EXPECT_EQ(bar->maximum(), 375);
            Child<QPushButton>(dialog, "2")->click();
            ++waits;
        });
    });
    ExpectReceive();
    LoadStandard();

    EXPECT_EQ(waits, 1);
    EXPECT_EQ(receives, 2);
    EXPECT_EQ(script.PendingDialogs(), 0);
    EXPECT_EQ(TheUnit().GetAddress(), 9);
    const std::vector<unitsim::SimRequest> requests = Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0].text, "XSTD=");
    // Polls of the wait, then the receive's first question after the Cancel.
    EXPECT_EQ(requests[1].text, "?AZ#=");
    EXPECT_LT(requests.size(), 3u * 375);
}

}  // namespace
