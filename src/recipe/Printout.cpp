// The printed parameter list: page layout in 0.01 mm on an IPrintDevice.
#include "recipe/Printout.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "recipe/Maker.h"
#include "recipe/Recipe.h"
#include "unit/Unit.h"

namespace {

constexpr const char* kDocumentName = "Vorlent Recipe";

constexpr int32_t kMaxWidth = 28700;
constexpr int32_t kMaxHeight = 20000;
constexpr int32_t kLeft = 1000;
constexpr int32_t kTop = -2000;
constexpr int32_t kGlobalX = 12000;
constexpr int32_t kBlockTab = 6000;
constexpr int32_t kLabelTab = 800;
constexpr int32_t kTableX = 2600;
constexpr int32_t kLineGap = 50;
constexpr int32_t kCommentDrop = 50;
constexpr int32_t kFooterFromRight = 6500;
constexpr int32_t kFooterAboveBottom = 350;
constexpr int32_t kStampFromRight = 4000;
// Nothing starts lower than this above the bottom: the footer lives there.
constexpr int32_t kBottomReserve = 2000;

// The texts of the list, all fetched before the job starts: a missing one
// throws while nothing is open yet.
struct PrintTexts
{
    std::string title, recipeLabel, commentLabel;
    std::string unitHeading, azNumber, unitType, epromNumber, version, revDate;
    std::string globalHeading, zoneHeading, actualValue, setValue, paramPrefix, zonePrefix;
    std::string footer;
};

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The language files are UTF-8: characters, not bytes, are cut.
std::string WithoutLastCharacters(const std::string& text, int count)
{
    std::size_t end = text.size();
    for (int n = 0; n < count && end > 0; ++n) {
        --end;
        while (end > 0 && IsContinuationByte(text[end]))
            --end;
    }
    return text.substr(0, end);
}

// The footer keeps text 24 up to its placeholder for the maker's name and
// appends the name itself; the pattern never reaches a formatter.
PrintTexts FetchTexts(const CTextMemory& texts)
{
    PrintTexts t;
    t.title = texts.GetText(36);
    t.recipeLabel = texts.GetText(39);
    t.commentLabel = texts.GetText(48);
    t.unitHeading = texts.GetText(47);
    t.azNumber = texts.GetText(42);
    t.unitType = texts.GetText(43);
    t.epromNumber = texts.GetText(44);
    t.version = texts.GetText(45);
    t.revDate = texts.GetText(46);
    t.globalHeading = texts.GetText(37);
    t.zoneHeading = texts.GetText(38);
    t.actualValue = texts.GetText(53);
    t.setValue = texts.GetText(52);
    t.paramPrefix = texts.GetText(74);
    t.zonePrefix = texts.GetText(49);
    t.footer = WithoutLastCharacters(texts.GetText(24), 2) + kMakerName;
    return t;
}

std::string TwoDigits(int n)
{
    std::string s = std::to_string(n);
    return s.size() < 2 ? "0" + s : s;
}

// One column of the zone table: its header and how many column distances it
// spans, so that a header wider than one column keeps its values under it.
struct Column
{
    std::string header;
    int span = 1;
};

// A started job: thrown away unless it was ended on purpose.
class JobGuard
{
public:
    explicit JobGuard(IPrintDevice& device) : m_device(device) {}
    JobGuard(const JobGuard&) = delete;
    JobGuard& operator=(const JobGuard&) = delete;
    ~JobGuard()
    {
        if (m_bOpen)
            m_device.AbortDoc();
    }
    void Ended() { m_bOpen = false; }

private:
    IPrintDevice& m_device;
    bool m_bOpen = true;
};

class PageLayout
{
public:
    PageLayout(IPrintDevice& device, const PrintTexts& texts, std::string date, std::string time)
        : m_device(device), m_texts(texts), m_strDate(std::move(date)), m_strTime(std::move(time))
    {
        m_nWidth = std::min(device.GetPrintableWidth(), kMaxWidth);
        m_nHeight = std::min(device.GetPrintableHeight(), kMaxHeight);
    }

    int32_t Width() const { return m_nWidth; }
    // A line whose top has come this far down is the last one on its page.
    bool Full(int32_t y) const { return -static_cast<int64_t>(y) >= m_nHeight - kBottomReserve; }

    void Footer()
    {
        m_device.SelectFont(PrintFont::Narrow);
        m_device.TextOut(m_nWidth - kFooterFromRight, kFooterAboveBottom - m_nHeight, m_texts.footer);
    }

