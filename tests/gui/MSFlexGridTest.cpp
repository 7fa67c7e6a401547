// The grid control on its own: bounds, texts, sizes, colours, the geometry
// the edit box is placed by, and the key codes the handlers compare.
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "mainwindow/qt/MSFlexGrid.h"

namespace {

constexpr int kTwips = 15;

std::string Label(int row, int col) { return std::to_string(row) + "," + std::to_string(col); }

void Fill(CMSFlexGrid& grid)
{
    for (int row = 0; row < grid.GetRows(); ++row)
        for (int col = 0; col < grid.GetCols(); ++col)
            grid.SetTextMatrix(row, col, Label(row, col));
}

// The colours of all cells, a row a line: . white, S silver, Y yellow, R red.
std::string Colours(const CMSFlexGrid& grid)
{
    std::string picture;
    for (int row = 0; row < grid.GetRows(); ++row) {
        for (int col = 0; col < grid.GetCols(); ++col) {
            const uint32_t c = grid.GetCellColour(row, col);
            picture += c == CMSFlexGrid::kWhite    ? '.'
                       : c == CMSFlexGrid::kSilver ? 'S'
                       : c == CMSFlexGrid::kYellow ? 'Y'
                       : c == CMSFlexGrid::kRed    ? 'R'
                                                   : '?';
        }
        picture += '\n';
    }
    return picture;
}

// The texts of all cells, a row a line, separated by blanks.
std::string Texts(const CMSFlexGrid& grid)
{
    std::string all;
    for (int row = 0; row < grid.GetRows(); ++row) {
        for (int col = 0; col < grid.GetCols(); ++col)
            all += (col ? " " : "") + grid.GetTextMatrix(row, col);
        all += '\n';
    }
    return all;
}

class MSFlexGridTest : public ::testing::Test
{
protected:
    MSFlexGridTest() : grid(nullptr, kTwips, kTwips) {}

    void Size(int rows, int cols)
    {
        grid.SetRows(rows);
        grid.SetCols(cols);
    }
    void Current(int row, int col)
    {
        grid.SetRow(row);
        grid.SetCol(col);
    }

    // The current cell's rectangle in the control's pixels.
    QRect CellRect()
    {
        return {grid.GetCellLeft() / kTwips, grid.GetCellTop() / kTwips, grid.GetCellWidth() / kTwips,
                grid.GetCellHeight() / kTwips};
    }

    void ClickAt(const QPoint& point)
    {
        QWidget* target = grid.childAt(point) ? grid.childAt(point) : &grid;
        QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&grid, point));
    }

    void ShowGrid()
    {
        grid.resize(420, 300);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }

    CMSFlexGrid grid;
};

TEST_F(MSFlexGridTest, NeverIndexesOutsideItself)
{
    Size(3, 4);
    Fill(grid);
    Current(2, 2);
    const std::string texts = Texts(grid);

    // Refused: the current cell and the selection corner stay.
    grid.SetRow(3);
    grid.SetRowSel(3);
    for (int index : {-1, 4, 1000}) {
        grid.SetRow(index);
        grid.SetRowSel(index);
        grid.SetCol(index);
        grid.SetColSel(index);
    }
    EXPECT_EQ(std::make_pair(grid.GetRow(), grid.GetCol()), std::make_pair(2, 2));
    grid.SetFillStyle(1);
    grid.SetCellBackColor(CMSFlexGrid::kRed);
    EXPECT_EQ(Colours(grid), "....\n....\n..R.\n");

    // Outside reads are empty (and white); outside writes change nothing,
    // and in particular do not wrap into the next row.
    for (const auto& [row, col] : std::vector<std::pair<int, int>>{{-1, 0}, {0, -1}, {3, 0}, {0, 4}, {2, 4}, {3, 3}}) {
        EXPECT_EQ(grid.GetTextMatrix(row, col), "");
        EXPECT_EQ(grid.GetCellColour(row, col), CMSFlexGrid::kWhite);
        grid.SetTextMatrix(row, col, "x");
    }
    for (int index : {-1, 12, 13})
        grid.SetTextArray(index, "x");
    EXPECT_EQ(grid.GetColWidth(4), 0);
    EXPECT_EQ(grid.GetRowHeight(3), 0);
    grid.SetColWidth(4, 600);
    grid.SetRowHeight(-1, 600);
    EXPECT_EQ(Texts(grid), texts);

    // Shrinking moves the current cell and the selection inside.
    Current(2, 3);
    grid.SetRowSel(1);
    grid.SetColSel(3);
    grid.SetCols(2);
    EXPECT_EQ(std::make_pair(grid.GetRow(), grid.GetCol()), std::make_pair(2, 1));
    EXPECT_EQ(grid.GetText(), "2,1");
    grid.SetCellBackColor(CMSFlexGrid::kYellow);
    EXPECT_EQ(Colours(grid), "..\n.Y\n.Y\n");
    EXPECT_EQ(grid.currentIndex(), grid.model()->index(1, 0));

    // Down to the header cell alone, and no further.
    grid.SetRows(0);
    grid.SetCols(-3);
    EXPECT_EQ(std::make_pair(grid.GetRows(), grid.GetCols()), std::make_pair(1, 1));
    EXPECT_EQ(std::make_pair(grid.GetRow(), grid.GetCol()), std::make_pair(0, 0));
    EXPECT_FALSE(grid.currentIndex().isValid());
    grid.SetText("corner");
    EXPECT_EQ(grid.GetTextMatrix(0, 0), "corner");

    // A size beyond the grid's capacity is refused as a whole.
    grid.SetRows(400000);
    EXPECT_EQ(grid.GetRows(), 1);
    Size(1000, 1000);
    EXPECT_EQ(std::make_pair(grid.GetRows(), grid.GetCols()), std::make_pair(1000, 1));
}

