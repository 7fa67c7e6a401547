// The grid control: a table view over plain cell data.
#include "mainwindow/qt/MSFlexGrid.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "platform/qt/MarkColours.h"
#include "platform/qt/QtText.h"

namespace {

constexpr int kDefaultColTwips = 960;
constexpr int kDefaultRowTwips = 300;

// Texts that read as whole numbers stand to the right, as in a column of
// figures; everything else to the left.
bool LooksNumeric(const std::string& text)
{
    std::size_t i = text.empty() || text[0] != '-' ? 0 : 1;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return true;
}

// The program's handlers compare key codes with the original platform's
// virtual-key codes. Keys that have no such code and lie in the printable
// range are given 0: their Qt codes would read as unrelated virtual keys
// ('.' is 46, the code of Delete).
int VirtualKey(const QKeyEvent& event)
{
    const int key = event.key();
    const bool keypad = (event.modifiers() & Qt::KeypadModifier) != 0;
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return (keypad ? 96 : 48) + (key - Qt::Key_0);
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 65 + (key - Qt::Key_A);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return 112 + (key - Qt::Key_F1);
    if (keypad) {
        switch (key) {
        case Qt::Key_Asterisk: return 106;
        case Qt::Key_Plus: return 107;
        case Qt::Key_Minus: return 109;
        case Qt::Key_Period:
        case Qt::Key_Comma: return 110;
        case Qt::Key_Slash: return 111;
        default: break;
        }
    }
    switch (key) {
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Clear: return 12;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    case Qt::Key_Shift: return 16;
    case Qt::Key_Control: return 17;
    case Qt::Key_Alt: return 18;
    case Qt::Key_Pause: return 19;
    case Qt::Key_CapsLock: return 20;
    case Qt::Key_Escape: return 27;
    case Qt::Key_Space: return 32;
    case Qt::Key_PageUp: return 33;
    case Qt::Key_PageDown: return 34;
    case Qt::Key_End: return 35;
    case Qt::Key_Home: return 36;
    case Qt::Key_Left: return 37;
    case Qt::Key_Up: return 38;
    case Qt::Key_Right: return 39;
    case Qt::Key_Down: return 40;
    case Qt::Key_Print: return 44;
    case Qt::Key_Insert: return 45;
    case Qt::Key_Delete: return 46;
    case Qt::Key_Meta: return 91;
    case Qt::Key_Menu: return 93;
    case Qt::Key_NumLock: return 144;
    case Qt::Key_ScrollLock: return 145;
    case Qt::Key_Semicolon: return 186;
    case Qt::Key_Equal: return 187;
    case Qt::Key_Comma: return 188;
    case Qt::Key_Minus: return 189;
    case Qt::Key_Period: return 190;
    case Qt::Key_Slash: return 191;
    case Qt::Key_QuoteLeft: return 192;
    case Qt::Key_BracketLeft: return 219;
    case Qt::Key_Backslash: return 220;
    case Qt::Key_BracketRight: return 221;
    case Qt::Key_Apostrophe: return 222;
    default: break;
    }
    // Qt's codes for keys without text start far above the virtual-key range.
    return key >= Qt::Key_Escape ? key : 0;
}

int ShiftState(Qt::KeyboardModifiers modifiers)
{
    int state = 0;
    if (modifiers & Qt::ShiftModifier)
        state |= 1;
    if (modifiers & Qt::ControlModifier)
        state |= 2;
    if (modifiers & Qt::AltModifier)
        state |= 4;
    return state;
}

bool IsNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End: return true;
    default: return false;
    }
}

}  // namespace

// Texts and colours of every cell, header row and column included, row by
// row. The view's items are the cells from (1, 1) on; row 0 and column 0 are
// its header texts. While notices are held back (drawing suspended) changed
// cells only mark the data as stale, and one notice covers all of them when
// drawing resumes: a fill writes thousands of cells.
class GridModel : public QAbstractTableModel
{
public:
    explicit GridModel(QObject* parent) : QAbstractTableModel(parent) { Relayout(2, 2); }

    int Rows() const { return m_nRows; }
    int Cols() const { return m_nCols; }
    bool Contains(int row, int col) const { return row >= 0 && row < m_nRows && col >= 0 && col < m_nCols; }

