// The comment dialog through the File/Comment command.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "GuiSupport.h"
#include "TestDir.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/qt/FileDialogs.h"
#include "platform/qt/QtText.h"
#include "unit/Unit.h"

namespace {

class CommentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        TheUnit().SetComment("first");
    }
    void TearDown() override { SetFileDialogHook(nullptr); }

    // Runs File/Comment; work types into the field and ends the dialog.
    void RunComment(const std::function<void(QDialog&, QLineEdit&)>& work)
    {
        script.ExpectDialog([work](QDialog& dialog) {
            QLineEdit* edit = Child<QLineEdit>(dialog, "1107");
            if (!edit) {
                ADD_FAILURE() << "no comment field";
                dialog.reject();
                return;
            }
            work(dialog, *edit);
        });
        window->OnComment();
        EXPECT_EQ(script.PendingDialogs(), 0);
    }
    static void Press(QDialog& dialog, const char* button)
    {
        QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
    }
    static void ClearField(QLineEdit& edit)
    {
        QTest::keyClick(&edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(&edit, Qt::Key_Backspace);
    }

    TestDir dir;
    DialogScript script;
    std::unique_ptr<CDarozozazWindowsDlg> window;
};

TEST_F(CommentTest, OkTakesTheFieldAndCancelKeepsTheComment)
{
    RunComment([](QDialog& dialog, QLineEdit& edit) {
        EXPECT_EQ(dialog.windowTitle(), "Recipe comment");
        EXPECT_EQ(Child<QLabel>(dialog, "1130")->text(), "Comment:");
        EXPECT_EQ(Child<QPushButton>(dialog, "1")->text(), "OK");
        EXPECT_EQ(Child<QPushButton>(dialog, "2")->text(), "Cancel");
        EXPECT_EQ(edit.text(), "first");
        Press(dialog, "1");
    });
    EXPECT_EQ(TheUnit().GetComment(), "first");

    // The field opens with its text selected, as a dialog's first field
    // does: typing replaces it, End continues it.
    RunComment([](QDialog& dialog, QLineEdit& edit) {
        EXPECT_EQ(edit.selectedText(), "first");
        QTest::keyClicks(&edit, "other");
        Press(dialog, "2");
    });
    EXPECT_EQ(TheUnit().GetComment(), "first");

    RunComment([](QDialog& dialog, QLineEdit& edit) {
        QTest::keyClick(&edit, Qt::Key_End);
        QTest::keyClicks(&edit, " and more");
        Press(dialog, "1");
    });
    EXPECT_EQ(TheUnit().GetComment(), "first and more");

    // Emptied: the next recipe carries no Comment key at all.
    RunComment([](QDialog& dialog, QLineEdit& edit) {
        ClearField(edit);
        Press(dialog, "1");
    });
    EXPECT_EQ(TheUnit().GetComment(), "");
    SetFileDialogHook([this](const std::string&, const std::string&, const std::string&, std::string& path) {
        path = dir.File("plain.0");
        return true;
    });
    window->OnFileSaveAs();
    const std::string recipe = dir.Read("plain.0");
    EXPECT_NE(recipe.find("ID=VORLENT_RECIPE"), std::string::npos);
    EXPECT_EQ(recipe.find("Comment"), std::string::npos);
}

// Whatever is typed, the encoded comment fits one recipe value.
TEST_F(CommentTest, FieldHoldsWhatARecipeValueCanStore)
{
    RunComment([](QDialog& dialog, QLineEdit& edit) {
        EXPECT_EQ(edit.maxLength(), 511);
        ClearField(edit);
        QTest::keyClicks(&edit, QString(600, 'x'));
        EXPECT_EQ(edit.text().size(), 511);
        Press(dialog, "1");
    });
    EXPECT_EQ(TheUnit().GetComment(), std::string(511, 'x'));

    // Three bytes each: the field stops before the value's 1023 bytes.
    RunComment([](QDialog& dialog, QLineEdit& edit) {
        ClearField(edit);
        for (int i = 0; i < 400; ++i) {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(QChar(0x20AC)));
            QApplication::sendEvent(&edit, &key);
        }
        EXPECT_EQ(edit.text().size(), 341);
        Press(dialog, "1");
    });
    EXPECT_EQ(TheUnit().GetComment().size(), 341u * 3);

    // A longer comment from a recipe written by hand survives OK untouched.
    const std::string longComment(700, 'y');
    TheUnit().SetComment(longComment);
    RunComment([](QDialog& dialog, QLineEdit&) { Press(dialog, "1"); });
    EXPECT_EQ(TheUnit().GetComment(), longComment);
}

}  // namespace
