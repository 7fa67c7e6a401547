// The main window: construction, start-up, title, geometry, closing, the menu
// and the routing of its commands.
#include "mainwindow/qt/DarozozazWindowsDlg.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "config/Definitions.h"
#include "config/LanguageFiles.h"
#include "config/qt/DlgSelectInterface.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsApp.h"
#include "mainwindow/qt/MSFlexGrid.h"
#include "monitor/qt/MonitorCommand.h"
#include "platform/SafeFormat.h"
#include "platform/qt/Guard.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/MessageBox.h"
#include "platform/qt/ModalRun.h"
#include "platform/qt/QtText.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

namespace {

CDarozozazWindowsDlg* g_pMainWindow = nullptr;

const std::string& Text(int n) { return TheTextMemory().GetText(n); }

}  // namespace

CDarozozazWindowsDlg* TheMainWindow() { return g_pMainWindow; }

CDarozozazWindowsDlg::CDarozozazWindowsDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint),
      m_aChanges(3)
{
    g_pMainWindow = this;
    setObjectName("102");

    const int dpiX = std::max(1, logicalDpiX());
    const int dpiY = std::max(1, logicalDpiY());
    m_nTwipsPerPixelX = std::max(1, 1440 / dpiX);
    m_nTwipsPerPixelY = std::max(1, 1440 / dpiY);
    ClearChangeLists();

    m_menu = new CMenuBar(this);
    CreateMenu();
    connect(m_menu, &CMenuBar::Command, this, [this](int id) { RunCommand(id); });
    CreateToolBar();

    // Grid 0 is control 1001, grid 1 control 1000, grid 2 control 1003.
    const char* const names[] = {"1001", "1000", "1003"};
    for (int g = 0; g < 3; ++g) {
        auto* grid = new CMSFlexGrid(this, m_nTwipsPerPixelX, m_nTwipsPerPixelY);
        grid->setObjectName(names[g]);
        grid->hide();
        m_grid[static_cast<std::size_t>(g)] = grid;
        connect(grid, &CMSFlexGrid::Click, this, [this, g] { Guarded([this, g] { OnClickGrid(g); }); });
        connect(grid, &CMSFlexGrid::Scroll, this, [this, g] { Guarded([this, g] { OnScrollGrid(g); }); });
        connect(grid, &CMSFlexGrid::KeyDown, this,
                [this, g](int key, int) { Guarded([this, g, key] { OnKeyDownGrid(g, key); }); });
        connect(grid, &CMSFlexGrid::KeyUp, this,
                [this, g](int key, int) { Guarded([this, g, key] { OnKeyUpGrid(g, key); }); });
    }

    m_editCell = new QLineEdit(this);
    m_editCell->setObjectName("1002");
    m_editCell->hide();
    m_editCell->installEventFilter(this);

    // The dialog's default button: what Enter does in the main window.
    m_btnDummy = new QPushButton("Dummy", this);
    m_btnDummy->setObjectName("1004");
    m_btnDummy->hide();
    connect(m_btnDummy, &QPushButton::clicked, this, [this] { Guarded([this] { OnDefaultButton(); }); });

    // Unit, port and last job each on a line of their own: side by side
    // they would not fit the window's width, and none of them may be cut.
    m_statusBar = new QStatusBar(this);
    m_statusBar->setSizeGripEnabled(false);
    auto* fields = new QWidget(m_statusBar);
    auto* lines = new QVBoxLayout(fields);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(0);
    for (std::size_t i = 0; i < m_statusField.size(); ++i) {
        m_statusField[i] = new QLabel(fields);
        m_statusField[i]->setObjectName(QString("status%1").arg(i));
        lines->addWidget(m_statusField[i]);
    }
    m_statusBar->addWidget(fields, 1);
    m_pendingField = new QLabel(m_statusBar);
    m_pendingField->setObjectName("pending");
    m_statusBar->addPermanentWidget(m_pendingField);

    setWindowIcon(QIcon(":/vorlent/icon.png"));
    // Qt applies the minimum to the window's inner size; the rule it stands
    // for is that dragging never makes the window smaller than 300 x 200.
    setMinimumSize(300, 200);
    m_nStatusHeight = m_statusBar->sizeHint().height();
    RestoreGeometry();

    m_geometryTimer = new QTimer(this);
    m_geometryTimer->setSingleShot(true);
    m_geometryTimer->setInterval(1000);
    connect(m_geometryTimer, &QTimer::timeout, this, [this] { SaveGeometry(); });
}