    const std::string& Text(int row, int col) const
    {
        static const std::string empty;
        return Contains(row, col) ? m_aTexts[At(row, col)] : empty;
    }
    void SetText(int row, int col, const std::string& text)
    {
        if (!Contains(row, col))
            return;
        m_aTexts[At(row, col)] = text;
        Changed(row, col, row, col);
    }

    uint32_t Colour(int row, int col) const
    {
        return Contains(row, col) ? m_aColours[At(row, col)] : CMSFlexGrid::kWhite;
    }
    const std::string& Tip(int row, int col) const
    {
        static const std::string empty;
        return Contains(row, col) ? m_aTips[At(row, col)] : empty;
    }
    void SetTip(int row, int col, const std::string& tip)
    {
        if (!Contains(row, col))
            return;
        m_aTips[At(row, col)] = tip;
    }

    // Colours the rectangle (row1, col1)-(row2, col2), corners in any order,
    // clipped to the grid. A cell's tooltip tells why it has its colour, so
    // a new colour takes the tooltip away.
    void SetColour(int row1, int col1, int row2, int col2, uint32_t colour)
    {
        const int top = std::max(0, std::min(row1, row2));
        const int bottom = std::min(m_nRows - 1, std::max(row1, row2));
        const int left = std::max(0, std::min(col1, col2));
        const int right = std::min(m_nCols - 1, std::max(col1, col2));
        if (top > bottom || left > right)
            return;
        for (int r = top; r <= bottom; ++r) {
            std::fill_n(m_aColours.begin() + static_cast<std::ptrdiff_t>(At(r, left)), right - left + 1, colour);
            for (int c = left; c <= right; ++c)
                m_aTips[At(r, c)].clear();
        }
        Changed(top, left, bottom, right);
    }

    void ClearTexts()
    {
        for (std::string& text : m_aTexts)
            text.clear();
        Changed(0, 0, m_nRows - 1, m_nCols - 1);
    }

    // Cells inside both the old and the new size keep text and colour.
    void Resize(int rows, int cols)
    {
        if (cols < m_nCols) {
            beginRemoveColumns(QModelIndex(), cols - 1, m_nCols - 2);
            Relayout(m_nRows, cols);
            endRemoveColumns();
        } else if (cols > m_nCols) {
            beginInsertColumns(QModelIndex(), m_nCols - 1, cols - 2);
            Relayout(m_nRows, cols);
            endInsertColumns();
        }
        if (rows < m_nRows) {
            beginRemoveRows(QModelIndex(), rows - 1, m_nRows - 2);
            Relayout(rows, m_nCols);
            endRemoveRows();
        } else if (rows > m_nRows) {
            beginInsertRows(QModelIndex(), m_nRows - 1, rows - 2);
            Relayout(rows, m_nCols);
            endInsertRows();
        }
    }

    void SetNotify(bool notify)
    {
        m_bNotify = notify;
        if (notify && m_bStale) {
            m_bStale = false;
            Changed(0, 0, m_nRows - 1, m_nCols - 1);
        }
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_nRows - 1;
    }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_nCols - 1;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        const int row = index.row() + 1;
        const int col = index.column() + 1;
        if (!Contains(row, col))
            return {};
        switch (role) {
        case Qt::DisplayRole: return Q(Text(row, col));
        // A marked cell brings its own text colour; an unmarked one is the
        // palette's, light or dark.
        case Qt::BackgroundRole: {
            const QColor background = ColoursForMark(Colour(row, col)).background;
            return background.isValid() ? QVariant(background) : QVariant();
        }
        case Qt::ForegroundRole: {
            const QColor text = ColoursForMark(Colour(row, col)).text;
            return text.isValid() ? QVariant(text) : QVariant();
        }
        case Qt::TextAlignmentRole:
            return static_cast<int>(Qt::AlignVCenter |
                                    (LooksNumeric(Text(row, col)) ? Qt::AlignRight : Qt::AlignLeft));
        case Qt::ToolTipRole:
            return Tip(row, col).empty() ? QVariant() : QVariant(Q(Tip(row, col)));
        default: return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        const int row = orientation == Qt::Horizontal ? 0 : section + 1;
        const int col = orientation == Qt::Horizontal ? section + 1 : 0;
        if (role == Qt::ToolTipRole)
            return Tip(row, col).empty() ? QVariant() : QVariant(Q(Tip(row, col)));
        if (role != Qt::DisplayRole)
            return {};
        return Q(Text(row, col));
    }

