#pragma once

#include <QTableView>
#include <cstdint>
#include <string>
#include <vector>

class GridModel;

// The grid control of the main window: a table whose row 0 and column 0 are
// fixed header cells, with the operations the program uses. Sizes are in
// twips (1/1440 inch) and colours in 0x00BBGGRR, as the rest of the program
// speaks of them.
//
// The grid never indexes outside itself: setting Row, Col, RowSel or ColSel
// outside 0..Rows-1 / 0..Cols-1 is refused (the value stays), reading a cell
// outside reads an empty text (and white), writing one does nothing, and
// shrinking Rows or Cols moves the current cell and the selection inside.
class CMSFlexGrid : public QTableView
{
    Q_OBJECT
public:
    static constexpr uint32_t kWhite = 0xFFFFFF;
    static constexpr uint32_t kSilver = 0xC0C0C0;
    static constexpr uint32_t kYellow = 0x00FFFF;
    static constexpr uint32_t kRed = 0x0000FF;

    // twipsPerPixel converts twips to pixels (15 at 96 dots per inch).
    explicit CMSFlexGrid(QWidget* parent = nullptr, int twipsPerPixelX = 15, int twipsPerPixelY = 15);
    ~CMSFlexGrid() override;

    // Text of the current cell.
    std::string GetText() const;
    void SetText(const std::string& text);

    // Sizes below 1 count as 1 (the header row or column alone); a size of
    // more than 350000 cells in all is refused.
    int GetRows() const;
    void SetRows(int rows);
    int GetCols() const;
    void SetCols(int cols);

    // Setting Row or Col also sets RowSel and ColSel to the current cell: a
    // new current cell starts a selection of itself alone.
    int GetRow() const;
    void SetRow(int row);
    int GetCol() const;
    void SetCol(int col);
    void SetRowSel(int row);
    void SetColSel(int col);

    // The current cell's rectangle relative to the control, in twips.
    int GetCellLeft() const;
    int GetCellTop() const;
    int GetCellWidth() const;
    int GetCellHeight() const;

    void SetRowHeightMin(int twips);
    // Colour of the current cell; with FillStyle 1, setting colours the whole
    // selection from the current cell to (RowSel, ColSel).
    uint32_t GetCellBackColor() const;
    void SetCellBackColor(uint32_t colour);
    void SetFillStyle(int style);
    int GetFillStyle() const;

    // Index = row * Cols + col; 0 is the top-left cell.
    void SetTextArray(int index, const std::string& text);
    // A negative width is the default width; reading a column outside the
    // grid gives 0.
    void SetColWidth(int col, int twips);
    int GetColWidth(int col) const;
    // Widens column col, never narrowing it, so that every text it holds
    // shows whole: a data cell's in the grid's font within the cell's
    // margins and grid line, a header cell's as its header measures it.
    // Measured once, now; a text changed later keeps the width as it is
    // until this runs again. Hidden rows (height 0) do not count, and a
    // hidden column (width 0) stays hidden.
    void FitColWidthToTexts(int col);
    // 0 hides the row and a negative height is the default; a shown row is
    // at least RowHeightMin high, and reading gives that effective height
    // (0 outside the grid).
    void SetRowHeight(int row, int twips);
    int GetRowHeight(int row) const;
    std::string GetTextMatrix(int row, int col) const;
    void SetTextMatrix(int row, int col, const std::string& text);
    uint32_t GetCellColour(int row, int col) const;  // for tests and the send's red scan
    // Removes the texts of all cells (sizes, colours and tooltips stay).
    void Clear();
    // The tooltip of a cell (a header cell's shows over its header); empty:
    // none. Colouring a cell removes its tooltip, which tells why the cell
    // has the colour it has.
    std::string GetCellToolTip(int row, int col) const;
    void SetCellToolTip(int row, int col, const std::string& tip);

    // The current cell scrolled into sight (setting Row or Col never scrolls).
    void ScrollToCurrent();
    // Tab: the next data cell to the right, at a row's end the first of the
    // next shown row; back: the other way. Stays at the grid's ends.
    void MoveByTab(bool bBack);

    // Drawing suspended: changes are not shown until resumed.
    void SetRedraw(bool redraw);

signals:
    // A left click made the clicked data cell current; then this. Clicks on
    // the header row or column do neither.
    void Click();
    // The visible part of the grid moved.
    void Scroll();
    // Key codes are the original platform's virtual-key codes: digits 48..57,
    // keypad digits 96..105, Delete 46; shift state as bits (1 shift, 2 ctrl,
    // 4 alt). A key without such a code gives 0 when it types a character
    // and Qt's key code (above 0xFFFF) otherwise. The grid itself moves its
    // current cell with the arrow and page keys, after KeyDown.
    void KeyDown(int keyCode, int shift);
    void KeyUp(int keyCode, int shift);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    static constexpr int kMaxCells = 350000;

    int PixelsX(int twips) const;
    int PixelsY(int twips) const;
    // Puts the stored twip size of a column or row onto the view.
    void ApplyColWidth(int col);
    void ApplyRowHeight(int row);
    // The view's current index follows Row/Col for data cells.
    void ShowCurrentInView();
    // Where the data cells start in the control, in pixels.
    QPoint DataOrigin() const;

    GridModel* m_pModel;
    int m_nTwipsX;
    int m_nTwipsY;
    int m_nRow = 1;
    int m_nCol = 1;
    int m_nRowSel = 1;
    int m_nColSel = 1;
    int m_nFillStyle = 0;
    int m_nRowHeightMin = 0;
    bool m_bRedraw = true;
    std::vector<int> m_aColWidth;   // twips, as set
    std::vector<int> m_aRowHeight;  // twips, as set; 0 hides the row
};
