#pragma once

#include <QDialog>
#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "workflows/Jobs.h"

class CMSFlexGrid;
class CMenuBar;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
namespace records {
class CSendRecorder;
}
class QStatusBar;
class QTimer;
class QToolBar;

// Command identifiers of the main menu.
namespace cmd {
constexpr int kAbout = 32771;
constexpr int kScanDevices = 32772;
constexpr int kExit = 32776;
constexpr int kReceiveParams = 32777;
constexpr int kSendParams = 32778;
constexpr int kZoneParams = 32779;
constexpr int kActualSetValues = 32780;
constexpr int kGlobalParams = 32781;
constexpr int kLoadStandardParams = 32782;
constexpr int kComment = 32785;
constexpr int kLanguagePlaceholder = 32787;
constexpr int kMonitor = 32790;
constexpr int kFileOpen = 57601;
constexpr int kFileSave = 57603;
constexpr int kFileSaveAs = 57604;
constexpr int kFilePrint = 57607;
constexpr int kCompareRecipe = 32801;
constexpr int kExportCsv = 32802;
constexpr int kChangeHistory = 32803;
constexpr int kFirstUnit = 33000;      // 32999 + address 1..30
constexpr int kLastUnit = 33029;
constexpr int kFirstLanguage = 33500;  // 33500 + n in the order found
constexpr int kLastActiveLanguage = 33519;
}  // namespace cmd

// Menu bar positions.
namespace menupos {
constexpr int kFile = 0;
constexpr int kDevices = 1;
constexpr int kCommunication = 2;
constexpr int kParameters = 3;
constexpr int kLanguage = 4;
constexpr int kHelp = 5;
}  // namespace menupos

// One cell waiting to be sent. Two -1 end a list.
struct ChangeEntry
{
    int32_t nFirst = -1;
    int32_t nSecond = -1;
};
constexpr int kChangeListSize = 8384;

struct LanguageEntry
{
    int nCommandId = 0;
    std::string strFileName;
};

