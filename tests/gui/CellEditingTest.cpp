// In-place editing of the main window's grids: what a click, a key or a
// focus change does to the cell, the unit record and the change lists.
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"

// Fills change lists the way recipe loading does, without looking for equal
// entries.
struct CellEditingProbe
{
    static bool Append(CDarozozazWindowsDlg& window, int grid, int32_t first, int32_t second)
    {
        return window.ListChange(grid, first, second, false);
    }
    static void Clear(CDarozozazWindowsDlg& window) { window.ClearChangeLists(); }
};

namespace {

// Zone parameter p of zone z holds 100 z + p, the set value of zone z
// 200 + z and its actual value 190 + z; global parameter 1 holds 250 and
// global parameter 2 holds 5.
class CellEditingTest : public ::testing::Test
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
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        LoadUnit(4, 12);
    }

    void LoadUnit(int zones, int params)
    {
        CUnit& unit = TheUnit();
        unit.SetOffline(true);
        unit.SetZoneCount(zones);
        unit.SetZoneParamCount(params);
        for (int16_t z = 1; z <= zones; ++z) {
            for (int16_t p = 1; p <= params; ++p)
                unit.WriteZoneParam(z, p, 100 * z + p);
            unit.WriteSetValue(z, 200 + z);
            unit.SetActualValue(z, 190 + z);
        }
        GlobalParamDef maxTemp;
        maxTemp.pDescriptionE = maxTemp.pDescriptionD = "Max";
        maxTemp.pCommand = "TMAX=";
        maxTemp.nMaxVal = 600;
        maxTemp.nValue = 250;
        GlobalParamDef hysteresis = maxTemp;
        hysteresis.pCommand = "HYST=";
        hysteresis.nValue = 5;
        unit.SetGlobalParams({maxTemp, hysteresis});
        for (int g = 0; g < 3; ++g)
            ASSERT_TRUE(window->FillGrid(g, false, true));
    }

    CMSFlexGrid& Grid(int g) { return window->Grid(g); }
    QLineEdit& Box() { return window->EditBox(); }

    // The cell's rectangle in the grid's own pixels, found through the
    // grid's current-cell geometry; the current cell is put back afterwards.
    QRect CellRect(int g, int row, int col)
    {
        CMSFlexGrid& grid = Grid(g);
        const int oldRow = grid.GetRow(), oldCol = grid.GetCol();
        grid.SetRow(row);
        grid.SetCol(col);
        const int tx = 1440 / grid.logicalDpiX(), ty = 1440 / grid.logicalDpiY();
        const QRect rect(grid.GetCellLeft() / tx, grid.GetCellTop() / ty, grid.GetCellWidth() / tx,
                         grid.GetCellHeight() / ty);
        grid.SetRow(oldRow);
        grid.SetCol(oldCol);
        return rect;
    }

    void ClickCell(int g, int row, int col)
    {
        CMSFlexGrid& grid = Grid(g);
        const QPoint point = CellRect(g, row, col).center();
        QWidget* target = grid.childAt(point) ? grid.childAt(point) : &grid;
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&grid, point));
    }

    // Click, replace the text, Enter.
    void Edit(int g, int row, int col, const std::string& text)
    {
        ClickCell(g, row, col);
        ASSERT_TRUE(window->IsEditVisible());
        Box().setText(Q(text));
        QTest::keyClick(&Box(), Qt::Key_Return);
    }

    std::vector<std::pair<int, int>> Entries(int g)
    {
        std::vector<std::pair<int, int>> entries;
        for (int j = 0; j < window->GetChangeCount(g); ++j)
            entries.emplace_back(window->GetChange(g, j).nFirst, window->GetChange(g, j).nSecond);
        return entries;
    }

    TestDir dir;
    DialogScript script;
    std::unique_ptr<CDarozozazWindowsDlg> window;
};

using Entry = std::pair<int, int>;

