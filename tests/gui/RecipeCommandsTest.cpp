// Open, Save and Save as against a main window with real grids and files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "GuiSupport.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/MenuBar.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

namespace {

constexpr const char* kGlobalIni =
    "[GLOBAL_PARAM_00]\r\nDescription_d=Eins\r\nDescription_e=One\r\nMinVal=0\r\nMaxVal=500\r\nCommand=ONE\r\n"
    "[GLOBAL_PARAM_01]\r\nDescription_d=Zwei\r\nDescription_e=Two\r\nMinVal=0\r\nMaxVal=500\r\nCommand=TWO\r\n"
    "[GLOBAL_PARAM_02]\r\nDescription_d=Drei\r\nDescription_e=Three\r\nMinVal=0\r\nMaxVal=500\r\nCommand=THREE\r\n";

// Zone lines of six-character columns: actual, set, P01... per zone.
std::string Zones(std::initializer_list<std::initializer_list<int>> zones)
{
    std::string lines;
    char column[32];
    int z = 0;
    for (const auto& values : zones) {
        std::snprintf(column, sizeof column, "Zone%02d=", ++z);
        lines += column;
        for (int v : values) {
            std::snprintf(column, sizeof column, "%6d", v);
            lines += column;
        }
        lines += "\r\n";
    }
    return lines;
}

std::string Recipe(int az, const std::string& globals, const std::string& zones)
{
    return "[HEADER]\r\nID=VORLENT_RECIPE\r\n[UNIT]\r\nAZ-Number=" + std::to_string(az) + "\r\nUnit-Type=T" +
           std::to_string(az) + "\r\n[GLOBAL_PARAMETERS]\r\n" + globals + "[ZONE_PARAMETERS]\r\n" + zones;
}

class RecipeCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        if (bDefinitions)
            dir.Write("GLOBAL.INI", kGlobalIni);
        TheUnit().LoadDefinitions(false);
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
    }
    void TearDown() override { SetFileDialogHook(nullptr); }

    // AZ 7, two zones with two zone parameters; globals 1 = 10, 2 = 20, and
    // 3 not on the unit. The grids show it, view 2 on show.
    void MakeUnit(bool bOffline)
    {
        CUnit& unit = TheUnit();
        unit.SetOffline(true);
        unit.SetAZNumber(7);
        unit.SetZoneCount(2);
        unit.SetZoneParamCount(2);
        unit.SetComment("");
        for (int16_t z = 1; z <= 2; ++z) {
            unit.SetActualValue(z, 20 + z);
            unit.WriteSetValue(z, 100 + z);
            for (int16_t p = 1; p <= 2; ++p)
                unit.WriteZoneParam(z, p, 10 * z + p);
        }
        unit.WriteGlobalParam(1, 10);
        unit.WriteGlobalParam(2, 20);
        unit.WriteGlobalParam(3, -1);
        unit.SetOffline(bOffline);
        for (int g = 0; g < 3; ++g)
            window->FillGrid(g, false, false);
        window->ShowView(2);
    }

    // The next file dialogs choose name in the test directory ("" cancels);
    // what they were asked is kept. A typed name without an extension gets
    // the default one, as the real save dialog does.
    void Answer(const std::string& name)
    {
        SetFileDialogHook([this, name](const std::string&, const std::string& filter,
                                       const std::string& extension, std::string& path) {
            ++nDialogs;
            strFilter = filter;
            strExtension = extension;
            if (name.empty())
                return false;
            path = dir.File(name);
            if (name.find('.') == std::string::npos && !extension.empty())
                path += "." + extension;
            return true;
        });
    }

    std::string Title() const { return window->windowTitle().toStdString(); }
    CMSFlexGrid& Grid(int g) { return window->Grid(g); }

    bool bDefinitions = true;
    TestDir dir;
    DialogScript script;
    std::unique_ptr<CDarozozazWindowsDlg> window;
    int nDialogs = 0;
    std::string strFilter, strExtension;
};