// The main window: the program's one top-level window, run as a modal dialog.
// It owns the three grids, the change lists, the language table, the current
// recipe path and the view on show. Every handler runs on the user-interface
// thread; workers reach it through blocking queued calls.
class CDarozozazWindowsDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CDarozozazWindowsDlg(QWidget* parent = nullptr);
    ~CDarozozazWindowsDlg() override;

    // Initialisation: language menu, first language, menu texts, title.
    // False when no language file exists (the built-in message was shown).
    bool OnInitDialog();

    // --- Start-up, title, closing ------------------------------------------
    // The deferred start-up sequence; runs once, after the window shows.
    void RunStartupSequence();
    void UpdateTitle(bool bWithFile);
    // The close question; true when the user confirmed and the run ends.
    bool OnCloseRequest();
    void OnOK();

    // --- Commands, menus, window messages ------------------------------------
    // Routes a menu command to its handler.
    void OnCommand(int id);
    void UpdateMenus(bool bUnitData);
    void ShowView(int nView);
    // WM_USER+1: baud rate and port (0: work without a unit).
    int OnInterfaceChosen(int32_t nBaudrate, int32_t nPort);
    // WM_USER+2: runs the scan dialog.
    void OnRunScanDialog();
    // WM_USER+3: the scan dialog ends; address 0 = no pick.
    void OnUnitPicked(int nAddress);
    // WM_USER+4: address 0 removes every unit item; else adds this unit's.
    void OnDevicesItem(int nAddress, const std::string& type);
    // WM_USER+5: sends entry j of grid k's change list; grid -1 ends a send
    // and nEntry then carries the job's result as its number: only Done
    // refills the grids. EndsList for the end of a list (and for -1); Handled
    // for an entry sent, or passed over as lying outside its grid; NoAnswer
    // when neither the write nor the read-back got an answer.
    EntryResult OnSendEntry(int nGrid, int nEntry);
    // The value to send for a change-list entry of grid nGrid, from its
    // cell, and that cell; false when the grid has no such cell (an entry
    // listed for a unit with more zones or parameters).
    bool ChangedCell(int nGrid, const ChangeEntry& entry, SendItem& item, int& row, int& col);

    // --- Grids -------------------------------------------------------------
    bool FillGrid(int nGrid, bool bReceive, bool bUpdateMenus);

    // --- Cell editing --------------------------------------------------------
    void StartCellEdit(const std::string& text, bool bFromClick);
    // False when the value was refused for not fitting the selected unit:
    // the box is open again over the cell with the typed text.
    bool CommitCellEdit();
    void OnDefaultButton();
    void OnClickGrid(int nGrid);
    void OnScrollGrid(int nGrid);
    void OnKeyDownGrid(int nGrid, int keyCode);
    void OnKeyUpGrid(int nGrid, int keyCode);
    // A value entered as if typed over its cell (the comparison's "Take the
    // recipe's value"): checked as a typed one, marked and listed to be
    // sent (offline: stored in the record). False when the window has no
    // such cell, the value does not fit, or the change list is full.
    bool TakeValue(const SendItem& item);
    // Hides the edit box, dropping what was typed.
    void HideCellEdit();
    // The cells listed in the change lists, each counted once.
    int CountUnsentChanges() const;
    // Enter: takes over an open box and moves the current cell one shown
    // row down (it stays on the last row).
    void MoveDownOneRow();

    // --- Focus, toolbar, window state ----------------------------------------
    // After every dialog and job: the window is active and the grid on show
    // has the focus, its current cell a data cell it can edit, so that a
    // digit typed at once opens the box over that cell and Tab and the
    // arrows start from it. Nothing while the window is hidden.
    void FocusCurrentCell();
    // The toolbar's buttons follow the states of their menu items and menus.
    void UpdateToolbar();
    QToolBar& ToolBar() { return *m_toolBar; }
    // The title (with "*" while edits wait to be sent) and the status bar's
    // count of them, from the change lists.
    void UpdateEditState();
    // An open monitor's newest actual values of the unit at nAddress (zone 1
    // first; INT32_MIN: no value in this cycle): when that unit is on show, the
    // record and the actual value column take them, and the last-job field
    // says when. A set value waiting to be sent is left alone.
    void OnMonitorActualValues(int nAddress, const std::vector<int32_t>& actual);
    // Window position and size as CONFIG.INI [WINDOW] keeps them for the
    // user; RestoreGeometry applies a kept one that still fits a screen,
    // else the first size.
    void RestoreGeometry();
    void SaveGeometry();

    // --- Device workflows ----------------------------------------------------
    void OnScanDevices();
    void OnSelectUnit(int nAddress);  // command 32999 + address
    void OnReceiveParams();
    void OnSendParams();
    void OnLoadStandardParams();
    void WaitForUnit();

    // --- Languages -----------------------------------------------------------
    bool BuildLanguageMenu();
    void ApplyMenuTexts();
    void SetMenuItemText(QMenu* menu, int position, const std::string& text);
    void OnLanguage(int id);
    void ApplyTexts();

    // --- Recipes, comment, print, about --------------------------------------
    void OnFileOpen();
    void OnFileSave();
    void OnFileSaveAs();
    void OnComment();
    void OnFilePrint();
    void OnAbout();

    // --- Records: change record, history, comparison, export ---------------
    void OnChangeHistory();
    void OnCompareWithRecipe();
    void OnExportCsv();
    // A receive ended: what the record holds is the "before" of later sends.
    void NoteReceivedValues();
    // Opens the change record for a send; false when it cannot be written and
    // the user chose not to send without it.
    bool BeginSendRecord();
    // The line of a value about to be sent, and the line of its outcome.
    // False when the record took no line: the send must stop there.
    bool RecordSending(const SendItem& item);
    bool RecordSendOutcome(const SendOutcome& outcome);
    // fsync; a failure to write is told now, after the send.
    void EndSendRecord();
    // What the window holds: the record's values with the edits waiting to
    // be sent.
    UnitValues HeldInWindow();

    // --- Status bar ----------------------------------------------------------
    // The outcome of the last job that talked to a unit.
    struct JobStatus
    {
        enum class Kind { None, Received, Sent, CommError, PortFailed, Stopped, Live };
        Kind kind = Kind::None;
        std::time_t tReceived = 0;
        int nSent = 0;    // values exchanged with the unit
        int nFaults = 0;  // of them refused, not acknowledged or read back differently
    };
    // The three fields (unit, port, last job) from the unit record and the
    // last job, in the active language.
    void UpdateStatusBar();
    // A receive or send has ended with result (none: the port could not be
    // opened); a send's counts come from its exchanges.
    void NoteTransferEnd(std::optional<JobResult> result, bool bSend);
    // The text of field 0 (unit), 1 (port) or 2 (last job).
    std::string GetStatusText(int nField) const;

    // --- Access for the dialogs and tests ------------------------------------
    CMSFlexGrid& Grid(int nGrid) { return *m_grid[static_cast<std::size_t>(nGrid)]; }
    CMenuBar& Menu() { return *m_menu; }
    int GetCurrentView() const { return m_nCurrentView; }
    const std::string& GetRecipePath() const { return m_strRecipePath; }
    int GetChangeCount(int nGrid) const { return m_nChangeCount[static_cast<std::size_t>(nGrid)]; }
    const ChangeEntry& GetChange(int nGrid, int j) const
    {
        return m_aChanges[static_cast<std::size_t>(nGrid)][static_cast<std::size_t>(j)];
    }
    bool IsEditVisible() const;
    QLineEdit& EditBox() { return *m_editCell; }
    bool HasNoDefinitions() const { return m_bNoDefinitions; }
    int GetCurrentLanguageId() const { return m_nCurrentLanguageId; }
    const std::vector<LanguageEntry>& GetLanguages() const { return m_pLanguages; }

    // Runs a handler so that no exception reaches Qt: a missing language text
    // (or any other failure) ends this user action with a message box.
    void Guarded(const std::function<void()>& handler);

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateMenu();
    void CreateToolBar();
    // Puts a checked value into cell (row, col) of grid g: marked and listed
    // with a unit, stored in the record without. False when the list is full.
    bool EnterCellValue(int g, int row, int col, const std::string& text, int32_t value);
    // Runs a menu command, then hands the focus back to the grid.
    void RunCommand(int id);
    void LayoutGrids();
    int GridIndexOf(const QObject* grid) const;
    // Appends an entry to grid g's list unless an equal one is listed; when
    // the list is full, duplicates are dropped to make room. False when there
    // is no room at all (the entry is not listed).
    bool ListChange(int nGrid, int32_t nFirst, int32_t nSecond, bool bLookForEqual);
    void ClearChangeLists();
    // Empties the change lists and takes their yellow marks off the cells.
    void DropUnsentChanges();
    // Before unit nAddress is selected: with changes waiting to be sent,
    // asks whether to drop them (default No) and drops them on Yes. False
    // when they are to be kept, and the unit with them.
    bool MayDropUnsentChanges(int nAddress);
    // Clears the grids for a scan, as the Scan devices command does.
    void ClearGridsForScan();
    // No to dropping the changes after a scan: the unit of before the scan
    // is selected again, received into the record only, and the grids kept.
    void KeepUnitOfBeforeScan();
    // Selects unit at address and receives it as after a scan (WM_USER+3).
    void SelectAndReceive(int nAddress);
    // Fills grids 1 and 2 and shows view 2 after a successful receive.
    void ShowReceivedUnit();

    // --- Controls ---
    QLineEdit* m_editCell = nullptr;
    std::string m_strCellText;
    std::array<CMSFlexGrid*, 3> m_grid{};
    QPushButton* m_btnDummy = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    // A move or resize is kept once the user has let go of the window.
    QTimer* m_geometryTimer = nullptr;
    // The status bar's count of waiting edits.
    QLabel* m_pendingField = nullptr;
    std::string m_strTitle;
    int m_nStatusHeight = 0;  // pixels, fixed at construction: the grids never jump
    std::array<QLabel*, 3> m_statusField{};
    JobStatus m_lastJob;
    // The running send's exchanges so far, and how many of them failed.
    int m_nSendExchanged = 0;
    int m_nSendFaults = 0;

    // --- State ---
    bool m_bStartupPending = true;
    bool m_bStartupScheduled = false;
    bool m_bNoDefinitions = false;
    int m_nTwipsPerPixelX = 15;
    int m_nTwipsPerPixelY = 15;
    CMenuBar* m_menu = nullptr;
    int m_nLanguageCount = 0;
    int m_nCurrentLanguageId = 0;
    std::vector<LanguageEntry> m_pLanguages;
    int m_nCurrentView = -1;
    std::string m_strRecipePath;
    std::array<int16_t, 3> m_nChangeCount{};
    std::vector<std::array<ChangeEntry, kChangeListSize>> m_aChanges;

    // The cell StartCellEdit opened the box over: CommitCellEdit stores there.
    int m_nEditGrid = -1;
    int m_nEditRow = -1;
    int m_nEditCol = -1;
    // OnOK ends the run; the close that follows is no close request.
    bool m_bClosing = false;
    // Grid-0 rows that turned red during the running send, with the tooltip
    // that tells why: the refill at the send's end restores both.
    std::vector<std::pair<int, std::string>> m_redGlobalRows;
    // "Limits: min to max" of global parameter nRow.
    std::string GlobalLimitsTip(int nRow) const;

    // A scan started while changes wait to be sent keeps the grids, the
    // unit's address and the view until the pick decides about them.
    bool m_bScanKeptChanges = false;
    int m_nAddressBeforeScan = 0;
    int m_nViewBeforeScan = -1;

    // Lets the window tests fill a change list as recipe loading does.
    friend struct CellEditingProbe;
    // Opens the box again over a cell with text, the caret at its end.
    void ReopenCellEdit(int nGrid, int nRow, int nCol, const std::string& text);
    // Commits that got past the box's visibility test, so that Enter does
    // not commit (and refuse) twice.
    int m_nCommitRuns = 0;

    // Where the file dialogs start: the current recipe's folder, else the
    // folder last chosen in one of them during this run, else "" (the
    // dialog's own choice).
    std::string FileDialogFolder() const;
    void RememberFolderOf(const std::string& path);
    std::string m_strLastFolder;

    // The change record of sends, and the values held before each.
    std::shared_ptr<records::CSendRecorder> m_sendRecord;
    // The record failed during this send, which stopped before the next value.
    bool m_bSendRecordStopped = false;
};

class CUnit;
// What the selected unit takes in a cell of grid g (its value width, and
// hexadecimal digits in the zone grids of a unit with 100 zones or more).
ValueRange UnitValueRange(CUnit& unit, int nGrid);

// The one main window of the program while it runs; null before and after.
CDarozozazWindowsDlg* TheMainWindow();
