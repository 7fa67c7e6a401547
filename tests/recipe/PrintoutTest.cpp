// The parameter list's page layout, drawn on a device that records every
// text with fixed metrics: 200 per character (narrow font 150) and line
// heights 500 title, 400 heading, 350 text, 330 narrow.
#include "recipe/Printout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "config/TextMemory.h"
#include "recipe/Recipe.h"
#include "TestDir.h"
#include "unit/Unit.h"

namespace {

constexpr std::time_t k2130Utc = 1711920600;  // 31.03.2024 21:30 UTC: stamped 23:30

struct Drawn
{
    int page = 0;
    PrintFont font = PrintFont::Text;
    int32_t x = 0;
    int32_t y = 0;
    std::string text;
    int32_t tab = 0;  // 0: plain text
    PrintExtent extent;
};

class FakeDevice : public IPrintDevice
{
public:
    int32_t width = 28700;
    int32_t height = 20000;
    bool bStartOk = true;
    int endResult = 0;
    std::vector<std::string> events;
    std::vector<Drawn> drawn;
    int page = 0;

    static int32_t CharWidth(PrintFont f) { return f == PrintFont::Narrow ? 150 : 200; }
    static int32_t LineHeight(PrintFont f)
    {
        switch (f) {
        case PrintFont::Title: return 500;
        case PrintFont::Heading: return 400;
        case PrintFont::Text: return 350;
        case PrintFont::Narrow: return 330;
        }
        return 0;
    }

    bool StartDoc(const std::string& name) override
    {
        events.push_back("StartDoc " + name);
        return bStartOk;
    }
    int EndDoc() override
    {
        events.push_back("EndDoc");
        return endResult;
    }
    void AbortDoc() override { events.push_back("AbortDoc"); }
    void StartPage() override
    {
        ++page;
        events.push_back("StartPage");
    }
    void EndPage() override { events.push_back("EndPage"); }
    void SelectFont(PrintFont f) override { m_font = f; }
    void TextOut(int32_t x, int32_t y, const std::string& text) override
    {
        drawn.push_back({page, m_font, x, y, text, 0, GetTextExtent(text)});
    }
    PrintExtent TabbedTextOut(int32_t x, int32_t y, const std::string& text, int32_t tab) override
    {
        int32_t pos = 0;
        for (char c : text)
            pos = c == '\t' ? (pos / tab + 1) * tab : pos + CharWidth(m_font);
        const PrintExtent extent{pos, LineHeight(m_font)};
        drawn.push_back({page, m_font, x, y, text, tab, extent});
        return extent;
    }
    PrintExtent GetTextExtent(const std::string& text) override
    {
        return {CharWidth(m_font) * static_cast<int32_t>(text.size()), LineHeight(m_font)};
    }
    int32_t GetPrintableWidth() override { return width; }
    int32_t GetPrintableHeight() override { return height; }

    // The first text drawn exactly so; fails the test when there is none.
    Drawn Find(const std::string& text) const
    {
        for (const Drawn& d : drawn)
            if (d.text == text)
                return d;
        ADD_FAILURE() << "not drawn: " << text;
        return {};
    }
    int Count(const std::string& text) const
    {
        int n = 0;
        for (const Drawn& d : drawn)
            n += d.text == text;
        return n;
    }

private:
    PrintFont m_font = PrintFont::Text;
};

// The cells of a tabbed line, by x.
std::map<int32_t, std::string> Cells(const Drawn& d)
{
    std::map<int32_t, std::string> cells;
    int32_t start = 0;
    int32_t pos = 0;
    std::string cell;
    for (char c : d.text + "\t") {
        if (c != '\t') {
            cell += c;
            pos += FakeDevice::CharWidth(d.font);
            continue;
        }
        if (!cell.empty())
            cells[d.x + start] = cell;
        cell.clear();
        pos = (pos / d.tab + 1) * d.tab;
        start = pos;
    }
    return cells;
}

void ExpectAllOnPage(const FakeDevice& device)
{
    for (const Drawn& d : device.drawn) {
        EXPECT_GE(d.x, 0) << d.text;
        EXPECT_LE(d.x + d.extent.cx, std::min(device.width, 28700)) << d.text;
        EXPECT_LE(d.y, 0) << d.text;
        EXPECT_GE(d.y - d.extent.cy, -std::min(device.height, 20000)) << d.text;
    }
}

class PrintoutTest : public ::testing::Test
{
protected:
    void SetUp() override { LoadTexts({}); }