TEST_F(MSFlexGridTest, TextsRoundTripThroughEveryAccessAndReachTheView)
{
    Size(3, 3);
    // TextArray counts row by row from the top-left cell.
    for (int index = 0; index < 9; ++index)
        grid.SetTextArray(index, std::to_string(index));
    EXPECT_EQ(Texts(grid), "0 1 2\n3 4 5\n6 7 8\n");
    Current(2, 1);
    EXPECT_EQ(grid.GetText(), "7");
    grid.SetText("Zone 02 \xc3\xa4");
    EXPECT_EQ(grid.GetTextMatrix(2, 1), "Zone 02 \xc3\xa4");

    // Row 0 and column 0 are the view's headers, the rest its items.
    const QAbstractItemModel& model = *grid.model();
    EXPECT_EQ(std::make_pair(model.rowCount(), model.columnCount()), std::make_pair(2, 2));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QString::fromUtf8("Zone 02 \xc3\xa4"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "2");
    EXPECT_EQ(model.headerData(0, Qt::Vertical).toString(), "3");

    grid.SetCellBackColor(CMSFlexGrid::kSilver);
    grid.Clear();
    EXPECT_EQ(Texts(grid), "  \n  \n  \n");
    EXPECT_EQ(Colours(grid), "...\n...\n.S.\n");
}

TEST_F(MSFlexGridTest, ResizingKeepsTheCellsInBothSizes)
{
    Size(3, 4);
    Fill(grid);
    Current(2, 2);
    grid.SetCellBackColor(CMSFlexGrid::kYellow);
    grid.SetColWidth(1, 600);

    Size(4, 3);
    EXPECT_EQ(Texts(grid), "0,0 0,1 0,2\n1,0 1,1 1,2\n2,0 2,1 2,2\n  \n");
    EXPECT_EQ(Colours(grid), "...\n...\n..Y\n...\n");
    // A column cut off and grown back comes back empty, at the default width.
    grid.SetCols(4);
    EXPECT_EQ(grid.GetTextMatrix(1, 3), "");
    EXPECT_EQ(grid.GetColWidth(1), 600);
    EXPECT_EQ(grid.columnWidth(0), 600 / kTwips);
    EXPECT_EQ(grid.GetColWidth(3), grid.GetColWidth(2));
    EXPECT_EQ(std::make_pair(grid.model()->rowCount(), grid.model()->columnCount()), std::make_pair(3, 3));
}

TEST_F(MSFlexGridTest, RowHeightZeroHidesTheRowUntilItIsGivenAHeight)
{
    Size(5, 3);
    grid.SetRowHeightMin(280);
    grid.SetColWidth(0, 2800);
    grid.SetColWidth(2, 600);
    Current(2, 1);

    grid.SetRowHeight(2, 0);
    EXPECT_TRUE(grid.isRowHidden(1));
    EXPECT_EQ(grid.GetRowHeight(2), 0);
    EXPECT_EQ(grid.GetCellHeight(), 0);
    grid.SetRowHeight(2, 300);
    EXPECT_FALSE(grid.isRowHidden(1));
    EXPECT_EQ(grid.GetRowHeight(2), 300);
    EXPECT_EQ(grid.rowHeight(1), 300 / kTwips);
    EXPECT_EQ(grid.GetCellHeight(), 300);

    // The minimum holds for rows set lower, but not for hidden ones.
    grid.SetRowHeight(3, 100);
    EXPECT_EQ(grid.GetRowHeight(3), 280);
    EXPECT_EQ(grid.rowHeight(2), 280 / kTwips);
    grid.SetRowHeight(3, 0);
    EXPECT_TRUE(grid.isRowHidden(2));

    // Column 0 and row 0 are the headers' sizes.
    EXPECT_EQ(grid.verticalHeader()->width(), 2800 / kTwips);
    EXPECT_EQ(grid.columnWidth(1), 600 / kTwips);
    grid.SetRowHeight(0, 450);
    EXPECT_EQ(grid.horizontalHeader()->height(), 450 / kTwips);
}

