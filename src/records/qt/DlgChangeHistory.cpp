#include "records/qt/DlgChangeHistory.h"

#include <QAction>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "config/TextMemory.h"
#include "platform/SafeFormat.h"
#include "platform/qt/QtText.h"
#include "records/ChangeRecord.h"
#include "records/RecordTexts.h"
#include "records/qt/ChangeHistoryModel.h"

namespace {

constexpr int kMinWidth = 960;  // pixels
constexpr int kTextCopyLines = 203;

std::vector<std::vector<std::string>> LinesOf(const std::vector<std::vector<std::string>>& lines, int azNumber)
{
    records::ChangeFilter filter;
    filter.azNumber = azNumber;
    std::vector<std::vector<std::string>> mine;
    for (const std::vector<std::string>& line : lines) {
        if (filter.Matches(line))
            mine.push_back(line);
    }
    return mine;
}

}  // namespace

CDlgChangeHistory::CDlgChangeHistory(const std::vector<std::vector<std::string>>& lines, int azNumber,
                                     QWidget* parent)
    : QDialog(parent)
{
    const CTextMemory& texts = TheTextMemory();
    setWindowTitle(Q(platform::SafeFormat(texts.GetTextOr(records::text::kHistoryTitle, "Change history of AZ %d"),
                                          {static_cast<long long>(azNumber)})));
    m_model = new CChangeHistoryModel(LinesOf(lines, azNumber), this);

    m_filter = new QLineEdit(this);
    m_filter->setObjectName("filter");
    m_filter->setClearButtonEnabled(true);
    auto* filterLabel = new QLabel(Q(texts.GetTextOr(records::text::kFilter, "&Filter:")), this);
    filterLabel->setBuddy(m_filter);
    m_count = new QLabel(this);
    m_count->setObjectName("count");

    m_table = new QTableView(this);
    m_table->setObjectName("table");
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    // Fixed rows and interactive columns: measuring 100 000 rows for their
    // contents is what would make the dialog slow.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);

    // Newest first, as before any click on a header.
    m_table->horizontalHeader()->setSortIndicator(records::kColTime, Qt::DescendingOrder);
    m_table->setSortingEnabled(true);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction(Q(texts.GetTextOr(kTextCopyLines, "&Copy lines")), m_table);
    copy->setObjectName("copy");
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_table->addAction(copy);
    connect(copy, &QAction::triggered, this, [this] { CopySelectedLines(); });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* copyButton = buttons->addButton(copy->text(), QDialogButtonBox::ActionRole);
    copyButton->setAutoDefault(false);
    connect(copyButton, &QPushButton::clicked, this, [this] { CopySelectedLines(); });

    auto* top = new QHBoxLayout;
    top->addWidget(filterLabel);
    top->addWidget(m_filter, 1);
    top->addWidget(m_count);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);

    connect(m_filter, &QLineEdit::textChanged, this, [this] { ApplyFilter(); });
    ApplyFilter();
    // Measured once, now that the lines are in: the header would measure
    // again on every change. The window is as wide as the columns need, as
    // far as the screen allows, so that the outcome at the right end shows
    // without scrolling; never narrower than before.
    m_table->resizeColumnsToContents();
    const QMargins margins = layout->contentsMargins();
    const int needed = m_table->horizontalHeader()->length() + m_table->verticalScrollBar()->sizeHint().width() +
                       2 * m_table->frameWidth() + margins.left() + margins.right();
    int width = needed;
    if (const QScreen* shown = screen())
        width = std::min(width, shown->availableGeometry().width());
    resize(std::max(width, kMinWidth), 520);
}

std::string CDlgChangeHistory::SelectedLinesText() const
{
    // Tab-separated as shown, in the order shown, with the headers first:
    // what a spreadsheet takes when pasted.
    std::vector<int> rows;
    for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    if (rows.empty())
        return {};
    QString text;
    for (int c = 0; c < m_model->columnCount(); ++c)
        text += (c ? "\t" : "") + m_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    text += "\n";
    for (int row : rows) {
        for (int c = 0; c < m_model->columnCount(); ++c)
            text += (c ? "\t" : "") + m_model->ShownText(row, c);
        text += "\n";
    }
    return S(text);
}

void CDlgChangeHistory::CopySelectedLines()
{
    const std::string text = SelectedLinesText();
    if (!text.empty())
        QGuiApplication::clipboard()->setText(Q(text));
}

void CDlgChangeHistory::ApplyFilter()
{
    m_model->SetFilter(S(m_filter->text()));
    m_count->setText(Q(platform::SafeFormat(
        TheTextMemory().GetTextOr(records::text::kHistoryCount, "%d of %d lines"),
        {static_cast<long long>(m_model->rowCount()), static_cast<long long>(m_model->TotalLines())})));
}
