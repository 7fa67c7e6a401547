#pragma once

#include <QDialog>
#include <string>
#include <vector>

class CChangeHistoryModel;
class QLabel;
class QLineEdit;
class QTableView;

// "Change history": the change record's lines of one unit (by its AZ
// number), newest first, with a filter box. Reads the record; never changes
// it.
class CDlgChangeHistory : public QDialog
{
    Q_OBJECT
public:
    // lines: the whole record as ReadChangeRecord gives it.
    CDlgChangeHistory(const std::vector<std::vector<std::string>>& lines, int azNumber, QWidget* parent = nullptr);

    CChangeHistoryModel& Model() { return *m_model; }
    QTableView& Table() { return *m_table; }
    // The selected lines as the clipboard gets them ("&Copy lines", Ctrl+C).
    std::string SelectedLinesText() const;

private:
    void ApplyFilter();
    void CopySelectedLines();

    CChangeHistoryModel* m_model = nullptr;
    QLineEdit* m_filter = nullptr;
    QLabel* m_count = nullptr;
    QTableView* m_table = nullptr;
};
