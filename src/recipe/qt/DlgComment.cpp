#include "recipe/qt/DlgComment.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "platform/ProfileFile.h"
#include "platform/qt/Guard.h"
#include "platform/qt/QtText.h"

namespace {

std::size_t EncodedSize(const QString& text) { return CIniFile::Encode(S(text)).size(); }

}  // namespace

CDlgComment::CDlgComment(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName("137");

    m_labelComment = new QLabel(this);
    m_labelComment->setObjectName("1130");
    m_labelComment->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // A single line that scrolls horizontally, as QLineEdit does.
    m_editComment = new QLineEdit(this);
    m_editComment->setObjectName("1107");
    m_editComment->setMaxLength(kMaxCommentLength);
    m_editComment->setMinimumWidth(340);

    m_btnOK = new QPushButton(this);
    m_btnOK->setObjectName("1");
    m_btnOK->setDefault(true);
    m_btnOK->setAutoDefault(true);
    m_btnCancel = new QPushButton(this);
    m_btnCancel->setObjectName("2");
    m_btnCancel->setAutoDefault(false);
    connect(m_editComment, &QLineEdit::textEdited, this, &CDlgComment::OnTextEdited);
    connect(m_btnOK, &QPushButton::clicked, this, &CDlgComment::accept);
    connect(m_btnCancel, &QPushButton::clicked, this, &CDlgComment::reject);

    auto* line = new QHBoxLayout;
    line->addWidget(m_labelComment);
    line->addWidget(m_editComment, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_btnOK);
    buttons->addStretch(1);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(line);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDlgComment::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    InitialiseOnFirstShow(*this, m_bInitialised, [this] { OnInitDialog(); });
}

bool CDlgComment::OnInitDialog()
{
    const CTextMemory& texts = TheTextMemory();
    setWindowTitle(Q(texts.GetText(71)));
    m_strLabel = texts.GetText(72);
    m_btnOK->setText(Q(texts.GetText(65)));
    m_btnCancel->setText(Q(texts.GetText(58)));
    DoDataExchange(false);
    m_editComment->setFocus();
    return true;
}

void CDlgComment::DoDataExchange(bool bSaveAndValidate)
{
    if (bSaveAndValidate) {
        m_strCommentText = S(m_editComment->text());
        return;
    }
    // A comment longer than the field allows (from a recipe written by hand)
    // is shown cut; it is stored cut only if the user changes it.
    m_editComment->setText(Q(m_strCommentText));
    m_strShown = m_editComment->text();
    m_strLastFit = m_strShown;
    m_labelComment->setText(Q(m_strLabel));
}

void CDlgComment::OnTextEdited(const QString& text)
{
    // Shortening is always allowed, so a long comment can be mended.
    const std::size_t size = EncodedSize(text);
    if (size > platform::kProfileValueMax && size > EncodedSize(m_strLastFit)) {
        const int cursor = m_editComment->cursorPosition() - static_cast<int>(text.size() - m_strLastFit.size());
        m_editComment->setText(m_strLastFit);
        m_editComment->setCursorPosition(std::max(0, cursor));
        return;
    }
    m_strLastFit = text;
}

void CDlgComment::accept()
{
    // A field left as it started keeps the comment whole, however long.
    if (m_editComment->text() != m_strShown)
        DoDataExchange(true);
    QDialog::accept();
}
