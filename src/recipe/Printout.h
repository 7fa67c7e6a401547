#pragma once

#include <cstdint>
#include <ctime>
#include <string>

class CUnit;
class CTextMemory;

// The four fonts of the parameter list. The device maps them to faces and
// sizes: title 5 mm bold, heading 4 mm bold, text 3.5 mm, narrow 3.5 mm of a
// narrow face; the sizes are line (cell) heights.
enum class PrintFont { Title, Heading, Text, Narrow };

// Width and height of a printed or measured text, in 0.01 mm.
struct PrintExtent
{
    int32_t cx = 0;
    int32_t cy = 0;
};

// What the printout needs of a printer. Coordinates are in 0.01 mm from the
// top left corner of the printable area, x to the right and y upwards, so
// every point on the page has a negative y. A text is placed by the top left
// corner of its line.
class IPrintDevice
{
public:
    virtual ~IPrintDevice() = default;

    // Starts the print job; false when it cannot be started (nothing to end).
    virtual bool StartDoc(const std::string& name) = 0;
    // Finishes the job: 0 or more when it was handed on whole, negative when
    // it failed.
    virtual int EndDoc() = 0;
    // Throws a started job away (after a failed EndDoc, or when the layout
    // cannot go on).
    virtual void AbortDoc() = 0;
    virtual void StartPage() = 0;
    virtual void EndPage() = 0;

    virtual void SelectFont(PrintFont font) = 0;
    // Draws text in the selected font; the text holds no tabs.
    virtual void TextOut(int32_t x, int32_t y, const std::string& text) = 0;
    // Draws text whose tabs move on to the next multiple of tabDistance
    // measured from x (a text ending on a stop moves to the following one).
    // Returns the width of the line, tabs included, and its height.
    virtual PrintExtent TabbedTextOut(int32_t x, int32_t y, const std::string& text, int32_t tabDistance) = 0;
    // Measures text (no tabs) in the selected font.
    virtual PrintExtent GetTextExtent(const std::string& text) = 0;

    // The printable area of a page in 0.01 mm.
    virtual int32_t GetPrintableWidth() = 0;
    virtual int32_t GetPrintableHeight() = 0;
};

// Prints the unit record as a parameter list on landscape pages: title, date
// and time, the recipe file's name and date (read from recipePath when it is
// not empty), the comment, the unit's identification, the global parameters
// that have a value, and the zone table. Every value is printed: the global
// block and the zone table continue on further pages, and zone table columns
// that do not fit the printable width continue on pages of their own with
// the zone labels repeated.
//
// Every text is taken from texts before the job starts, so a text missing
// from the language file throws std::invalid_argument with no job opened.
// now is the system time to stamp (plus two hours, as universal time).
//
// Returns 0 when the document was printed; negative (the device's EndDoc
// result, or -1 when the job could not be started) otherwise.
int16_t PrintParameters(IPrintDevice& device, CUnit& unit, const CTextMemory& texts, const std::string& recipePath,
                        std::time_t now);

// The x, relative to a line's start, at which a tab at pos continues.
constexpr int32_t NextTabStop(int32_t pos, int32_t tabDistance)
{
    return tabDistance > 0 ? (pos / tabDistance + 1) * tabDistance : pos;
}