TEST_F(CellEditingTest, ClickOpensTheBoxOverTheCellAndOfflineEnterStoresInTheRecord)
{
    window->ShowView(0);
    ClickCell(0, 1, 1);
    ASSERT_TRUE(window->IsEditVisible());
    EXPECT_EQ(S(Box().text()), "250");
    EXPECT_EQ(S(Box().selectedText()), "250");
    const QRect cell = CellRect(0, 1, 1);
    EXPECT_EQ(Box().geometry().topLeft(), Grid(0).geometry().topLeft() + cell.topLeft());
    EXPECT_EQ(Box().size(), cell.size());

    QTest::keyClicks(&Box(), "300");
    QTest::keyClick(&Box(), Qt::Key_Return);
    EXPECT_FALSE(window->IsEditVisible());
    EXPECT_EQ(TheUnit().ReadGlobalParam(1), 300);
    EXPECT_EQ(Grid(0).GetTextMatrix(1, 1), "300");
    EXPECT_EQ(Grid(0).GetCellColour(1, 1), CMSFlexGrid::kWhite);
    EXPECT_EQ(window->GetChangeCount(0), 0);
    EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(CellEditingTest, WithAUnitSelectedACellIsMarkedAndListedOnce)
{
    struct Case
    {
        int grid, row, col;
        Entry entry;
        int32_t (*record)();
    };
    const Case cases[] = {
        {0, 1, 1, {1, 1}, [] { return TheUnit().ReadGlobalParam(1); }},
        {1, 3, 7, {7, 3}, [] { return TheUnit().ReadZoneParam(3, 7); }},
        {2, 4, 1, {1, 4}, [] { return TheUnit().ReadSetValue(4); }},
    };
    TheUnit().SetOffline(false);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.grid);
        window->ShowView(c.grid);
        const int32_t before = c.record();
        // The text the cell shows already is no change.
        Edit(c.grid, c.row, c.col, Grid(c.grid).GetTextMatrix(c.row, c.col));
        EXPECT_EQ(Grid(c.grid).GetCellColour(c.row, c.col), CMSFlexGrid::kWhite);
        EXPECT_EQ(window->GetChangeCount(c.grid), 0);
        for (const char* text : {"11", "12", "11"})
            Edit(c.grid, c.row, c.col, text);
        EXPECT_EQ(Grid(c.grid).GetTextMatrix(c.row, c.col), "11");
        EXPECT_EQ(Grid(c.grid).GetCellColour(c.row, c.col), CMSFlexGrid::kYellow);
        EXPECT_EQ(Entries(c.grid), std::vector<Entry>{c.entry});
        EXPECT_EQ(c.record(), before);  // only the send changes the record
    }
    EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(CellEditingTest, OnlyTheExactDecimalFormWithinTheGridsRangeIsTaken)
{
    struct Case
    {
        int grid, row, col;
        const char* text;
        bool bAccepted;
    };
    const Case cases[] = {
        {1, 2, 5, "075", false},         {1, 2, 5, "+5", false},        {1, 2, 5, "5 ", false},
        {1, 2, 5, " 5", false},          {1, 2, 5, "", false},          {1, 2, 5, "-0", false},
        {1, 2, 5, "12a", false},         {1, 2, 5, "-12", true},        {1, 2, 5, "999999", true},
        {1, 2, 5, "1000000", false},     {1, 2, 5, "-99999", true},     {1, 2, 5, "-100000", false},
        {2, 3, 1, "1000000", false},     {2, 3, 1, "-100000", false},   {0, 2, 1, "-1", false},
        {0, 2, 1, "-2", true},           {0, 2, 1, "2147483647", true}, {0, 2, 1, "2147483648", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" in grid " + std::to_string(c.grid));
        window->ShowView(c.grid);
        const std::string before = Grid(c.grid).GetTextMatrix(c.row, c.col);
        const std::size_t boxes = script.Boxes().size();
        Edit(c.grid, c.row, c.col, c.text);
        EXPECT_FALSE(window->IsEditVisible());
        EXPECT_EQ(Grid(c.grid).GetTextMatrix(c.row, c.col), c.bAccepted ? std::string(c.text) : before);
        if (c.bAccepted) {
            EXPECT_EQ(script.Boxes().size(), boxes);
        } else {
            ASSERT_EQ(script.Boxes().size(), boxes + 1);
            EXPECT_EQ(script.Boxes().back().text, TheTextMemory().GetText(30));
            EXPECT_EQ(script.Boxes().back().caption, TheTextMemory().GetText(0));
            EXPECT_EQ(script.Boxes().back().icon, MsgIcon::Warning);
        }
    }
    EXPECT_EQ(TheUnit().ReadZoneParam(2, 5), -99999);
    EXPECT_EQ(TheUnit().ReadGlobalParam(2), 2147483647);
}