CDarozozazWindowsDlg::~CDarozozazWindowsDlg()
{
    if (g_pMainWindow == this)
        g_pMainWindow = nullptr;
}

void CDarozozazWindowsDlg::CreateMenu()
{
    CMenuBar& m = *m_menu;
    QMenu* file = m.AddMenu();
    m.AddItem(file, cmd::kFileOpen)->setShortcut(QKeySequence::Open);
    m.AddItem(file, cmd::kFileSave, false)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    m.AddItem(file, cmd::kFileSaveAs, false)->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    m.AddItem(file, cmd::kCompareRecipe, false);
    m.AddItem(file, cmd::kExportCsv, false);
    m.AddSeparator(file);
    m.AddItem(file, cmd::kComment, false);
    m.AddItem(file, cmd::kFilePrint, false)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    m.AddSeparator(file);
    m.AddItem(file, cmd::kExit);

    QMenu* devices = m.AddMenu();
    m.AddSeparator(devices);
    m.AddItem(devices, cmd::kScanDevices);

    QMenu* communication = m.AddMenu();
    // Enter alone belongs to the grid (take the value, go down a row).
    m.AddItem(communication, cmd::kSendParams)
        ->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    m.AddItem(communication, cmd::kReceiveParams)->setShortcut(QKeySequence(Qt::Key_F5));
    m.AddItem(communication, cmd::kMonitor)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    m.AddSeparator(communication);
    m.AddItem(communication, cmd::kChangeHistory);

    QMenu* parameters = m.AddMenu();
    m.AddItem(parameters, cmd::kGlobalParams);
    m.AddItem(parameters, cmd::kZoneParams);
    m.AddItem(parameters, cmd::kActualSetValues);
    m.AddSeparator(parameters);
    m.AddItem(parameters, cmd::kLoadStandardParams);
    for (int id : {cmd::kGlobalParams, cmd::kZoneParams, cmd::kActualSetValues})
        m.Find(id)->setCheckable(true);

    QMenu* language = m.AddMenu();
    m.AddItem(language, cmd::kLanguagePlaceholder);

    QMenu* help = m.AddMenu();
    m.AddItem(help, cmd::kAbout)->setShortcut(QKeySequence(Qt::Key_F1));
}

bool CDarozozazWindowsDlg::OnInitDialog()
{
    if (!BuildLanguageMenu()) {
        // The only texts that no language file supplies.
        ShowMessageBox(this,
                       "No language file was found! You can't use Vorlent without at least one language file!",
                       "Vorlent - Critical Error", MsgIcon::Error);
        OnOK();
        return false;
    }
    for (const LanguageEntry& entry : m_pLanguages) {
        if (entry.nCommandId == m_nCurrentLanguageId)
            TheTextMemory().Load(entry.strFileName);
    }
    UseQtTranslations(TheTextMemory().GetLocale());
    Guarded([this] {
        ApplyMenuTexts();
        m_strTitle = Text(0);
        UpdateEditState();
    });
    UpdateStatusBar();
    for (CMSFlexGrid* grid : m_grid)
        grid->hide();
    return true;
}

void CDarozozazWindowsDlg::RunStartupSequence()
{
    if (!m_bStartupPending)
        return;
    m_bStartupPending = false;

    if (RenumberDefinitionsFile() == -1) {
        ShowMessageBox(this, Text(31), Text(0), MsgIcon::Error);
        m_bNoDefinitions = true;
    }

    CDlgSelectInterface dialog([this](int32_t baud, int32_t port) { OnInterfaceChosen(baud, port); }, this);
    if (RunModal(dialog) != QDialog::Accepted) {
        m_bStartupPending = true;
        OnOK();
        return;
    }

    TheUnit().LoadDefinitions();
    if (TheUnit().IsOffline())
        UpdateMenus(false);
    else
        OnRunScanDialog();
    FocusCurrentCell();
}

void CDarozozazWindowsDlg::UpdateTitle(bool bWithFile)
{
    std::string title = Text(0);
    if (bWithFile)
        title += " - " + RecipeFileName(m_strRecipePath);
    else
        m_strRecipePath.clear();
    m_strTitle = title;
    UpdateEditState();
}

