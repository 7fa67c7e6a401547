// The bus scan against a simulated bus: what the dialog shows, what the
// Devices menu lists, which unit the main window receives afterwards, and
// how Cancel, a lost adapter and a garbling unit end a scan.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
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
#include "platform/AutoResetEvent.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/QtText.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"
#include "workflows/qt/DlgScanDevices.h"
#include "workflows/Jobs.h"

namespace {

const std::vector<int> kOnlyScanItem{0, cmd::kScanDevices};

QRadioButton* Radio(QWidget& dialog, int a) { return Child<QRadioButton>(dialog, std::to_string(1006 + a).c_str()); }

std::string Label(QWidget& dialog, int id)
{
    QLabel* label = Child<QLabel>(dialog, std::to_string(id).c_str());
    return label ? S(label->text()) : std::string("<no control ") + std::to_string(id) + ">";
}

std::string AZField(QWidget& dialog, int a) { return Label(dialog, 1036 + a); }
std::string TypeField(QWidget& dialog, int a) { return Label(dialog, 1066 + a); }

QPushButton* CancelButton(QWidget& dialog) { return Child<QPushButton>(dialog, "2"); }

unitsim::SimUnitConfig Unit(int address, int azNumber, const std::string& type, int firstSetValue)
{
    unitsim::SimUnitConfig unit = MakeSimUnit(address, azNumber, 2, 2);
    unit.type = type;
    unit.setValues = {firstSetValue, firstSetValue + 1};
    return unit;
}

class ScanTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        TheUnit().SetGlobalParams({});
    }

    void TearDown() override { SetFileDialogHook(nullptr); }

    void StartLine(SimLine& on)
    {
        on.Start();
        on.Attach(TheUnit(), 30);
    }

    // The next modal dialog is the scan: handler works it. A handler that
    // fails leaves no dialog open behind it.
    void ExpectScan(std::function<void(CDlgScanDevices&)> handler)
    {
        script.ExpectDialog([handler](QDialog& dialog) {
            auto* scan = dynamic_cast<CDlgScanDevices*>(&dialog);
            if (!scan) {
                ADD_FAILURE() << "not the scan dialog: " << dialog.objectName().toStdString();
                dialog.done(QDialog::Rejected);
                return;
            }
            handler(*scan);
            if (::testing::Test::HasFailure() && scan->isVisible())
                scan->done(QDialog::Rejected);
        });
    }

    // A receive that runs its course.
    void ExpectReceive()
    {
        script.ExpectDialog([this](QDialog&) { ++receives; });
    }

    // The next modal dialog is the scan: action works it once the scan has
    // ended, from a timer of the dialog's (see WhenReady).
    void ExpectScanEnd(std::function<void(CDlgScanDevices&)> action)
    {
        ExpectScan([action](CDlgScanDevices& scan) {
            WhenReady(scan, [&scan] { return !scan.IsScanning(); }, [&scan, action] {
                action(scan);
                if (::testing::Test::HasFailure() && scan.isVisible())
                    scan.done(QDialog::Rejected);
            }, 30000);
        });
    }

    // The next modal dialog is the scan, which closes by itself; atClose
    // looks at it then. One that stays open fails the test and is closed.
    void ExpectScanToClose(std::function<void(CDlgScanDevices&)> atClose = {})
    {
        ExpectScan([atClose](CDlgScanDevices& scan) {
            if (atClose)
                QObject::connect(&scan, &QDialog::finished, &scan, [&scan, atClose] { atClose(scan); });
            WhenReady(scan, [&scan] { return !scan.isVisible(); }, [] {}, 30000);
        });
    }

    // At the first request to address whose text begins with prefix, runs
    // action with the modal dialog on show, from the event loop; the bus
    // goes on meanwhile.
    void AtRequest(int address, const std::string& prefix, std::function<void(QWidget&)> action)
    {
        auto fired = std::make_shared<std::atomic<bool>>(false);
        line.Bus().SetRequestObserver([=](const unitsim::SimRequest& request) {
            if (request.address != address || request.text.rfind(prefix, 0) != 0 || fired->exchange(true))
                return;
            QTimer::singleShot(0, qApp, [action] {
                if (QWidget* modal = QApplication::activeModalWidget())
                    action(*modal);
            });
        });
    }

    std::vector<int> DeviceIds()
    {
        std::vector<int> ids;
        for (QAction* action : window->Menu().Menu(menupos::kDevices)->actions())
            ids.push_back(CMenuBar::IdOf(action));
        return ids;
    }

    int HighestAddressPolled()
    {
        int highest = 0;
        for (const unitsim::SimRequest& request : line.Bus().Requests())
            highest = std::max(highest, request.address);
        return highest;
    }

    TestDir dir;
    DialogScript script;
    SimLine line;
    std::unique_ptr<CDarozozazWindowsDlg> window;
    int receives = 0;
};