TEST_F(CellEditingTest, DigitKeysOpenTheBoxToGoOnTyping)
{
    window->ShowView(1);
    Grid(1).SetRow(2);
    Grid(1).SetCol(3);
    Grid(1).setFocus();
    QTest::keyClick(&Grid(1), Qt::Key_A);
    EXPECT_FALSE(window->IsEditVisible());

    QTest::keyClick(&Grid(1), Qt::Key_7, Qt::KeypadModifier);
    ASSERT_TRUE(window->IsEditVisible());
    EXPECT_EQ(S(Box().text()), "7");
    EXPECT_EQ(Box().cursorPosition(), 1);
    EXPECT_FALSE(Box().hasSelectedText());
    QTest::keyClicks(&Box(), "5");
    QTest::keyClick(&Box(), Qt::Key_Return);
    EXPECT_EQ(TheUnit().ReadZoneParam(2, 3), 75);

    // The actual values take no typing.
    window->ShowView(2);
    Grid(2).SetRow(1);
    Grid(2).SetCol(2);
    Grid(2).setFocus();
    QTest::keyClick(&Grid(2), Qt::Key_4);
    EXPECT_FALSE(window->IsEditVisible());
}

TEST_F(CellEditingTest, AClickOnAnActualValueEditsTheSetValue)
{
    window->ShowView(2);
    ClickCell(2, 4, 2);
    ASSERT_TRUE(window->IsEditVisible());
    EXPECT_EQ(S(Box().text()), "204");
    EXPECT_EQ(Box().geometry().topLeft(), Grid(2).geometry().topLeft() + CellRect(2, 4, 1).topLeft());
    Box().setText("180");
    QTest::keyClick(&Box(), Qt::Key_Return);
    EXPECT_EQ(TheUnit().ReadSetValue(4), 180);
    EXPECT_EQ(TheUnit().ReadActualValue(4), 194);
    EXPECT_EQ(Grid(2).GetTextMatrix(4, 2), "194");
}

TEST_F(CellEditingTest, DeleteWritesZeroWithoutMarkingOrStoring)
{
    TheUnit().SetOffline(false);
    const struct
    {
        int grid, row, col;
    } cells[] = {{1, 3, 7}, {2, 2, 2}};
    for (const auto& c : cells) {
        window->ShowView(c.grid);
        Grid(c.grid).SetRow(c.row);
        Grid(c.grid).SetCol(c.col);
        Grid(c.grid).setFocus();
        QTest::keyClick(&Grid(c.grid), Qt::Key_Delete);
        EXPECT_EQ(Grid(c.grid).GetTextMatrix(c.row, c.col), "0");
        EXPECT_EQ(Grid(c.grid).GetCellColour(c.row, c.col), CMSFlexGrid::kWhite);
        EXPECT_EQ(window->GetChangeCount(c.grid), 0);
        EXPECT_FALSE(window->IsEditVisible());
    }
    EXPECT_EQ(TheUnit().ReadZoneParam(3, 7), 307);
    EXPECT_EQ(TheUnit().ReadActualValue(2), 192);
}