bool CDarozozazWindowsDlg::OnCloseRequest()
{
    std::string question = platform::SafeFormat(Text(26), {Text(0)});
    // Yellow cells are lost with the window: the question says how many.
    const int unsent = CountUnsentChanges();
    if (unsent > 0)
        question += "\n\n" + platform::SafeFormat(TheTextMemory().GetTextOr(
                                                      87, "Changes not yet sent to the unit: %d."),
                                                  {static_cast<long long>(unsent)});
    if (ShowMessageBox(this, question, Text(0), MsgIcon::Question, MsgButtons::YesNo) != kIdYes)
        return false;
    m_pLanguages.clear();
    m_nLanguageCount = 0;
    return true;
}

void CDarozozazWindowsDlg::OnOK()
{
    m_bClosing = true;
    accept();
}

void CDarozozazWindowsDlg::Guarded(const std::function<void()>& handler)
{
    RunGuarded(this, handler);
}

// --- Commands ----------------------------------------------------------------

void CDarozozazWindowsDlg::OnCommand(int id)
{
    if (id >= cmd::kFirstUnit && id <= cmd::kLastUnit) {
        OnSelectUnit(id - (cmd::kFirstUnit - 1));
        return;
    }
    if (id >= cmd::kFirstLanguage && id < cmd::kFirstLanguage + static_cast<int>(kMaxLanguageFiles)) {
        // Languages from the 21st on are listed but cannot be chosen.
        if (id <= cmd::kLastActiveLanguage)
            OnLanguage(id);
        return;
    }
    switch (id) {
    case cmd::kFileOpen: OnFileOpen(); break;
    case cmd::kFileSave: OnFileSave(); break;
    case cmd::kFileSaveAs: OnFileSaveAs(); break;
    case cmd::kComment: OnComment(); break;
    case cmd::kFilePrint: OnFilePrint(); break;
    case cmd::kExit: close(); break;
    case cmd::kScanDevices: OnScanDevices(); break;
    case cmd::kSendParams: OnSendParams(); break;
    case cmd::kReceiveParams: OnReceiveParams(); break;
    case cmd::kMonitor: RunMonitorDialog(*this); break;
    case cmd::kGlobalParams: ShowView(0); break;
    case cmd::kZoneParams: ShowView(1); break;
    case cmd::kActualSetValues: ShowView(2); break;
    case cmd::kLoadStandardParams: OnLoadStandardParams(); break;
    case cmd::kAbout: OnAbout(); break;
    case cmd::kChangeHistory: OnChangeHistory(); break;
    case cmd::kCompareRecipe: OnCompareWithRecipe(); break;
    case cmd::kExportCsv: OnExportCsv(); break;
    default: break;
    }
}

void CDarozozazWindowsDlg::UpdateMenus(bool bUnitData)
{
    CMenuBar& m = *m_menu;
    // Unit items stand above the separator and Scan devices.
    if (m.Menu(menupos::kDevices)->actions().size() > 2) {
        m.EnableMenu(menupos::kCommunication, true);
        m.EnableMenu(menupos::kParameters, true);
        m.Enable(cmd::kSendParams, bUnitData);
        m.Enable(cmd::kZoneParams, bUnitData);
        m.Enable(cmd::kActualSetValues, bUnitData);
        m.Enable(cmd::kGlobalParams, bUnitData && !m_bNoDefinitions);
        // Live values need a unit, not its received data.
        m.Enable(cmd::kMonitor, !TheUnit().IsOffline() && TheUnit().GetAddress() > 0);
    } else {
        m.EnableMenu(menupos::kCommunication, false);
        m.EnableMenu(menupos::kParameters, false);
    }
}

void CDarozozazWindowsDlg::ShowView(int nView)
{
    HideCellEdit();
    CMenuBar& m = *m_menu;
    QMenu* parameters = m.Menu(menupos::kParameters);
    auto setViewCheck = [parameters](int view, bool checked) {
        if (QAction* item = CMenuBar::ItemAt(parameters, view)) {
            item->setCheckable(true);
            item->setChecked(checked);
        }
    };

    if (nView == -1) {
        for (CMSFlexGrid* grid : m_grid)
            grid->hide();
        if (m_nCurrentView != -1) {
            setViewCheck(m_nCurrentView, false);
            m_nCurrentView = -1;
        }
        for (int id : {cmd::kFileOpen, cmd::kFileSave, cmd::kFileSaveAs, cmd::kComment, cmd::kFilePrint,
                       cmd::kCompareRecipe, cmd::kExportCsv})
            m.Enable(id, false);
        return;
    }
    if (nView < 0 || nView > 2 || nView == m_nCurrentView)
        return;

    Grid(nView).show();
    if (m_nCurrentView != -1)
        Grid(m_nCurrentView).hide();
    for (int id : {cmd::kFileOpen, cmd::kFileSaveAs, cmd::kComment, cmd::kFilePrint, cmd::kCompareRecipe,
                   cmd::kExportCsv})
        m.Enable(id, true);
    if (m_nCurrentView != -1)
        setViewCheck(m_nCurrentView, false);
    setViewCheck(nView, true);
    m_nCurrentView = nView;
}

