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
    // shows all. The order of the last sort stays.
    void SetFilter(const std::string& text);
    // By any column: numbers as numbers, times in time order (the record's
    // ISO 8601 text sorts so), every other text as text; equal keys keep
    // the newest first.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // The shown text of a cell: times in local time as "2026-12-10 00:35:12",
    // the value's name in the active language, the rest as recorded.
    QString ShownText(int row, int column) const;
    int TotalLines() const { return static_cast<int>(m_lines.size()); }

private:
    std::vector<std::vector<std::string>> m_lines;  // newest first
    std::vector<std::string> m_search;              // per line, lower case
    std::vector<int> m_shown;                       // indices into m_lines
    std::vector<std::string> m_names;               // per line, the value's name
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    void SortShown();
};
