// The window's change record of its sends, the question when there is no
// record, and the comparison with a recipe, against a simulated unit.
#include <QLineEdit>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <mutex>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/QtText.h"
#include "recipe/Recipe.h"
#include "records/ChangeRecord.h"
#include "records/qt/DlgCompare.h"
#include "unit/Unit.h"

namespace {

constexpr int kAddress = 4;

class RecordsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        std::vector<GlobalParamDef> defs(3);
        for (int i = 0; i < 3; ++i) {
            defs[i].pCommand = "G0" + std::to_string(i + 1) + "=";
            defs[i].pDescriptionE = defs[i].pDescriptionD = "Parameter " + std::to_string(i + 1);
            defs[i].nMaxVal = 600;
        }
        TheUnit().SetGlobalParams(defs);
        unitsim::SimUnitConfig unit = MakeSimUnit(kAddress, 1204, 3, 2);
        unit.globals = {{"G01", 10, -1000, 1000}, {"G02", 20, -1000, 1000}, {"G03", 30, -1000, 1000}};
        line.Bus().AddUnit(unit);
        line.Start();
        line.Attach(TheUnit(), 30);
        window->OnDevicesItem(kAddress, "MZR 3");
        script.ExpectDialog([](QDialog&) {});
        window->OnUnitPicked(kAddress);
        ASSERT_EQ(window->GetCurrentView(), 2);
        line.Bus().ClearRequests();
    }
    void TearDown() override { SetFileDialogHook(nullptr); }

    void Edit(int g, int row, int col, const std::string& text)
    {
        window->ShowView(g);
        window->Grid(g).SetRow(row);
        window->Grid(g).SetCol(col);
        window->StartCellEdit(text.substr(0, 1), false);
        window->EditBox().setText(Q(text));
        window->CommitCellEdit();
        ASSERT_EQ(window->Grid(g).GetTextMatrix(row, col), text);
    }
    void Send()
    {
        script.ExpectDialog([](QDialog&) {});
        window->OnSendParams();
    }
    void ChooseFile(const std::string& path)
    {
        SetFileDialogHook([path](const std::string&, const std::string&, const std::string&, std::string& chosen) {
            chosen = path;
            return true;
        });
    }
    // The file dialog chooses a recipe of the unit as received, but for one
    // global parameter's line.
    void ChooseRecipeWith(const std::string& key, const std::string& line)
    {
        const std::string recipe = dir.File("r.1204");
        ASSERT_TRUE(WriteRecipe(TheUnit(), TheTextMemory(), recipe));
        CIniFile file(recipe, true);
        file.SetValue(line);
        ASSERT_TRUE(file.WriteString("GLOBAL_PARAMETERS", key));
        ChooseFile(recipe);
    }
    int Writes()
    {
        int writes = 0;
        for (const unitsim::SimRequest& request : line.Bus().Requests())
            writes += request.text.find('=') + 1 < request.text.size();
        return writes;
    }
    // what, before, sent, read_back, outcome of each line.
    std::vector<std::string> Record()
    {
        std::vector<std::vector<std::string>> lines;
        std::string error;
        EXPECT_TRUE(records::ReadChangeRecord(dir.File("state/vorlent/changes.csv"), lines, error)) << error;
        std::vector<std::string> shown;
        for (const auto& l : lines)
            shown.push_back(l[records::kColWhat] + "|" + l[records::kColBefore] + "|" + l[records::kColSent] + "|" +
                            l[records::kColReadBack] + "|" + l[records::kColOutcome]);
        return shown;
    }

    TestDir dir;
    DialogScript script;
    SimLine line;
    std::unique_ptr<CDarozozazWindowsDlg> window;
};

}  // namespace

TEST_F(RecordsTest, EachSentValueIsRecordedWithWhatTheWindowHeldBefore)
{
    // A recipe opened with the unit selected changes the record before the
    // send; what was held is still the received value.
    ASSERT_NO_FATAL_FAILURE(ChooseRecipeWith("01", "11 - Parameter 1"));
    window->OnFileOpen();
    Edit(0, 2, 1, "25");
    Edit(0, 3, 1, "700");  // beyond the definition's 600: refused, not sent
    const std::string zoneBefore = window->Grid(1).GetTextMatrix(2, 1);
    Edit(1, 2, 1, "77");
    Send();
    Edit(0, 2, 1, "26");
    Send();
    EXPECT_EQ(Record(), (std::vector<std::string>{"Global 01|10|11|11|ok", "Global 02|20|25|25|ok",
                                                  "Global 03|30|700|30|refused", "Zone02 P01|" + zoneBefore + "|77|77|ok",
                                                  "Global 02|25|26|26|ok"}));
}