TEST_F(MSFlexGridTest, FillStyleOneColoursTheSelectionAndZeroTheCurrentCell)
{
    Size(5, 4);
    Current(3, 3);
    // The far corner may lie above and left of the current cell.
    grid.SetRowSel(2);
    grid.SetColSel(1);
    grid.SetFillStyle(0);
    grid.SetCellBackColor(CMSFlexGrid::kRed);
    EXPECT_EQ(Colours(grid), "....\n....\n....\n...R\n....\n");
    grid.SetFillStyle(1);
    grid.SetCellBackColor(CMSFlexGrid::kYellow);
    EXPECT_EQ(grid.GetCellBackColor(), CMSFlexGrid::kYellow);
    EXPECT_EQ(Colours(grid), "....\n....\n.YYY\n.YYY\n....\n");

    // A new current row or column starts a selection of the current cell
    // alone.
    grid.SetRow(1);
    grid.SetCellBackColor(CMSFlexGrid::kSilver);
    EXPECT_EQ(Colours(grid), "....\n...S\n.YYY\n.YYY\n....\n");
    grid.SetRowSel(4);
    grid.SetColSel(2);
    grid.SetCol(1);
    grid.SetCellBackColor(CMSFlexGrid::kRed);
    EXPECT_EQ(Colours(grid), "....\n.R.S\n.YYY\n.YYY\n....\n");

    // 0x00BBGGRR reaches the view as red, green, blue, each mark with a text
    // colour readable on it; an unmarked cell leaves both to the palette, so
    // that a dark one shows light text on its own dark base.
    const QAbstractItemModel& model = *grid.model();
    const struct
    {
        int row, col;
        QVariant background, text;
    } cells[] = {
        {0, 0, QColor(255, 0, 0), QColor(Qt::black)},
        {2, 2, QColor(255, 255, 0), QColor(Qt::black)},
        {0, 2, QColor(192, 192, 192), QColor(Qt::black)},
        {3, 0, QVariant(), QVariant()},
    };
    for (const auto& c : cells) {
        SCOPED_TRACE(std::to_string(c.row) + "," + std::to_string(c.col));
        EXPECT_EQ(model.data(model.index(c.row, c.col), Qt::BackgroundRole), c.background);
        EXPECT_EQ(model.data(model.index(c.row, c.col), Qt::ForegroundRole), c.text);
    }
}

TEST_F(MSFlexGridTest, TheCellRectangleIsWhereAClickLands)
{
    Size(40, 12);
    Fill(grid);
    grid.SetColWidth(0, 1200);
    for (int col = 1; col < 12; ++col)
        grid.SetColWidth(col, 600 + 15 * col);
    grid.SetRowHeight(3, 0);
    ShowGrid();

    int clicks = 0;
    std::pair<int, int> atClick;
    QObject::connect(&grid, &CMSFlexGrid::Click, [&] {
        ++clicks;
        atClick = {grid.GetRow(), grid.GetCol()};
    });
    QSignalSpy scrolls(&grid, &CMSFlexGrid::Scroll);

    // Clicking the middle of the rectangle read for (row, col) must make
    // that the current cell before the Click arrives.
    auto clickCell = [&](int row, int col) {
        SCOPED_TRACE(Label(row, col));
        Current(row, col);
        const QRect rect = CellRect();
        ASSERT_FALSE(rect.isEmpty());
        Current(1, 1);
        const int before = clicks;
        ClickAt(rect.center());
        EXPECT_EQ(clicks, before + 1);
        EXPECT_EQ(atClick, std::make_pair(row, col));
    };
    clickCell(1, 1);
    clickCell(2, 4);
    clickCell(4, 2);  // below the hidden row 3

    // Scrolled: the rectangle moves with the cells.
    grid.verticalScrollBar()->setValue(5);
    grid.horizontalScrollBar()->setValue(2);
    EXPECT_EQ(scrolls.count(), 2);
    clickCell(10, 5);
    clickCell(7, 3);

    // Header cells: their rectangle is the header's, and clicking there
    // neither moves the current cell nor counts as a click.
    Current(0, 4);
    const QRect header = CellRect();
    EXPECT_EQ(header.top(), grid.horizontalHeader()->geometry().top());
    EXPECT_EQ(header.height(), grid.horizontalHeader()->height());
    Current(7, 0);
    EXPECT_EQ(CellRect().left(), grid.verticalHeader()->geometry().left());
    EXPECT_EQ(CellRect().width(), 1200 / kTwips);
    Current(2, 2);
    const int before = clicks;
    ClickAt(header.center());
    EXPECT_EQ(clicks, before);
    EXPECT_EQ(std::make_pair(grid.GetRow(), grid.GetCol()), std::make_pair(2, 2));
}

