// The simulated units as the program sees them, one telegram at a time.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "unitsim/SimBus.h"

using unitsim::FaultKind;
using unitsim::SimBus;
using unitsim::SimFault;
using unitsim::SimUnitConfig;

namespace {

const std::string kAck = "\x06\x03";
const std::string kNak = "\x15\x03";

// Sums the bytes here rather than through SimBus::Checksum, so that a wrong
// checksum in the simulator cannot agree with itself.
std::string WithSum(const std::string& s)
{
    unsigned sum = 0;
    for (unsigned char c : s)
        sum += c;
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", sum & 0xFF);
    return s + digits + "\x03";
}

std::string Request(int address, const std::string& text, bool bHex = false)
{
    char head[8];
    std::snprintf(head, sizeof head, bHex ? "g%02X" : "G%02d", address);
    return WithSum(head + text);
}

SimUnitConfig Unit(int address, int zones, int params, int width)
{
    SimUnitConfig u;
    u.address = address;
    u.azNumber = 7;
    u.type = "TORVA 3 ";
    u.eprom = 4711;
    u.version = 203;
    u.revDate = "12.03.21";
    u.zones = zones;
    u.zoneParamCount = params;
    u.valueWidth = width;
    u.globals = {{"TMAX", 450, 0, 600}, {"ADDR", 3, 3, 3}};
    return u;
}

// Unit 3: 12 zones, 7 parameters, width 4. Unit 12: 120 zones, 10
// parameters, width 5.
struct SimBusTest : ::testing::Test
{
    SimBusTest()
    {
        SimUnitConfig small = Unit(3, 12, 7, 4);
        small.zoneParams.assign(7, std::vector<int32_t>(12, 0));
        small.zoneParams[6][4] = -12;  // P07 of zone 5
        for (int z = 0; z < 12; ++z)
            small.zoneParams[2][static_cast<std::size_t>(z)] = 20 + z;
        bus.AddUnit(small);
        SimUnitConfig big = Unit(12, 120, 10, 5);
        big.type = "MZR 120";
        big.countQuery = unitsim::CountQuery::PalMin;
        big.zoneParams.assign(10, std::vector<int32_t>(120, 0));
        big.zoneParams[9][109] = 14550;  // P10 of zone 110
        big.actualValues.assign(120, 0);
        big.actualValues[119] = 12345;
        bus.AddUnit(big);
    }
    std::string Ask(const std::string& telegram) { return bus.Handle(telegram).bytes; }

