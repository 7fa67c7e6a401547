// The bus file: the demo file as the program's demo uses it, and the lines
// the parser must refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "unitsim/SimBus.h"
#include "unitsim/SimConfig.h"

namespace {

namespace fs = std::filesystem;

// From the source tree itself: __FILE__ may be relative to a build directory.
const fs::path kDemo = fs::path(VORLENT_SOURCE_DIR) / "tools/unitsim/examples/demo.bus";

// A bus file in a directory of its own, removed at the end of the test.
class BusFile
{
public:
    explicit BusFile(const std::string& content)
    {
        char dir[] = "/tmp/unitsim-config-XXXXXX";
        m_dir = mkdtemp(dir);
        std::ofstream(Path()) << content;
    }
    ~BusFile() { fs::remove_all(m_dir); }
    std::string Path() const { return (m_dir / "test.bus").string(); }

private:
    fs::path m_dir;
};

std::string Telegram(int address, const std::string& text)
{
    char head[8];
    std::snprintf(head, sizeof head, "G%02d", address);
    std::string s = head + text;
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", unitsim::SimBus::Checksum(s));
    return s + sum + "\x03";
}

TEST(SimConfig, DemoFileHoldsTheTwoDemoUnits)
{
    unitsim::SimBus bus;
    std::string error;
    ASSERT_TRUE(unitsim::LoadBusFile(kDemo.string(), bus, error)) << error;

    const unitsim::SimUnitConfig* torva = bus.UnitAt(3);
    ASSERT_NE(torva, nullptr);
    EXPECT_EQ(torva->type, "TORVA 3");
    EXPECT_EQ(torva->azNumber, 7);
    EXPECT_EQ(torva->zones, 12);
    EXPECT_EQ(torva->zoneParamCount, 7);
    EXPECT_EQ(torva->valueWidth, 4);

    const unitsim::SimUnitConfig* big = bus.UnitAt(12);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->type, "MZR 120");
    EXPECT_EQ(big->azNumber, 12);
    EXPECT_EQ(big->zones, 120);
    EXPECT_EQ(big->zoneParamCount, 10);
    EXPECT_EQ(big->valueWidth, 5);
    bool bWide = false;
    for (const auto& row : big->zoneParams)
        for (int32_t v : row) {
            bWide = bWide || v >= 10000;
            EXPECT_LT(v, 100000);
        }
    EXPECT_TRUE(bWide) << "a width-5 unit should show a value of five digits";

    // The commands of the sample definitions file, each with a value inside
    // its limits, and ADDR and BAUD fixed.
    const std::set<std::string> wanted = {"TSOLL", "TMAX", "ALARM", "HYST", "RAMP", "TIME", "UNIT",
                                          "MODE",  "ADDR", "BAUD",  "KP",   "TN",   "TV",   "OUTMAX"};
    for (const unitsim::SimUnitConfig* u : {torva, big}) {
        std::set<std::string> seen;
        for (const unitsim::SimGlobal& g : u->globals) {
            seen.insert(g.command);
            EXPECT_GE(g.value, g.minVal) << g.command;
            EXPECT_LE(g.value, g.maxVal) << g.command;
            if (g.command == "ADDR" || g.command == "BAUD") {
                EXPECT_EQ(g.minVal, g.maxVal) << g.command;
            }
        }
        EXPECT_EQ(seen, wanted) << u->type;
    }
}

