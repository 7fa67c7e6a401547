#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "records/ValueCompare.h"

class QTableWidget;

// "Compare with recipe": the places where what the window holds and a recipe
// differ, in three columns. Shows; changes nothing.
class CDlgCompare : public QDialog
{
    Q_OBJECT
public:
    CDlgCompare(const std::vector<records::Difference>& differences, const std::string& recipeName,
                QWidget* parent = nullptr);

    QTableWidget& Table() { return *m_table; }

private:
    QTableWidget* m_table = nullptr;
};