TEST_F(RecipeCommandsTest, OfflineOpenTakesAnyUnitAndShowsItsValues)
{
    MakeUnit(true);
    dir.Write("other.12", Recipe(12, "01=5 - One\r\n", Zones({{31, 301, 1, 2, 3}, {32, 302, 4, 5, 6}, {33, 303, 7, 8, 9}})));
    Answer("other.12");
    window->OnFileOpen();

    EXPECT_EQ(strFilter, "All files (*.*)");
    CUnit& unit = TheUnit();
    EXPECT_EQ(unit.QueryAZNumber(), 12);
    EXPECT_EQ(unit.QueryZoneCount(), 3);
    EXPECT_EQ(unit.QueryZoneParamCount(), 3);
    EXPECT_EQ(window->GetCurrentView(), 2);
    EXPECT_EQ(Grid(2).GetTextMatrix(3, 1), "303");
    EXPECT_EQ(Grid(2).GetTextMatrix(3, 2), "33");
    EXPECT_EQ(Grid(1).GetTextMatrix(2, 3), "6");
    EXPECT_EQ(Grid(0).GetTextMatrix(1, 1), "5");
    EXPECT_EQ(Title(), "Vorlent - other.12");
    CMenuBar& menu = window->Menu();
    EXPECT_TRUE(menu.IsEnabled(cmd::kFileSave));
    EXPECT_TRUE(menu.IsMenuEnabled(menupos::kParameters));
    EXPECT_FALSE(menu.IsEnabled(cmd::kLoadStandardParams));
}

// The comparison pass: a recipe of the selected unit marks exactly the cells
// whose values it changes, and lists them for sending.
TEST_F(RecipeCommandsTest, OpenWithUnitMarksExactlyTheChangedCells)
{
    MakeUnit(false);
    Grid(2).SetRow(2);
    Grid(2).SetCol(1);

    // Equal values (global 2 missing from the file, global 3 on neither).
    dir.Write("same.7", Recipe(7, "01=10 - One\r\n", Zones({{21, 101, 11, 12}, {22, 102, 21, 22}})));
    Answer("same.7");
    window->OnFileOpen();
    EXPECT_EQ(strFilter, "Recipe files (*.7)");
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(window->GetChangeCount(g), 0) << "grid " << g;

    // Set value of zone 1, P02 of zone 2 and global 1 differ; the actual
    // values in the file never count.
    dir.Write("diff.7", Recipe(7, "01=55 - One\r\n", Zones({{99, 999, 11, 12}, {98, 102, 21, 77}})));
    Answer("diff.7");
    window->OnFileOpen();
    ASSERT_EQ(window->GetChangeCount(2), 1);
    EXPECT_EQ(window->GetChange(2, 0).nFirst, 1);
    EXPECT_EQ(window->GetChange(2, 0).nSecond, 1);
    ASSERT_EQ(window->GetChangeCount(1), 1);
    EXPECT_EQ(window->GetChange(1, 0).nFirst, 2);
    EXPECT_EQ(window->GetChange(1, 0).nSecond, 2);
    ASSERT_EQ(window->GetChangeCount(0), 1);
    EXPECT_EQ(window->GetChange(0, 0).nFirst, 1);
    EXPECT_EQ(window->GetChange(0, 0).nSecond, -1);

    EXPECT_EQ(Grid(2).GetTextMatrix(1, 1), "999");
    EXPECT_EQ(Grid(2).GetCellColour(1, 1), CMSFlexGrid::kYellow);
    EXPECT_EQ(Grid(2).GetTextMatrix(1, 2), "21");
    EXPECT_EQ(Grid(2).GetCellColour(1, 2), CMSFlexGrid::kWhite);
    EXPECT_EQ(Grid(2).GetCellColour(2, 1), CMSFlexGrid::kWhite);
    EXPECT_EQ(Grid(1).GetTextMatrix(2, 2), "77");
    EXPECT_EQ(Grid(1).GetCellColour(2, 2), CMSFlexGrid::kYellow);
    EXPECT_EQ(Grid(0).GetCellColour(1, 1), CMSFlexGrid::kYellow);
    EXPECT_EQ(Grid(0).GetCellColour(3, 1), CMSFlexGrid::kWhite);
    // The view's current cell is where the user left it.
    EXPECT_EQ(Grid(2).GetRow(), 2);
    EXPECT_EQ(Grid(2).GetCol(), 1);
}