    // English texts of the list, with some replaced; lastIndex cuts the file.
    void LoadTexts(std::map<int, std::string> replaced, int lastIndex = 76, const std::string& language = "English")
    {
        std::map<int, std::string> texts = {
            {24, "Copyright (c) %s"}, {36, "Parameter list"}, {37, "Global parameters"}, {38, "Zone parameters"},
            {39, "Recipe file"}, {42, "AZ number"}, {43, "Unit type"}, {44, "EPROM number"},
            {45, "Firmware version"}, {46, "Revision date"}, {47, "Unit data"}, {48, "Comment"},
            {49, "Zone"}, {52, "Set"}, {53, "Act"}, {74, "P"}};
        for (auto& [n, text] : replaced)
            texts[n] = text;
        std::string file = "[GENERAL]\r\nLanguage=" + language + "\r\nFormatDate=%d.%m.%Y\r\nFormatTime=%H:%M\r\n" +
                           "LastIndex=" + std::to_string(lastIndex) + "\r\n[TEXT]\r\n";
        for (auto& [n, text] : texts) {
            char key[8];
            std::snprintf(key, sizeof key, "%03d", n);
            file += key + std::string("=") + text + "\r\n";
        }
        dir.Write("test.lng", file);
        ASSERT_TRUE(TheTextMemory().Load("test.lng"));
    }

    void MakeUnit(int zones, int params, int globals = 0)
    {
        std::vector<GlobalParamDef> defs(static_cast<std::size_t>(globals));
        for (int i = 0; i < globals; ++i) {
            defs[static_cast<std::size_t>(i)].pDescriptionE = "G" + std::to_string(i + 1);
            defs[static_cast<std::size_t>(i)].pDescriptionD = "D" + std::to_string(i + 1);
            defs[static_cast<std::size_t>(i)].nMaxVal = 30000;
        }
        unit.SetGlobalParams(defs);
        for (int i = 1; i <= globals; ++i)
            unit.WriteGlobalParam(static_cast<int16_t>(i), 100 + i);
        unit.SetAZNumber(12);
        unit.SetType("TX-4");
        unit.SetEpromNumber(4711);
        unit.SetVersion(217);
        unit.SetRevDate("04.05.23");
        unit.SetZoneCount(zones);
        unit.SetZoneParamCount(params);
        for (int z = 1; z <= zones; ++z) {
            unit.SetActualValue(static_cast<int16_t>(z), z * 100);
            unit.WriteSetValue(static_cast<int16_t>(z), z * 100 + 1);
            for (int j = 1; j <= params; ++j)
                unit.WriteZoneParam(static_cast<int16_t>(z), static_cast<int16_t>(j), z * 100 + 1 + j);
        }
    }

    int16_t Print(const std::string& path = "") { return PrintParameters(device, unit, TheTextMemory(), path, k2130Utc); }