int CDarozozazWindowsDlg::OnInterfaceChosen(int32_t nBaudrate, int32_t nPort)
{
    if (nPort == 0) {
        m_menu->EnableMenu(menupos::kDevices, false);
        TheUnit().SetOffline(true);
    } else {
        TheUnit().SetOffline(false);
        // A number beyond the record's 16 bits must not wrap onto a real
        // port: it stands for no device, and opening it fails.
        const int16_t port = (nPort < 1 || nPort > 32767) ? int16_t{-1} : static_cast<int16_t>(nPort);
        TheUnit().SetInterface(port, nBaudrate);
    }
    UpdateStatusBar();
    return 0;
}

// --- Events ------------------------------------------------------------------

void CDarozozazWindowsDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    LayoutGrids();
}

void CDarozozazWindowsDlg::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    // The start-up sequence runs once, after the restored window has shown;
    // its dialogs must not run inside the paint itself.
    if (m_bStartupPending && !m_bStartupScheduled && !isMinimized()) {
        m_bStartupScheduled = true;
        QTimer::singleShot(0, this, [this] { Guarded([this] { RunStartupSequence(); }); });
    }
}

void CDarozozazWindowsDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    LayoutGrids();
    if (m_geometryTimer && isVisible())
        m_geometryTimer->start();
}

void CDarozozazWindowsDlg::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    if (m_geometryTimer && isVisible())
        m_geometryTimer->start();
}

void CDarozozazWindowsDlg::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized())
        LayoutGrids();
}

void CDarozozazWindowsDlg::LayoutGrids()
{
    // Nothing to place while minimised or before the grids exist.
    if (isMinimized() || !m_grid[0])
        return;
    QMenuBar* bar = m_menu->Widget();
    const int menuHeight = bar->sizeHint().height();
    bar->setGeometry(0, 0, width(), menuHeight);
    const int toolHeight = m_toolBar->sizeHint().height();
    m_toolBar->setGeometry(0, menuHeight, width(), toolHeight);
    const int barHeight = menuHeight + toolHeight;
    m_statusBar->setGeometry(0, height() - m_nStatusHeight, width(), m_nStatusHeight);
    const int w = std::max(0, width() - 10);
    const int h = std::max(0, height() - barHeight - m_nStatusHeight - 10);
    for (CMSFlexGrid* grid : m_grid)
        grid->setGeometry(5, barHeight + 5, w, h);
}

void CDarozozazWindowsDlg::closeEvent(QCloseEvent* event)
{
    // Closing after OnOK is the end of the run, not a request.
    if (m_bClosing) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    Guarded([this] {
        if (OnCloseRequest())
            OnOK();
    });
}

void CDarozozazWindowsDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        // Escape never closes the main window.
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        // Ctrl+Enter is Send; anything else with Enter is the grid's.
        if (!(event->modifiers() & Qt::ControlModifier))
            m_btnDummy->click();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool CDarozozazWindowsDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_editCell && event->type() == QEvent::FocusOut)
        Guarded([this] { CommitCellEdit(); });
    // Tab in the box takes the value over and goes on to the next cell, as
    // Tab in the grid does.
    if (watched == m_editCell && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Tab || key == Qt::Key_Backtab) {
            const int view = m_nCurrentView;
            Guarded([this, view, key] {
                if (!CommitCellEdit() || view < 0)
                    return;
                Grid(view).setFocus(Qt::OtherFocusReason);
                Grid(view).MoveByTab(key == Qt::Key_Backtab);
            });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

int CDarozozazWindowsDlg::GridIndexOf(const QObject* grid) const
{
    for (int g = 0; g < 3; ++g) {
        if (m_grid[static_cast<std::size_t>(g)] == grid)
            return g;
    }
    return -1;
}