    SimBus bus;
};

TEST_F(SimBusTest, AnswersCarryTheRequestsFrameAndAnUpperCaseChecksum)
{
    const struct
    {
        std::string request, answer;
    } cases[] = {
        {Request(3, "?AZ#="), WithSum("G03:0007")},
        {Request(3, "?TYP="), WithSum("G03:TORVA 3 ")},  // trailing blank kept
        {Request(3, "?DAT="), WithSum("G03:12.03.21")},
        {Request(3, "?KAN="), WithSum("G03:0012")},
        {Request(3, "?PAN="), WithSum("G03:0008")},  // P00 counted
        {Request(12, "?SER="), WithSum("G12:04711")},
        {Request(12, "PALMIN="), WithSum("G12:" + std::string(55, '0'))},  // 11 minima
        {Request(3, "K05P07="), WithSum("G03:-012")},
        {Request(3, "TMAX="), WithSum("G03:0450")},
        {Request(12, "TMAX="), WithSum("G12:00450")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ask(c.request), c.answer) << c.request;
}

TEST_F(SimBusTest, SilenceForABadFrameAnEmptyAddressOrAnUnknownCountRequest)
{
    std::string corrupt = Request(3, "?AZ#=");
    corrupt[corrupt.size() - 2] ^= 1;
    std::string lowerSum = Request(3, "?AZ#=");  // checksum E4
    lowerSum[lowerSum.size() - 3] = 'e';
    for (const std::string& silent : {corrupt, lowerSum, Request(4, "?AZ#="), Request(3, "PALMIN="),
                                      Request(3, "K01MIN="), Request(12, "?PAN="), std::string("garbage\x03")})
        EXPECT_EQ(Ask(silent), "") << silent;

    // Stray bytes before a good telegram do not cost it.
    EXPECT_EQ(Ask("\x55" + Request(3, "?AZ#=")), WithSum("G03:0007"));

    auto log = bus.Requests();
    ASSERT_EQ(log.size(), 8u);
    EXPECT_FALSE(log[0].bChecksumOk);
    EXPECT_EQ(log[0].address, 3);
    EXPECT_EQ(log[0].text, "?AZ#=");
    EXPECT_TRUE(log[2].bChecksumOk);
    EXPECT_EQ(log[6].address, -1);
    EXPECT_TRUE(log[7].bChecksumOk);
}

TEST_F(SimBusTest, ZoneCommandsOfHundredZonesOrMoreAreHexadecimal)
{
    EXPECT_EQ(Ask(Request(12, "K6EP0A=", true)), WithSum("g0C:038D6"));
    EXPECT_EQ(Ask(Request(12, "K78PII=", true)), WithSum("g0C:03039"));
    // Each unit takes zone commands only in its own numbering.
    EXPECT_EQ(Ask(Request(12, "K10P01=")), kNak);
    EXPECT_EQ(Ask(Request(3, "K05P03=", true)), kNak);
    // Identification stays decimal.
    EXPECT_EQ(Ask(Request(12, "?AZ#=", true)), kNak);

    // A negative value comes as its 32-bit two's complement and goes back as
    // the low digits of it.
    EXPECT_EQ(Ask(Request(12, "K64P0A=FFFFFFF4", true)), kAck);
    EXPECT_EQ(bus.UnitAt(12)->zoneParams[9][99], -12);
    EXPECT_EQ(Ask(Request(12, "K64P0A=", true)), WithSum("g0C:FFFF4"));
    EXPECT_EQ(Ask(Request(12, "K64P00=0ABCD", true)), kAck);
    EXPECT_EQ(bus.UnitAt(12)->setValues[99], 0xABCD);
    EXPECT_EQ(Ask(Request(12, "K79P01=00001", true)), kNak);  // zone 121
}

TEST_F(SimBusTest, RowsHoldEveryZoneInDecimal)
{
    std::string p03 = "G03:";
    for (int z = 0; z < 12; ++z)
        p03 += std::to_string(20 + z).insert(0, 2, '0');
    EXPECT_EQ(Ask(Request(3, "KALP03=")), WithSum(p03));
    EXPECT_EQ(WithSum(p03).size(), 55u);

    const std::string actual = Ask(Request(12, "KALPII="));
    ASSERT_EQ(actual.size(), 4u + 120 * 5 + 3);
    EXPECT_EQ(actual.substr(4 + 119 * 5, 5), "12345");
    EXPECT_EQ(actual, WithSum(actual.substr(0, actual.size() - 3)));

    EXPECT_EQ(Ask(Request(3, "KALP08=")), kNak);  // only P01..P07
    EXPECT_EQ(Ask(Request(12, "KALPII=", true)), kNak);
}

TEST_F(SimBusTest, WritesAreTakenOrRefused)
{
    const struct
    {
        std::string text, answer;
    } cases[] = {
        {"TMAX=0600", kAck},   {"TMAX=0601", kNak},   {"TMAX=-001", kNak},  {"TMAX=0", kAck},
        {"ADDR=0003", kAck},   {"ADDR=0004", kNak},   {"TMAX=12a", kNak},   {"TMIN=0100", kNak},
        {"K13P01=0001", kNak}, {"K00P01=0001", kNak}, {"K05P08=", kNak},    {"K05PII=0100", kNak},
        {"K05P03=0250", kAck}, {"K05P00=-05", kAck},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ask(Request(3, c.text)), c.answer) << c.text;

    const SimUnitConfig& u = *bus.UnitAt(3);
    EXPECT_EQ(u.globals[0].value, 0);  // the last one taken
    EXPECT_EQ(u.zoneParams[2][4], 250);
    EXPECT_EQ(u.setValues[4], -5);
    EXPECT_EQ(Ask(Request(3, "K05P03=")), WithSum("G03:0250"));
}

TEST_F(SimBusTest, FaultsHitTheMatchingRequestsOnceOrEveryTime)
{
    bus.AddFault({FaultKind::BadChecksum, "?SER=", 2});
    bus.AddFault({FaultKind::Nak, "TMAX", -1});
    bus.AddFault({FaultKind::LowerCase, "?AZ#=", 1, 0, 0, "", 3});
    SimFault noise{FaultKind::Noise, "?KAN=", 1};
    noise.noise = "\x01\x02";
    bus.AddFault(noise);
    bus.AddFault({FaultKind::Delay, "?VER=", -1, 250});

    const std::string good = WithSum("G03:4711");
    const std::string first = Ask(Request(3, "?SER="));
    EXPECT_NE(first, good);
    EXPECT_EQ(first.substr(0, 8), "G03:4711");
    EXPECT_NE(Ask(Request(3, "?SER=")), good);
    EXPECT_EQ(Ask(Request(3, "?SER=")), good);
    // Requests to an empty address do not use a fault up.
    EXPECT_EQ(Ask(Request(5, "?SER=")), "");
    EXPECT_EQ(Ask(Request(12, "?SER=")), WithSum("G12:04711"));

    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Ask(Request(3, "TMAX=0500")), kNak);
        EXPECT_EQ(Ask(Request(3, "TMAX=")), kNak);
    }
    EXPECT_EQ(bus.UnitAt(3)->globals[0].value, 450);  // refused writes are not applied

