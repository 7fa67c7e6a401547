// The main window: start-up, menus, views, grids, title, geometry, closing,
// languages and the guard against missing texts.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMenu>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <sys/stat.h>

#include "GuiSupport.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "unit/Unit.h"

namespace {

const char* const kGlobals =
    "[GLOBAL_PARAM_00]\r\nDescription_d=Sollwert\r\nDescription_e=Setpoint\r\nMinVal=0\r\nMaxVal=500\r\nCommand=TSOLL\r\n"
    "[GLOBAL_PARAM_01]\r\nDescription_d=Adresse\r\nDescription_e=Address\r\nMinVal=5\r\nMaxVal=5\r\nCommand=ADDR\r\n"
    "[GLOBAL_PARAM_03]\r\nDescription_d=Rampe\r\nDescription_e=Ramp\r\nMinVal=0\r\nMaxVal=999\r\nCommand=RAMP\r\n";

class MainWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.CopyResource("English.lng");
        home.CopyResource("Deutsch.lng");
        home.Write("GLOBAL.INI", kGlobals);
        home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n" + PortsSection());
    }

    // Start-up up to the interface dialog, answered "work without a unit".
    void StartOffline(CDarozozazWindowsDlg& window)
    {
        script.ExpectDialog(WorkWithoutUnit);
        window.RunStartupSequence();
    }

    // A received unit with 4 zones and 12 zone parameters, as the grids see it.
    void FakeUnit()
    {
        CUnit& unit = TheUnit();
        unit.SetZoneCount(4);
        unit.SetZoneParamCount(12);
        for (int16_t z = 1; z <= 4; ++z) {
            unit.WriteSetValue(z, 100 + z);
            unit.SetActualValue(z, 90 + z);
            for (int16_t p = 1; p <= 12; ++p)
                unit.WriteZoneParam(z, p, 10 * z + p);
        }
        unit.WriteGlobalParam(1, 250);
        unit.WriteGlobalParam(2, 5);
        unit.WriteGlobalParam(3, -1);
    }

    TestDir home;
    DialogScript script;
};

}  // namespace

TEST_F(MainWindow, StartupRenumbersAsksForTheInterfaceThenLoadsDefinitions)
{
    home.Write("CONFIG.INI", "[COM_PORT]\r\nPort=3\r\nBaudrate=19200\r\n[GENERAL]\r\nLanguage=ENGLISH\r\n" + PortsSection());
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    // GLOBAL.INI renumbered before the dialog, loaded after it.
    EXPECT_NE(home.Read("GLOBAL.INI").find("[GLOBAL_PARAM_02]"), std::string::npos);
    EXPECT_EQ(TheUnit().GetGlobalParamCount(), 3);
    EXPECT_TRUE(script.Boxes().empty());
    // Offline: Devices, Communication, Parameters greyed; Open and Exit stay.
    CMenuBar& m = window.Menu();
    EXPECT_FALSE(m.IsMenuEnabled(menupos::kDevices));
    EXPECT_FALSE(m.IsMenuEnabled(menupos::kCommunication));
    EXPECT_FALSE(m.IsMenuEnabled(menupos::kParameters));
    EXPECT_TRUE(m.IsEnabled(cmd::kFileOpen));
    EXPECT_FALSE(m.IsEnabled(cmd::kFileSave));
    EXPECT_TRUE(m.IsEnabled(cmd::kExit));
    // The choice is remembered by the loader: Port=0, the baud rate kept.
    CIniFile config("CONFIG.INI", false);
    config.ReadString("COM_PORT", "Port");
    EXPECT_EQ(config.GetValue(), "0");
    config.ReadString("COM_PORT", "Baudrate");
    EXPECT_EQ(config.GetValue(), "19200");
}

TEST_F(MainWindow, StartupWithoutDefinitionsWarnsAndKeepsGlobalParametersGreyed)
{
    std::remove(home.File("GLOBAL.INI").c_str());
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].text, TheTextMemory().GetText(31));
    EXPECT_EQ(script.Boxes()[0].icon, MsgIcon::Error);
    EXPECT_TRUE(window.HasNoDefinitions());
    EXPECT_EQ(TheUnit().GetGlobalParamCount(), 0);

    // Even with unit data and unit items, Global parameters stays greyed.
    window.OnDevicesItem(3, "MZR 12");
    window.UpdateMenus(true);
    EXPECT_TRUE(window.Menu().IsEnabled(cmd::kZoneParams));
    EXPECT_FALSE(window.Menu().IsEnabled(cmd::kGlobalParams));
}

