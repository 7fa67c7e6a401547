#include "platform/qt/MenuBar.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "platform/qt/QtText.h"

CMenuBar::CMenuBar(QWidget* parent) : QObject(parent), m_pBar(new QMenuBar(parent))
{
    connect(m_pBar, &QMenuBar::triggered, this, [this](QAction* action) {
        // Qt flips a checkable item before telling of the click; here the
        // marks are the program's own, set by its commands (choosing the
        // checked view or language must leave it checked), so the flip is
        // undone first.
        if (action && action->isCheckable())
            action->setChecked(!action->isChecked());
        const int id = IdOf(action);
        if (id != 0)
            emit Command(id);
    });
}

QMenu* CMenuBar::AddMenu() { return m_pBar->addMenu(QString()); }

QMenu* CMenuBar::Menu(int position) const
{
    const QList<QAction*> actions = m_pBar->actions();
    if (position < 0 || position >= actions.size())
        return nullptr;
    return actions[position]->menu();
}

int CMenuBar::MenuCount() const { return static_cast<int>(m_pBar->actions().size()); }

void CMenuBar::EnableMenu(int position, bool enabled)
{
    if (QMenu* menu = Menu(position))
        menu->menuAction()->setEnabled(enabled);
}

bool CMenuBar::IsMenuEnabled(int position) const
{
    QMenu* menu = Menu(position);
    return menu && menu->menuAction()->isEnabled();
}

QAction* CMenuBar::AddItem(QMenu* menu, int id, bool enabled)
{
    QAction* action = menu->addAction(QString());
    action->setData(id);
    action->setEnabled(enabled);
    return action;
}

QAction* CMenuBar::InsertItem(QMenu* menu, int position, int id, const std::string& text)
{
    QAction* before = ItemAt(menu, position);
    auto* action = new QAction(Q(text), menu);
    action->setData(id);
    menu->insertAction(before, action);
    return action;
}

void CMenuBar::AddSeparator(QMenu* menu) { menu->addSeparator(); }

QAction* CMenuBar::Find(int id) const
{
    for (QAction* top : m_pBar->actions()) {
        if (!top->menu())
            continue;
        for (QAction* action : top->menu()->actions()) {
            if (IdOf(action) == id)
                return action;
        }
    }
    return nullptr;
}

int CMenuBar::IdOf(const QAction* action)
{
    return action && !action->isSeparator() ? action->data().toInt() : 0;
}

bool CMenuBar::Remove(int id)
{
    QAction* action = Find(id);
    if (!action)
        return false;
    for (QAction* top : m_pBar->actions()) {
        if (top->menu())
            top->menu()->removeAction(action);
    }
    action->deleteLater();
    return true;
}

void CMenuBar::Enable(int id, bool enabled)
{
    if (QAction* action = Find(id))
        action->setEnabled(enabled);
}

bool CMenuBar::IsEnabled(int id) const
{
    QAction* action = Find(id);
    return action && action->isEnabled();
}

void CMenuBar::Check(int id, bool checked)
{
    if (QAction* action = Find(id)) {
        action->setCheckable(true);
        action->setChecked(checked);
    }
}

bool CMenuBar::IsChecked(int id) const
{
    QAction* action = Find(id);
    return action && action->isChecked();
}

QAction* CMenuBar::ItemAt(QMenu* menu, int position)
{
    if (!menu)
        return nullptr;
    const QList<QAction*> actions = menu->actions();
    if (position < 0 || position >= actions.size())
        return nullptr;
    return actions[position];
}

void CMenuBar::SetItemText(QMenu* menu, int position, const std::string& text)
{
    // A QAction keeps its id, state and check mark when only its text
    // changes, which is all relabelling needs.
    if (QAction* action = ItemAt(menu, position))
        action->setText(Q(text));
}