    EXPECT_EQ(Ask(Request(12, "?AZ#=")), WithSum("G12:00007"));  // another address
    EXPECT_EQ(Ask(Request(3, "?AZ#=")), "G03:0007ab\x03");
    EXPECT_EQ(Ask(Request(3, "?AZ#=")), "G03:0007AB\x03");

    EXPECT_EQ(Ask(Request(3, "?KAN=")), "\x01\x02" + WithSum("G03:0012"));
    EXPECT_EQ(Ask(Request(3, "?KAN=")), WithSum("G03:0012"));

    for (int i = 0; i < 2; ++i) {
        SimBus::Reply late = bus.Handle(Request(3, "?VER="));
        EXPECT_EQ(late.delayMs, 250);
        EXPECT_EQ(late.bytes, WithSum("G03:0203"));
    }

    // Passed over once: the write is answered at once, the read-back late.
    SimFault readBack{FaultKind::Delay, "K05P03=", 1, 300};
    readBack.skip = 1;
    bus.AddFault(readBack);
    EXPECT_EQ(bus.Handle(Request(3, "K05P03=0250")).delayMs, 0);
    EXPECT_EQ(bus.Handle(Request(3, "K05P03=")).delayMs, 300);
    EXPECT_EQ(bus.Handle(Request(3, "K05P03=")).delayMs, 0);
    bus.ClearFaults();
    EXPECT_EQ(Ask(Request(3, "TMAX=")), WithSum("G03:0450"));
}

TEST_F(SimBusTest, DisconnectComesAfterTheGivenNumberOfTelegrams)
{
    SimFault unplug;
    unplug.kind = FaultKind::Disconnect;
    unplug.afterRequests = 3;
    bus.AddFault(unplug);
    EXPECT_FALSE(bus.Handle(Request(3, "?AZ#=")).bDisconnect);
    EXPECT_FALSE(bus.Handle(Request(9, "?AZ#=")).bDisconnect);  // silence counts too
    EXPECT_FALSE(bus.Handle("noise\x03").bDisconnect);
    SimBus::Reply gone = bus.Handle(Request(3, "?AZ#="));
    EXPECT_TRUE(gone.bDisconnect);
    EXPECT_EQ(gone.bytes, "");
}

TEST_F(SimBusTest, StandardValuesAfterARestart)
{
    SimUnitConfig other = Unit(5, 4, 1, 4);
    other.type = "MZR 4";
    other.setValues = {10, 20, 30, 40};
    other.standardSetValues = {1, 2};  // the rest as at start
    other.restartSeconds = 3600;       // still silent when the test ends
    bus.AddUnit(other);

    // Unit 3 restarts at once and, being a TORVA, comes back at address 1.
    ASSERT_EQ(Ask(Request(3, "K05P03=0999")), kAck);
    ASSERT_EQ(Ask(Request(3, "TMAX=0100")), kAck);
    const int32_t startP03 = 24;
    EXPECT_EQ(Ask(Request(3, "XSTD=")), kAck);
    EXPECT_EQ(Ask(Request(3, "?AZ#=")), "");
    EXPECT_EQ(Ask(Request(1, "?AZ#=")), WithSum("G01:0007"));
    EXPECT_EQ(Ask(Request(1, "K05P03=")), WithSum("G01:" + std::string("00") + std::to_string(startP03)));
    EXPECT_EQ(Ask(Request(1, "TMAX=")), WithSum("G01:0450"));

    ASSERT_EQ(Ask(Request(5, "K01P00=0077")), kAck);
    EXPECT_EQ(Ask(Request(5, "XSTD=")), kAck);
    EXPECT_EQ(Ask(Request(5, "?AZ#=")), "");  // restarting
    EXPECT_EQ(Ask(Request(1, "?AZ#=")), WithSum("G01:0007"));
    const SimUnitConfig* restarted = bus.UnitAt(5);
    ASSERT_NE(restarted, nullptr);
    EXPECT_EQ(restarted->setValues, (std::vector<int32_t>{1, 2, 30, 40}));
}

}  // namespace

