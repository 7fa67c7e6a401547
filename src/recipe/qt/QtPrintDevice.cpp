#include "recipe/qt/QtPrintDevice.h"

#include <QFile>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPrinter>
#include <QStringList>
#include <cmath>

#include "platform/qt/QtText.h"

namespace {

constexpr double kHundredthsPerInch = 2540.0;

struct FontSpec
{
    QStringList families;  // first installed one wins
    int32_t height;        // line height in 0.01 mm
    int weight;
};

// Where "Arial" is not installed (Linux), fontconfig would hand out some sans
// face; the Liberation faces have Arial's metrics, so the layout stays as
// designed.
QString InstalledFamily(const QStringList& families)
{
    for (const QString& family : families) {
        QFont font(family);
        if (QFontInfo(font).family().compare(family, Qt::CaseInsensitive) == 0)
            return family;
    }
    return QString();
}

}  // namespace

QtPrintDevice::QtPrintDevice(QPrinter& printer) : m_printer(printer) {}

QtPrintDevice::~QtPrintDevice()
{
    if (m_painter.isActive())
        AbortDoc();
}

void QtPrintDevice::MakeFonts()
{
    m_dpiX = m_printer.logicalDpiX();
    m_dpiY = m_printer.logicalDpiY();
    const QStringList sans = {"Arial", "Liberation Sans"};
    const QStringList narrow = {"Arial Narrow", "Liberation Sans Narrow"};
    const FontSpec specs[4] = {
        {sans, 500, QFont::Bold},      // title
        {sans, 400, QFont::Bold},      // heading
        {sans, 350, QFont::Normal},    // text
        {narrow, 350, QFont::Normal},  // narrow
    };
    for (std::size_t i = 0; i < 4; ++i) {
        const FontSpec& spec = specs[i];
        QString family = InstalledFamily(spec.families);
        const bool bNarrowMissing = i == 3 && family.isEmpty();
        if (family.isEmpty())
            family = InstalledFamily(sans);
        QFont font(family.isEmpty() ? QStringLiteral("Sans Serif") : family);
        font.setStyleHint(QFont::SansSerif);
        font.setWeight(static_cast<QFont::Weight>(spec.weight));
        if (bNarrowMissing)
            font.setStretch(QFont::SemiCondensed);
        // The size asked for is the height of a whole line, ascent and
        // descent together; a pixel size is the em, somewhat less.
        const double wanted = spec.height * m_dpiY / kHundredthsPerInch;
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(wanted))));
        const double line = QFontMetricsF(font, &m_printer).height();
        if (line > 0)
            font.setPixelSize(std::max(1, static_cast<int>(std::lround(wanted * wanted / line))));
        m_fonts[i] = font;
    }
    m_bFontsMade = true;
}

QString QtPrintDevice::FamilyOf(PrintFont font) const
{
    return QFontInfo(m_fonts[static_cast<std::size_t>(font)]).family();
}

double QtPrintDevice::ToPixelsX(int32_t v) const { return v * m_dpiX / kHundredthsPerInch; }
double QtPrintDevice::ToPixelsY(int32_t v) const { return -v * m_dpiY / kHundredthsPerInch; }
int32_t QtPrintDevice::FromPixelsX(double px) const
{
    return static_cast<int32_t>(std::lround(px * kHundredthsPerInch / m_dpiX));
}
int32_t QtPrintDevice::FromPixelsY(double px) const
{
    return static_cast<int32_t>(std::lround(px * kHundredthsPerInch / m_dpiY));
}

bool QtPrintDevice::StartDoc(const std::string& name)
{
    m_printer.setDocName(Q(name));
    MakeFonts();
    m_nPagesStarted = 0;
    return m_painter.begin(&m_printer);
}

int QtPrintDevice::EndDoc()
{
    if (!m_painter.isActive())
        return -1;
    const bool bEnded = m_painter.end();
    return bEnded && m_printer.printerState() != QPrinter::Error ? 0 : -1;
}

void QtPrintDevice::AbortDoc()
{
    m_printer.abort();
    if (m_painter.isActive())
        m_painter.end();
    // A file printer leaves what it wrote so far; a broken list is no list.
    if (m_printer.outputFormat() == QPrinter::PdfFormat && !m_printer.outputFileName().isEmpty())
        QFile::remove(m_printer.outputFileName());
}

void QtPrintDevice::StartPage()
{
    // begin() opened the first page already.
    if (m_nPagesStarted++ > 0)
        m_printer.newPage();
}

void QtPrintDevice::EndPage() {}

void QtPrintDevice::SelectFont(PrintFont font)
{
    if (!m_bFontsMade)
        MakeFonts();
    m_font = font;
    if (m_painter.isActive())
        m_painter.setFont(Font());
}

void QtPrintDevice::TextOut(int32_t x, int32_t y, const std::string& text)
{
    const QFontMetricsF metrics(Font(), &m_printer);
    m_painter.setFont(Font());
    m_painter.drawText(QPointF(ToPixelsX(x), ToPixelsY(y) + metrics.ascent()), Q(text));
}

PrintExtent QtPrintDevice::TabbedTextOut(int32_t x, int32_t y, const std::string& text, int32_t tabDistance)
{
    const QFontMetricsF metrics(Font(), &m_printer);
    m_painter.setFont(Font());
    const double baseline = ToPixelsY(y) + metrics.ascent();
    // The stops are whole 0.01 mm from the line's start, so tab after tab
    // moves on by exactly one distance.
    double pos = 0;
    const QStringList parts = Q(text).split(QLatin1Char('\t'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (!parts[i].isEmpty()) {
            m_painter.drawText(QPointF((x + pos) * m_dpiX / kHundredthsPerInch, baseline), parts[i]);
            pos += metrics.horizontalAdvance(parts[i]) * kHundredthsPerInch / m_dpiX;
        }
        if (i + 1 < parts.size())
            pos = NextTabStop(static_cast<int32_t>(std::floor(pos)), tabDistance);
    }
    return {static_cast<int32_t>(std::lround(pos)), FromPixelsY(metrics.height())};
}

PrintExtent QtPrintDevice::GetTextExtent(const std::string& text)
{
    if (!m_bFontsMade)
        MakeFonts();
    const QFontMetricsF metrics(Font(), &m_printer);
    return {FromPixelsX(metrics.horizontalAdvance(Q(text))), FromPixelsY(metrics.height())};
}

int32_t QtPrintDevice::GetPrintableWidth()
{
    return static_cast<int32_t>(std::floor(m_printer.pageRect(QPrinter::Millimeter).width() * 100));
}

int32_t QtPrintDevice::GetPrintableHeight()
{
    return static_cast<int32_t>(std::floor(m_printer.pageRect(QPrinter::Millimeter).height() * 100));
}