    TestDir dir;
    CUnit unit;
    FakeDevice device;
};

TEST(NextTabStop, MovesToTheFollowingMultiple)
{
    EXPECT_EQ(NextTabStop(0, 800), 800);
    EXPECT_EQ(NextTabStop(799, 800), 800);
    EXPECT_EQ(NextTabStop(800, 800), 1600);
    EXPECT_EQ(NextTabStop(6001, 6000), 12000);
}

TEST_F(PrintoutTest, PageFrameStandsAtTheRightAndBottomEdges)
{
    struct Case { int32_t width, height, w, h; } cases[] = {
        {30000, 21000, 28700, 20000},  // larger pages are used as A4 landscape
        {27000, 19000, 27000, 19000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        device = FakeDevice();
        device.width = c.width;
        device.height = c.height;
        MakeUnit(1, 0);
        ASSERT_EQ(Print(), 0);
        const Drawn title = device.Find("Parameter list");
        EXPECT_EQ(title.font, PrintFont::Title);
        EXPECT_EQ(title.x, 1000);
        EXPECT_EQ(title.y, -2000);
        const Drawn footer = device.Find("Copyright (c) Vorlent Systems");
        EXPECT_EQ(footer.font, PrintFont::Narrow);
        EXPECT_EQ(footer.x, c.w - 6500);
        EXPECT_EQ(footer.y, 350 - c.h);
        const Drawn date = device.Find("31.03.2024");
        EXPECT_EQ(date.font, PrintFont::Text);
        EXPECT_EQ(date.x, c.w - 4000);
        EXPECT_EQ(date.y, -2000);
        const Drawn time = device.Find("23:30");
        EXPECT_EQ(time.x, c.w - 4000);
        EXPECT_EQ(time.y, -2000 - 350);
        EXPECT_EQ(device.events, (std::vector<std::string>{"StartDoc Vorlent Recipe", "StartPage", "EndPage", "EndDoc"}));
    }
}

TEST_F(PrintoutTest, FooterKeepsTextUpToItsPlaceholder)
{
    struct Case { std::string text24, footer; } cases[] = {
        {"(c) %s", "(c) Vorlent Systems"},
        {"%n%s%s", "%n%sVorlent Systems"},  // drawn as it stands, never formatted
        {"\xC3\xA4x", "Vorlent Systems"},   // two characters, three bytes
        {"", "Vorlent Systems"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text24);
        device = FakeDevice();
        LoadTexts({{24, c.text24}});
        MakeUnit(1, 0);
        ASSERT_EQ(Print(), 0);
        EXPECT_EQ(device.Find(c.footer).font, PrintFont::Narrow);
    }
}

TEST_F(PrintoutTest, RecipeLineAndCommentComeBeforeTheBlocks)
{
    dir.Write("line.12", "[HEADER]\r\nID=VORLENT_RECIPE\r\nFileName=line.12\r\nDate=01.02.2024\r\n");
    // yBlocks: -2000 - 2 cyTitle, one cyTitle per recipe and comment line, and
    // one more.
    struct Case { std::string path, comment; int32_t yBlocks; } cases[] = {
        {"", "", -2000 - 3 * 500},
        {dir.File("line.12"), "", -2000 - 4 * 500},
        {"", "hot", -2000 - 4 * 500},
        {dir.File("line.12"), "hot", -2000 - 5 * 500},
        {dir.File("gone.12"), "", -2000 - 4 * 500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + "|" + c.comment);
        device = FakeDevice();
        MakeUnit(1, 0);
        unit.SetComment(c.comment);
        ASSERT_EQ(Print(c.path), 0);
        EXPECT_EQ(device.Find("Unit data").y, c.yBlocks);
        EXPECT_EQ(device.Find("Global parameters").y, c.yBlocks);
        EXPECT_EQ(device.Find("Global parameters").x, 12000);
        int32_t y = -3000;
        if (c.path == dir.File("line.12")) {
            const Drawn line = device.Find("Recipe file: line.12 (01.02.2024)");
            EXPECT_EQ(line.font, PrintFont::Heading);
            EXPECT_EQ(line.y, y);
            y -= 500;
        } else if (!c.path.empty()) {
            EXPECT_EQ(device.Find("Recipe file:  ()").y, y);  // the file is gone
            y -= 500;
        }
        if (!c.comment.empty()) {
            EXPECT_EQ(device.Find("Comment: ").y, y);
            const Drawn comment = device.Find("hot");
            EXPECT_EQ(comment.font, PrintFont::Text);
            EXPECT_EQ(comment.x, 1000 + 9 * 200);
            EXPECT_EQ(comment.y, y - 50);
        }
    }
}

TEST_F(PrintoutTest, LongCommentWrapsWithinThePage)
{
    MakeUnit(1, 0);
    // 30 words of 10 characters: 300 + 29 blanks, 65800 wide in one line; a
    // line may be 28700 - 1000 - 2800 = 24900 wide, that is 124 characters.
    std::string comment;
    for (int i = 0; i < 30; ++i)
        comment += (i ? " " : "") + std::string("word") + std::to_string(100000 + i);
    unit.SetComment(comment + "\nsecond" + std::string(200, 'x'));
    ASSERT_EQ(Print(), 0);
    std::vector<Drawn> lines;
    for (const Drawn& d : device.drawn)
        if (d.font == PrintFont::Text && d.x == 1000 + 9 * 200)
            lines.push_back(d);
    ASSERT_EQ(lines.size(), 5u);  // 11 + 11 + 8 words, then the long word cut in two
    std::string joined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].y, -3000 - 50 - 350 * static_cast<int32_t>(i));
        joined += (i == 0 || i == 4 ? "" : i == 3 ? "\n" : " ") + lines[i].text;
    }
    EXPECT_EQ(joined, unit.GetComment());
    EXPECT_EQ(device.Find("Unit data").y, -3000 - 4 * 350 - 2 * 500);
    ExpectAllOnPage(device);
}

