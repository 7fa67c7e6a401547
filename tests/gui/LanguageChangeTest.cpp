// The change of language at run time.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLineEdit>
#include <QRadioButton>

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

constexpr int kDeutsch = 33500;  // Deutsch.lng sorts first
constexpr int kEnglish = 33501;

class LanguageChange : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.CopyResource("English.lng");
        home.CopyResource("Deutsch.lng");
        home.Write("GLOBAL.INI",
                   "[GLOBAL_PARAM_00]\r\nDescription_d=Sollwert\r\nDescription_e=Setpoint\r\nMinVal=0\r\n"
                   "MaxVal=500\r\nCommand=TSOLL\r\n");
        home.Write("CONFIG.INI", "[GENERAL]\r\nLanguage=DEUTSCH\r\n");
        ASSERT_TRUE(window.OnInitDialog());
        script.ExpectDialog(WorkWithoutUnit);
        window.RunStartupSequence();
        CUnit& unit = TheUnit();
        unit.SetZoneCount(4);
        unit.SetZoneParamCount(3);
        unit.WriteGlobalParam(1, 250);
        for (int g = 0; g < 3; ++g)
            window.FillGrid(g, false, true);
        window.show();
        window.ShowView(1);
    }

    std::string Language()
    {
        CIniFile config("CONFIG.INI", false);
        config.ReadString("GENERAL", "Language");
        return config.GetValue();
    }

    TestDir home;
    DialogScript script;
    CDarozozazWindowsDlg window;
};

}  // namespace

TEST_F(LanguageChange, PickingTheActiveLanguageChangesNothing)
{
    const std::string config = home.Read("CONFIG.INI");
    window.Menu().Find(kDeutsch)->trigger();  // as the user picks it
    EXPECT_EQ(home.Read("CONFIG.INI"), config);
    EXPECT_EQ(window.GetCurrentLanguageId(), kDeutsch);
    EXPECT_TRUE(window.Menu().IsChecked(kDeutsch));
    EXPECT_FALSE(window.Menu().IsChecked(kEnglish));
}

TEST_F(LanguageChange, TextsDescriptionsAndSettingFollowThePick)
{
    EXPECT_EQ(window.Grid(0).GetTextMatrix(1, 0), "Sollwert");
    EXPECT_EQ(window.GetStatusText(0), "Arbeit ohne Gerät");
    // Qt's own buttons follow the file's Locale.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes").toStdString(), "&Ja");
    window.OnCommand(kEnglish);
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&Yes").toStdString(), "&Yes");
    EXPECT_EQ(Language(), "ENGLISH");
    EXPECT_EQ(TheTextMemory().GetLanguageName(), "English");
    EXPECT_TRUE(window.Menu().IsChecked(kEnglish));
    EXPECT_FALSE(window.Menu().IsChecked(kDeutsch));
    EXPECT_EQ(window.Grid(0).GetTextMatrix(1, 0), "Setpoint");
    EXPECT_EQ(window.Grid(1).GetTextMatrix(0, 2), TheTextMemory().GetText(50) + " 02");
    EXPECT_EQ(window.Menu().Find(cmd::kFileOpen)->text().toStdString(), TheTextMemory().GetText(7));
    EXPECT_EQ(window.windowTitle().toStdString(), TheTextMemory().GetText(0));
    EXPECT_EQ(window.GetStatusText(0), "Working without a unit");
}

TEST_F(LanguageChange, UnitItemsKeepAddressAndTypeAndTheTitleItsFile)
{
    window.OnDevicesItem(5, "TORVA08");
    SetFileDialogHook([&](const std::string&, const std::string&, const std::string&, std::string& path) {
        path = home.File("Line2.7");
        return true;
    });
    window.OnFileSaveAs();
    SetFileDialogHook(nullptr);

    window.OnCommand(kEnglish);
    EXPECT_EQ(window.Menu().Find(33004)->text().toStdString(), TheTextMemory().GetText(57) + " 05\tTORVA08");
    EXPECT_EQ(window.windowTitle().toStdString(), TheTextMemory().GetText(0) + " - Line2.7");
}

TEST_F(LanguageChange, KeepsMenuStatesAndYellowMarksAndDropsAnOpenEdit)
{
    // A unit selected: an edit is marked and listed, not stored.
    TheUnit().SetOffline(false);
    CMSFlexGrid& zones = window.Grid(1);
    zones.SetRow(2);
    zones.SetCol(3);
    window.StartCellEdit("77", true);
    window.CommitCellEdit();
    ASSERT_EQ(zones.GetCellColour(2, 3), CMSFlexGrid::kYellow);
    ASSERT_EQ(window.GetChangeCount(1), 1);
    const bool saveEnabled = window.Menu().IsEnabled(cmd::kFileSave);
    const bool sendEnabled = window.Menu().IsEnabled(cmd::kSendParams);

    zones.SetRow(3);
    window.StartCellEdit("55", true);
    ASSERT_TRUE(window.IsEditVisible());
    window.OnCommand(kEnglish);

    EXPECT_FALSE(window.IsEditVisible());
    EXPECT_EQ(zones.GetCellColour(2, 3), CMSFlexGrid::kYellow);
    EXPECT_EQ(window.GetChangeCount(1), 1);
    EXPECT_EQ(zones.GetTextMatrix(3, 3), "0");  // the dropped edit stored nothing
    EXPECT_EQ(window.Menu().IsEnabled(cmd::kFileSave), saveEnabled);
    EXPECT_EQ(window.Menu().IsEnabled(cmd::kSendParams), sendEnabled);
}

TEST_F(LanguageChange, AFileThatIsGoneOrIncompleteChangesNothing)
{
    home.Write("English.lng", "[GENERAL]\r\nLanguage=English\r\nLastIndex=40\r\n[TEXT]\r\n000=Vorlent\r\n");
    window.OnCommand(kEnglish);
    EXPECT_EQ(window.GetCurrentLanguageId(), kDeutsch);
    EXPECT_EQ(Language(), "DEUTSCH");
    EXPECT_EQ(TheTextMemory().GetLanguageName(), "Deutsch");

    std::remove(home.File("English.lng").c_str());
    window.OnCommand(kEnglish);
    EXPECT_EQ(window.GetCurrentLanguageId(), kDeutsch);
    EXPECT_TRUE(script.Boxes().empty());
}
