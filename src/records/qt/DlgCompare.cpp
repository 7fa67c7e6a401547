#include "records/qt/DlgCompare.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <charconv>

#include "config/TextMemory.h"
#include "platform/SafeFormat.h"
#include "platform/qt/QtText.h"
#include "records/RecordTexts.h"
#include "records/ValueNames.h"
#include "unit/Unit.h"

namespace {

constexpr int kTextDifference = 204;
constexpr int kTextTake = 205;

bool Number(const std::string& text, long long& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Recipe minus window, signed; empty when a side has no value.
std::string DifferenceText(const records::Difference& difference)
{
    long long window = 0, recipe = 0;
    if (!Number(difference.left, window) || !Number(difference.right, recipe))
        return {};
    const long long d = recipe - window;
    return (d > 0 ? "+" : "") + std::to_string(d);
}

}  // namespace

CDlgCompare::CDlgCompare(const std::vector<records::Difference>& differences, const std::string& recipeName,
                         QWidget* parent, TakeValue take)
    : QDialog(parent), m_differences(differences), m_bTaken(differences.size(), false), m_take(std::move(take))
{
    using namespace records::text;
    const CTextMemory& texts = TheTextMemory();
    setWindowTitle(Q(platform::SafeFormat(texts.GetTextOr(kCompareTitle, "Differences with %s"), {recipeName})));

    auto* summary = new QLabel(this);
    summary->setObjectName("summary");
    summary->setText(Q(differences.empty()
                           ? texts.GetTextOr(kCompareNone, "No differences: the recipe holds the same values.")
                           : platform::SafeFormat(texts.GetTextOr(kCompareCount, "%d values differ."),
                                                  {static_cast<long long>(differences.size())})));

    m_table = new QTableWidget(static_cast<int>(differences.size()), 4, this);
    m_table->setObjectName("differences");
    m_table->setHorizontalHeaderLabels({Q(texts.GetTextOr(kCompareWhere, "Where")),
                                        Q(texts.GetTextOr(kCompareWindow, "This window")),
                                        Q(texts.GetTextOr(kCompareRecipe, "Recipe")),
                                        Q(texts.GetTextOr(kTextDifference, "Difference"))});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    const records::ValueLabels labels = records::LabelsOf(texts);
    for (int row = 0; row < static_cast<int>(differences.size()); ++row) {
        const records::Difference& difference = differences[static_cast<std::size_t>(row)];
        SendItem item;
        const std::string name =
            records::ParseWhere(difference.where, item) ? records::ValueName(item, labels, TheUnit()) : difference.where;
        m_table->setItem(row, 0, new QTableWidgetItem(Q(name)));
        const std::string values[] = {difference.left, difference.right, DifferenceText(difference)};
        for (int col = 1; col <= 3; ++col) {
            auto* cell = new QTableWidgetItem(Q(values[col - 1]));
            cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, col, cell);
        }
    }
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        SendItem item;
        if (row >= 0 && row < static_cast<int>(m_differences.size()) &&
            records::ParseWhere(m_differences[static_cast<std::size_t>(row)].where, item)) {
            m_jump = item;
            accept();
        }
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (m_take && !differences.empty()) {
        m_btnTake = buttons->addButton(Q(texts.GetTextOr(kTextTake, "&Take the recipe's value")),
                                       QDialogButtonBox::ActionRole);
        m_btnTake->setObjectName("take");
        m_btnTake->setAutoDefault(false);
        m_btnTake->setEnabled(false);
        connect(m_btnTake, &QPushButton::clicked, this, [this] { TakeSelected(); });
        connect(m_table, &QTableWidget::itemSelectionChanged, this,
                [this] { m_btnTake->setEnabled(!m_table->selectedItems().isEmpty()); });
    }
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    resize(640, 420);
}

int CDlgCompare::TakeSelected()
{
    if (!m_take)
        return 0;
    int taken = 0;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const auto i = static_cast<std::size_t>(row);
        if (!m_table->item(row, 0)->isSelected() || m_bTaken[i])
            continue;
        SendItem item;
        long long value = 0;
        // A value the recipe lacks ("-") is nothing to take.
        if (!records::ParseWhere(m_differences[i].where, item) || !Number(m_differences[i].right, value))
            continue;
        item.value = static_cast<int32_t>(value);
        if (!m_take(item))
            continue;
        m_bTaken[i] = true;
        ++taken;
        // The window now holds the recipe's value, waiting to be sent.
        m_table->item(row, 1)->setText(Q(m_differences[i].right));
        m_table->item(row, 3)->setText(QString());
        for (int col = 0; col < m_table->columnCount(); ++col) {
            QFont font = m_table->item(row, col)->font();
            font.setItalic(true);
            m_table->item(row, col)->setFont(font);
        }
    }
    return taken;
}