TEST_F(MainWindow, CancelInTheInterfaceDialogEndsTheRunWithNothingWritten)
{
    const std::string config = home.Read("CONFIG.INI");
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    script.ExpectDialog([](QDialog& dialog) { Child<QAbstractButton>(dialog, "2")->click(); });
    window.RunStartupSequence();
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(TheUnit().GetGlobalParamCount(), 0);  // nothing loaded
    EXPECT_EQ(home.Read("CONFIG.INI"), config);
}

TEST(MainWindowWithoutLanguage, ShowsTheBuiltInMessageAndEnds)
{
    TestDir home;
    DialogScript script;
    CDarozozazWindowsDlg window;
    EXPECT_FALSE(window.OnInitDialog());
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].caption, "Vorlent - Critical Error");
    EXPECT_NE(script.Boxes()[0].text.find("No language file was found!"), std::string::npos);
}

TEST_F(MainWindow, MenuStatesFollowUnitItemsAndUnitData)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    CMenuBar& m = window.Menu();

    // Without unit items the menus stay greyed whatever the data.
    window.UpdateMenus(true);
    EXPECT_FALSE(m.IsMenuEnabled(menupos::kCommunication));
    EXPECT_FALSE(m.IsMenuEnabled(menupos::kParameters));

    // Units found, nothing received: Receive and Load standard parameters only.
    window.OnDevicesItem(3, "TORVA08");
    window.OnDevicesItem(12, "MZR 120");
    window.UpdateMenus(false);
    EXPECT_TRUE(m.IsMenuEnabled(menupos::kCommunication));
    EXPECT_TRUE(m.IsEnabled(cmd::kReceiveParams));
    EXPECT_TRUE(m.IsEnabled(cmd::kLoadStandardParams));
    EXPECT_FALSE(m.IsEnabled(cmd::kSendParams));
    for (int id : {cmd::kGlobalParams, cmd::kZoneParams, cmd::kActualSetValues})
        EXPECT_FALSE(m.IsEnabled(id));

    // With unit data every view and Send.
    window.UpdateMenus(true);
    for (int id : {cmd::kSendParams, cmd::kGlobalParams, cmd::kZoneParams, cmd::kActualSetValues})
        EXPECT_TRUE(m.IsEnabled(id)) << id;

    // The unit items stand above the separator and Scan devices.
    QMenu* devices = m.Menu(menupos::kDevices);
    ASSERT_EQ(devices->actions().size(), 4);
    EXPECT_EQ(CMenuBar::IdOf(devices->actions()[0]), 33002);
    EXPECT_EQ(CMenuBar::IdOf(devices->actions()[1]), 33011);
    EXPECT_EQ(CMenuBar::IdOf(devices->actions()[3]), cmd::kScanDevices);
}

TEST_F(MainWindow, ShowViewSwitchesGridsChecksAndFileCommands)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    window.show();
    CMenuBar& m = window.Menu();

    window.ShowView(1);
    EXPECT_EQ(window.GetCurrentView(), 1);
    EXPECT_TRUE(window.Grid(1).isVisible());
    EXPECT_TRUE(m.IsChecked(cmd::kZoneParams));
    for (int id : {cmd::kFileOpen, cmd::kFileSaveAs, cmd::kComment, cmd::kFilePrint})
        EXPECT_TRUE(m.IsEnabled(id));
    EXPECT_FALSE(m.IsEnabled(cmd::kFileSave));  // keeps its state

    window.ShowView(2);
    EXPECT_FALSE(window.Grid(1).isVisible());
    EXPECT_TRUE(window.Grid(2).isVisible());
    EXPECT_FALSE(m.IsChecked(cmd::kZoneParams));
    EXPECT_TRUE(m.IsChecked(cmd::kActualSetValues));

    // Choosing the view on show from the menu changes nothing: its mark
    // stays, and a view not on show gets none from a mere click. (The menu
    // is on offer, as with a unit's data.)
    m.EnableMenu(menupos::kParameters, true);
    m.Find(cmd::kActualSetValues)->trigger();
    EXPECT_EQ(window.GetCurrentView(), 2);
    EXPECT_TRUE(m.IsChecked(cmd::kActualSetValues));
    m.Find(cmd::kZoneParams)->trigger();
    EXPECT_TRUE(m.IsChecked(cmd::kZoneParams));
    EXPECT_FALSE(m.IsChecked(cmd::kActualSetValues));
    window.ShowView(2);

    window.ShowView(-1);
    EXPECT_EQ(window.GetCurrentView(), -1);
    EXPECT_FALSE(window.Grid(2).isVisible());
    EXPECT_FALSE(m.IsChecked(cmd::kActualSetValues));
    for (int id : {cmd::kFileOpen, cmd::kFileSave, cmd::kFileSaveAs, cmd::kComment, cmd::kFilePrint})
        EXPECT_FALSE(m.IsEnabled(id));
}