    void Stamp()
    {
        m_device.SelectFont(PrintFont::Text);
        m_device.TextOut(m_nWidth - kStampFromRight, kTop, m_strDate);
        m_nCyDate = m_device.GetTextExtent(m_strDate).cy;
        m_device.TextOut(m_nWidth - kStampFromRight, kTop - m_nCyDate, m_strTime);
    }

    // Ends the page and starts the next with its date, time and footer.
    // Returns the y at which the page's content starts.
    int32_t NextPage()
    {
        m_device.EndPage();
        m_device.StartPage();
        Stamp();
        Footer();
        return ContinuationTop();
    }

    int32_t ContinuationTop() const { return kTop - 5 * m_nCyDate; }

    // Splits text into lines no wider than width in the selected font: at
    // line breaks, then at blanks, and inside a word that is wider on its own.
    std::vector<std::string> Wrap(std::string text, int32_t width)
    {
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (;;) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string::npos) {
                WrapParagraph(text.substr(start), width, lines);
                return lines;
            }
            WrapParagraph(text.substr(start, end - start), width, lines);
            if (text.compare(end, 2, "\r\n") == 0)
                ++end;
            start = end + 1;
        }
    }

private:
    int32_t Measure(const std::string& text) { return m_device.GetTextExtent(text).cx; }

    static std::size_t CharEnd(const std::string& text, std::size_t pos)
    {
        ++pos;
        while (pos < text.size() && IsContinuationByte(text[pos]))
            ++pos;
        return pos;
    }

    static std::size_t CharStartBefore(const std::string& text, std::size_t pos)
    {
        --pos;
        while (pos > 0 && IsContinuationByte(text[pos]))
            --pos;
        return pos;
    }

    void WrapParagraph(const std::string& paragraph, int32_t width, std::vector<std::string>& lines)
    {
        std::string line;
        std::size_t pos = 0;
        while (pos < paragraph.size()) {
            std::size_t wordEnd = paragraph.find(' ', pos);
            if (wordEnd == std::string::npos)
                wordEnd = paragraph.size();
            const std::string word = paragraph.substr(pos, wordEnd - pos);
            const std::string candidate = line.empty() ? word : line + " " + word;
            if (Measure(candidate) <= width) {
                line = candidate;
            } else {
                if (!line.empty())
                    lines.push_back(line);
                line = word;
                // A word wider than a line on its own is cut where it must;
                // a single character stays whole, whatever its width.
                while (Measure(line) > width) {
                    const std::size_t minCut = CharEnd(line, 0);
                    if (minCut >= line.size())
                        break;
                    std::size_t cut = line.size();
                    while (cut > minCut && Measure(line.substr(0, cut)) > width)
                        cut = CharStartBefore(line, cut);
                    lines.push_back(line.substr(0, cut));
                    line.erase(0, cut);
                }
            }
            pos = wordEnd + 1;
        }
        lines.push_back(line);
    }

    IPrintDevice& m_device;
    const PrintTexts& m_texts;
    std::string m_strDate;
    std::string m_strTime;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    int32_t m_nCyDate = 0;
};

// Everything the list shows, read from the unit, the recipe and the texts
// before the job starts: what can fail or throw does so while nothing is open.
struct PrintContent
{
    PrintTexts t;
    std::string date, time;
    std::string recipeLine;  // empty without a recipe
    std::string comment;
    std::string unitLines[5];
    std::vector<std::string> globalLines;
    std::vector<Column> columns;
    std::vector<std::string> zoneLabels;
    // Column c of zone z: actual value, set value, then the parameters.
    std::vector<std::vector<int32_t>> values;
    int32_t distance = 0;
};