TEST_F(PrintoutTest, UnitAndGlobalBlocks)
{
    struct Case { int globals; int present; std::string language, first; int32_t yZoneHeading; } cases[] = {
        // Unit block: heading, 2 x 400, four lines of 350 + 50, a fifth and
        // 2 x 350 below it: it ends 3100 below yBlocks (-3500).
        {3, 0, "English", "", -6600},
        {3, 3, "English", "G1\t101", -6600},
        // Eight lines: 800 + 8 x 400 + 700 below yBlocks, longer than the unit block.
        {8, 8, "English", "G1\t101", -3500 - 4700},
        {2, 2, "Deutsch", "D1\t101", -6600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.globals * 10 + c.present);
        device = FakeDevice();
        LoadTexts({}, 76, c.language);
        MakeUnit(1, 0, c.globals);
        for (int i = c.present + 1; i <= c.globals; ++i)
            unit.WriteGlobalParam(static_cast<int16_t>(i), -1);
        ASSERT_EQ(Print(), 0);
        const std::pair<std::string, int32_t> unitLines[] = {
            {"AZ number\t12", -4300}, {"Unit type\tTX-4", -4700}, {"EPROM number\t4711", -5100},
            {"Firmware version\t217", -5500}, {"Revision date\t04.05.23", -5900}};
        for (const auto& [text, y] : unitLines) {
            const Drawn line = device.Find(text);
            EXPECT_EQ(line.x, 1000);
            EXPECT_EQ(line.y, y);
            EXPECT_EQ(line.tab, 6000);
        }
        int globalLines = 0;
        for (const Drawn& d : device.drawn)
            if (d.x == 12000 && d.font == PrintFont::Text) {
                EXPECT_EQ(d.y, -4300 - 400 * globalLines);
                EXPECT_EQ(d.tab, 6000);
                ++globalLines;
            }
        EXPECT_EQ(globalLines, c.present);
        if (c.present) {
            EXPECT_EQ(device.Find(c.first).x, 12000);
        }
        const Drawn heading = device.Find("Zone parameters");
        EXPECT_EQ(heading.x, 1000);
        EXPECT_EQ(heading.y, c.yZoneHeading);
    }
}

