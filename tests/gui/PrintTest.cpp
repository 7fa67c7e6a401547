// Printing with Qt: the print device's fonts and tabs, a large unit's list as
// a real PDF, and the File/Print command with its dialog.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "GuiSupport.h"
#include "TestDir.h"
#include "config/TextMemory.h"
#include "mainwindow/qt/DarozozazWindowsDlg.h"
#include "recipe/qt/QtPrintDevice.h"
#include "platform/qt/QtText.h"
#include "recipe/Printout.h"
#include "unit/Unit.h"

namespace {

constexpr std::time_t kNow = 1711920600;

void SetUpPdf(QPrinter& printer, const QString& path)
{
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Landscape);
}

// The pages of a PDF written by Qt, from its page tree; -1 when the file is
// no PDF.
int PdfPages(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray content = file.readAll();
    if (!content.startsWith("%PDF-"))
        return -1;
    const auto match = QRegularExpression(R"(/Type\s*/Pages\b[^>]*/Count\s+(\d+))").match(QString::fromLatin1(content));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Passes everything on to the Qt device and checks, with the real fonts, that
// each text stays inside the printable area and overlaps no other text on
// its page (by more than a rounding error: lines of two fonts of one height
// may differ by a unit).
class CheckingDevice : public IPrintDevice
{
public:
    explicit CheckingDevice(QtPrintDevice& inner) : m_inner(inner) {}

    bool StartDoc(const std::string& name) override { return m_inner.StartDoc(name); }
    int EndDoc() override { return m_inner.EndDoc(); }
    void AbortDoc() override { m_inner.AbortDoc(); }
    void StartPage() override
    {
        ++m_nPage;
        m_inner.StartPage();
    }
    void EndPage() override { m_inner.EndPage(); }
    void SelectFont(PrintFont font) override { m_inner.SelectFont(font); }
    void TextOut(int32_t x, int32_t y, const std::string& text) override
    {
        Check(x, y, m_inner.GetTextExtent(text), text);
        m_inner.TextOut(x, y, text);
    }
    PrintExtent TabbedTextOut(int32_t x, int32_t y, const std::string& text, int32_t tab) override
    {
        const PrintExtent extent = m_inner.TabbedTextOut(x, y, text, tab);
        Check(x, y, extent, text);
        return extent;
    }
    PrintExtent GetTextExtent(const std::string& text) override { return m_inner.GetTextExtent(text); }
    int32_t GetPrintableWidth() override { return m_inner.GetPrintableWidth(); }
    int32_t GetPrintableHeight() override { return m_inner.GetPrintableHeight(); }

    int Pages() const { return m_nPage; }
    int Texts() const { return static_cast<int>(m_boxes.size()); }

private:
    struct Box
    {
        int page;
        int32_t left, top, right, bottom;
        std::string text;
    };

    void Check(int32_t x, int32_t y, PrintExtent extent, const std::string& text)
    {
        const int32_t w = std::min(m_inner.GetPrintableWidth(), 28700);
        const int32_t h = std::min(m_inner.GetPrintableHeight(), 20000);
        const Box box{m_nPage, x, y, x + extent.cx, y - extent.cy, text};
        EXPECT_TRUE(box.left >= 0 && box.right <= w && box.top <= 0 && box.bottom >= -h)
            << "off the page: " << text << " at " << x << "," << y;
        constexpr int32_t kSlack = 10;
        for (const Box& other : m_boxes)
            if (other.page == box.page && std::min(box.right, other.right) - std::max(box.left, other.left) > kSlack &&
                std::min(box.top, other.top) - std::max(box.bottom, other.bottom) > kSlack)
                ADD_FAILURE() << "\"" << text << "\" overlaps \"" << other.text << "\" on page " << m_nPage;
        m_boxes.push_back(box);
    }

    QtPrintDevice& m_inner;
    int m_nPage = 0;
    std::vector<Box> m_boxes;
};

std::vector<GlobalParamDef> SampleCatalogue()
{
    const char* names[][2] = {
        {"Solltemperatur", "Temperature setpoint"}, {"Maximaltemperatur", "Maximum temperature"},
        {"Alarmgrenze Regelabweichung", "Alarm limit for control deviation"}, {"Schalthysterese", "Switching hysteresis"},
        {"Rampensteigung in K/min", "Ramp rate in K/min"}, {"Haltezeit in Minuten", "Hold time in minutes"},
        {"Anlaufschaltung", "Soft start"}, {"Sensortyp", "Sensor type"}, {"Regelverhalten", "Control mode"},
        {"Anzeigeeinheit", "Display unit"}, {"Adresse", "Bus address"}, {"Leistungsbegrenzung", "Power limit"},
        {"Nachlaufzeit", "Run-on time"}, {"Reserve", "Reserve"}};
    std::vector<GlobalParamDef> defs;
    for (const auto& name : names) {
        GlobalParamDef def;
        def.pDescriptionD = name[0];
        def.pDescriptionE = name[1];
        def.nMaxVal = 9999;
        defs.push_back(def);
    }
    return defs;
}

void FillUnit(CUnit& unit, int zones, int params)
{
    unit.SetGlobalParams(SampleCatalogue());
    for (int i = 1; i <= unit.GetGlobalParamCount(); ++i)
        unit.WriteGlobalParam(static_cast<int16_t>(i), i == 4 ? -1 : 37 * i);
    unit.SetAZNumber(12);
    unit.SetType("HRC-128");
    unit.SetEpromNumber(4711);
    unit.SetVersion(217);
    unit.SetRevDate("04.05.23");
    unit.SetComment("Mould 47-11, cavity side; checked by the night shift");
    unit.SetZoneCount(zones);
    unit.SetZoneParamCount(params);
    for (int z = 1; z <= zones; ++z) {
        const auto zone = static_cast<int16_t>(z);
        unit.SetActualValue(zone, 20 + (z * 37) % 230);
        unit.WriteSetValue(zone, 200 + z % 50);
        for (int j = 1; j <= params; ++j)
            unit.WriteZoneParam(zone, static_cast<int16_t>(j), j == 7 ? -999 : (z * j * 131) % 10000);
    }
}

// Where the printed PDF goes: where VORLENT_SCREENSHOTS points (make
// screenshots), else build/screenshots beside build/bin.
QString ScreenshotPath(const QString& name)
{
    const char* dir = std::getenv("VORLENT_SCREENSHOTS");
    const QString path = dir ? QString::fromLocal8Bit(dir) : QCoreApplication::applicationDirPath() + "/../screenshots";
    QDir().mkpath(path);
    return QDir(path).absoluteFilePath(name);
}

class PrintTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir.CopyResource("English.lng");
        ASSERT_TRUE(TheTextMemory().Load("English.lng"));
    }

    TestDir dir;
};