TEST_F(ScanTest, TheFirstUnitFoundIsPreselectedAndAClickPicksAnother)
{
    line.Bus().AddUnit(Unit(3, 1103, "MZR 12", 150));
    line.Bus().AddUnit(Unit(12, 1112, "TORVA08", 250));
    StartLine(line);

    struct Case
    {
        const char* name;
        int click;  // 0: none
        int picked;
        const char* setValue;
        bool bEnter;  // Enter, the default Receive button; else Close
    };
    const Case cases[] = {{"closed without a click", 0, 3, "150", false},
                          {"a click on 12, then Enter", 12, 12, "250", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectScanEnd([&](CDlgScanDevices& scan) {
            for (int a = 1; a <= 30; ++a) {
                ASSERT_NE(Radio(scan, a), nullptr);
                EXPECT_EQ(Radio(scan, a)->isEnabled(), a == 3 || a == 12) << a;
                EXPECT_EQ(Radio(scan, a)->isChecked(), a == 3) << a;
                EXPECT_EQ(S(Radio(scan, a)->text()), (a < 10 ? "G0" : "G") + std::to_string(a));
            }
            EXPECT_EQ(AZField(scan, 3), "1103");
            EXPECT_EQ(TypeField(scan, 3), "MZR 12");
            EXPECT_EQ(AZField(scan, 12), "1112");
            EXPECT_EQ(TypeField(scan, 12), "TORVA08");
            EXPECT_EQ(AZField(scan, 7), "");
            const std::vector<int> listed{cmd::kFirstUnit + 2, cmd::kFirstUnit + 11, 0, cmd::kScanDevices};
            EXPECT_EQ(DeviceIds(), listed);
            QAction* item = window->Menu().Find(cmd::kFirstUnit + 2);
            ASSERT_NE(item, nullptr);
            EXPECT_EQ(S(item->text()), TheTextMemory().GetText(57) + " 03\tMZR 12");

            if (c.click != 0)
                QTest::mouseClick(Radio(scan, c.click), Qt::LeftButton);
            EXPECT_EQ(scan.GetSelectedAddress(), c.picked);
            auto* receive = Child<QPushButton>(scan, "receive");
            ASSERT_NE(receive, nullptr);
            EXPECT_TRUE(receive->isDefault());
            EXPECT_TRUE(receive->isEnabled());
            if (c.bEnter)
                QTest::keyClick(&scan, Qt::Key_Return);
            else
                CancelButton(scan)->click();
            EXPECT_FALSE(scan.isVisible());
            EXPECT_EQ(scan.result(), QDialog::Accepted);
        });
        ExpectReceive();
        window->OnScanDevices();

        EXPECT_EQ(script.PendingDialogs(), 0);
        EXPECT_EQ(TheUnit().GetAddress(), c.picked);
        EXPECT_FALSE(TheUnit().IsOffline());
        EXPECT_EQ(window->GetCurrentView(), 2);
        EXPECT_EQ(window->Grid(2).GetTextMatrix(1, 1), c.setValue);
        EXPECT_EQ(window->Menu().IsChecked(cmd::kFirstUnit - 1 + c.picked), true);
        EXPECT_EQ(window->Menu().IsChecked(cmd::kFirstUnit - 1 + (c.picked == 3 ? 12 : 3)), false);
    }
    EXPECT_EQ(receives, 2);
}

TEST_F(ScanTest, CancelWhileAnAddressIsPolledStopsTheScanAfterIt)
{
    line.Bus().AddUnit(Unit(3, 1103, "MZR 12", 150));
    line.Bus().AddUnit(Unit(12, 1112, "TORVA08", 250));
    StartLine(line);
    // Address 7 is silent: the worker waits for the bus while the dialog
    // takes the click.
    std::string markerAtClick;
    int progressAtClick = -1, progressRange = -1;
    bool bReceiveWhileScanning = true;
    AtRequest(7, "?AZ#=", [&](QWidget& dialog) {
        markerAtClick = AZField(dialog, 7);
        // Unit 3 is picked, but Enter must not end a scan half way.
        bReceiveWhileScanning = Child<QPushButton>(dialog, "receive")->isEnabled();
        if (auto* bar = dialog.findChild<QProgressBar*>("1130")) {
            progressAtClick = bar->value();
            progressRange = bar->maximum();
        }
        CancelButton(dialog)->click();
    });

    ExpectScanToClose();
    ExpectReceive();
    window->OnScanDevices();

    EXPECT_EQ(markerAtClick, "?");
    EXPECT_FALSE(bReceiveWhileScanning);
    EXPECT_EQ(progressAtClick, 7);  // the address polled, of 30
    EXPECT_EQ(progressRange, 30);
    EXPECT_EQ(HighestAddressPolled(), 7);
    const std::vector<int> listed{cmd::kFirstUnit + 2, 0, cmd::kScanDevices};
    EXPECT_EQ(DeviceIds(), listed);
    EXPECT_EQ(receives, 1);
    EXPECT_EQ(TheUnit().GetAddress(), 3);
    EXPECT_EQ(window->GetCurrentView(), 2);
}

TEST_F(ScanTest, AStaleStopRequestDoesNotStopTheNextScan)
{
    line.Bus().AddUnit(Unit(2, 1102, "MZR 12", 150));
    StartLine(line);
    // A Cancel that came after the last scan's final test.
    ScanStopEvent().Set();
    AtRequest(3, "?AZ#=", [](QWidget& dialog) { CancelButton(dialog)->click(); });

    ExpectScanToClose([](CDlgScanDevices& scan) { EXPECT_TRUE(Radio(scan, 2)->isEnabled()); });
    ExpectReceive();
    window->OnScanDevices();

    EXPECT_EQ(HighestAddressPolled(), 3);
    EXPECT_EQ(TheUnit().GetAddress(), 2);
    EXPECT_EQ(receives, 1);
}

TEST_F(ScanTest, WithoutAUnitTheRecordGoesOfflineAndOpenIsEnabled)
{
    struct Case
    {
        const char* name;
        bool bPort;
    };
    StartLine(line);
    for (const Case c : {Case{"an empty bus", true}, Case{"a port that cannot be opened", false}}) {
        SCOPED_TRACE(c.name);
        TheUnit().SetOffline(false);
        window->Menu().Enable(cmd::kFileOpen, false);
        const std::size_t boxesBefore = script.Boxes().size();
        if (!c.bPort)
            TheUnit().GetComPort().SetDeviceOverride(dir.File("no-such-port"));

        if (!c.bPort) {
            ExpectScanToClose();
        } else {
            ExpectScanEnd([](CDlgScanDevices& scan) {
                for (int a = 1; a <= 30; ++a)
                    EXPECT_FALSE(Radio(scan, a)->isEnabled()) << a;
                EXPECT_EQ(scan.GetSelectedAddress(), 0);
                CancelButton(scan)->click();
            });
        }
        window->OnScanDevices();

        EXPECT_EQ(script.PendingDialogs(), 0);
        EXPECT_TRUE(TheUnit().IsOffline());
        EXPECT_FALSE(TheUnit().IsPortOpen());
        EXPECT_TRUE(window->Menu().IsEnabled(cmd::kFileOpen));
        EXPECT_EQ(DeviceIds(), kOnlyScanItem);
        EXPECT_FALSE(window->Menu().IsMenuEnabled(menupos::kCommunication));
        EXPECT_FALSE(window->Menu().IsMenuEnabled(menupos::kParameters));
        EXPECT_EQ(window->GetCurrentView(), -1);

        EXPECT_EQ(window->GetStatusText(0), "Working without a unit");
        const std::vector<MessageBoxRequest>& boxes = script.Boxes();
        if (c.bPort) {
            EXPECT_EQ(boxes.size(), boxesBefore);
        } else {
            EXPECT_EQ(window->GetStatusText(2), "The serial port could not be opened");
            ASSERT_EQ(boxes.size(), boxesBefore + 1);
            EXPECT_EQ(boxes.back().text, TheTextMemory().GetText(32));
            EXPECT_EQ(boxes.back().caption, TheTextMemory().GetText(0));
            EXPECT_EQ(boxes.back().icon, MsgIcon::Error);
        }
    }
}

TEST_F(ScanTest, AnAdapterUnpluggedDuringAScanEndsItWithTheUnitsFoundSoFar)
{
    line.Bus().AddUnit(Unit(3, 1103, "MZR 12", 150));
    line.Bus().AddUnit(Unit(12, 1112, "TORVA08", 250));
    unitsim::SimFault unplug = Fault(unitsim::FaultKind::Disconnect, "");
    unplug.address = 5;
    line.Bus().AddFault(unplug);
    StartLine(line);

    ExpectScanEnd([](CDlgScanDevices& scan) {
        EXPECT_TRUE(Radio(scan, 3)->isEnabled());
        EXPECT_FALSE(Radio(scan, 12)->isEnabled());
        CancelButton(scan)->click();
    });
    // The pick's receive finds no port any more.
    ExpectReceive();
    window->OnScanDevices();

    const std::vector<int> listed{cmd::kFirstUnit + 2, 0, cmd::kScanDevices};
    EXPECT_EQ(DeviceIds(), listed);
    ASSERT_FALSE(script.Boxes().empty());
    EXPECT_EQ(script.Boxes().back().text, TheTextMemory().GetText(32));
    EXPECT_EQ(window->GetCurrentView(), -1);
    EXPECT_FALSE(TheUnit().IsPortOpen());

    // The adapter is back, behind another device path.
    SimLine back;
    back.Bus().AddUnit(Unit(3, 1103, "MZR 12", 150));
    back.Bus().AddUnit(Unit(12, 1112, "TORVA08", 250));
    StartLine(back);
    ExpectScanEnd([](CDlgScanDevices& scan) {
        EXPECT_TRUE(Radio(scan, 12)->isEnabled());
        QTest::mouseClick(Radio(scan, 12), Qt::LeftButton);
        CancelButton(scan)->click();
    });
    ExpectReceive();
    window->OnScanDevices();

    EXPECT_EQ(script.PendingDialogs(), 0);
    const std::vector<int> both{cmd::kFirstUnit + 2, cmd::kFirstUnit + 11, 0, cmd::kScanDevices};
    EXPECT_EQ(DeviceIds(), both);
    EXPECT_EQ(TheUnit().GetAddress(), 12);
    EXPECT_EQ(window->GetCurrentView(), 2);
    EXPECT_EQ(window->Grid(2).GetTextMatrix(1, 1), "250");
}

TEST_F(ScanTest, AUnitThatAnswersOnlyWithNoiseCountsAsAbsent)
{
    line.Bus().AddUnit(Unit(3, 1103, "MZR 12", 150));
    line.Bus().AddUnit(Unit(5, 1105, "MZR 12", 250));
    unitsim::SimFault noise = Fault(unitsim::FaultKind::Noise, "");
    noise.noise = "\x55\xAA\x03";
    noise.address = 5;
    unitsim::SimFault broken = Fault(unitsim::FaultKind::BadChecksum, "");
    broken.address = 5;
    line.Bus().AddFault(noise);
    line.Bus().AddFault(broken);
    StartLine(line);

    ExpectScanEnd([](CDlgScanDevices& scan) {
        EXPECT_TRUE(Radio(scan, 3)->isEnabled());
        EXPECT_FALSE(Radio(scan, 5)->isEnabled());
        EXPECT_EQ(AZField(scan, 5), "");
        CancelButton(scan)->click();
    });
    ExpectReceive();
    window->OnScanDevices();

    const std::vector<int> listed{cmd::kFirstUnit + 2, 0, cmd::kScanDevices};
    EXPECT_EQ(DeviceIds(), listed);
    EXPECT_EQ(TheUnit().GetAddress(), 3);
    EXPECT_EQ(window->GetCurrentView(), 2);
}

TEST_F(ScanTest, ADialogDestroyedWhileScanningStopsTheWorkerAndClosesTheLink)
{
    StartLine(line);
    ExpectScan([](CDlgScanDevices& scan) {
        // The run ends without the dialog's own close, as when the program
        // quits under it.
        WhenReady(scan, [&scan] { return AZField(scan, 2) == "?"; }, [&scan] { scan.done(QDialog::Accepted); });
    });
    window->OnScanDevices();

    EXPECT_FALSE(TheUnit().IsPortOpen());
    EXPECT_LE(HighestAddressPolled(), 3);
    EXPECT_TRUE(TheUnit().IsOffline());
    EXPECT_EQ(script.PendingDialogs(), 0);
}

TEST_F(ScanTest, APickedOrChosenUnitIsReceivedAndTheOpenRecipeIsForgotten)
{
    line.Bus().AddUnit(Unit(3, 1103, "MZR 12", 150));
    line.Bus().AddUnit(Unit(12, 1112, "TORVA08", 250));
    StartLine(line);
    window->OnDevicesItem(3, "MZR 12");
    window->OnDevicesItem(12, "TORVA08");
    ExpectReceive();
    window->OnUnitPicked(3);
    ASSERT_EQ(window->GetCurrentView(), 2);

    // A recipe of the unit on show is open: its path is in the title and
    // Save writes to it.
    const auto openRecipe = [&] {
        const std::string path = dir.File("unit." + std::to_string(TheUnit().QueryAZNumber()));
        ASSERT_TRUE(WriteRecipe(TheUnit(), TheTextMemory(), path));
        SetFileDialogHook([path](const std::string&, const std::string&, const std::string&, std::string& chosen) {
            chosen = path;
            return true;
        });
        window->OnFileOpen();
        ASSERT_EQ(window->GetRecipePath(), path);
        ASSERT_TRUE(window->Menu().IsEnabled(cmd::kFileSave));
        ASSERT_NE(S(window->windowTitle()), TheTextMemory().GetText(0));
    };
    const auto expectRecipeForgotten = [&] {
        EXPECT_EQ(window->GetRecipePath(), "");
        EXPECT_EQ(S(window->windowTitle()), TheTextMemory().GetText(0));
        EXPECT_FALSE(window->Menu().IsEnabled(cmd::kFileSave));
    };

    openRecipe();
    ExpectReceive();
    window->OnUnitPicked(12);
    expectRecipeForgotten();
    EXPECT_EQ(window->Grid(2).GetTextMatrix(1, 1), "250");
    EXPECT_TRUE(window->Menu().IsChecked(cmd::kFirstUnit + 11));
    EXPECT_FALSE(window->Menu().IsChecked(cmd::kFirstUnit + 2));

    // A unit item chosen from the Devices menu, while the record is offline
    // as a scan that found no port leaves it.
    openRecipe();
    TheUnit().SetOffline(true);
    ExpectReceive();
    window->OnCommand(cmd::kFirstUnit + 2);
    expectRecipeForgotten();
    EXPECT_EQ(TheUnit().GetAddress(), 3);
    EXPECT_FALSE(TheUnit().IsOffline());
    EXPECT_EQ(window->Grid(2).GetTextMatrix(1, 1), "150");
    EXPECT_TRUE(window->Menu().IsChecked(cmd::kFirstUnit + 2));
    EXPECT_FALSE(window->Menu().IsChecked(cmd::kFirstUnit + 11));
    EXPECT_EQ(receives, 3);
}

}  // namespace
