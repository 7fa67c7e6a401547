#pragma once

#include <QFont>
#include <QPainter>
#include <array>

#include "recipe/Printout.h"

class QPrinter;

// The printout's device on a QPrinter. 0.01 mm with y upwards is mapped to
// the printer's pixels from the top left corner of the printable area (Qt
// does not clip to the margins, so the layout keeps within the area this
// device reports). Fonts are sized in device pixels so that a line is as high
// as asked: "Arial" and "Arial Narrow", or the metric-compatible Liberation
// faces where those are not installed.
//
// The printer must stay alive, and its settings unchanged, while the device
// prints; the job starts with StartDoc and ends with EndDoc or AbortDoc (or
// with the device's destruction, which aborts a job still open).
class QtPrintDevice : public IPrintDevice
{
public:
    explicit QtPrintDevice(QPrinter& printer);
    ~QtPrintDevice() override;
    QtPrintDevice(const QtPrintDevice&) = delete;
    QtPrintDevice& operator=(const QtPrintDevice&) = delete;

    bool StartDoc(const std::string& name) override;
    int EndDoc() override;
    void AbortDoc() override;
    void StartPage() override;
    void EndPage() override;

    void SelectFont(PrintFont font) override;
    void TextOut(int32_t x, int32_t y, const std::string& text) override;
    PrintExtent TabbedTextOut(int32_t x, int32_t y, const std::string& text, int32_t tabDistance) override;
    PrintExtent GetTextExtent(const std::string& text) override;

    int32_t GetPrintableWidth() override;
    int32_t GetPrintableHeight() override;

    // The face chosen for a font (for tests and diagnostics).
    QString FamilyOf(PrintFont font) const;

private:
    const QFont& Font() const { return m_fonts[static_cast<std::size_t>(m_font)]; }
    void MakeFonts();
    double ToPixelsX(int32_t v) const;
    double ToPixelsY(int32_t v) const;
    int32_t FromPixelsX(double px) const;
    int32_t FromPixelsY(double px) const;

    QPrinter& m_printer;
    QPainter m_painter;
    std::array<QFont, 4> m_fonts;
    bool m_bFontsMade = false;
    PrintFont m_font = PrintFont::Text;
    int m_nPagesStarted = 0;
    double m_dpiX = 0;
    double m_dpiY = 0;
};