// A record that cannot take a line stops the send before the next value:
// every value the unit received has its line, and the values not sent wait.
TEST_F(RecordsTest, ASendStopsWhenTheRecordTakesNoMoreLines)
{
    struct Row
    {
        int room;          // bytes the record may still grow by
        int writes;        // values the unit then received
        std::size_t lines; // record lines, an unconfirmed one included
    };
    Edit(0, 2, 1, "21");
    Send();  // the record exists from here on
    const std::string path = dir.File("state/vorlent/changes.csv");
    for (const Row& row : {Row{0, 0, 1}, Row{150, 1, 2}}) {
        SCOPED_TRACE(row.room);
        Edit(0, 2, 1, "22");
        Edit(0, 3, 1, "33");
        line.Bus().ClearRequests();
        const auto size = static_cast<rlim_t>(std::filesystem::file_size(path));
        rlimit saved{};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = size + static_cast<rlim_t>(row.room);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        script.ExpectDialog([](QDialog&) {});
        window->OnSendParams();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previous);

        EXPECT_EQ(Writes(), row.writes);
        EXPECT_EQ(Record().size(), row.lines);
        EXPECT_EQ(window->GetChangeCount(0), 2);  // nothing waiting was dropped
        ASSERT_FALSE(script.Boxes().empty());
        EXPECT_NE(script.Boxes().back().text.find("stopped"), std::string::npos) << script.Boxes().back().text;
    }
}

TEST_F(RecordsTest, WithoutARecordTheSendWaitsForTheUsersYes)
{
    dir.Write("CONFIG.INI", "[GENERAL]\r\nChangeLog=" + dir.Path() + "\r\n");
    Edit(0, 2, 1, "25");
    script.AnswerNextBox(kIdNo);
    window->OnSendParams();
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_TRUE(script.Boxes()[0].bDefaultNo);
    EXPECT_NE(script.Boxes()[0].text.find(dir.Path()), std::string::npos) << script.Boxes()[0].text;
    EXPECT_EQ(Writes(), 0);
    EXPECT_EQ(window->GetChangeCount(0), 1);

    script.AnswerNextBox(kIdYes);
    Send();
    EXPECT_EQ(Writes(), 1);
    EXPECT_EQ(window->GetChangeCount(0), 0);
}

TEST_F(RecordsTest, CompareListsTheDifferencesTakesSelectedRecipeValuesAndJumps)
{
    ASSERT_NO_FATAL_FAILURE(ChooseRecipeWith("03", "40 - Parameter 3"));
    Edit(0, 2, 1, "25");  // waiting to be sent: part of what the window holds
    std::vector<std::string> rows;
    int taken = -1;
    script.ExpectDialog([&](QDialog& dialog) {
        auto* compare = dynamic_cast<CDlgCompare*>(&dialog);
        ASSERT_NE(compare, nullptr);
        QTableWidget& table = compare->Table();
        for (int r = 0; r < table.rowCount(); ++r)
            rows.push_back(S(table.item(r, 0)->text() + "|" + table.item(r, 1)->text() + "|" +
                             table.item(r, 2)->text() + "|" + table.item(r, 3)->text()));
        // The recipe's value of the second line only.
        table.selectRow(1);
        taken = compare->TakeSelected();
        dialog.reject();
    });
    window->OnCompareWithRecipe();
    EXPECT_EQ(rows, (std::vector<std::string>{"Global 02 \u00b7 Parameter 2|25|20|-5",
                                              "Global 03 \u00b7 Parameter 3|30|40|+10"}));
    // Taken: yellow and listed, waiting; nothing sent, the record as it was.
    EXPECT_EQ(taken, 1);
    EXPECT_EQ(window->Grid(0).GetTextMatrix(3, 1), "40");
    EXPECT_EQ(window->Grid(0).GetCellColour(3, 1), CMSFlexGrid::kYellow);
    EXPECT_EQ(window->Grid(0).GetTextMatrix(2, 1), "25");
    EXPECT_EQ(window->GetChangeCount(0), 2);
    EXPECT_EQ(TheUnit().ReadGlobalParam(3), 30);
    EXPECT_EQ(Writes(), 0);

    // A double-click on a line makes its cell current in its grid.
    window->ShowView(2);
    script.ExpectDialog([&](QDialog& dialog) {
        auto& table = dynamic_cast<CDlgCompare&>(dialog).Table();
        emit table.cellDoubleClicked(0, 0);
    });
    window->OnCompareWithRecipe();
    EXPECT_EQ(window->GetCurrentView(), 0);
    EXPECT_EQ(window->Grid(0).GetRow(), 2);
}