TEST_F(CellEditingTest, ScrollingDropsTheEdit)
{
    LoadUnit(60, 12);
    window->ShowView(1);
    ClickCell(1, 2, 2);
    ASSERT_TRUE(window->IsEditVisible());
    QTest::keyClicks(&Box(), "77");
    QScrollBar* bar = Grid(1).verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_FALSE(window->IsEditVisible());
    window->OnDefaultButton();
    EXPECT_EQ(Grid(1).GetTextMatrix(2, 2), "202");
    EXPECT_EQ(TheUnit().ReadZoneParam(2, 2), 202);
}

TEST_F(CellEditingTest, TheValueGoesToTheCellTheBoxWasOpenedOver)
{
    TheUnit().SetOffline(false);
    window->ShowView(1);
    ClickCell(1, 2, 3);
    ASSERT_TRUE(window->IsEditVisible());
    Grid(1).SetRow(4);
    Grid(1).SetCol(5);
    Box().setText("42");
    window->OnDefaultButton();
    EXPECT_EQ(Grid(1).GetTextMatrix(2, 3), "42");
    EXPECT_EQ(Grid(1).GetCellColour(2, 3), CMSFlexGrid::kYellow);
    EXPECT_EQ(Grid(1).GetTextMatrix(4, 5), "405");
    EXPECT_EQ(Grid(1).GetCellColour(4, 5), CMSFlexGrid::kWhite);
    EXPECT_EQ(Entries(1), std::vector<Entry>{Entry(3, 2)});
}

TEST_F(CellEditingTest, HeaderCellsAreNeverEdited)
{
    // No zone parameters: grid 1 has only its header column; no zones: grid
    // 2 has only its header row.
    LoadUnit(3, 0);
    window->ShowView(1);
    ASSERT_EQ(Grid(1).GetCols(), 1);
    Grid(1).SetRow(2);
    const std::string header = Grid(1).GetTextMatrix(2, 0);
    for (int key : {int('5'), 46}) {
        window->OnKeyDownGrid(1, key);
        window->OnKeyUpGrid(1, key);
    }
    window->OnClickGrid(1);
    EXPECT_FALSE(window->IsEditVisible());
    EXPECT_EQ(Grid(1).GetTextMatrix(2, 0), header);

    LoadUnit(0, 4);
    window->ShowView(2);
    ASSERT_EQ(Grid(2).GetRows(), 1);
    Grid(2).SetCol(1);
    window->OnKeyDownGrid(2, '5');
    window->OnClickGrid(2);
    window->OnKeyUpGrid(2, 46);
    EXPECT_FALSE(window->IsEditVisible());
    EXPECT_EQ(Grid(2).GetTextMatrix(0, 1), TheTextMemory().GetText(52));
    EXPECT_TRUE(script.Boxes().empty());
}

TEST_F(CellEditingTest, AFullChangeListMakesRoomFromDuplicatesOrRefusesTheEdit)
{
    TheUnit().SetOffline(false);
    window->ShowView(1);
    // A recipe loaded twice over the same two cells fills the list.
    for (int j = 0; j < kChangeListSize; ++j)
        ASSERT_TRUE(CellEditingProbe::Append(*window, 1, 1 + j % 2, 1));
    Edit(1, 3, 7, "55");
    EXPECT_EQ(Entries(1), (std::vector<Entry>{{1, 1}, {2, 1}, {7, 3}}));
    EXPECT_EQ(window->GetChange(1, 3).nFirst, -1);
    EXPECT_EQ(window->GetChange(1, kChangeListSize - 1).nSecond, -1);
    EXPECT_EQ(Grid(1).GetCellColour(3, 7), CMSFlexGrid::kYellow);

    // Distinct entries only: no room, so the cell is not marked.
    CellEditingProbe::Clear(*window);
    for (int j = 0; j < kChangeListSize; ++j)
        ASSERT_TRUE(CellEditingProbe::Append(*window, 1, j + 1, 1000));
    EXPECT_FALSE(CellEditingProbe::Append(*window, 1, 1, 1));
    Edit(1, 2, 5, "66");
    EXPECT_EQ(Grid(1).GetTextMatrix(2, 5), "205");
    EXPECT_EQ(Grid(1).GetCellColour(2, 5), CMSFlexGrid::kWhite);
    EXPECT_EQ(window->GetChangeCount(1), kChangeListSize);
    EXPECT_EQ(window->GetChange(1, kChangeListSize - 1).nFirst, kChangeListSize);
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].icon, MsgIcon::Warning);
}