TEST_F(MSFlexGridTest, KeysArriveAsVirtualKeyCodesAndNeverEditTheGrid)
{
    Size(6, 4);
    Fill(grid);
    grid.SetTextMatrix(4, 1, "7");
    grid.SetRowHeight(3, 0);
    ShowGrid();
    grid.setFocus();

    // QTest presses the modifier keys around a key; they come as keys of
    // their own (Shift 16, Control 17) and are left out here.
    std::vector<std::pair<int, int>> downs;
    std::vector<int> ups;
    QObject::connect(&grid, &CMSFlexGrid::KeyDown, [&](int key, int shift) {
        if (key != 16 && key != 17)
            downs.emplace_back(key, shift);
    });
    QObject::connect(&grid, &CMSFlexGrid::KeyUp, [&](int key, int) {
        if (key != 16 && key != 17)
            ups.push_back(key);
    });

    const struct
    {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int code, shift;
    } cases[] = {
        {Qt::Key_7, Qt::KeypadModifier, 103, 0},
        {Qt::Key_0, Qt::KeypadModifier, 96, 0},
        {Qt::Key_7, Qt::NoModifier, 55, 0},
        {Qt::Key_9, Qt::NoModifier, 57, 0},
        {Qt::Key_Delete, Qt::NoModifier, 46, 0},
        {Qt::Key_Period, Qt::NoModifier, 190, 0},  // not Delete
        {Qt::Key_Period, Qt::KeypadModifier, 110, 0},
        {Qt::Key_A, Qt::ShiftModifier, 65, 1},
        {Qt::Key_F2, Qt::ControlModifier, 113, 2},
        {Qt::Key_Exclam, Qt::NoModifier, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        downs.clear();
        ups.clear();
        Current(1, 1);
        QTest::keyClick(&grid, c.key, c.modifiers);
        EXPECT_EQ(downs, (std::vector<std::pair<int, int>>{{c.code, c.shift}}));
        EXPECT_EQ(ups, std::vector<int>{c.code});
        // Typing neither opens an editor nor jumps to a cell that starts
        // with the typed text ("7" in row 4).
        EXPECT_EQ(std::make_pair(grid.GetRow(), grid.GetCol()), std::make_pair(1, 1));
        EXPECT_EQ(grid.findChild<QLineEdit*>(), nullptr);
        EXPECT_EQ(grid.GetTextMatrix(1, 1), "1,1");
    }

    // Arrows move the current cell and Row/Col follow, past hidden rows.
    Current(2, 1);
    downs.clear();
    QTest::keyClick(&grid, Qt::Key_Down);
    EXPECT_EQ(downs.front().first, 40);
    EXPECT_EQ(grid.GetRow(), 4);
    QTest::keyClick(&grid, Qt::Key_Right);
    EXPECT_EQ(grid.GetCol(), 2);
    EXPECT_EQ(grid.currentIndex(), grid.model()->index(3, 1));
}

TEST_F(MSFlexGridTest, SuspendedDrawingTellsTheViewOnceWhenItResumes)
{
    Size(129, 65);
    QSignalSpy cells(grid.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy headers(grid.model(), &QAbstractItemModel::headerDataChanged);

    grid.SetRedraw(false);
    EXPECT_FALSE(grid.updatesEnabled());
    Fill(grid);
    for (int row = 1; row < 129; ++row) {
        Current(row, 1);
        grid.SetCellBackColor(CMSFlexGrid::kSilver);
    }
    EXPECT_EQ(cells.count() + headers.count(), 0);
    EXPECT_EQ(grid.model()->data(grid.model()->index(127, 63)).toString(), "128,64");

    grid.SetRedraw(true);
    ASSERT_EQ(cells.count(), 1);
    EXPECT_EQ(cells.at(0).at(0).value<QModelIndex>(), grid.model()->index(0, 0));
    EXPECT_EQ(cells.at(0).at(1).value<QModelIndex>(), grid.model()->index(127, 63));
    EXPECT_EQ(headers.count(), 2);

    // Drawing on: a change is told at once.
    grid.SetTextMatrix(5, 5, "x");
    EXPECT_EQ(cells.count(), 2);
}

}  // namespace