    // Current cell and navigation only: the grid is never edited in place and
    // its selection is its own.
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
    }

private:
    std::size_t At(int row, int col) const
    {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(m_nCols) + static_cast<std::size_t>(col);
    }

    void Relayout(int rows, int cols)
    {
        std::vector<std::string> texts(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        std::vector<uint32_t> colours(texts.size(), CMSFlexGrid::kWhite);
        std::vector<std::string> tips(texts.size());
        const int keepRows = std::min(rows, m_nRows);
        const int keepCols = std::min(cols, m_nCols);
        for (int r = 0; r < keepRows; ++r) {
            for (int c = 0; c < keepCols; ++c) {
                const std::size_t to = static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) +
                                       static_cast<std::size_t>(c);
                texts[to] = std::move(m_aTexts[At(r, c)]);
                colours[to] = m_aColours[At(r, c)];
                tips[to] = std::move(m_aTips[At(r, c)]);
            }
        }
        m_aTexts.swap(texts);
        m_aColours.swap(colours);
        m_aTips.swap(tips);
        m_nRows = rows;
        m_nCols = cols;
    }

    void Changed(int top, int left, int bottom, int right)
    {
        if (!m_bNotify) {
            m_bStale = true;
            return;
        }
        if (top == 0 && right >= 1)
            emit headerDataChanged(Qt::Horizontal, std::max(left, 1) - 1, right - 1);
        if (left == 0 && bottom >= 1)
            emit headerDataChanged(Qt::Vertical, std::max(top, 1) - 1, bottom - 1);
        if (bottom >= 1 && right >= 1)
            emit dataChanged(index(std::max(top, 1) - 1, std::max(left, 1) - 1), index(bottom - 1, right - 1));
    }

    int m_nRows = 0;
    int m_nCols = 0;
    std::vector<std::string> m_aTexts;
    std::vector<uint32_t> m_aColours;
    std::vector<std::string> m_aTips;
    bool m_bNotify = true;
    bool m_bStale = false;
};