// Moving actual values: a heating zone reaches its set value, a broken
// heater keeps its zone where it was, and noise never carries a cold zone
// more than its amount away; a unit without heat= answers the same always.
TEST(SimBusHeating, ZonesHeatTowardTheirSetValueButABrokenOneStaysCold)
{
    SimBus bus;
    SimUnitConfig heating = Unit(5, 3, 0, 4);
    heating.setValues = {200, 300, 250};
    heating.actualValues = {20, 20, 20};
    heating.heatSeconds = 0.02;
    heating.coldZones = {2};
    bus.AddUnit(heating);
    SimUnitConfig noisy = heating;
    noisy.address = 6;
    noisy.heatSeconds = 1000.0;
    noisy.heatNoise = 2;
    bus.AddUnit(noisy);
    SimUnitConfig still = heating;
    still.address = 7;
    still.heatSeconds = 0.0;
    bus.AddUnit(still);

    // Twenty time constants: the rest of the way is far below one unit.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(bus.Handle(Request(5, "KALPII=")).bytes, WithSum("G05:020000200250"));
    EXPECT_EQ(bus.Handle(Request(5, "K03PII=")).bytes, WithSum("G05:0250"));
    EXPECT_EQ(bus.Handle(Request(7, "KALPII=")).bytes, WithSum("G07:002000200020"));

    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string row = bus.Handle(Request(6, "KALPII=")).bytes;
        ASSERT_EQ(row.size(), 4u + 12 + 3);
        for (int z = 0; z < 3; ++z) {
            const int value = std::stoi(row.substr(4 + 4 * static_cast<std::size_t>(z), 4));
            EXPECT_GE(value, 18);
            EXPECT_LE(value, 22 + (z == 1 ? 0 : 1));
        }
        seen.insert(row);
    }
    EXPECT_GT(seen.size(), 1u);
}

TEST_F(SimBusTest, FieldFaultsKeepOrDropTheChecksumAsTheFieldDoes)
{
    auto fault = [](FaultKind kind, const std::string& pattern) {
        SimFault f{kind, pattern, 1};
        f.noise = std::string("\x10\xF0", 2);  // adds up to 0 modulo 256
        f.offset = 8;
        return f;
    };
    const std::string row = "002000210022002300240025002600270028002900300031";
    const struct
    {
        SimFault fault;
        std::string request, answer;
    } cases[] = {
        {fault(FaultKind::OtherAddress, "?AZ#="), Request(3, "?AZ#="), WithSum("G07:0007")},
        {fault(FaultKind::SecondAnswer, "?AZ#="), Request(3, "?AZ#="), WithSum("G03:0007") + WithSum("G03:0007")},
        {fault(FaultKind::SecondAnswer, "TMAX="), Request(3, "TMAX=0500"), kAck + kAck},
        {fault(FaultKind::Insert, "KALP03="), Request(3, "KALP03="),
         WithSum("G03:0020" + std::string("\x10\xF0", 2) + row.substr(4))},
        {fault(FaultKind::ValuesShort, "KALP03="), Request(3, "KALP03="), WithSum("G03:" + row.substr(0, 44))},
        {fault(FaultKind::ValuesLong, "KALP03="), Request(3, "KALP03="), WithSum("G03:" + row + "0020")},
    };
    for (const auto& c : cases) {
        bus.AddFault(c.fault);
        EXPECT_EQ(Ask(c.request), c.answer) << c.request;
        EXPECT_NE(Ask(c.request), c.answer) << "used up";
        bus.ClearFaults();
    }

    // A quick reset: silent for its span, then back with 6 zones.
    SimFault reset{FaultKind::Reset, "KALP00=", 1, 150};
    bus.AddFault(reset);
    EXPECT_EQ(Ask(Request(3, "KALP00=")), "");
    EXPECT_EQ(Ask(Request(3, "?KAN=")), "");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(Ask(Request(3, "?KAN=")), WithSum("G03:0006"));
}