TEST_F(PrintoutTest, ZoneRowsAndTheirColumns)
{
    // Column distance by value width; values and headers at one x, after the
    // widest label; headers wider than a column take the values with them.
    struct Case { int16_t width; std::string act, zone; int32_t distance, x; } cases[] = {
        {4, "Act", "Zone", 700, 2600},
        {5, "Act", "Zone", 800, 2600},
        {4, "Actual value", "Zone", 700, 2600},
        // "Zonenbezeichnung 01" is 3800 wide, its tab ends at 1000 + 4000.
        {4, "Act", "Zonenbezeichnung", 700, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.act + "|" + c.zone + "|" + std::to_string(c.width));
        device = FakeDevice();
        LoadTexts({{53, c.act}, {49, c.zone}});
        MakeUnit(3, 2);
        unit.SetValueWidth(c.width);
        ASSERT_EQ(Print(), 0);
        // Heading at -6600, header row 800 below, the first row 700 below that.
        const Drawn header = device.Find(c.act + "\tSet\tP01\tP02\t");
        EXPECT_EQ(header.x, c.x);
        EXPECT_EQ(header.y, -7400);
        EXPECT_EQ(header.tab, c.distance);
        std::vector<int32_t> columnsX;
        for (const auto& [x, text] : Cells(header))
            columnsX.push_back(x);
        for (int z = 1; z <= 3; ++z) {
            const Drawn label = device.Find(c.zone + " 0" + std::to_string(z) + "\t");
            EXPECT_EQ(label.x, 1000);
            EXPECT_EQ(label.tab, 800);
            EXPECT_EQ(label.y, -8100 - 350 * (z - 1));
            Drawn values;
            for (const Drawn& d : device.drawn)
                if (d.font == PrintFont::Narrow && d.y == label.y)
                    values = d;
            EXPECT_EQ(values.x, c.x);
            EXPECT_EQ(values.tab, c.distance);
            std::vector<int32_t> valuesX;
            std::vector<std::string> texts;
            for (const auto& [x, text] : Cells(values)) {
                valuesX.push_back(x);
                texts.push_back(text);
            }
            EXPECT_EQ(valuesX, columnsX);
            const std::string base = std::to_string(z);
            EXPECT_EQ(texts, (std::vector<std::string>{base + "00", base + "01", base + "02", base + "03"}));
        }
    }
}

TEST_F(PrintoutTest, ZoneTableBreaksAtTheBottomLimit)
{
    // A row whose lower edge reaches H - 2000 is the last on its page. Rows
    // start at -8100 and are 350 high: with H = 19000 row 26 ends at -17200,
    // with H = 17100 row 20 ends exactly at -15100. A next page holds 36 rows
    // from -4450 (H = 19000).
    struct Case { int32_t height; int zones, pages, lastOnFirst; } cases[] = {
        {19000, 26, 1, 26}, {19000, 27, 2, 26}, {19000, 62, 2, 26}, {19000, 63, 3, 26}, {17100, 21, 2, 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.height) + "/" + std::to_string(c.zones));
        device = FakeDevice();
        device.height = c.height;
        MakeUnit(c.zones, 1);
        ASSERT_EQ(Print(), 0);
        EXPECT_EQ(device.page, c.pages);
        EXPECT_EQ(device.Count("Parameter list"), 1);
        EXPECT_EQ(device.Count("23:30"), c.pages);
        EXPECT_EQ(device.Count("Copyright (c) Vorlent Systems"), c.pages);
        EXPECT_EQ(device.Count("Act\tSet\tP01\t"), c.pages);
        EXPECT_EQ(device.Find("Zone " + std::to_string(c.lastOnFirst) + "\t").page, 1);
        if (c.pages == 1)
            continue;
        // The next page: its header row 5 date lines below -2000, the rows
        // 2 x 350 below that.
        for (const Drawn& d : device.drawn)
            if (d.page == 2 && d.text == "Act\tSet\tP01\t") {
                EXPECT_EQ(d.y, -2000 - 5 * 350);
            }
        const Drawn next = device.Find("Zone " + std::to_string(c.lastOnFirst + 1) + "\t");
        EXPECT_EQ(next.page, 2);
        EXPECT_EQ(next.y, -3750 - 700);
        EXPECT_EQ(device.Find("23:30").y, -2350);
        ExpectAllOnPage(device);
    }
}