TEST_F(PrintTest, DeviceSizesFontsByLineAndExpandsTabs)
{
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdf(printer, Q(dir.File("device.pdf")));
    QtPrintDevice device(printer);
    ASSERT_TRUE(device.StartDoc("Vorlent Recipe"));
    device.StartPage();

    // A4 landscape less the margins, in 0.01 mm.
    EXPECT_GT(device.GetPrintableWidth(), 25000);
    EXPECT_LE(device.GetPrintableWidth(), 29700);
    EXPECT_GT(device.GetPrintableHeight(), 17000);
    EXPECT_LE(device.GetPrintableHeight(), 21000);

    const struct { PrintFont font; int32_t height; QStringList faces; } fonts[] = {
        {PrintFont::Title, 500, {"Arial", "Liberation Sans"}},
        {PrintFont::Heading, 400, {"Arial", "Liberation Sans"}},
        {PrintFont::Text, 350, {"Arial", "Liberation Sans"}},
        {PrintFont::Narrow, 350, {"Arial Narrow", "Liberation Sans Narrow"}},
    };
    for (const auto& f : fonts) {
        device.SelectFont(f.font);
        EXPECT_NEAR(device.GetTextExtent("Zone 01").cy, f.height, 10) << static_cast<int>(f.font);
        EXPECT_TRUE(f.faces.contains(device.FamilyOf(f.font))) << S(device.FamilyOf(f.font));
    }
    device.SelectFont(PrintFont::Narrow);
    const int32_t narrow = device.GetTextExtent("12345").cx;
    device.SelectFont(PrintFont::Text);
    EXPECT_LT(narrow, device.GetTextExtent("12345").cx);
    // Five digits and a sign fit a column of 8 mm, four and a sign one of 7 mm.
    device.SelectFont(PrintFont::Narrow);
    EXPECT_LT(device.GetTextExtent("-99999").cx, 800);
    EXPECT_LT(device.GetTextExtent("-9999").cx, 700);

    device.SelectFont(PrintFont::Text);
    const int32_t c = device.GetTextExtent("c").cx;
    const int32_t wide = device.GetTextExtent("Alarm limit for control deviation").cx;
    ASSERT_GT(wide, 0);
    const struct { std::string text; int32_t x, tab, cx; } lines[] = {
        {"ab\t", 1000, 6000, 6000},
        {"ab\tc", 1000, 6000, 6000 + c},
        {"\t\t\t", 12000, 700, 2100},  // stops count from the line's own x
        {"Alarm limit for control deviation\t9", 12000, 800, NextTabStop(wide, 800) + device.GetTextExtent("9").cx},
    };
    for (const auto& line : lines) {
        const PrintExtent extent = device.TabbedTextOut(line.x, -3000, line.text, line.tab);
        EXPECT_NEAR(extent.cx, line.cx, 2) << line.text;
        EXPECT_NEAR(extent.cy, 350, 10) << line.text;
    }
    device.EndPage();
    EXPECT_EQ(device.EndDoc(), 0);
    EXPECT_EQ(PdfPages(Q(dir.File("device.pdf"))), 1);
}

