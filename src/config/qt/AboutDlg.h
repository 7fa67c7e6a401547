#pragma once

#include <QDialog>
#include <QFont>
#include <cstdint>
#include <functional>
#include <string>

class QGroupBox;
class QLabel;
class QPushButton;
class QTimer;
class QUrl;

// The about box (dialog 100): version, maker, and a link to the maker that
// lights up while the pointer is over it. Texts are fetched when it opens.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    // The program's version as one number: major * 100 + minor * 10 + build,
    // each field reduced to its lowest four bits (1.4.2 gives 142, a minor
    // of 17 counts as 1). Below 100 the program is a beta.
    static uint16_t GetVersionNumber();
    static uint16_t VersionNumberOf(int major, int minor, int build);
    // The version line: pattern (text 22) with number / 100 and number % 100,
    // and " beta" below 100.
    static std::string VersionLine(const std::string& pattern, uint16_t number);

    // The link text comes from a language file anyone can edit. Only a web
    // address (http, https, with a host) or a mail address (mailto, without
    // further fields) is opened, by the desktop's URL handler and never by a
    // shell; anything else does nothing. True when it was handed on.
    static bool IsOpenableLink(const std::string& text);
    static bool OpenLink(const std::string& text);
    // Test seam: replaces the desktop's URL handler; empty restores it.
    static void SetLinkOpener(std::function<void(const QUrl&)> opener);

    bool IsLinkHot() const { return m_bLinkHot; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool OnInitDialog();
    // Every 100 ms while open: does the pointer stand over the link?
    void OnTimer();
    // The link's colour follows m_bLinkHot; it changes only when that does,
    // so an idle about box draws nothing.
    void ApplyLinkColour();

    QGroupBox* m_groupVersion;    // 1110
    QLabel* m_staticMaker;        // 1108, three lines beside the logo
    QLabel* m_staticCopyright;    // 1109
    QLabel* m_staticLink;         // 1121
    QLabel* m_picture;            // 1123
    QLabel* m_staticProgramDir;   // where GLOBAL.INI, CONFIG.INI and the languages are read
    QPushButton* m_btnOK;         // 1
    QTimer* m_pTimer;
    std::string m_strVersion;
    std::string m_strCopyright;
    std::string m_strMaker;
    QFont m_linkFont;
    bool m_bLinkHot = false;
    bool m_bInitialised = false;
};