CMSFlexGrid::CMSFlexGrid(QWidget* parent, int twipsPerPixelX, int twipsPerPixelY)
    : QTableView(parent),
      m_pModel(new GridModel(this)),
      m_nTwipsX(std::max(1, twipsPerPixelX)),
      m_nTwipsY(std::max(1, twipsPerPixelY)),
      m_aColWidth(2, kDefaultColTwips),
      m_aRowHeight(2, kDefaultRowTwips)
{
    setModel(m_pModel);
    // The program opens its own edit box over a cell; the grid's selection
    // is only a range for colouring, so the cell colours stay visible.
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    // Tab walks the cells (see keyPressEvent) rather than leaving the grid.
    setTabKeyNavigation(true);
    setCornerButtonEnabled(false);
    setWordWrap(false);
    // Setting Row or Col does not move the visible part; only the user's
    // keys do (see keyPressEvent).
    setAutoScroll(false);

    // Sizes are set explicitly: a header that measures its contents would do
    // so on every changed cell.
    for (QHeaderView* header : {horizontalHeader(), verticalHeader()}) {
        header->setSectionResizeMode(QHeaderView::Fixed);
        header->setSectionsClickable(false);
        header->setHighlightSections(false);
        header->setMinimumSectionSize(0);
    }
    verticalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setDefaultSectionSize(PixelsX(kDefaultColTwips));
    verticalHeader()->setDefaultSectionSize(PixelsY(kDefaultRowTwips));
    for (int col = 0; col < 2; ++col)
        ApplyColWidth(col);
    for (int row = 0; row < 2; ++row)
        ApplyRowHeight(row);

    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { emit Scroll(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { emit Scroll(); });
    ShowCurrentInView();
}

CMSFlexGrid::~CMSFlexGrid() = default;

int CMSFlexGrid::PixelsX(int twips) const { return twips / m_nTwipsX; }
int CMSFlexGrid::PixelsY(int twips) const { return twips / m_nTwipsY; }

std::string CMSFlexGrid::GetText() const { return m_pModel->Text(m_nRow, m_nCol); }
void CMSFlexGrid::SetText(const std::string& text) { m_pModel->SetText(m_nRow, m_nCol, text); }

int CMSFlexGrid::GetRows() const { return m_pModel->Rows(); }
int CMSFlexGrid::GetCols() const { return m_pModel->Cols(); }

void CMSFlexGrid::SetRows(int rows)
{
    rows = std::max(1, rows);
    if (rows == GetRows() || static_cast<long long>(rows) * GetCols() > kMaxCells)
        return;
    const int oldRows = GetRows();
    m_pModel->Resize(rows, GetCols());
    m_aRowHeight.resize(static_cast<std::size_t>(rows), kDefaultRowTwips);
    for (int row = oldRows; row < rows; ++row)
        ApplyRowHeight(row);
    m_nRow = std::min(m_nRow, rows - 1);
    m_nRowSel = std::min(m_nRowSel, rows - 1);
    ShowCurrentInView();
}

void CMSFlexGrid::SetCols(int cols)
{
    cols = std::max(1, cols);
    if (cols == GetCols() || static_cast<long long>(cols) * GetRows() > kMaxCells)
        return;
    const int oldCols = GetCols();
    m_pModel->Resize(GetRows(), cols);
    m_aColWidth.resize(static_cast<std::size_t>(cols), kDefaultColTwips);
    for (int col = oldCols; col < cols; ++col)
        ApplyColWidth(col);
    m_nCol = std::min(m_nCol, cols - 1);
    m_nColSel = std::min(m_nColSel, cols - 1);
    ShowCurrentInView();
}

int CMSFlexGrid::GetRow() const { return m_nRow; }
int CMSFlexGrid::GetCol() const { return m_nCol; }

// A new current row or column also starts a new selection, of the current
// cell alone.
void CMSFlexGrid::SetRow(int row)
{
    if (row < 0 || row >= GetRows())
        return;
    m_nRow = m_nRowSel = row;
    m_nColSel = m_nCol;
    ShowCurrentInView();
}

void CMSFlexGrid::SetCol(int col)
{
    if (col < 0 || col >= GetCols())
        return;
    m_nCol = m_nColSel = col;
    m_nRowSel = m_nRow;
    ShowCurrentInView();
}

void CMSFlexGrid::SetRowSel(int row)
{
    if (row >= 0 && row < GetRows())
        m_nRowSel = row;
}

void CMSFlexGrid::SetColSel(int col)
{
    if (col >= 0 && col < GetCols())
        m_nColSel = col;
}

void CMSFlexGrid::ScrollToCurrent()
{
    ShowCurrentInView();
    if (currentIndex().isValid())
        scrollTo(currentIndex());
}

void CMSFlexGrid::MoveByTab(bool bBack)
{
    int row = m_nRow;
    int col = m_nCol;
    const int step = bBack ? -1 : 1;
    for (;;) {
        col += step;
        if (col < 1 || col >= GetCols()) {
            row += step;
            col = bBack ? GetCols() - 1 : 1;
        }
        if (row < 1 || row >= GetRows())
            return;
        // Hidden rows and columns (the globals a unit lacks) are passed over.
        if (GetRowHeight(row) > 0 && GetColWidth(col) > 0)
            break;
    }
    SetRow(row);
    SetCol(col);
    ScrollToCurrent();
}

void CMSFlexGrid::ShowCurrentInView()
{
    const QModelIndex index = m_nRow >= 1 && m_nCol >= 1 ? m_pModel->index(m_nRow - 1, m_nCol - 1) : QModelIndex();
    if (index != currentIndex())
        setCurrentIndex(index);
}

QPoint CMSFlexGrid::DataOrigin() const
{
    // The view puts its viewport right of the row headers and below the
    // column headers, inside the frame; worked out from the sizes set here,
    // so it holds before the view has been laid out.
    const int frame = frameWidth();
    const int headerWidth = verticalHeader()->isHidden() ? 0 : PixelsX(m_aColWidth[0]);
    const int headerHeight = horizontalHeader()->isHidden() ? 0 : PixelsY(GetRowHeight(0));
    return {frame + headerWidth, frame + headerHeight};
}

int CMSFlexGrid::GetCellLeft() const
{
    const int x = m_nCol == 0 ? frameWidth() : DataOrigin().x() + columnViewportPosition(m_nCol - 1);
    return x * m_nTwipsX;
}

int CMSFlexGrid::GetCellTop() const
{
    const int y = m_nRow == 0 ? frameWidth() : DataOrigin().y() + rowViewportPosition(m_nRow - 1);
    return y * m_nTwipsY;
}

int CMSFlexGrid::GetCellWidth() const
{
    int width = 0;
    if (m_nCol == 0)
        width = verticalHeader()->isHidden() ? 0 : PixelsX(m_aColWidth[0]);
    else if (!isColumnHidden(m_nCol - 1))
        width = columnWidth(m_nCol - 1);
    return width * m_nTwipsX;
}

int CMSFlexGrid::GetCellHeight() const
{
    int height = 0;
    if (m_nRow == 0)
        height = horizontalHeader()->isHidden() ? 0 : PixelsY(GetRowHeight(0));
    else if (!isRowHidden(m_nRow - 1))
        height = rowHeight(m_nRow - 1);
    return height * m_nTwipsY;
}

void CMSFlexGrid::SetRowHeightMin(int twips)
{
    twips = std::max(0, twips);
    if (twips == m_nRowHeightMin)
        return;
    m_nRowHeightMin = twips;
    verticalHeader()->setDefaultSectionSize(PixelsY(std::max(kDefaultRowTwips, twips)));
    for (int row = 0; row < GetRows(); ++row)
        ApplyRowHeight(row);
}

uint32_t CMSFlexGrid::GetCellBackColor() const { return m_pModel->Colour(m_nRow, m_nCol); }

void CMSFlexGrid::SetCellBackColor(uint32_t colour)
{
    colour &= 0xFFFFFF;
    if (m_nFillStyle == 1)
        m_pModel->SetColour(m_nRow, m_nCol, m_nRowSel, m_nColSel, colour);
    else
        m_pModel->SetColour(m_nRow, m_nCol, m_nRow, m_nCol, colour);
}

void CMSFlexGrid::SetFillStyle(int style)
{
    if (style == 0 || style == 1)
        m_nFillStyle = style;
}

int CMSFlexGrid::GetFillStyle() const { return m_nFillStyle; }

void CMSFlexGrid::SetTextArray(int index, const std::string& text)
{
    const int cols = GetCols();
    if (index < 0 || index >= GetRows() * cols)
        return;
    m_pModel->SetText(index / cols, index % cols, text);
}

void CMSFlexGrid::SetColWidth(int col, int twips)
{
    if (col < 0 || col >= GetCols())
        return;
    if (twips < 0)
        twips = kDefaultColTwips;
    if (m_aColWidth[static_cast<std::size_t>(col)] == twips)
        return;
    m_aColWidth[static_cast<std::size_t>(col)] = twips;
    ApplyColWidth(col);
}

int CMSFlexGrid::GetColWidth(int col) const
{
    if (col < 0 || col >= GetCols())
        return 0;
    return m_aColWidth[static_cast<std::size_t>(col)];
}

void CMSFlexGrid::FitColWidthToTexts(int col)
{
    if (col < 0 || col >= GetCols() || m_aColWidth[static_cast<std::size_t>(col)] == 0)
        return;
    // A header measures a section's text in bold, so that a highlighted
    // section fits too, and puts the style's header margin on each side. An
    // item's text lies inside the style's focus-frame margin and one pixel
    // more on each side, and the grid line takes one pixel of the column.
    const QHeaderView* header = col == 0 ? verticalHeader() : horizontalHeader();
    QFont headerFont = header->font();
    headerFont.setBold(true);
    const QFontMetricsF headerMetrics(headerFont);
    const int headerMargins = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const QFontMetricsF cellMetrics(font());
    const int cellMargins =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + (showGrid() ? 1 : 0);

    qreal widest = 0;
    // The top-left cell is no header's: nothing shows its text.
    for (int row = col == 0 ? 1 : 0; row < GetRows(); ++row) {
        const std::string& text = m_pModel->Text(row, col);
        if (text.empty() || GetRowHeight(row) == 0)
            continue;
        const bool bHeader = row == 0 || col == 0;
        const QFontMetricsF& metrics = bHeader ? headerMetrics : cellMetrics;
        widest = std::max(widest, metrics.horizontalAdvance(Q(text)) + (bHeader ? headerMargins : cellMargins));
    }
    const int twips = static_cast<int>(std::ceil(widest)) * m_nTwipsX;
    if (twips > m_aColWidth[static_cast<std::size_t>(col)])
        SetColWidth(col, twips);
}

void CMSFlexGrid::ApplyColWidth(int col)
{
    QHeaderView* header = horizontalHeader();
    const int twips = m_aColWidth[static_cast<std::size_t>(col)];
    const int pixels = std::min(PixelsX(twips), header->maximumSectionSize());
    if (col == 0) {
        // Column 0 is the row header: its width is the header's.
        QHeaderView* rowHeader = verticalHeader();
        rowHeader->setFixedWidth(pixels);
        rowHeader->setHidden(pixels == 0);
        updateGeometries();
        return;
    }
    if (pixels == 0) {
        setColumnHidden(col - 1, true);
        return;
    }
    setColumnHidden(col - 1, false);
    setColumnWidth(col - 1, pixels);
}

void CMSFlexGrid::SetRowHeight(int row, int twips)
{
    if (row < 0 || row >= GetRows())
        return;
    if (twips < 0)
        twips = kDefaultRowTwips;
    if (m_aRowHeight[static_cast<std::size_t>(row)] == twips)
        return;
    m_aRowHeight[static_cast<std::size_t>(row)] = twips;
    ApplyRowHeight(row);
}

int CMSFlexGrid::GetRowHeight(int row) const
{
    if (row < 0 || row >= GetRows())
        return 0;
    const int twips = m_aRowHeight[static_cast<std::size_t>(row)];
    return twips == 0 ? 0 : std::max(twips, m_nRowHeightMin);
}

void CMSFlexGrid::ApplyRowHeight(int row)
{
    const int pixels = std::min(PixelsY(GetRowHeight(row)), verticalHeader()->maximumSectionSize());
    if (row == 0) {
        // Row 0 is the column header: its height is the header's.
        QHeaderView* colHeader = horizontalHeader();
        colHeader->setFixedHeight(pixels);
        colHeader->setHidden(pixels == 0);
        updateGeometries();
        return;
    }
    if (pixels == 0) {
        setRowHidden(row - 1, true);
        return;
    }
    setRowHidden(row - 1, false);
    setRowHeight(row - 1, pixels);
}

std::string CMSFlexGrid::GetTextMatrix(int row, int col) const { return m_pModel->Text(row, col); }

void CMSFlexGrid::SetTextMatrix(int row, int col, const std::string& text) { m_pModel->SetText(row, col, text); }

uint32_t CMSFlexGrid::GetCellColour(int row, int col) const { return m_pModel->Colour(row, col); }

void CMSFlexGrid::Clear() { m_pModel->ClearTexts(); }

std::string CMSFlexGrid::GetCellToolTip(int row, int col) const { return m_pModel->Tip(row, col); }

void CMSFlexGrid::SetCellToolTip(int row, int col, const std::string& tip) { m_pModel->SetTip(row, col, tip); }

void CMSFlexGrid::SetRedraw(bool redraw)
{
    if (redraw == m_bRedraw)
        return;
    m_bRedraw = redraw;
    m_pModel->SetNotify(redraw);
    setUpdatesEnabled(redraw);
}

void CMSFlexGrid::mousePressEvent(QMouseEvent* event)
{
    // The view's own press handling would start a drag selection; the
    // grid's selection is set only by the program.
    event->accept();
    if (event->button() != Qt::LeftButton)
        return;
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return;
    m_nRow = m_nRowSel = index.row() + 1;
    m_nCol = m_nColSel = index.column() + 1;
    ShowCurrentInView();
    emit Click();
}

void CMSFlexGrid::keyPressEvent(QKeyEvent* event)
{
    emit KeyDown(VirtualKey(*event), ShiftState(event->modifiers()));
    const int key = event->key();
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
        MoveByTab(key == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier));
        event->accept();
        return;
    }
    if (IsNavigationKey(key)) {
        // The view moves its current index past hidden rows; Row and Col
        // follow it, and the moved-to cell is scrolled into sight.
        QTableView::keyPressEvent(event);
        const QModelIndex index = currentIndex();
        if (index.isValid()) {
            m_nRow = m_nRowSel = index.row() + 1;
            m_nCol = m_nColSel = index.column() + 1;
            scrollTo(index);
        }
        return;
    }
    // Enter and Escape belong to the window (its default button, its close);
    // every other key ends here, so the view neither edits nor searches.
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape)
        event->ignore();
    else
        event->accept();
}

void CMSFlexGrid::keyReleaseEvent(QKeyEvent* event)
{
    // A held key repeats its press, not its release.
    if (!event->isAutoRepeat())
        emit KeyUp(VirtualKey(*event), ShiftState(event->modifiers()));
    QTableView::keyReleaseEvent(event);
}
