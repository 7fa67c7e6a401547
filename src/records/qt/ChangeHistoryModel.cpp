#include "records/qt/ChangeHistoryModel.h"

#include <algorithm>
#include <cctype>

#include "records/ChangeRecord.h"

namespace {

std::string Lower(std::string text)
{
    // ASCII only: enough for numbers, names, outcomes and places.
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

const std::vector<std::string>& Columns()
{
    static const std::vector<std::string> columns = [] {
        std::vector<std::string> names;
        std::string header = records::kChangeHeader;
        std::size_t start = 0;
        while (start <= header.size()) {
            const std::size_t comma = std::min(header.find(',', start), header.size());
            names.push_back(header.substr(start, comma - start));
            start = comma + 1;
        }
        return names;
    }();
    return columns;
}

}  // namespace

CChangeHistoryModel::CChangeHistoryModel(std::vector<std::vector<std::string>> lines, QObject* parent)
    : QAbstractTableModel(parent), m_lines(std::move(lines))
{
    std::reverse(m_lines.begin(), m_lines.end());
    m_search.reserve(m_lines.size());
    for (const std::vector<std::string>& line : m_lines) {
        std::string joined;
        for (const std::string& field : line) {
            joined += field;
            // A separator no field holds, so a search never matches across two.
            joined += '\x1f';
        }
        m_search.push_back(Lower(std::move(joined)));
    }
    SetFilter({});
}

int CChangeHistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_shown.size());
}

int CChangeHistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(Columns().size());
}

QVariant CChangeHistoryModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    const std::vector<std::string>& line = m_lines[static_cast<std::size_t>(m_shown[static_cast<std::size_t>(index.row())])];
    const auto column = static_cast<std::size_t>(index.column());
    return column < line.size() ? QString::fromStdString(line[column]) : QString();
}

QVariant CChangeHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(Columns().size()))
        return {};
    return QString::fromStdString(Columns()[static_cast<std::size_t>(section)]);
}

void CChangeHistoryModel::SetFilter(const std::string& text)
{
    const std::string wanted = Lower(text);
    beginResetModel();
    m_shown.clear();
    for (std::size_t i = 0; i < m_search.size(); ++i) {
        if (wanted.empty() || m_search[i].find(wanted) != std::string::npos)
            m_shown.push_back(static_cast<int>(i));
    }
    endResetModel();
}