// Values with more digits than the unit's (five at most) would be sent with
// them: they are left unmarked, the record keeps the unit's, and one message
// counts them and names the first.
TEST_F(RecipeCommandsTest, OpenWithUnitLeavesValuesTheUnitCannotTakeAndSaysSo)
{
    MakeUnit(false);
    dir.Write("wide.7", Recipe(7, "01=10 - One\r\n", Zones({{21, 123456, 11, 12}, {22, 102, 100000, 77}})));
    Answer("wide.7");
    window->OnFileOpen();

    EXPECT_EQ(window->GetChangeCount(2), 0);
    ASSERT_EQ(window->GetChangeCount(1), 1);
    EXPECT_EQ(window->GetChange(1, 0).nFirst, 2);
    EXPECT_EQ(Grid(1).GetCellColour(2, 2), CMSFlexGrid::kYellow);
    const struct
    {
        int grid, row, col;
        const char* text;
        int32_t recorded;
    } kept[] = {{2, 1, 1, "101", TheUnit().ReadSetValue(1)}, {1, 2, 1, "21", TheUnit().ReadZoneParam(2, 1)}};
    for (const auto& c : kept) {
        EXPECT_EQ(Grid(c.grid).GetTextMatrix(c.row, c.col), c.text);
        EXPECT_EQ(Grid(c.grid).GetCellColour(c.row, c.col), CMSFlexGrid::kWhite);
        EXPECT_EQ(std::to_string(c.recorded), c.text);
    }
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].text,
              "The unit cannot take 2 values of the recipe: they have more digits than its values.\n"
              "They are not marked for sending. The first: Zone 02, Par. 01: 100000");
}

TEST_F(RecipeCommandsTest, SaveAsNamesTheFileAndSaveWritesItAgain)
{
    MakeUnit(false);
    // Save without a recipe asks for a name, with the AZ number as extension.
    Answer("Line2");
    window->OnFileSave();
    EXPECT_EQ(strExtension, "7");
    EXPECT_EQ(strFilter, "Recipe files (*.7)");
    ASSERT_TRUE(dir.Exists("Line2.7"));
    EXPECT_EQ(window->GetRecipePath(), dir.File("Line2.7"));
    EXPECT_EQ(Title(), "Vorlent - Line2.7");
    EXPECT_TRUE(window->Menu().IsEnabled(cmd::kFileSave));

    TheUnit().SetComment("second");
    window->OnFileSave();
    EXPECT_EQ(nDialogs, 1);
    EXPECT_NE(dir.Read("Line2.7").find("Comment=second"), std::string::npos);

    // Cancelling Save as keeps the current file.
    Answer("");
    window->OnFileSaveAs();
    EXPECT_EQ(window->GetRecipePath(), dir.File("Line2.7"));
}

TEST_F(RecipeCommandsTest, FileDialogsStartAtTheRecipeElseAtTheFolderLastUsed)
{
    MakeUnit(true);
    ASSERT_EQ(mkdir(dir.File("line").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.File("other").c_str(), 0700), 0);
    dir.Write("other/notes.txt", "not a recipe");
    std::vector<std::pair<std::string, std::string>> asked;  // kind, start
    auto answer = [&](const std::string& name) {
        SetFileDialogRequestHook([&, name](const FileDialogRequest& request, std::string& path) {
            asked.emplace_back(request.kind, request.startPath);
            path = dir.File(name);
            return true;
        });
    };

    answer("line/Line2.7");
    window->OnFileSaveAs();       // nothing used yet: the dialog's own choice
    window->OnFileSaveAs();       // the recipe's name, in its folder
    answer("other/notes.txt");
    window->OnFileOpen();         // the recipe's folder; not a recipe: no current file
    window->OnFileOpen();         // the folder last used
    SetFileDialogRequestHook(nullptr);

    const std::vector<std::pair<std::string, std::string>> expected{
        {"save", ""},
        {"save", dir.File("line/Line2.7")},
        {"open", dir.File("line")},
        {"open", dir.File("other")},
    };
    EXPECT_EQ(asked, expected);
    EXPECT_EQ(window->GetRecipePath(), "");
}

