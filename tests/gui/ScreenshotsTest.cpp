// The looks a new user gets, step by step. Each case checks what it shows;
// with VORLENT_SCREENSHOTS naming a directory (make screenshots, under Xvfb)
// it also saves a picture of it there.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QMenuBar>
#include <QRadioButton>
#include <QTest>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "GuiSupport.h"
#include "SimFixture.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/DarozozazWindowsDlg.h"
#include "mainwindow/MSFlexGrid.h"
#include "platform/qt/MenuBar.h"
#include "unit/Unit.h"

namespace {

void Save(QWidget& widget, const char* name)
{
    const char* dir = std::getenv("VORLENT_SCREENSHOTS");
    if (!dir || !*dir)
        return;
    QDir().mkpath(dir);
    widget.grab().save(QString(dir) + "/" + name);
}

class Screenshots : public ::testing::Test
{
protected:
    void SetUp() override
    {
        home.CopyResource("English.lng");
        home.CopyResource("Deutsch.lng");
        home.CopyResource("GLOBAL.INI");
    }
    TestDir home;
    DialogScript script;
};

}  // namespace

TEST_F(Screenshots, InterfaceDialogAndOfflineMainWindow)
{
    // One real port (a pseudo-terminal) behind COM1; the others lead nowhere.
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    std::string config = "[COM_PORT]\r\nPort=1\r\nBaudrate=19200\r\n[GENERAL]\r\nLanguage=ENGLISH\r\n[PORTS]\r\n";
    config += std::string("COM1=") + ptsname(master) + "\r\n";
    for (int n = 2; n <= 15; ++n)
        config += "COM" + std::to_string(n) + "=/nonexistent/vorlent-com" + std::to_string(n) + "\r\n";
    home.Write("CONFIG.INI", config);

    CDarozozazWindowsDlg window;
    ASSERT_TRUE(window.OnInitDialog());
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    script.ExpectDialog([](QDialog& dialog) {
        EXPECT_EQ(dialog.objectName(), "134");
        auto* port = Child<QComboBox>(dialog, "1102");
        auto* baud = Child<QComboBox>(dialog, "1104");
        ASSERT_TRUE(port && baud);
        EXPECT_EQ(port->currentText(), "1");
        EXPECT_EQ(baud->currentText(), "19200");
        EXPECT_TRUE(Child<QRadioButton>(dialog, "1103")->isChecked());
        EXPECT_EQ(dialog.windowTitle().toStdString(), TheTextMemory().GetText(59));
        Save(dialog, "interface-dialog.png");
        // Work without a unit, so the main window shows its offline state.
        Child<QRadioButton>(dialog, "1105")->click();
        Child<QAbstractButton>(dialog, "1")->click();
    });
    window.RunStartupSequence();
    EXPECT_EQ(script.PendingDialogs(), 0);

    EXPECT_TRUE(TheUnit().IsOffline());
    EXPECT_EQ(window.windowTitle().toStdString(), TheTextMemory().GetText(0));
    CMenuBar& menu = window.Menu();
    EXPECT_EQ(menu.MenuCount(), 6);
    EXPECT_FALSE(menu.IsMenuEnabled(menupos::kDevices));
    EXPECT_FALSE(menu.IsMenuEnabled(menupos::kCommunication));
    EXPECT_FALSE(menu.IsMenuEnabled(menupos::kParameters));
    EXPECT_TRUE(menu.IsEnabled(cmd::kFileOpen));
    EXPECT_EQ(window.GetCurrentView(), -1);
    QTest::qWait(50);
    Save(window, "main-window-offline.png");
    close(master);
}
