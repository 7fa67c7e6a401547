#include "records/qt/DlgCompare.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include "config/TextMemory.h"
#include "platform/SafeFormat.h"
#include "platform/qt/QtText.h"
#include "records/RecordTexts.h"

CDlgCompare::CDlgCompare(const std::vector<records::Difference>& differences, const std::string& recipeName,
                         QWidget* parent)
    : QDialog(parent)
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

    m_table = new QTableWidget(static_cast<int>(differences.size()), 3, this);
    m_table->setObjectName("differences");
    m_table->setHorizontalHeaderLabels({Q(texts.GetTextOr(kCompareWhere, "Where")),
                                        Q(texts.GetTextOr(kCompareWindow, "This window")),
                                        Q(texts.GetTextOr(kCompareRecipe, "Recipe"))});
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    for (int row = 0; row < static_cast<int>(differences.size()); ++row) {
        const records::Difference& difference = differences[static_cast<std::size_t>(row)];
        m_table->setItem(row, 0, new QTableWidgetItem(Q(difference.where)));
        for (int col = 1; col <= 2; ++col) {
            auto* item = new QTableWidgetItem(Q(col == 1 ? difference.left : difference.right));
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, col, item);
        }
    }
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_table->resizeColumnsToContents();
    m_table->horizontalHeader()->setStretchLastSection(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    resize(480, 420);
}
