#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

// The change record's lines as a table, newest first, narrowed by a filter
// text. Plain data: the lines are parsed once, and the filter runs over a
// lower-case copy of each line, so that a record of 100 000 lines opens and
// filters without a visible wait.
class CChangeHistoryModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    // lines in the record's order (oldest first), each of the record's
    // columns.
    explicit CChangeHistoryModel(std::vector<std::vector<std::string>> lines, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Shows only the lines holding text in any column, in any case; empty
    // shows all.
    void SetFilter(const std::string& text);
    int TotalLines() const { return static_cast<int>(m_lines.size()); }

private:
    std::vector<std::vector<std::string>> m_lines;  // newest first
    std::vector<std::string> m_search;              // per line, lower case
    std::vector<int> m_shown;                       // indices into m_lines
};
