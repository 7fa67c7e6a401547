// What keeps the main window workable from the keyboard and tells where it
// stands: the focus after every dialog and job, the toolbar, the title and
// the count of edits waiting to be sent, live actual values, and the window's
// place on the screen kept for the user.
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QStyle>
#include <QToolBar>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "monitor/MonitorTypes.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "platform/SafeFormat.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"

namespace {

constexpr int kTextOneWaiting = 183;
constexpr int kTextManyWaiting = 184;

constexpr int kFirstWidth = 900;
constexpr int kFirstHeight = 600;
constexpr int kSetValueCol = 1;
constexpr int kActualValueCol = 2;

// One toolbar button: the command, its icon's name in the desktop's theme
// and Qt's own icon where the theme has none.
struct ToolItem
{
    int nId;
    const char* themeIcon;
    QStyle::StandardPixmap fallback;
};
constexpr ToolItem kToolItems[] = {
    {cmd::kScanDevices, "edit-find", QStyle::SP_FileDialogContentsView},
    {cmd::kReceiveParams, "go-down", QStyle::SP_ArrowDown},
    {cmd::kSendParams, "go-up", QStyle::SP_ArrowUp},
    {cmd::kMonitor, "utilities-system-monitor", QStyle::SP_ComputerIcon},
    {0, nullptr, QStyle::SP_CustomBase},
    {cmd::kFileOpen, "document-open", QStyle::SP_DialogOpenButton},
    {cmd::kFileSave, "document-save", QStyle::SP_DialogSaveButton},
    {cmd::kCompareRecipe, "edit-copy", QStyle::SP_FileDialogDetailedView},
};

// The menu an item sits in, through the bar's menus.
bool ItemAvailable(CMenuBar& menu, int id)
{
    QAction* item = menu.Find(id);
    if (!item || !item->isEnabled())
        return false;
    for (int position = 0; position < menu.MenuCount(); ++position) {
        if (menu.Menu(position)->actions().contains(item))
            return menu.IsMenuEnabled(position);
    }
    return true;
}

// "x,y,width,height,maximised"; false for anything else.
bool ParseGeometry(const std::string& text, QRect& rect, bool& bMaximised)
{
    int x = 0, y = 0, w = 0, h = 0, max = 0;
    char end = 0;
    if (std::sscanf(text.c_str(), "%d,%d,%d,%d,%d%c", &x, &y, &w, &h, &max, &end) != 5 || w <= 0 || h <= 0)
        return false;
    rect = QRect(x, y, w, h);
    bMaximised = max != 0;
    return true;
}

}  // namespace

void CDarozozazWindowsDlg::CreateToolBar()
{
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName("toolbar");
    m_toolBar->setToolButtonStyle(Qt::ToolButtonFollowStyle);
    m_toolBar->setFocusPolicy(Qt::NoFocus);
    for (const ToolItem& tool : kToolItems) {
        if (tool.nId == 0) {
            m_toolBar->addSeparator();
            continue;
        }
        QAction* item = m_menu->Find(tool.nId);
        if (!item)
            continue;
        // Its own action: the menu item's may be enabled inside a greyed
        // menu, and the button must then be greyed too (UpdateToolbar).
        auto* button = m_toolBar->addAction(QIcon::fromTheme(tool.themeIcon, style()->standardIcon(tool.fallback)),
                                            QString());
        button->setObjectName(QString("tool%1").arg(tool.nId));
        button->setData(tool.nId);
        item->setIcon(button->icon());
        const int id = tool.nId;
        connect(button, &QAction::triggered, this, [this, id] { RunCommand(id); });
    }
    for (QWidget* child : m_toolBar->findChildren<QWidget*>())
        child->setFocusPolicy(Qt::NoFocus);
}

void CDarozozazWindowsDlg::UpdateToolbar()
{
    if (!m_toolBar)
        return;
    for (QAction* button : m_toolBar->actions()) {
        const int id = button->data().toInt();
        if (id == 0)
            continue;
        button->setEnabled(ItemAvailable(*m_menu, id));
        if (const QAction* item = m_menu->Find(id)) {
            // The menu's text without its mnemonic and dots, with the key.
            QString tip = item->iconText();
            if (!item->shortcut().isEmpty())
                tip += " (" + item->shortcut().toString(QKeySequence::NativeText) + ")";
            button->setText(item->iconText());
            button->setToolTip(tip);
        }
    }
}

void CDarozozazWindowsDlg::RunCommand(int id)
{
    // A shortcut reaches an item whose menu is greyed: such a command is
    // not on offer.
    if (!ItemAvailable(*m_menu, id) && !(id >= cmd::kFirstLanguage && id <= cmd::kLastActiveLanguage))
        return;
    Guarded([this, id] {
        // A value typed and not yet taken over belongs to what the command
        // works with (a send, a save).
        if (IsEditVisible() && !CommitCellEdit())
            return;
        OnCommand(id);
    });
    UpdateToolbar();
    UpdateEditState();
    FocusCurrentCell();
}