TEST_F(MainWindow, FillGridBuildsEachGridFromTheRecord)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    FakeUnit();
    window.show();
    window.ShowView(1);

    for (int g = 0; g < 3; ++g)
        ASSERT_TRUE(window.FillGrid(g, false, false));
    const CTextMemory& texts = TheTextMemory();

    CMSFlexGrid& zones = window.Grid(1);
    EXPECT_EQ(zones.GetRows(), 5);
    EXPECT_EQ(zones.GetCols(), 13);
    EXPECT_EQ(zones.GetTextMatrix(3, 12), "42");
    EXPECT_EQ(zones.GetTextMatrix(3, 0), texts.GetText(49) + " 03");
    EXPECT_EQ(zones.GetTextMatrix(0, 12), texts.GetText(50) + " 12");
    EXPECT_EQ(zones.GetTextMatrix(0, 0), "");
    // Widths are minimums; a longer header widens its column.
    EXPECT_GE(zones.GetColWidth(0), 800);
    EXPECT_GE(zones.GetColWidth(5), 600);
    EXPECT_TRUE(zones.isVisible());  // the grid on show is shown again

    CMSFlexGrid& values = window.Grid(2);
    EXPECT_EQ(values.GetCols(), 3);
    EXPECT_EQ(values.GetTextMatrix(0, 1), texts.GetText(52));
    EXPECT_EQ(values.GetTextMatrix(0, 2), texts.GetText(53));
    EXPECT_EQ(values.GetTextMatrix(4, 1), "104");
    EXPECT_EQ(values.GetTextMatrix(4, 2), "94");
    EXPECT_GT(values.GetColWidth(2), 600);  // "Actual value" does not fit 600 twips
    EXPECT_FALSE(values.isVisible());  // not on show: stays hidden

    CMSFlexGrid& globals = window.Grid(0);
    EXPECT_EQ(globals.GetRows(), 4);
    EXPECT_GE(globals.GetColWidth(0), 2800);
    EXPECT_EQ(globals.GetTextMatrix(0, 1), texts.GetText(51));
    EXPECT_EQ(globals.GetTextMatrix(1, 0), "Setpoint");  // English descriptions
    EXPECT_EQ(globals.GetTextMatrix(1, 1), "250");
    EXPECT_EQ(globals.GetRowHeight(1), 300);
    EXPECT_EQ(globals.GetCellColour(1, 1), CMSFlexGrid::kWhite);
    EXPECT_EQ(globals.GetCellColour(2, 1), CMSFlexGrid::kSilver);  // MinVal = MaxVal
    EXPECT_EQ(globals.GetRowHeight(3), 0);  // no value: hidden
    EXPECT_EQ(globals.GetTextMatrix(3, 1), texts.GetText(56));

    // A later fill in which it has a value shows it again.
    TheUnit().WriteGlobalParam(3, 7);
    window.FillGrid(0, false, false);
    EXPECT_EQ(globals.GetRowHeight(3), 300);
}

TEST_F(MainWindow, TitleShowsTheFileNameAfterTheLastSeparator)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    const std::string title = TheTextMemory().GetText(0);
    // Linux takes a backslash as part of a file name; the title still shows
    // only what follows the last separator of either kind.
    const std::string paths[] = {home.File("Line2.7"), home.File("data\\Line2.7")};
    for (const std::string& path : paths) {
        SetFileDialogHook([&](const std::string&, const std::string&, const std::string&, std::string& chosen) {
            chosen = path;
            return true;
        });
        window.OnFileSaveAs();
        EXPECT_EQ(window.GetRecipePath(), path);
        EXPECT_EQ(window.windowTitle().toStdString(), title + " - Line2.7");
        window.UpdateTitle(false);
        EXPECT_EQ(window.windowTitle().toStdString(), title);
        EXPECT_TRUE(window.GetRecipePath().empty());
    }
    SetFileDialogHook(nullptr);
}

