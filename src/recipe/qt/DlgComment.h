#pragma once

#include <QDialog>
#include <QString>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;

// The recipe comment editor (dialog 137): one line of free text. The texts
// are fetched from the text store when the dialog opens.
class CDlgComment : public QDialog
{
    Q_OBJECT
public:
    // The encoded comment doubles every line break and backslash, and a
    // recipe value holds at most 1023 bytes: 511 characters fit, as long as
    // they are one byte each. Typing that would make the encoded UTF-8 text
    // longer than a value can hold is refused as well.
    static constexpr int kMaxCommentLength = 511;

    explicit CDlgComment(QWidget* parent = nullptr);

    // Before the dialog runs: the comment the edit field starts with.
    void SetCommentText(const std::string& text) { m_strCommentText = text; }
    // After OK: the edited comment (unchanged by Cancel, and by OK when the
    // field was not edited, even if the comment is longer than the field).
    const std::string& GetCommentText() const { return m_strCommentText; }

protected:
    void showEvent(QShowEvent* event) override;
    void accept() override;

private:
    // Texts and the current comment into the controls; runs as it opens.
    bool OnInitDialog();
    void DoDataExchange(bool bSaveAndValidate);
    void OnTextEdited(const QString& text);

    QPushButton* m_btnOK;
    QPushButton* m_btnCancel;
    QLineEdit* m_editComment;
    QLabel* m_labelComment;
    std::string m_strCommentText;
    std::string m_strLabel;
    bool m_bInitialised = false;
    QString m_strShown;    // what the field started with
    QString m_strLastFit;  // the field's text before the last edit
};