void CDarozozazWindowsDlg::FocusCurrentCell()
{
    if (!isVisible() || m_bClosing)
        return;
    // A dialog still open on top keeps the keyboard.
    const QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this)
        return;
    if (!isActiveWindow())
        activateWindow();
    if (IsEditVisible()) {
        m_editCell->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (m_nCurrentView < 0 || m_nCurrentView > 2)
        return;
    CMSFlexGrid& grid = Grid(m_nCurrentView);
    if (grid.GetRows() < 2 || grid.GetCols() < 2)
        return;
    // A cell the keys can edit: a data cell, in grid 2 the set value, and
    // never a hidden row.
    int row = std::max(1, grid.GetRow());
    int col = std::max(1, grid.GetCol());
    if (m_nCurrentView == 2 && col == kActualValueCol)
        col = kSetValueCol;
    while (row < grid.GetRows() && grid.GetRowHeight(row) == 0)
        ++row;
    if (row >= grid.GetRows())
        row = 1;
    if (row != grid.GetRow())
        grid.SetRow(row);
    if (col != grid.GetCol())
        grid.SetCol(col);
    grid.ScrollToCurrent();
    // On a window the window manager has not activated yet, this is where
    // the focus goes once it does: the keys typed meanwhile are queued for
    // the window and reach the grid.
    grid.setFocus(Qt::OtherFocusReason);
}

void CDarozozazWindowsDlg::MoveDownOneRow()
{
    if (m_nCurrentView < 0 || m_nCurrentView > 2 || IsEditVisible())
        return;
    CMSFlexGrid& grid = Grid(m_nCurrentView);
    int row = grid.GetRow() + 1;
    while (row < grid.GetRows() && grid.GetRowHeight(row) == 0)
        ++row;
    if (row >= grid.GetRows())
        return;
    const int col = grid.GetCol();
    grid.SetRow(row);
    grid.SetCol(col);
    grid.ScrollToCurrent();
}

void CDarozozazWindowsDlg::UpdateEditState()
{
    const int waiting = CountUnsentChanges();
    setWindowTitle(Q((waiting > 0 ? "*" : "") + m_strTitle));
    if (!m_pendingField)
        return;
    std::string text;
    if (waiting == 1)
        text = TheTextMemory().GetTextOr(kTextOneWaiting, "1 change waiting to be sent");
    else if (waiting > 1)
        text = platform::SafeFormat(TheTextMemory().GetTextOr(kTextManyWaiting, "%d changes waiting to be sent"),
                                    {static_cast<long long>(waiting)});
    m_pendingField->setText(Q(text));
}

void CDarozozazWindowsDlg::OnMonitorActualValues(int nAddress, const std::vector<int32_t>& actual)
{
    CUnit& unit = TheUnit();
    if (nAddress < 1 || nAddress != unit.GetAddress() || unit.IsOffline())
        return;
    CMSFlexGrid& grid = Grid(2);
    const int zones = std::min<int>(unit.QueryZoneCount(), static_cast<int>(actual.size()));
    bool bAny = false;
    for (int zone = 1; zone <= zones && zone < grid.GetRows(); ++zone) {
        const int32_t value = actual[static_cast<std::size_t>(zone - 1)];
        if (value == kNoValue)
            continue;
        unit.SetActualValue(static_cast<int16_t>(zone), value);
        grid.SetTextMatrix(zone, kActualValueCol, std::to_string(value));
        bAny = true;
    }
    if (!bAny)
        return;
    m_lastJob = JobStatus{JobStatus::Kind::Live, std::time(nullptr), 0, 0};
    UpdateStatusBar();
}

void CDarozozazWindowsDlg::RestoreGeometry()
{
    // The first size: 900 x 600, or what the screen has room for.
    QSize size(kFirstWidth, kFirstHeight + m_nStatusHeight);
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (shown)
        size = size.boundedTo(shown->availableGeometry().size());
    resize(size);

    CIniFile config("CONFIG.INI", false);
    config.ReadString("WINDOW", "Geometry");
    QRect kept;
    bool bMaximised = false;
    if (!ParseGeometry(config.GetValue(), kept, bMaximised))
        return;
    // A screen that has gone since (a laptop off its dock) must not hide the
    // window: kept only when its title bar lies on a screen of now.
    const QRect titleBar(kept.topLeft(), QSize(kept.width(), 24));
    for (const QScreen* each : QGuiApplication::screens()) {
        const QRect room = each->availableGeometry();
        if (room.intersects(titleBar)) {
            resize(kept.size().boundedTo(room.size()).expandedTo(minimumSize()));
            move(kept.topLeft());
            if (bMaximised)
                setWindowState(windowState() | Qt::WindowMaximized);
            return;
        }
    }
}

void CDarozozazWindowsDlg::SaveGeometry()
{
    if (!isVisible() || isMinimized())
        return;
    const bool bMaximised = isMaximized();
    // The frame's corner, as move() takes it back; the inner size, as
    // resize() does.
    const QPoint corner = bMaximised ? normalGeometry().topLeft() : pos();
    const QSize inner = bMaximised ? normalGeometry().size() : size();
    if (inner.isEmpty())
        return;
    char text[96];
    std::snprintf(text, sizeof text, "%d,%d,%d,%d,%d", corner.x(), corner.y(), inner.width(), inner.height(),
                  bMaximised ? 1 : 0);
    CIniFile config("CONFIG.INI", false);
    config.ReadString("WINDOW", "Geometry");
    if (config.GetValue() == text)
        return;
    config.SetValue(text);
    config.WriteString("WINDOW", "Geometry");
}