PrintContent CollectContent(CUnit& unit, const CTextMemory& texts, const std::string& recipePath, std::time_t now)
{
    PrintContent c;
    c.t = FetchTexts(texts);
    const PrintTexts& t = c.t;
    c.date = RecipeStamp(now, texts.GetDatePattern());
    c.time = RecipeStamp(now, texts.GetTimePattern());

    if (!recipePath.empty()) {
        CIniFile recipe(recipePath, true);
        recipe.ReadString("HEADER", "FileName");
        const std::string fileName = recipe.GetValue();
        recipe.ReadString("HEADER", "Date");
        c.recipeLine = t.recipeLabel + ": " + fileName + " (" + recipe.GetValue() + ")";
    }
    c.comment = unit.GetComment();

    c.unitLines[0] = t.azNumber + "\t" + std::to_string(unit.QueryAZNumber());
    c.unitLines[1] = t.unitType + "\t" + unit.QueryType();
    c.unitLines[2] = t.epromNumber + "\t" + std::to_string(unit.QueryEpromNumber());
    c.unitLines[3] = t.version + "\t" + std::to_string(unit.QueryVersion());
    c.unitLines[4] = t.revDate + "\t" + unit.QueryRevDate();

    for (int i = 1; i <= unit.GetGlobalParamCount(); ++i) {
        const int32_t value = unit.ReadGlobalParam(static_cast<int16_t>(i));
        if (value == -1)
            continue;
        std::string description;
        unit.GetParamDescription(i, description);
        c.globalLines.push_back(description + "\t" + std::to_string(value));
    }

    const int zones = std::clamp<int32_t>(unit.QueryZoneCount(), 0, kMaxZones);
    const int params = std::clamp<int32_t>(unit.QueryZoneParamCount(), 0, kMaxZoneParams);
    c.distance = unit.GetValueWidth() == 4 ? 700 : 800;

    c.columns.push_back({t.actualValue});
    c.columns.push_back({t.setValue});
    for (int j = 1; j <= params; ++j)
        c.columns.push_back({t.paramPrefix + TwoDigits(j)});
    for (int z = 1; z <= zones; ++z) {
        const auto zone = static_cast<int16_t>(z);
        c.zoneLabels.push_back(t.zonePrefix + " " + TwoDigits(z));
        std::vector<int32_t> row;
        row.reserve(c.columns.size());
        row.push_back(unit.ReadActualValue(zone));
        row.push_back(unit.ReadSetValue(zone));
        for (int j = 1; j <= params; ++j)
            row.push_back(unit.ReadZoneParam(zone, static_cast<int16_t>(j)));
        c.values.push_back(std::move(row));
    }
    return c;
}

// Title, recipe line and comment. Returns the y at which the blocks start.
int32_t PrintHead(IPrintDevice& device, PageLayout& page, const PrintContent& c)
{
    const PrintTexts& t = c.t;
    const int32_t width = page.Width();
    device.SelectFont(PrintFont::Title);
    device.TextOut(kLeft, kTop, t.title);
    const int32_t cyTitle = device.GetTextExtent(t.title).cy;
    page.Footer();
    page.Stamp();

    int32_t y = kTop - 2 * cyTitle;
    if (!c.recipeLine.empty()) {
        device.SelectFont(PrintFont::Heading);
        const std::vector<std::string> lines = page.Wrap(c.recipeLine, width - 2 * kLeft);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            device.TextOut(kLeft, y, lines[i]);
            if (i + 1 < lines.size())
                y -= device.GetTextExtent(lines[i]).cy;
        }
        y -= cyTitle;
    }
    if (!c.comment.empty()) {
        const std::string label = t.commentLabel + ": ";
        device.SelectFont(PrintFont::Heading);
        device.TextOut(kLeft, y, label);
        const int32_t cx = device.GetTextExtent(label).cx;
        device.SelectFont(PrintFont::Text);
        const std::vector<std::string> lines = page.Wrap(c.comment, width - kLeft - (kLeft + cx));
        for (std::size_t i = 0; i < lines.size(); ++i) {
            device.TextOut(kLeft + cx, y - kCommentDrop, lines[i]);
            if (i + 1 < lines.size())
                y -= device.GetTextExtent(lines[i]).cy;
        }
        y -= cyTitle;
    }
    return y - cyTitle;
}

// The unit's identification, left. Returns the y below it.
int32_t PrintUnitBlock(IPrintDevice& device, const PrintContent& c, int32_t yBlocks)
{
    device.SelectFont(PrintFont::Heading);
    device.TextOut(kLeft, yBlocks, c.t.unitHeading);
    int32_t y = yBlocks - 2 * device.GetTextExtent(c.t.unitHeading).cy;
    device.SelectFont(PrintFont::Text);
    for (int i = 0; i < 5; ++i) {
        const PrintExtent line = device.TabbedTextOut(kLeft, y, c.unitLines[i], kBlockTab);
        y -= i < 4 ? line.cy + kLineGap : 2 * line.cy;
    }
    return y;
}

// The global parameters, right; they may run on over further pages, which
// moved tells. Returns the y below them.
int32_t PrintGlobalBlock(IPrintDevice& device, PageLayout& page, const PrintContent& c, int32_t yBlocks, bool& moved)
{
    device.SelectFont(PrintFont::Heading);
    device.TextOut(kGlobalX, yBlocks, c.t.globalHeading);
    int32_t cy = device.GetTextExtent(c.t.globalHeading).cy;
    int32_t y = yBlocks - 2 * cy;
    moved = false;
    for (const std::string& line : c.globalLines) {
        if (page.Full(y)) {
            y = page.NextPage();
            moved = true;
        }
        device.SelectFont(PrintFont::Text);
        cy = device.TabbedTextOut(kGlobalX, y, line, kBlockTab).cy;
        y -= cy + kLineGap;
    }
    return y - 2 * cy;
}