TEST_F(PrintTest, LargeUnitPrintsEveryPageInsideTheArea)
{
    CUnit unit;
    FillUnit(unit, 128, 64);
    dir.Write("mould.12", "[HEADER]\r\nID=VORLENT_RECIPE\r\nFileName=mould.12\r\nDate=2024-03-31\r\n");
    const QString path = ScreenshotPath("printout.pdf");
    QFile::remove(path);

    QPrinter printer(QPrinter::HighResolution);
    SetUpPdf(printer, path);
    QtPrintDevice qtDevice(printer);
    CheckingDevice device(qtDevice);
    ASSERT_EQ(PrintParameters(device, unit, TheTextMemory(), dir.File("mould.12"), kNow), 0);
    EXPECT_GT(device.Texts(), 128 * 4);
    EXPECT_EQ(PdfPages(path), device.Pages());
    EXPECT_GT(device.Pages(), 2);
}

TEST_F(PrintTest, UnwritableFileEndsInNoJob)
{
    CUnit unit;
    FillUnit(unit, 2, 2);
    QPrinter printer(QPrinter::HighResolution);
    SetUpPdf(printer, Q(dir.File("missing/dir/list.pdf")));
    QtPrintDevice device(printer);
    EXPECT_LT(PrintParameters(device, unit, TheTextMemory(), "", kNow), 0);
    EXPECT_FALSE(QFile::exists(Q(dir.File("missing/dir/list.pdf"))));
}