TEST_F(MainWindow, GeometryStartsAt900By600IsKeptForTheUserAndNeverShrinksBelowTheMinimum)
{
    QRect kept;
    {
        CDarozozazWindowsDlg window;
        ASSERT_TRUE(window.OnInitDialog());
        script.ExpectDialog(WorkWithoutUnit);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        // The status bar comes below the grids' 900 x 600; the grids fill
        // what the menu, the toolbar and the status bar leave.
        const auto* status = window.findChild<QStatusBar*>();
        ASSERT_NE(status, nullptr);
        const QSize first =
            QSize(900, 600 + status->height()).boundedTo(window.screen()->availableGeometry().size());
        EXPECT_EQ(window.size(), first);
        const int gridsHeight = first.height() - status->height();
        EXPECT_EQ(status->geometry(), QRect(0, gridsHeight, first.width(), status->height()));
        const QRect grid = window.Grid(0).geometry();
        EXPECT_EQ(grid.x(), 5);
        EXPECT_EQ(grid.width(), first.width() - 10);
        EXPECT_EQ(grid.bottom() + 1, gridsHeight - 5);

        window.resize(100, 50);
        EXPECT_GE(window.width(), 300);
        EXPECT_GE(window.height(), 200);

        // Moved and resized by the user: kept once the user lets go.
        window.move(40, 30);
        window.resize(700, 500);
        ASSERT_TRUE(WaitFor([&] { return home.Read("CONFIG.INI").find("[WINDOW]") != std::string::npos; }, 5000));
        kept = QRect(window.pos(), window.size());

        // A size change while minimised leaves the grids where they are.
        const QRect before = window.Grid(0).geometry();
        window.showMinimized();
        window.resize(800, 600);
        if (window.isMinimized()) {
            EXPECT_EQ(window.Grid(0).geometry(), before);
        }
    }
    CDarozozazWindowsDlg again;
    EXPECT_EQ(QRect(again.pos(), again.size()), kept);

    // A place on a screen that is gone is not restored.
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=ENGLISH\r\n[WINDOW]\r\nGeometry=-9000,-9000,700,500,0\r\n");
    CDarozozazWindowsDlg elsewhere;
    EXPECT_NE(elsewhere.pos(), QPoint(-9000, -9000));
}

TEST_F(MainWindow, TheCloseQuestionDecidesAndEscapeDoesNothing)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(script.Boxes().empty());

    script.AnswerNextBox(kIdNo);
    window.close();
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(script.Boxes()[0].icon, MsgIcon::Question);
    EXPECT_NE(script.Boxes()[0].text.find(TheTextMemory().GetText(0)), std::string::npos);

    script.AnswerNextBox(kIdYes);
    window.OnCommand(cmd::kExit);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(script.Boxes().size(), 2u);
}

TEST_F(MainWindow, LanguageMenuListsEveryFileAndPicksTheConfiguredOne)
{
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=english\r\n");
    {
        CDarozozazWindowsDlg window;
        ASSERT_TRUE(window.OnInitDialog());
        ASSERT_EQ(window.GetLanguages().size(), 2u);
        EXPECT_EQ(window.GetLanguages()[1].strFileName, "English.lng");
        EXPECT_EQ(window.GetCurrentLanguageId(), 33501);  // case ignored
        EXPECT_TRUE(window.Menu().IsChecked(33501));
        EXPECT_EQ(TheTextMemory().GetLanguageName(), "English");
    }
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=KLINGON\r\n");
    {
        CDarozozazWindowsDlg window;
        ASSERT_TRUE(window.OnInitDialog());
        EXPECT_EQ(window.GetCurrentLanguageId(), 33500);  // the first file
        EXPECT_EQ(TheTextMemory().GetLanguageName(), "Deutsch");
    }
    // 21 files: all listed, 33500 to 33520; the 21st cannot be chosen.
    for (int i = 0; i < 19; ++i) {
        const std::string name = "Lang" + std::string(1, static_cast<char>('a' + i)) + ".lng";
        home.Write(name, "[GENERAL]\r\nLanguage=L" + std::to_string(i) + "\r\nLastIndex=76\r\n[TEXT]\r\n000=T\r\n");
    }
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    ASSERT_EQ(window.GetLanguages().size(), 21u);
    EXPECT_EQ(window.GetLanguages().back().nCommandId, 33520);
    EXPECT_NE(window.Menu().Find(33520), nullptr);
    const int before = window.GetCurrentLanguageId();
    window.OnCommand(33520);
    EXPECT_EQ(window.GetCurrentLanguageId(), before);
}

