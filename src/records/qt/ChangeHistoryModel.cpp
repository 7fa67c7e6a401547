#include "records/qt/ChangeHistoryModel.h"

#include <algorithm>
#include <cctype>
#include <limits>

#include <QDateTime>
#include <charconv>

#include "config/TextMemory.h"
#include "records/ChangeRecord.h"
#include "records/ValueNames.h"

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

// The columns' headers in the active language; the record's own keys stay in
// the file for programs.
constexpr int kFirstHeaderText = 189;
const char* const kHeaders[records::kChangeColumns] = {
    "Time", "User", "Computer", "Port", "Address", "AZ number", "Type", "Firmware",
    "Key", "Value", "Before", "Sent", "Read back", "Outcome"};

bool IsNumberColumn(int column)
{
    switch (column) {
    case records::kColAddress:
    case records::kColAz:
    case records::kColBefore:
    case records::kColSent:
    case records::kColReadBack: return true;
    default: return false;
    }
}

// An empty or unreadable number sorts before every number.
long long SortNumber(const std::string& text)
{
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end != text.data() ? value : std::numeric_limits<long long>::min();
}

std::string NameOf(const std::vector<std::string>& line, const records::ValueLabels& labels)
{
    const std::string where = line.size() > records::kColWhat ? line[records::kColWhat] : std::string();
    const std::string recorded = line.size() > records::kColName ? line[records::kColName] : std::string();
    SendItem item;
    if (!records::ParseWhere(where, item))
        return recorded;
    return records::ValueName(item, labels, item.kind == SendItem::Kind::Global ? recorded : std::string());
}

}  // namespace

CChangeHistoryModel::CChangeHistoryModel(std::vector<std::vector<std::string>> lines, QObject* parent)
    : QAbstractTableModel(parent), m_lines(std::move(lines))
{
    std::reverse(m_lines.begin(), m_lines.end());
    m_search.reserve(m_lines.size());
    const records::ValueLabels labels = records::LabelsOf(TheTextMemory());
    for (const std::vector<std::string>& line : m_lines) {
        m_names.push_back(NameOf(line, labels));
        std::string joined = m_names.back() + '\x1f';
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
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::TextAlignmentRole && IsNumberColumn(index.column()))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    return ShownText(index.row(), index.column());
}

QString CChangeHistoryModel::ShownText(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0)
        return {};
    const auto i = static_cast<std::size_t>(m_shown[static_cast<std::size_t>(row)]);
    const std::vector<std::string>& line = m_lines[i];
    if (column == records::kColName)
        return QString::fromStdString(m_names[i]);
    const auto c = static_cast<std::size_t>(column);
    const QString text = c < line.size() ? QString::fromStdString(line[c]) : QString();
    if (column == records::kColTime) {
        const QDateTime when = QDateTime::fromString(text, Qt::ISODate);
        if (when.isValid())
            return when.toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
    }
    return text;
}

QVariant CChangeHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(Columns().size()))
        return {};
    if (section < records::kChangeColumns)
        return QString::fromStdString(
            TheTextMemory().GetTextOr(kFirstHeaderText + section, kHeaders[static_cast<std::size_t>(section)]));
    return QString::fromStdString(Columns()[static_cast<std::size_t>(section)]);
}

void CChangeHistoryModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columnCount())
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    emit layoutAboutToBeChanged();
    SortShown();
    emit layoutChanged();
}

void CChangeHistoryModel::SortShown()
{
    if (m_sortColumn < 0)
        return;
    const auto c = static_cast<std::size_t>(m_sortColumn);
    const auto field = [this, c](int i) -> const std::string& {
        static const std::string kEmpty;
        if (c == records::kColName)
            return m_names[static_cast<std::size_t>(i)];
        const std::vector<std::string>& line = m_lines[static_cast<std::size_t>(i)];
        return c < line.size() ? line[c] : kEmpty;
    };
    const bool bNumbers = IsNumberColumn(m_sortColumn);
    const bool bDescending = m_sortOrder == Qt::DescendingOrder;
    std::stable_sort(m_shown.begin(), m_shown.end(), [&](int a, int b) {
        if (bNumbers) {
            const long long x = SortNumber(field(a));
            const long long y = SortNumber(field(b));
            return bDescending ? y < x : x < y;
        }
        return bDescending ? field(b) < field(a) : field(a) < field(b);
    });
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
    SortShown();
    endResetModel();
}