class PrintCommandTest : public PrintTest
{
protected:
    void SetUp() override
    {
        PrintTest::SetUp();
        // The PDF the dialog proposes lands in the home directory.
        const char* home = std::getenv("HOME");
        if (home)
            m_strHome = home;
        setenv("HOME", dir.Path().c_str(), 1);
        window = std::make_unique<CDarozozazWindowsDlg>();
        ASSERT_TRUE(window->OnInitDialog());
        FillUnit(TheUnit(), 3, 4);
    }
    void TearDown() override { setenv("HOME", m_strHome.c_str(), 1); }

    QString DefaultPdf() const { return Q(dir.File("Vorlent Recipe.pdf")); }

    DialogScript script;
    std::unique_ptr<CDarozozazWindowsDlg> window;
    std::string m_strHome;
};

TEST_F(PrintCommandTest, DialogOffersAllPagesAndPrintsLandscape)
{
    const bool bNoPrinter = QPrinterInfo::availablePrinters().isEmpty();
    script.ExpectDialog([&](QDialog& dialog) {
        auto* print = qobject_cast<QPrintDialog*>(&dialog);
        ASSERT_NE(print, nullptr);
        EXPECT_FALSE(print->testOption(QAbstractPrintDialog::PrintPageRange));
        EXPECT_FALSE(print->testOption(QAbstractPrintDialog::PrintSelection));
        EXPECT_FALSE(print->testOption(QAbstractPrintDialog::PrintCurrentPage));
        EXPECT_TRUE(print->testOption(QAbstractPrintDialog::PrintToFile));
        EXPECT_EQ(print->printRange(), QAbstractPrintDialog::AllPages);
        EXPECT_EQ(print->printer()->pageLayout().orientation(), QPageLayout::Landscape);
        if (bNoPrinter) {
            EXPECT_EQ(print->printer()->outputFormat(), QPrinter::PdfFormat);
            EXPECT_EQ(print->printer()->outputFileName(), DefaultPdf());
        } else {
            // A set-up printer is not to be used by a test.
            print->printer()->setOutputFormat(QPrinter::PdfFormat);
            print->printer()->setOutputFileName(DefaultPdf());
        }
        dialog.accept();
        // What the user chose last counts, the list is landscape anyway.
        print->printer()->setPageOrientation(QPageLayout::Portrait);
        if (!bNoPrinter) {
            print->printer()->setOutputFormat(QPrinter::PdfFormat);
            print->printer()->setOutputFileName(DefaultPdf());
        }
    });
    window->OnFilePrint();
    EXPECT_EQ(script.PendingDialogs(), 0);
    EXPECT_TRUE(script.Boxes().empty());
    EXPECT_EQ(PdfPages(DefaultPdf()), 1);
    QFile pdf(DefaultPdf());
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    // A4 landscape: 842 x 595 points.
    EXPECT_TRUE(QRegularExpression(R"(/MediaBox \[0 0 842(\.0+)? 595(\.0+)?\])")
                    .match(QString::fromLatin1(pdf.readAll()))
                    .hasMatch());
}

TEST_F(PrintCommandTest, CancelPrintsNothingAndFailureShowsText35)
{
    script.ExpectDialog([](QDialog& dialog) { dialog.reject(); });
    window->OnFilePrint();
    EXPECT_FALSE(QFile::exists(DefaultPdf()));
    EXPECT_TRUE(script.Boxes().empty());

    // The file cannot be created once the dialog has closed.
    script.ExpectDialog([this](QDialog& dialog) {
        auto* print = qobject_cast<QPrintDialog*>(&dialog);
        dialog.accept();
        print->printer()->setOutputFormat(QPrinter::PdfFormat);
        print->printer()->setOutputFileName(Q(dir.File("gone/list.pdf")));
    });
    window->OnFilePrint();
    ASSERT_EQ(script.Boxes().size(), 1u);
    EXPECT_EQ(script.Boxes()[0].text, "Printing failed.");
    EXPECT_EQ(script.Boxes()[0].caption, "Vorlent");
    EXPECT_EQ(script.Boxes()[0].icon, MsgIcon::Error);
}

}  // namespace
