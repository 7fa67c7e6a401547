#pragma once

#include <QObject>
#include <string>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

// The main menu addressed as the program speaks of it: items by command id,
// drop-down menus by their position in the bar. Each item carries its id;
// choosing one emits Command(id). Check marks change only when the program
// sets them: a click on an item never flips its mark.
class CMenuBar : public QObject
{
    Q_OBJECT
public:
    explicit CMenuBar(QWidget* parent);

    QMenuBar* Widget() const { return m_pBar; }

    // Appends a drop-down menu to the bar; its position is the count before.
    QMenu* AddMenu();
    QMenu* Menu(int position) const;
    int MenuCount() const;
    void EnableMenu(int position, bool enabled);
    bool IsMenuEnabled(int position) const;

    // Appends an item, or inserts it before the item at position (separators
    // count as items).
    QAction* AddItem(QMenu* menu, int id, bool enabled = true);
    QAction* InsertItem(QMenu* menu, int position, int id, const std::string& text);
    void AddSeparator(QMenu* menu);

    // The item with this id anywhere in the menu; null when there is none.
    QAction* Find(int id) const;
    static int IdOf(const QAction* action);
    bool Remove(int id);
    void Enable(int id, bool enabled);
    bool IsEnabled(int id) const;
    void Check(int id, bool checked);
    bool IsChecked(int id) const;

    // Relabels the item at position of menu, keeping its id, state and check.
    static void SetItemText(QMenu* menu, int position, const std::string& text);
    static QAction* ItemAt(QMenu* menu, int position);

signals:
    void Command(int id);

private:
    QMenuBar* m_pBar;
};
