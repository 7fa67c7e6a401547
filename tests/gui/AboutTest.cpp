// The about box: version number, texts, and the link rule.
#include <QCursor>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "TestDir.h"
#include "config/qt/AboutDlg.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "platform/qt/QtText.h"

namespace {

TEST(AboutVersionTest, FieldsReducedToFourBits)
{
    struct Case
    {
        int major, minor, build;
        uint16_t number;
        const char* line;
    };
    const Case cases[] = {
        {0, 9, 5, 95, "Version 0.95 beta"},
        {2, 12, 3, 323, "Version 3.23"},
        {1, 17, 0, 110, "Version 1.10"},
        {1, 4, 2, 142, "Version 1.42"},
        {1, 0, 0, 100, "Version 1.00"},
        {16, 16, 16, 0, "Version 0.00 beta"},
    };
    for (const Case& c : cases) {
        const uint16_t number = CAboutDlg::VersionNumberOf(c.major, c.minor, c.build);
        EXPECT_EQ(number, c.number) << c.major << "." << c.minor << "." << c.build;
        EXPECT_EQ(CAboutDlg::VersionLine("Version %d.%02d", number), c.line);
    }
    EXPECT_EQ(CAboutDlg::GetVersionNumber(),
              CAboutDlg::VersionNumberOf(VORLENT_VERSION_MAJOR, VORLENT_VERSION_MINOR, VORLENT_VERSION_PATCH));
}

// Only web and mail addresses are handed to the desktop; a language file
// naming a program or a file opens nothing.
TEST(AboutLinkTest, OpensOnlyWebAndMailAddresses)
{
    std::vector<std::string> opened;
    CAboutDlg::SetLinkOpener([&opened](const QUrl& url) { opened.push_back(S(url.toString())); });
    const std::vector<std::string> good = {"https://www.example.com/vorlent", "http://example.com",
                                           "HTTPS://example.com/a?b=c", "mailto:info@example.com"};
    const std::vector<std::string> bad = {"",
                                          "/usr/bin/xterm",
                                          "calc.exe",
                                          "file:///etc/passwd",
                                          "javascript:alert(1)",
                                          "ftp://example.com",
                                          "https://",
                                          "https://exa mple.com",
                                          "mailto:",
                                          "mailto:a@example.com?attach=/etc/passwd",
                                          "www.example.com",
                                          "sh -c 'rm -rf ~'"};
    for (const std::string& text : good)
        EXPECT_TRUE(CAboutDlg::OpenLink(text)) << text;
    for (const std::string& text : bad)
        EXPECT_FALSE(CAboutDlg::OpenLink(text)) << text;
    EXPECT_EQ(opened.size(), good.size());
    CAboutDlg::SetLinkOpener(nullptr);
}

class AboutBoxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        CAboutDlg::SetLinkOpener([this](const QUrl& url) { opened.push_back(S(url.toString())); });
    }
    void TearDown() override { CAboutDlg::SetLinkOpener(nullptr); }

    TestDir dir;
    DialogScript script;
    std::unique_ptr<CDarozozazWindowsDlg> window;
    std::vector<std::string> opened;
};

TEST_F(AboutBoxTest, ShowsTheTextsAndOpensTheLinkWhenClicked)
{
    script.ExpectDialog([this](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "100");
        EXPECT_EQ(dialog.windowTitle(), "About Vorlent");
        const std::string version =
            CAboutDlg::VersionLine(TheTextMemory().GetText(22), CAboutDlg::GetVersionNumber());
        EXPECT_EQ(S(Child<QGroupBox>(dialog, "1110")->title()), version);
        EXPECT_NE(S(Child<QLabel>(dialog, "1108")->text()).find("by Vorlent Systems"), std::string::npos);
        EXPECT_EQ(S(Child<QLabel>(dialog, "1109")->text()), "Copyright (c) Vorlent Systems");
        EXPECT_EQ(S(Child<QLabel>(dialog, "programDir")->text()), "Program directory: " + dir.Path());
        EXPECT_FALSE(Child<QLabel>(dialog, "1123")->pixmap().isNull());
        EXPECT_EQ(Child<QPushButton>(dialog, "1")->text(), "OK");

        QLabel* link = Child<QLabel>(dialog, "1121");
        EXPECT_EQ(S(link->text()), "https://www.example.com/vorlent");
        EXPECT_TRUE(link->font().underline());
        QTest::mouseClick(link, Qt::LeftButton);

        // The link lights up while the pointer is over it.
        auto* about = static_cast<CAboutDlg*>(&dialog);
        auto colour = [link] { return link->palette().color(QPalette::WindowText); };
        EXPECT_EQ(colour(), QColor(0, 0, 255));
        QCursor::setPos(link->mapToGlobal(link->rect().center()));
        EXPECT_TRUE(WaitFor([about] { return about->IsLinkHot(); }));
        EXPECT_EQ(colour(), QColor(255, 255, 0));
        QCursor::setPos(link->mapToGlobal(link->rect().bottomRight() + QPoint(40, 40)));
        EXPECT_TRUE(WaitFor([about] { return !about->IsLinkHot(); }));
        EXPECT_EQ(colour(), QColor(0, 0, 255));
        QTest::mouseClick(Child<QPushButton>(dialog, "1"), Qt::LeftButton);
    });
    window->OnAbout();
    EXPECT_EQ(script.PendingDialogs(), 0);
    EXPECT_EQ(opened, std::vector<std::string>{"https://www.example.com/vorlent"});
}

TEST_F(AboutBoxTest, LinkNamingAProgramOpensNothing)
{
    std::string english = dir.Read("English.lng");
    const auto at = english.find("025=");
    english.replace(at, english.find('\n', at) - at, "025=/usr/bin/xterm");
    dir.Write("Edited.lng", english);
    ASSERT_TRUE(TheTextMemory().Load("Edited.lng"));

    script.ExpectDialog([](QDialog& dialog) {
        QLabel* link = Child<QLabel>(dialog, "1121");
        EXPECT_EQ(S(link->text()), "/usr/bin/xterm");
        QTest::mouseClick(link, Qt::LeftButton);
        dialog.accept();
    });
    window->OnAbout();
    EXPECT_TRUE(opened.empty());
}

}  // namespace
