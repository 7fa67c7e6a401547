// The Language menu, the menu texts, and the change of language at run time.
#include <QAction>
#include <QMenu>
#include <algorithm>
#include <cctype>

#include "config/IniFile.h"
#include "config/LanguageFiles.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsApp.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "monitor/qt/MonitorTexts.h"
#include "records/RecordTexts.h"
#include "platform/ProgramDir.h"
#include "platform/qt/MenuBar.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"

#include <filesystem>

namespace {

// A language file the program can run on holds at least texts 0 to 75.
constexpr long kLowestUsableLastIndex = 75;

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool CDarozozazWindowsDlg::BuildLanguageMenu()
{
    const std::vector<std::string> files = FindLanguageFiles();
    if (files.empty())
        return false;
    const int wanted = WantedLanguageIndex(files);

    QMenu* menu = m_menu->Menu(menupos::kLanguage);
    m_pLanguages.clear();
    for (std::size_t i = 0; i < files.size(); ++i) {
        const int id = cmd::kFirstLanguage + static_cast<int>(i);
        CIniFile file(files[i], false);
        file.ReadString("GENERAL", "Language");

        QAction* item = i == 0 ? m_menu->Find(cmd::kLanguagePlaceholder) : m_menu->AddItem(menu, id);
        item->setData(id);
        item->setText(Q(file.GetValue()));
        item->setCheckable(true);
        m_pLanguages.push_back({id, files[i]});
        if (static_cast<int>(i) == wanted) {
            item->setChecked(true);
            m_nCurrentLanguageId = id;
        }
    }
    m_nLanguageCount = static_cast<int>(m_pLanguages.size());
    // Nothing named in CONFIG.INI: the first file, and its item carries the
    // check mark so the menu shows what is active.
    if (wanted < 0) {
        m_nCurrentLanguageId = m_pLanguages.front().nCommandId;
        m_menu->Check(m_nCurrentLanguageId, true);
    }
    return true;
}

void CDarozozazWindowsDlg::SetMenuItemText(QMenu* menu, int position, const std::string& text)
{
    CMenuBar::SetItemText(menu, position, text);
}

namespace {

// Items beyond the original menu carry texts of their own numbers, so that
// the others keep the numbers the language files give them by position.
struct OwnMenuText
{
    int nId;
    int nText;
    const char* english;
};
constexpr OwnMenuText kOwnMenuTexts[] = {
    {cmd::kMonitor, monitortext::kMenuMonitor.n, monitortext::kMenuMonitor.english},
    {cmd::kChangeHistory, records::text::kMenuChangeHistory, "Change &history..."},
    {cmd::kCompareRecipe, records::text::kMenuCompare, "Co&mpare with recipe..."},
    {cmd::kExportCsv, records::text::kMenuExportCsv, "&Export as CSV..."},
};

const OwnMenuText* OwnTextOf(const QAction* item)
{
    const int id = CMenuBar::IdOf(item);
    for (const OwnMenuText& own : kOwnMenuTexts) {
        if (own.nId == id)
            return &own;
    }
    return nullptr;
}

}  // namespace

void CDarozozazWindowsDlg::ApplyMenuTexts()
{
    const CTextMemory& texts = TheTextMemory();
    const int menus = m_menu->MenuCount();
    for (int p = 0; p < menus; ++p)
        m_menu->Menu(p)->menuAction()->setText(Q(texts.GetText(p + 1)));

    int next = menus + 1;
    for (int p = 0; p < menus; ++p) {
        if (p == menupos::kLanguage)
            continue;
        QMenu* menu = m_menu->Menu(p);
        const QList<QAction*> items = menu->actions();
        if (p == menupos::kDevices) {
            // Unit items keep their address and type behind the new word.
            for (int i = 0; i < items.size() && !items[i]->isSeparator(); ++i) {
                const std::string label = S(items[i]->text());
                const std::size_t digit = label.find_first_of("0123456789");
                if (digit != std::string::npos && digit > 0)
                    SetMenuItemText(menu, i, texts.GetText(57) + label.substr(digit - 1));
            }
            if (!items.isEmpty())
                SetMenuItemText(menu, static_cast<int>(items.size()) - 1, texts.GetText(next++));
            continue;
        }
        for (int i = 0; i < items.size(); ++i) {
            if (const OwnMenuText* own = OwnTextOf(items[i]))
                SetMenuItemText(menu, i, texts.GetTextOr(own->nText, own->english));
            else if (!items[i]->isSeparator())
                SetMenuItemText(menu, i, texts.GetText(next++));
        }
    }
}

void CDarozozazWindowsDlg::OnLanguage(int id)
{
    if (id == m_nCurrentLanguageId)
        return;
    auto entry = std::find_if(m_pLanguages.begin(), m_pLanguages.end(),
                              [id](const LanguageEntry& e) { return e.nCommandId == id; });
    if (entry == m_pLanguages.end())
        return;

    // A file that has gone, or that lacks texts the program needs, would
    // leave every window text missing: keep the language that works.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(platform::ProgramFile(entry->strFileName), ec))
        return;
    CIniFile file(entry->strFileName, false);
    file.ReadString("GENERAL", "LastIndex");
    if (ToNumber(file.GetValue()) < kLowestUsableLastIndex)
        return;

    // The refill moves the current cell; an open edit would land elsewhere.
    HideCellEdit();
    m_menu->Check(m_nCurrentLanguageId, false);

    const std::string& name = entry->strFileName;
    CIniFile config("CONFIG.INI", false);
    config.SetValue(Upper(name.substr(0, name.rfind('.'))));
    config.WriteString("GENERAL", "Language");

    TheTextMemory().Load(name);
    UseQtTranslations(TheTextMemory().GetLocale());
    m_menu->Check(id, true);
    m_nCurrentLanguageId = id;
    // A change of language changes no menu state.
    FillGrid(0, false, false);
    ApplyTexts();
}

void CDarozozazWindowsDlg::ApplyTexts()
{
    UpdateTitle(!m_strRecipePath.empty());
    ApplyMenuTexts();
    for (int g = 0; g < 3; ++g)
        FillGrid(g, false, false);
    UpdateStatusBar();
}