TEST_F(CellEditingTest, TheCloseQuestionCountsTheCellsNotYetSent)
{
    TheUnit().SetOffline(false);
    window->ShowView(1);
    Edit(1, 3, 7, "55");
    window->ShowView(2);
    Edit(2, 1, 1, "180");
    // A recipe loaded twice lists its cell twice; it is one change.
    ASSERT_TRUE(CellEditingProbe::Append(*window, 0, 2, -1));
    ASSERT_TRUE(CellEditingProbe::Append(*window, 0, 2, -1));
    script.AnswerNextBox(kIdNo);
    window->close();
    ASSERT_EQ(script.Boxes().size(), 1u);
    std::string question = TheTextMemory().GetText(26);
    question.replace(question.find("%s"), 2, TheTextMemory().GetText(0));
    EXPECT_EQ(script.Boxes()[0].text, question + "\n\nChanges not yet sent to the unit: 3.");
    EXPECT_TRUE(window->isVisible());

    CellEditingProbe::Clear(*window);
    script.AnswerNextBox(kIdNo);
    window->close();
    ASSERT_EQ(script.Boxes().size(), 2u);
    EXPECT_EQ(script.Boxes()[1].text, question);
}

}  // namespace

namespace {

// Zone 03's set value edited for unit 3, then unit 12 chosen from the Devices
// menu: the answer decides, and what the lists and the cell hold is looked
// at when unit 12's receive starts (No: afterwards, as there is none).
TEST_F(CellEditingTest, AnotherUnitIsSelectedOnlyWithTheUnsentChangesDropped)
{
    struct Case
    {
        int answer, address, listed;
        uint32_t colour;
    };
    for (const Case& c : {Case{kIdNo, 3, 1, CMSFlexGrid::kYellow}, Case{kIdYes, 12, 0, CMSFlexGrid::kWhite}}) {
        SCOPED_TRACE(c.answer);
        LoadUnit(4, 12);
        TheUnit().SetAddress(3);
        TheUnit().SetOffline(false);
        window->ShowView(2);
        Edit(2, 3, 1, "212");
        const std::size_t before = script.Boxes().size();
        std::pair<int, uint32_t> held;
        auto look = [&] { held = {window->GetChangeCount(2), Grid(2).GetCellColour(3, 1)}; };
        script.AnswerNextBox(c.answer);
        if (c.answer == kIdYes)
            script.ExpectDialog([&](QDialog&) { look(); });
        window->OnCommand(cmd::kFirstUnit + 11);
        if (c.answer == kIdNo)
            look();
        ASSERT_GT(script.Boxes().size(), before);
        EXPECT_EQ(script.Boxes()[before].text, "Changes not yet sent to the unit: 1.\nThey are dropped when another "
                                               "unit is selected. Select unit 12 anyway?");
        EXPECT_TRUE(script.Boxes()[before].bDefaultNo);
        EXPECT_EQ(script.PendingDialogs(), 0);
        EXPECT_EQ(TheUnit().GetAddress(), c.address);
        EXPECT_EQ(held, std::make_pair(c.listed, c.colour));
        CellEditingProbe::Clear(*window);
    }
}

}  // namespace