TEST_F(RecipeCommandsTest, RejectedOpenKeepsTheFileThatWasCurrent)
{
    MakeUnit(false);
    Answer("mine.7");
    window->OnFileSaveAs();
    const std::string other = Recipe(9, "01=1 - One\r\n", Zones({{1, 2, 3, 4}}));
    dir.Write("other.9", other);
    dir.Write("notes.7", "just text\r\n");

    // Another unit's recipe: the warning, and mine.7 stays current.
    Answer("other.9");
    window->OnFileOpen();
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].text, TheTextMemory().GetText(29));
    EXPECT_EQ(script.Boxes()[0].icon, MsgIcon::Warning);
    EXPECT_EQ(window->GetRecipePath(), dir.File("mine.7"));
    EXPECT_EQ(Title(), "Vorlent - mine.7");

    TheUnit().SetComment("after");
    window->OnFileSave();
    EXPECT_EQ(dir.Read("other.9"), other);
    EXPECT_NE(dir.Read("mine.7").find("Comment=after"), std::string::npos);

    // Not a recipe: the stop box, and no current file at all.
    Answer("notes.7");
    window->OnFileOpen();
    ASSERT_EQ(script.Boxes().size(), 2u);
    EXPECT_EQ(script.Boxes()[1].text, TheTextMemory().GetText(34));
    EXPECT_EQ(script.Boxes()[1].icon, MsgIcon::Error);
    EXPECT_EQ(window->GetRecipePath(), "");
    EXPECT_EQ(Title(), "Vorlent");
}

TEST_F(RecipeCommandsTest, FailedSaveSaysSoAndKeepsTheOldFile)
{
    MakeUnit(false);
    Answer("kept.7");
    window->OnFileSaveAs();
    const std::string before = dir.Read("kept.7");
    ASSERT_FALSE(before.empty());

    chmod(dir.Path().c_str(), 0555);
    TheUnit().SetComment("lost");
    window->OnFileSave();
    // Save as to a new name fails the same way and does not take the name.
    Answer("new.7");
    window->OnFileSaveAs();
    chmod(dir.Path().c_str(), 0755);

    ASSERT_EQ(script.Boxes().size(), 2u);
    for (const MessageBoxRequest& box : script.Boxes()) {
        EXPECT_EQ(box.text, TheTextMemory().GetText(76));
        EXPECT_EQ(box.caption, "Vorlent");
        EXPECT_EQ(box.icon, MsgIcon::Error);
    }
    EXPECT_EQ(dir.Read("kept.7"), before);
    EXPECT_FALSE(dir.Exists("new.7"));
    EXPECT_EQ(window->GetRecipePath(), dir.File("kept.7"));
    EXPECT_EQ(Title(), "Vorlent - kept.7");

    // A value too wide for its column fails as well; a language file
    // without text 76 gets the built-in wording.
    std::string english = dir.Read("English.lng");
    const auto lastIndex = english.find("LastIndex=");
    english.replace(lastIndex, english.find('\r', lastIndex) - lastIndex, "LastIndex=75");
    dir.Write("Short.lng", english);
    ASSERT_TRUE(TheTextMemory().Load("Short.lng"));
    TheUnit().WriteSetValue(1, 1234567);
    window->OnFileSave();
    ASSERT_EQ(script.Boxes().size(), 3u);
    EXPECT_EQ(script.Boxes()[2].text, "The recipe file could not be saved.");
    EXPECT_EQ(dir.Read("kept.7"), before);
}

class RecipeWithoutDefinitionsTest : public RecipeCommandsTest
{
protected:
    RecipeWithoutDefinitionsTest() { bDefinitions = false; }
};

TEST_F(RecipeWithoutDefinitionsTest, OfflineOpenKeepsGlobalParametersGreyed)
{
    // Start-up without GLOBAL.INI: the box, then the interface dialog,
    // confirmed as it stands (the record is offline).
    TheUnit().SetOffline(true);
    script.ExpectDialog([](QDialog& dialog) { dialog.QDialog::accept(); });
    window->RunStartupSequence();
    ASSERT_TRUE(window->HasNoDefinitions());
    ASSERT_TRUE(TheUnit().IsOffline());

    dir.Write("any.3", Recipe(3, "", Zones({{1, 2, 3}})));
    Answer("any.3");
    window->OnFileOpen();
    EXPECT_FALSE(window->Menu().IsEnabled(cmd::kGlobalParams));
}

}  // namespace
