// The interface choice at start-up, with pseudo-terminals standing behind the
// port numbers and every other number pointed at a path that does not exist,
// so no device of the machine takes part.
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "GuiSupport.h"
#include "TestDir.h"
#include "config/qt/DlgSelectInterface.h"
#include "config/TextMemory.h"
#include "platform/qt/ModalRun.h"
#include "unit/ComPort.h"

namespace {

// A pseudo-terminal whose slave can be opened while this lives.
struct Pty
{
    Pty()
    {
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            path = ptsname(master);
    }
    ~Pty() { close(master); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    std::string path;
};

using Sent = std::pair<int32_t, int32_t>;  // baud rate, port

class SelectInterfaceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int n : {1, 3, 10, 16}) {
            ptys[n] = std::make_unique<Pty>();
            ASSERT_FALSE(ptys[n]->path.empty());
        }
        dir.CopyResource("English.lng");
        ASSERT_TRUE(TheTextMemory().Load("English.lng"));
    }

    std::string PathOf(int n) const
    {
        return real.count(n) ? ptys.at(n)->path : "/nonexistent/vorlent-com" + std::to_string(n);
    }

    // CONFIG.INI with the given [COM_PORT] keys; the numbers in realPorts
    // (1, 3, 10 or 16) stand on pseudo-terminals.
    void Configure(const std::string& comPortKeys, std::set<int> realPorts)
    {
        real = std::move(realPorts);
        std::string ini = comPortKeys.empty() ? "" : "[COM_PORT]\n" + comPortKeys;
        ini += "[PORTS]\n";
        for (int n = 1; n <= 16; ++n)
            ini += "COM" + std::to_string(n) + "=" + PathOf(n) + "\n";
        dir.Write("CONFIG.INI", ini);
    }

    // Runs the dialog modally; work plays the user and should end it.
    int Run(const std::function<void(CDlgSelectInterface&)>& work)
    {
        sent.clear();
        CDlgSelectInterface dialog([this](int32_t baud, int32_t port) { sent.emplace_back(baud, port); });
        script.ExpectDialog([&](QDialog&) {
            work(dialog);
            if (dialog.isVisible())
                dialog.reject();  // a failed check must not leave the run hanging
        });
        const int result = RunModal(dialog);
        EXPECT_EQ(script.PendingDialogs(), 0);
        return result;
    }

    static QComboBox& Combo(QDialog& dialog, const char* id) { return *Child<QComboBox>(dialog, id); }
    // Qt strings as standard ones, so that a failure prints them readably.
    static std::string Items(QComboBox& combo)
    {
        QStringList items;
        for (int i = 0; i < combo.count(); ++i)
            items << combo.itemText(i);
        return items.join(",").toStdString();
    }
    static std::string TextOf(QComboBox& combo) { return combo.currentText().toStdString(); }
    static void Type(QComboBox& combo, const QString& text)
    {
        QTest::keyClick(combo.lineEdit(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(combo.lineEdit(), Qt::Key_Backspace);
        QTest::keyClicks(combo.lineEdit(), text);
    }
    // Near the left edge, where a radio button has its circle and text even
    // when its row is wider.
    static void Click(QDialog& dialog, const char* id)
    {
        QAbstractButton* button = Child<QAbstractButton>(dialog, id);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

    TestDir dir;
    DialogScript script;
    std::map<int, std::unique_ptr<Pty>> ptys;
    std::set<int> real;
    std::vector<Sent> sent;
};

TEST_F(SelectInterfaceTest, ShowsItsTextsAndCancelSendsNothing)
{
    Configure("Port=3\nBaudrate=19200\n", {1, 3});
    const int result = Run([](CDlgSelectInterface& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Select interface");
        EXPECT_EQ(Child<QGroupBox>(dialog, "1124")->title(), "Interface");
        EXPECT_EQ(Child<QRadioButton>(dialog, "1103")->text(), "Use &COM port");
        EXPECT_EQ(Child<QLabel>(dialog, "1125")->text(), "at");
        EXPECT_EQ(Child<QLabel>(dialog, "1126")->text(), "baud");
        EXPECT_EQ(Child<QRadioButton>(dialog, "1105")->text(), "&Work without a unit");
        EXPECT_EQ(Child<QPushButton>(dialog, "1")->text(), "OK");
        EXPECT_EQ(Child<QPushButton>(dialog, "2")->text(), "Cancel");
        Click(dialog, "2");
    });
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_TRUE(sent.empty());
}

TEST_F(SelectInterfaceTest, ListsTheFreePortsAndPreselectsTheRememberedChoice)
{
    const struct
    {
        const char* name;
        std::string keys;
        std::set<int> ports;
        int nHeld;  // a port this process holds open while the dialog probes
        bool bUsePort;
        std::string list, port, baud;
        bool bPortListed;  // false: the port text stands in the edit field only
    } cases[] = {
        {"remembered", "Port=3\nBaudrate=19200\n", {1, 3, 16}, 0, true, "1,3", "3", "19200", true},
        {"without a unit remembered", "Port=0\nBaudrate=19200\n", {1, 3}, 0, false, "1,3", "1", "9600", true},
        {"no baud rate", "Port=3\n", {1, 3}, 0, true, "1,3", "3", "9600", true},
        {"port gone meanwhile", "Port=7\n", {1}, 0, true, "1", "7", "9600", false},
        {"port held elsewhere", "Port=3\nBaudrate=19200\n", {1, 3}, 3, true, "1", "3", "19200", false},
        {"nothing remembered", "", {1, 3}, 0, false, "1,3", "1", "9600", true},
        {"empty port", "Port=\nBaudrate=19200\n", {1, 3}, 0, false, "1,3", "1", "9600", true},
        {"no port free", "Port=3\nBaudrate=19200\n", {}, 0, false, "", "1", "9600", false},
        // The first entry that begins with the text is taken.
        {"prefix", "Port=1\nBaudrate=1\n", {10}, 0, true, "10", "10", "19200", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(c.keys, c.ports);
        CComPort held;
        if (c.nHeld) {
            ASSERT_TRUE(held.Open(static_cast<int16_t>(c.nHeld), 9600, 0, 8, 0, 200)) << held.GetLastError();
        }
        Run([&](CDlgSelectInterface& dialog) {
            EXPECT_EQ(Child<QRadioButton>(dialog, "1103")->isChecked(), c.bUsePort);
            EXPECT_EQ(Child<QRadioButton>(dialog, "1105")->isChecked(), !c.bUsePort);
            QComboBox& port = Combo(dialog, "1102");
            EXPECT_EQ(Items(port), c.list);
            EXPECT_EQ(TextOf(port), c.port);
            EXPECT_EQ(port.currentIndex() >= 0, c.bPortListed);
            EXPECT_EQ(TextOf(Combo(dialog, "1104")), c.baud);
            EXPECT_EQ(Items(Combo(dialog, "1104")), "9600,19200");
            Click(dialog, "2");
        });
    }
}

TEST_F(SelectInterfaceTest, OkSendsThePortAndBaudRateOrZeroWithoutAUnit)
{
    const struct
    {
        const char* name;
        std::string keys;
        std::set<int> ports;
        std::function<void(QDialog&)> act;
        Sent expected;
    } cases[] = {
        {"as preselected", "Port=3\nBaudrate=19200\n", {1, 3}, [](QDialog&) {}, {19200, 3}},
        {"remembered port not listed", "Port=7\n", {1}, [](QDialog&) {}, {9600, 7}},
        {"picked from the lists", "Port=3\nBaudrate=19200\n", {1, 3},
         [](QDialog& d) {
             QTest::keyClick(&Combo(d, "1102"), Qt::Key_Up);
             QTest::keyClick(&Combo(d, "1104"), Qt::Key_Up);
         },
         {9600, 1}},
        {"without a unit", "Port=3\nBaudrate=19200\n", {1, 3}, [](QDialog& d) { Click(d, "1105"); }, {0, 0}},
        {"port typed as 0", "Port=3\nBaudrate=19200\n", {1, 3},
         [](QDialog& d) { Type(Combo(d, "1102"), "0"); }, {0, 0}},
        {"port typed as no number", "Port=3\nBaudrate=19200\n", {1, 3},
         [](QDialog& d) { Type(Combo(d, "1102"), "COM"); }, {0, 0}},
        {"port 0 with a bad rate", "Port=3\n", {1, 3},
         [](QDialog& d) {
             Type(Combo(d, "1102"), "0");
             Type(Combo(d, "1104"), "-1");
         },
         {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(c.keys, c.ports);
        const int result = Run([&](CDlgSelectInterface& dialog) {
            c.act(dialog);
            Click(dialog, "1");
        });
        EXPECT_EQ(result, QDialog::Accepted);
        EXPECT_EQ(sent, std::vector<Sent>{c.expected});
    }
}

// A rate the port cannot be set to is caught before it is handed on.
TEST_F(SelectInterfaceTest, OkKeepsTheDialogOpenOnABaudRateThatIsNoPositiveNumber)
{
    Configure("Port=3\nBaudrate=19200\n", {1, 3});
    const int result = Run([this](CDlgSelectInterface& dialog) {
        QComboBox& baud = Combo(dialog, "1104");
        for (const QString bad : {"-9600", "0", "fast", "", "99999999999"}) {
            SCOPED_TRACE(bad.toStdString());
            Type(baud, bad);
            Click(dialog, "1");
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_TRUE(sent.empty());
            EXPECT_TRUE(dialog.focusWidget() == &baud || dialog.focusWidget() == baud.lineEdit());
            EXPECT_EQ(baud.lineEdit()->selectedText().toStdString(), bad.toStdString());
        }
        // Typing replaces the selection; Enter confirms without adding the
        // typed rate to the list.
        QTest::keyClicks(baud.lineEdit(), "4800");
        QTest::keyClick(baud.lineEdit(), Qt::Key_Return);
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(Items(baud), "9600,19200");
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(sent, std::vector<Sent>{Sent(4800, 3)});
}

TEST_F(SelectInterfaceTest, DeviceLabelNamesThePathBehindThePortNumber)
{
    Configure("Port=3\nBaudrate=19200\n", {1, 3});
    Run([this](CDlgSelectInterface& dialog) {
        QLabel* device = Child<QLabel>(dialog, "1131");
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->text().toStdString(), PathOf(3));
        QTest::keyClick(&Combo(dialog, "1102"), Qt::Key_Up);
        EXPECT_EQ(device->text().toStdString(), PathOf(1));
        Type(Combo(dialog, "1102"), "12");
        EXPECT_EQ(device->text().toStdString(), "/nonexistent/vorlent-com12");
        Type(Combo(dialog, "1102"), "16");  // mapped, though never listed
        EXPECT_EQ(device->text().toStdString(), "/nonexistent/vorlent-com16");
        for (const char* none : {"17", "0", "x"}) {
            Type(Combo(dialog, "1102"), none);
            EXPECT_EQ(device->text().toStdString(), "\u2014") << none;
        }
        Click(dialog, "2");
    });
}

}  // namespace
