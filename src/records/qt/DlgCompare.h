#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "records/ValueCompare.h"
#include "workflows/Jobs.h"

class QPushButton;
class QTableWidget;

// "Compare with recipe": the places where what the window holds and a recipe
// differ: the value's name, the window's value, the recipe's, and the
// difference (recipe minus window). A double-click on a line closes the
// dialog with that place to jump to; "Take the recipe's value" hands the
// selected lines' recipe values to take (nothing is sent) and marks them
// taken.
class CDlgCompare : public QDialog
{
    Q_OBJECT
public:
    // take: enters one recipe value in the window as a waiting edit; false
    // when the window cannot take it (the line then stays as it is). None:
    // the button is not offered.
    using TakeValue = std::function<bool(const SendItem& item)>;

    CDlgCompare(const std::vector<records::Difference>& differences, const std::string& recipeName,
                QWidget* parent = nullptr, TakeValue take = {});

    QTableWidget& Table() { return *m_table; }
    // The place of the line double-clicked; none when closed otherwise.
    std::optional<SendItem> JumpTarget() const { return m_jump; }
    // Takes the recipe's values of the selected lines; how many were taken.
    int TakeSelected();

private:
    QTableWidget* m_table = nullptr;
    QPushButton* m_btnTake = nullptr;
    std::vector<records::Difference> m_differences;
    std::vector<bool> m_bTaken;
    TakeValue m_take;
    std::optional<SendItem> m_jump;
};