TEST(SimConfig, ValuesQuotesRowsAndFaults)
{
    BusFile file("; a comment\n"
                 "[unit 4]\r\n"
                 "  Type = \"TORVA 3 \"  \n"
                 "zones=3\nparams=2\nwidth=5\ncountquery=K01MIN\n"
                 "set=7\nactual=1,2,3\np02=500+-2\n"
                 "heat=0.5\nheatnoise=2\ncold=1, 3\n"
                 "global=TMAX 10\n"
                 "[fault]\nkind=nak\npattern=?AZ#=\ntimes=1\n"
                 "[fault]\nkind=noise\nnoise=01 2f\naddress=4\n"
                 "[fault]\nkind=delay\ndelay=40\npattern=?KAN=\nskip=1\n");
    unitsim::SimBus bus;
    std::string error;
    ASSERT_TRUE(unitsim::LoadBusFile(file.Path(), bus, error)) << error;
    const unitsim::SimUnitConfig* u = bus.UnitAt(4);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->type, "TORVA 3 ");
    EXPECT_EQ(u->countQuery, unitsim::CountQuery::K01Min);
    EXPECT_EQ(u->setValues, (std::vector<int32_t>{7, 7, 7}));
    EXPECT_EQ(u->actualValues, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(u->zoneParams.at(1), (std::vector<int32_t>{500, 498, 496}));
    EXPECT_EQ(u->heatSeconds, 0.5);
    EXPECT_EQ(u->heatNoise, 2);
    EXPECT_EQ(u->coldZones, (std::vector<int>{1, 3}));
    ASSERT_EQ(u->globals.size(), 1u);
    EXPECT_EQ(u->globals[0].minVal, -32768);

    // The faults came through: the NAK once, the noise every time, the delay
    // after one request passed over.
    EXPECT_EQ(bus.Handle(Telegram(4, "?AZ#=")).bytes, "\x01\x2f\x15\x03");
    EXPECT_EQ(bus.Handle(Telegram(4, "?AZ#=")).bytes.substr(0, 6), "\x01\x2f" "G04:");
    EXPECT_EQ(bus.Handle(Telegram(4, "?KAN=")).delayMs, 0);
    EXPECT_EQ(bus.Handle(Telegram(4, "?KAN=")).delayMs, 40);
}

TEST(SimConfig, ABadLineFailsTheFileAndNamesTheLine)
{
    const struct
    {
        const char* content;
        const char* where;
    } cases[] = {
        {"[unit 3]\nzones=12\nfrobnicate=1\n", ":3:"},
        {"az=7\n", ":1:"},
        {"[unit 3]\nzones=129\n", ":2:"},
        {"[unit 3]\nwidth=6\n", ":2:"},
        {"[unit 3]\nzones=twelve\n", ":2:"},
        {"[unit 31]\n", ":1:"},
        {"[unit 3]\n[unit 3]\n", ":2:"},
        {"[unit 3]\nzones=3\nset=1,2\n", ":3:"},
        {"[unit 3]\nparams=2\np03=5\n", ":3:"},
        {"[unit 3]\nglobal=TMAX 10 600 0\n", ":2:"},
        {"[unit 3]\ncountquery=maybe\n", ":2:"},
        {"[unit 3]\nheat=-1\n", ":2:"},
        {"[unit 3]\nheatnoise=1001\n", ":2:"},
        {"[unit 3]\ncold=0\n", ":2:"},
        {"[unit 3]\ncold=5,x\n", ":2:"},
        {"[unit 3]\nzones=3\nzones=4\n", ":3:"},
        {"[unit 3]\njust words\n", ":2:"},
        {"[unit 3]\n[fault]\npattern=?AZ#=\n", ":2:"},
        {"[unit 3]\n[fault]\nkind=gremlin\n", ":3:"},
        {"[unit 3]\n[fault]\nkind=noise\nnoise=5G\n", ":4:"},
        {"[unit 3\n", ":1:"},
        {"# nothing but a comment\n", ":1:"},
    };
    for (const auto& c : cases) {
        BusFile file(c.content);
        unitsim::SimBus bus;
        std::string error;
        EXPECT_FALSE(unitsim::LoadBusFile(file.Path(), bus, error)) << c.content;
        EXPECT_NE(error.find(std::string("test.bus") + c.where), std::string::npos) << c.content << " -> " << error;
        EXPECT_EQ(bus.UnitAt(3), nullptr) << "a refused file must leave the bus empty: " << c.content;
    }

    unitsim::SimBus bus;
    std::string error;
    EXPECT_FALSE(unitsim::LoadBusFile("/nonexistent/dir/x.bus", bus, error));
    EXPECT_NE(error.find("/nonexistent/dir/x.bus"), std::string::npos);
}

}  // namespace