// The zone table from y down, in bands of columns as wide as the page.
void PrintZoneTable(IPrintDevice& device, PageLayout& page, const PrintContent& c, int32_t y)
{
    const PrintTexts& t = c.t;
    const int32_t width = page.Width();
    const int32_t distance = c.distance;
    std::vector<Column> columns = c.columns;
    const int zones = static_cast<int>(c.zoneLabels.size());

    // The heading with the first row must fit above the footer, or it moves
    // on to the next page.
    device.SelectFont(PrintFont::Heading);
    const int32_t cyHeading = device.GetTextExtent(t.zoneHeading).cy;
    device.SelectFont(PrintFont::Text);
    const int32_t cyHeaderRow = device.GetTextExtent(t.actualValue).cy;
    if (page.Full(y - 2 * cyHeading - 2 * cyHeaderRow))
        y = page.NextPage();
    device.SelectFont(PrintFont::Heading);
    device.TextOut(kLeft, y, t.zoneHeading);
    const int32_t yHeader = y - 2 * cyHeading;

    // One x for the values and their headers: at the table's usual start, or
    // after the widest zone label.
    device.SelectFont(PrintFont::Text);
    int32_t xValues = kTableX;
    for (const std::string& label : c.zoneLabels)
        xValues = std::max(xValues, kLeft + NextTabStop(device.GetTextExtent(label).cx, kLabelTab));
    for (Column& column : columns)
        column.span = NextTabStop(device.GetTextExtent(column.header).cx, distance) / distance;

    // Each band after the first starts a page of its own.
    int32_t yRow = yHeader;
    for (std::size_t first = 0; first < columns.size();) {
        std::size_t last = first;
        int32_t right = xValues + columns[first].span * distance;
        while (last + 1 < columns.size() && right + columns[last + 1].span * distance <= width) {
            ++last;
            right += columns[last].span * distance;
        }
        std::string headerRow;
        for (std::size_t col = first; col <= last; ++col)
            headerRow += columns[col].header + "\t";
        auto printHeaderRow = [&](int32_t yAt) {
            device.SelectFont(PrintFont::Text);
            const PrintExtent row = device.TabbedTextOut(xValues, yAt, headerRow, distance);
            return yAt - 2 * row.cy;
        };
        if (first > 0)
            yRow = page.NextPage();
        yRow = printHeaderRow(yRow);

        for (int z = 1; z <= zones; ++z) {
            const auto zi = static_cast<std::size_t>(z - 1);
            device.SelectFont(PrintFont::Text);
            const PrintExtent label = device.TabbedTextOut(kLeft, yRow, c.zoneLabels[zi] + "\t", kLabelTab);
            std::string values;
            for (std::size_t col = first; col <= last; ++col)
                values += std::to_string(c.values[zi][col]) + std::string(static_cast<std::size_t>(columns[col].span), '\t');
            device.SelectFont(PrintFont::Narrow);
            device.TabbedTextOut(xValues, yRow, values, distance);
            yRow -= label.cy;
            if (page.Full(yRow) && z < zones)
                yRow = printHeaderRow(page.NextPage());
        }
        first = last + 1;
    }
}

}  // namespace

int16_t PrintParameters(IPrintDevice& device, CUnit& unit, const CTextMemory& texts, const std::string& recipePath,
                        std::time_t now)
{
    const PrintContent content = CollectContent(unit, texts, recipePath, now);

    if (!device.StartDoc(kDocumentName))
        return -1;
    JobGuard job(device);
    device.StartPage();
    PageLayout page(device, content.t, content.date, content.time);

    const int32_t yBlocks = PrintHead(device, page, content);
    const int32_t yUnitEnd = PrintUnitBlock(device, content, yBlocks);
    bool bGlobalsMoved = false;
    const int32_t yGlobalEnd = PrintGlobalBlock(device, page, content, yBlocks, bGlobalsMoved);
    // The zone table starts below the longer block.
    PrintZoneTable(device, page, content, bGlobalsMoved ? yGlobalEnd : std::min(yUnitEnd, yGlobalEnd));

    device.EndPage();
    const int result = device.EndDoc();
    // A failed end leaves the job to the guard, which throws it away.
    if (result < 0)
        return static_cast<int16_t>(std::max(result, static_cast<int>(INT16_MIN)));
    job.Ended();
    return 0;
}