TEST_F(PrintoutTest, GlobalsAndZoneHeadingContinueOnNextPage)
{
    // Global lines from -4300 in steps of 400; the first whose top reaches
    // 18000 moves on. The zone heading moves when its first row would.
    struct Case { int globals; int firstMoved; int headingPage; int32_t headingY; } cases[] = {
        {28, 0, 1, -5000 - 400 * 28},  // first row at -17700: fits
        {29, 0, 2, -3750},             // first row would start at -18100
        {40, 36, 2, -3750 - 5 * 400 - 700},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.globals);
        device = FakeDevice();
        MakeUnit(2, 2, c.globals);
        ASSERT_EQ(Print(), 0);
        for (int i = 1; i <= c.globals; ++i) {
            const Drawn line = device.Find("G" + std::to_string(i) + "\t" + std::to_string(100 + i));
            const bool bMoved = c.firstMoved && i >= c.firstMoved;
            EXPECT_EQ(line.page, bMoved ? 2 : 1) << i;
            EXPECT_EQ(line.y, bMoved ? -3750 - 400 * (i - c.firstMoved) : -4300 - 400 * (i - 1)) << i;
        }
        const Drawn heading = device.Find("Zone parameters");
        EXPECT_EQ(heading.page, c.headingPage);
        EXPECT_EQ(heading.y, c.headingY);
        EXPECT_EQ(device.Find("Zone 01\t").page, c.headingPage);
        EXPECT_GE(device.page, c.headingPage);
        EXPECT_EQ(device.Count("Copyright (c) Vorlent Systems"), device.page);
        EXPECT_EQ(device.Count("31.03.2024"), device.page);
        ExpectAllOnPage(device);
    }
}

TEST_F(PrintoutTest, WideTableContinuesItsColumnsOnFurtherPages)
{
    // 66 columns of 700 from 2600: 37 fit in 28700, the rest go on a page of
    // their own after the rows of the first band (zones 1-26, then 27-30).
    MakeUnit(30, 64);
    device.height = 19000;
    ASSERT_EQ(Print(), 0);
    EXPECT_EQ(device.page, 3);
    std::map<int, std::map<int32_t, std::string>> columnsOnPage;
    for (const Drawn& d : device.drawn)
        if (d.text.rfind("Act\t", 0) == 0 || d.text.rfind("P36\t", 0) == 0)
            columnsOnPage[d.page] = Cells(d);
    ASSERT_EQ(columnsOnPage.size(), 3u);
    EXPECT_EQ(columnsOnPage[2], columnsOnPage[1]);
    EXPECT_EQ(columnsOnPage[3].begin()->first, 2600);
    EXPECT_EQ(columnsOnPage[3].begin()->second, "P36");

    // Every cell once, under its own column header, beside its zone label.
    std::set<std::string> seen;
    for (const Drawn& d : device.drawn) {
        if (d.font != PrintFont::Narrow || d.tab == 0)
            continue;
        std::string zone;
        for (const Drawn& label : device.drawn)
            if (label.page == d.page && label.y == d.y && label.x == 1000)
                zone = label.text.substr(5, 2);
        ASSERT_FALSE(zone.empty());
        for (const auto& [x, text] : Cells(d)) {
            const std::string header = columnsOnPage[d.page].at(x);
            EXPECT_TRUE(seen.insert(zone + "/" + header).second) << zone << header;
            const int z = std::stoi(zone);
            const int c = header == "Act" ? 0 : header == "Set" ? 1 : 1 + std::stoi(header.substr(1));
            EXPECT_EQ(text, std::to_string(z * 100 + c));
        }
    }
    EXPECT_EQ(seen.size(), 30u * 66u);
    ExpectAllOnPage(device);
}

TEST_F(PrintoutTest, FailuresOfTheJob)
{
    MakeUnit(2, 2);
    device.bStartOk = false;
    EXPECT_EQ(Print(), -1);
    EXPECT_EQ(device.events, std::vector<std::string>{"StartDoc Vorlent Recipe"});
    EXPECT_TRUE(device.drawn.empty());

    for (int result : {-5, -70000}) {
        device = FakeDevice();
        device.endResult = result;
        EXPECT_EQ(Print(), result == -5 ? -5 : INT16_MIN);
        EXPECT_EQ(device.events.back(), "AbortDoc");
    }
}

TEST_F(PrintoutTest, MissingTextThrowsBeforeTheJobStarts)
{
    MakeUnit(2, 2);
    for (int lastIndex : {73, 50, 30}) {
        device = FakeDevice();
        LoadTexts({}, lastIndex);
        EXPECT_THROW(Print(), std::invalid_argument) << lastIndex;
        EXPECT_TRUE(device.events.empty()) << lastIndex;
    }
}

}  // namespace