TEST_F(MainWindow, MenuTextsComeByPositionAndUnitItemsKeepAddressAndType)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    const CTextMemory& texts = TheTextMemory();
    CMenuBar& m = window.Menu();
    for (int p = 0; p < 6; ++p)
        EXPECT_EQ(m.Menu(p)->title().toStdString(), texts.GetText(p + 1));
    EXPECT_EQ(m.Find(cmd::kFileOpen)->text().toStdString(), texts.GetText(7));
    EXPECT_EQ(m.Find(cmd::kExit)->text().toStdString(), texts.GetText(12));
    EXPECT_EQ(m.Find(cmd::kScanDevices)->text().toStdString(), texts.GetText(13));
    EXPECT_EQ(m.Find(cmd::kReceiveParams)->text().toStdString(), texts.GetText(15));
    EXPECT_EQ(m.Find(cmd::kLoadStandardParams)->text().toStdString(), texts.GetText(19));
    EXPECT_EQ(m.Find(cmd::kAbout)->text().toStdString(), texts.GetText(20));

    window.OnDevicesItem(5, "TORVA08");
    m.Find(33004)->setText("Gerät 05\tTORVA08");
    window.ApplyMenuTexts();
    EXPECT_EQ(m.Find(33004)->text().toStdString(), texts.GetText(57) + " 05\tTORVA08");
}

TEST_F(MainWindow, AMissingTextEndsTheActionWithAMessageAndTheProgramGoesOn)
{
    // A language file that stops at text 10: every menu text after it is
    // missing, and so is every dialog text.
    home.Write("Short.lng", "[GENERAL]\r\nLanguage=Short\r\nLastIndex=10\r\n[TEXT]\r\n000=Vorlent\r\n");
    home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=SHORT\r\n" + PortsSection());
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    ASSERT_FALSE(script.Boxes().empty());
    EXPECT_NE(script.Boxes()[0].text.find("text 11"), std::string::npos) << script.Boxes()[0].text;
    EXPECT_NE(script.Boxes()[0].text.find("Short.lng"), std::string::npos) << script.Boxes()[0].text;

    // A command that needs a missing text: a message, and the window stays.
    const std::size_t shown = script.Boxes().size();
    window.show();
    // text 57 is missing
    window.Guarded([&] { window.OnDevicesItem(3, "MZR"); });
    EXPECT_GT(script.Boxes().size(), shown);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(MainWindow, EveryMenuItemReachesItsCommand)
{
    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    StartOffline(window);
    window.show();
    window.ShowView(2);
    // The file commands carry the highest ids of the menu: each one chosen
    // from the menu must open its dialog.
    std::vector<std::string> asked;
    SetFileDialogHook([&](const std::string& kind, const std::string&, const std::string&, std::string&) {
        asked.push_back(kind);
        return false;
    });
    window.Menu().Find(cmd::kFileOpen)->trigger();
    window.Menu().Find(cmd::kFileSaveAs)->trigger();
    window.Menu().Find(cmd::kFileSave)->setEnabled(true);
    window.Menu().Find(cmd::kFileSave)->trigger();  // no path yet: Save as
    SetFileDialogHook(nullptr);
    EXPECT_EQ(asked, (std::vector<std::string>{"open", "save", "save"}));

    bool printed = false;
    script.ExpectDialog([&](QDialog& dialog) {
        printed = true;
        dialog.reject();
    });
    window.Menu().Find(cmd::kFilePrint)->trigger();
    EXPECT_TRUE(printed);

    window.Menu().Find(cmd::kZoneParams)->setEnabled(true);
    window.Menu().EnableMenu(menupos::kParameters, true);
    window.Menu().Find(cmd::kZoneParams)->trigger();
    EXPECT_EQ(window.GetCurrentView(), 1);
}
