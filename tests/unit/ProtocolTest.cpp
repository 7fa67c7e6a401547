// The protocol over a real pseudo-terminal with the simulated bus on the other
// end: framing, retries, identification, parameter commands.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "SimFixture.h"
#include "TestDir.h"
#include "unit/BusTrace.h"
#include "unit/Unit.h"

using unitsim::FaultKind;
using unitsim::SimFault;

namespace {

std::vector<GlobalParamDef> Globals(std::initializer_list<std::tuple<const char*, int, int>> defs)
{
    std::vector<GlobalParamDef> params;
    for (const auto& [command, minVal, maxVal] : defs) {
        GlobalParamDef def;
        def.pCommand = std::string(command) + "=";
        def.nMinVal = static_cast<int16_t>(minVal);
        def.nMaxVal = static_cast<int16_t>(maxVal);
        params.push_back(def);
    }
    return params;
}

class Protocol : public ::testing::Test
{
protected:
    // A 12-zone unit of width 4 at address 3 and a 120-zone unit of width 5
    // at address 12.
    void SetUp() override
    {
        auto small = MakeSimUnit(3, 7, 12, 7, 4);
        small.globals = {{"TSOLL", 180, 0, 500}, {"TMAX", 450, 0, 600}, {"HYST", 5, 0, 50}, {"OFFS", -1, -50, 50}};
        line.Bus().AddUnit(small);
        auto large = MakeSimUnit(12, 12, 120, 10, 5);
        large.countQuery = unitsim::CountQuery::PalMin;
        line.Bus().AddUnit(large);
        unit.SetGlobalParams(Globals({{"TSOLL", 0, 500}, {"TMAX", 0, 600}, {"HYST", 0, 50}, {"OFFS", -50, 50}}));
    }

    void Connect(int16_t address, int16_t timeoutMs = 40)
    {
        line.Start();
        line.Attach(unit, timeoutMs);
        unit.SetAddress(address);
        unit.SetOffline(false);
        ASSERT_TRUE(unit.OpenPort()) << unit.GetComPort().GetLastError();
    }

    // Reads what a unit would, to learn its zone count and width.
    void Identify()
    {
        ASSERT_NE(unit.QueryAZNumber(), -1);
        unit.QueryZoneParamCount();
        ASSERT_NE(unit.QueryZoneCount(), -1);
    }

    std::vector<unitsim::SimRequest> Requests() { return line.Bus().Requests(); }

    int32_t SimZoneParam(int address, int zone, int p)
    {
        std::lock_guard lock(line.Bus().Mutex());
        return line.Bus().UnitAt(address)->zoneParams[p - 1][zone - 1];
    }

    SimLine line;
    CUnit unit;
};

// The other end of a pseudo-terminal that records one telegram and answers
// with fixed bytes.
class ScriptedLine
{
public:
    ScriptedLine()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(m_master);
        unlockpt(m_master);
        termios tio{};
        tcgetattr(m_master, &tio);
        cfmakeraw(&tio);
        tcsetattr(m_master, TCSANOW, &tio);
        m_path = ptsname(m_master);
    }
    ~ScriptedLine()
    {
        if (m_thread.joinable())
            m_thread.join();
        close(m_master);
    }
    const std::string& Path() const { return m_path; }
    // Answers the next telegram with reply.
    void AnswerNext(std::string reply)
    {
        m_thread = std::thread([this, reply] {
            std::string telegram;
            char c;
            pollfd pfd{m_master, POLLIN, 0};
            while (poll(&pfd, 1, 2000) > 0 && read(m_master, &c, 1) == 1) {
                telegram += c;
                if (c == '\x03')
                    break;
            }
            m_telegram = telegram;
            // A unit answers a request it has heard whole: at the 9600 baud
            // of AttachScripted, ten bits a character.
            std::this_thread::sleep_for(std::chrono::microseconds(1042 * telegram.size() + 500));
            if (!reply.empty() && write(m_master, reply.data(), reply.size()) < 0)
                m_telegram += "<write failed>";
        });
    }
    std::string Telegram()
    {
        m_thread.join();
        return m_telegram;
    }

private:
    int m_master = -1;
    std::string m_path;
    std::thread m_thread;
    std::string m_telegram;
};

std::string Framed(const std::string& value)
{
    std::string body = "G01:" + value;
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", CUnit::Checksum(body));
    return body + sum + '\x03';
}

void AttachScripted(CUnit& unit, const ScriptedLine& line, int16_t address)
{
    unit.GetComPort().SetDeviceOverride(line.Path());
    unit.SetInterface(1, 9600);
    unit.SetLineSettings(0, 8, 0, 40);
    unit.SetAddress(address);
    ASSERT_TRUE(unit.OpenPort());
}

}  // namespace

TEST(Framing, TelegramsCarryLetterAddressTextChecksumAndEtx)
{
    {
        ScriptedLine line;
        CUnit unit;
        AttachScripted(unit, line, 1);
        line.AnswerNext(Framed("TORVA 3"));
        EXPECT_EQ(unit.Transact("?TYP=", false), Framed("TORVA 3"));
        EXPECT_EQ(line.Telegram(), "G01?TYP=21\x03");
    }
    {
        ScriptedLine line;
        CUnit unit;
        AttachScripted(unit, line, 30);
        line.AnswerNext(std::string("\x06\x03"));
        unit.Transact("?TYP=", true);
        const std::string telegram = line.Telegram();
        char sum[4];
        std::snprintf(sum, sizeof sum, "%02X", CUnit::Checksum("g1E?TYP="));
        EXPECT_EQ(telegram, std::string("g1E?TYP=") + sum + "\x03");
    }
}

TEST(Framing, CountsOutsideTheirRangesAreFailedTries)
{
    // A zone count of 999 and a parameter count of 200 whose checksums
    // match: never taken, so they can never size the tables.
    ScriptedLine line;
    CUnit unit;
    AttachScripted(unit, line, 1);
    unit.SetOffline(false);
    line.AnswerNext(Framed("999"));
    unit.QueryAZNumber();
    line.Telegram();
    line.AnswerNext(Framed("0999"));  // the first try; the others get silence
    EXPECT_EQ(unit.QueryZoneCount(), -1);
    line.Telegram();
    // A count the unit answers, but never whole, is not known: no default
    // stands in for it.
    unit.SetDefaultZoneParamCount(10);
    line.AnswerNext(Framed("0201"));
    EXPECT_EQ(unit.QueryZoneParamCount(), -1);
    line.Telegram();
}

TEST(Framing, AcknowledgementsCountOnlyShortAndFromTheAddressAsked)
{
    // Address 12 writes zone parameters of a 120-zone unit, in hexadecimal
    // numbering ("g0C"); its acknowledgement may carry the address in
    // decimal. CONFIG.INI's CheckAnswerAddress=0 looks at no address.
    const struct
    {
        std::string reply;
        WriteResult expected;
        int16_t address = 1;
        const char* config = "";
    } rows[] = {
        {"\x06\x03", WriteResult::Acknowledged},
        {"\x06", WriteResult::Acknowledged},  // the bare byte, no ETX
        {"G01:\x06\x03", WriteResult::Acknowledged},
        {"G\x06\x03", WriteResult::Acknowledged},
        {"G07:\x06\x03", WriteResult::NotAcknowledged},  // another unit's
        {"G01:0\x06\x03", WriteResult::NotAcknowledged},  // inside a longer answer
        {"\x06\x06\x03", WriteResult::NotAcknowledged},
        {"\x15\x03", WriteResult::NotAcknowledged},
        {"g0C\x06\x03", WriteResult::Acknowledged, 12},
        {"g12\x06\x03", WriteResult::Acknowledged, 12},
        {"g07\x06\x03", WriteResult::NotAcknowledged, 12},
        {"G07:\x06\x03", WriteResult::Acknowledged, 1, "[COM_PORT]\r\nCheckAnswerAddress=0\r\n"},
        {"G07:\x06\x03", WriteResult::NotAcknowledged, 1, "[COM_PORT]\r\nCheckAnswerAddress=x\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(CBusTrace::Render(row.reply) + " " + row.config);
        TestDir dir;
        dir.Write("CONFIG.INI", row.config);
        ScriptedLine line;
        CUnit unit;
        unit.LoadDefinitions(false);
        unit.SetGlobalParams(Globals({{"TSOLL", 0, 500}}));
        AttachScripted(unit, line, row.address);
        unit.SetOffline(true);  // a layout as a recipe gives it
        unit.SetZoneCount(row.address == 12 ? 120 : 8);
        unit.SetValueWidth(4);
        line.AnswerNext(row.reply);  // the first try; the others get silence
        const WriteResult result =
            row.address == 12 ? unit.WriteZoneParam(3, 2, 200) : unit.WriteGlobalParam(1, 200);
        EXPECT_EQ(result, row.expected);
        line.Telegram();
    }
}

TEST(Framing, AHexadecimalValueIsTheWidthsDigitsOrEight)
{
    // A unit of 100 zones or more sends a negative value as eight digits, as
    // the tool writes it; any other count of digits is no value.
    const struct
    {
        const char* field;
        int32_t expected;
    } rows[] = {
        {"FFF9", -7}, {"FFFFFFF9", -7}, {"00C8", 200}, {"000000C8", 200}, {"FFFFF9", -1}, {"FFF", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.field);
        ScriptedLine line;
        CUnit unit;
        AttachScripted(unit, line, 12);
        unit.SetOffline(true);
        unit.SetZoneCount(120);
        unit.SetValueWidth(4);
        std::string answer = std::string("g0C:") + row.field;
        char sum[4];
        std::snprintf(sum, sizeof sum, "%02X", CUnit::Checksum(answer));
        line.AnswerNext(answer + sum + '\x03');
        EXPECT_EQ(unit.ReadZoneParam(3, 2), row.expected);
        line.Telegram();
    }
}

TEST_F(Protocol, RetriesSkipNoiseRepeatBrokenAnswersAndTakeNakAtOnce)
{
    line.Bus().AddFault(Fault(FaultKind::Noise, "?AZ#=", 1));
    line.Bus().AddFault(Fault(FaultKind::BadChecksum, "?SER=", 2));
    line.Bus().AddFault(Fault(FaultKind::LowerCase, "?VER=", 1));
    line.Bus().AddFault(Fault(FaultKind::Nak, "?DAT=", -1));
    line.Bus().AddFault(Fault(FaultKind::Silence, "?KAN=", -1));
    Connect(3);

    auto countOf = [&](const std::string& text) {
        int n = 0;
        for (const auto& r : Requests())
            n += (r.text == text);
        return n;
    };

    EXPECT_EQ(unit.QueryAZNumber(), 7);  // noise before the answer dropped
    EXPECT_EQ(countOf("?AZ#="), 1);
    EXPECT_EQ(unit.QueryEpromNumber(), 4711);  // correct only at the third try
    EXPECT_EQ(countOf("?SER="), 3);
    EXPECT_EQ(unit.QueryVersion(), 203);  // lower-case checksum rejected, repeated
    EXPECT_EQ(countOf("?VER="), 2);
    EXPECT_EQ(unit.QueryRevDate(), "");  // NAK: taken at once, not retried
    EXPECT_EQ(countOf("?DAT="), 1);
    EXPECT_EQ(unit.QueryZoneCount(), -1);  // silence costs three tries
    EXPECT_EQ(countOf("?KAN="), 3);
}

TEST_F(Protocol, ALateAnswerIsNotTakenForTheNextRequest)
{
    // The first try's answer arrives during the second try (a read waits
    // 30 + 20 ms); the second try's answer follows it at once and would be
    // taken for the next request if it stayed in the input buffer.
    line.Bus().AddFault(Fault(FaultKind::Delay, "?SER=", 1, 70));
    Connect(3, 30);
    EXPECT_EQ(unit.QueryEpromNumber(), 4711);
    EXPECT_EQ(unit.QueryVersion(), 203);
    EXPECT_EQ(unit.QueryAZNumber(), 7);
}

TEST_F(Protocol, ValueWidthIsLearnedPerUnitAndForgottenOnAnotherAddress)
{
    Connect(12);
    EXPECT_EQ(unit.GetValueWidth(), 0);
    EXPECT_EQ(unit.QueryAZNumber(), 12);  // a 12-character answer
    EXPECT_EQ(unit.GetValueWidth(), 5);
    unit.SetAddress(3);
    EXPECT_EQ(unit.GetValueWidth(), 0);
    EXPECT_EQ(unit.QueryAZNumber(), 7);  // an 11-character answer
    EXPECT_EQ(unit.GetValueWidth(), 4);
}

TEST_F(Protocol, IdentificationOfBothUnits)
{
    Connect(3);
    Identify();
    EXPECT_EQ(unit.QueryType(), "MZR 12");
    EXPECT_EQ(unit.QueryZoneCount(), 12);
    EXPECT_EQ(unit.QueryZoneParamCount(), 7);
    EXPECT_FALSE(unit.IsOffline());

    unit.SetAddress(12);
    Identify();
    EXPECT_EQ(unit.QueryZoneCount(), 120);
    EXPECT_EQ(unit.QueryZoneParamCount(), 10);  // from "PALMIN=": 11 minima
}

TEST_F(Protocol, ZoneParamCountFallsBackThroughThreeRequestsToTheSetting)
{
    struct Case
    {
        unitsim::CountQuery query;
        int expected;
    } cases[] = {
        {unitsim::CountQuery::Pan, 7},
        {unitsim::CountQuery::PalMin, 7},
        {unitsim::CountQuery::K01Min, 7},
        {unitsim::CountQuery::None, 10},
    };
    for (const Case& c : cases) {
        SimLine bus;
        auto config = MakeSimUnit(3, 7, 12, 7, 4);
        config.countQuery = c.query;
        bus.Bus().AddUnit(config);
        bus.Start();
        CUnit u;
        bus.Attach(u, 30);
        u.SetDefaultZoneParamCount(10);
        u.SetAddress(3);
        ASSERT_TRUE(u.OpenPort());
        u.QueryAZNumber();
        EXPECT_EQ(u.QueryZoneParamCount(), c.expected) << static_cast<int>(c.query);
    }
}

TEST_F(Protocol, ZoneCommandsInDecimalBelowHundredZonesAndHexadecimalAbove)
{
    Connect(3);
    Identify();
    EXPECT_EQ(unit.WriteZoneParam(5, 3, 250), WriteResult::Acknowledged);
    EXPECT_EQ(Requests().back().text, "K05P03=0250");
    EXPECT_FALSE(Requests().back().bHex);
    EXPECT_EQ(SimZoneParam(3, 5, 3), 250);
    unit.ClosePort();
    EXPECT_EQ(unit.ReadZoneParam(5, 3), 250);  // from the record, no traffic
    ASSERT_TRUE(unit.OpenPort());
    EXPECT_EQ(unit.WriteSetValue(2, -12), WriteResult::Acknowledged);
    EXPECT_EQ(Requests().back().text, "K02P00=-012");
    EXPECT_EQ(unit.ReadSetValue(2), -12);

    unit.SetAddress(12);
    Identify();
    const int32_t expected = SimZoneParam(12, 110, 10);
    EXPECT_EQ(unit.ReadZoneParam(110, 10), expected);
    EXPECT_EQ(Requests().back().text, "K6EP0A=");
    EXPECT_TRUE(Requests().back().bHex);
    EXPECT_EQ(unit.WriteZoneParam(110, 10, 0x1234), WriteResult::Acknowledged);
    EXPECT_EQ(Requests().back().text, "K6EP0A=01234");
    EXPECT_EQ(SimZoneParam(12, 110, 10), 0x1234);
    // A negative value goes out as 32 bits and comes back in the width.
    EXPECT_EQ(unit.WriteSetValue(110, -12), WriteResult::Acknowledged);
    EXPECT_EQ(Requests().back().text, "K6EP00=FFFFFFF4");
    EXPECT_EQ(unit.ReadSetValue(110), -12);
    unit.ReadActualValue(100);
    EXPECT_EQ(Requests().back().text, "K64PII=");
}

TEST_F(Protocol, GlobalLimitsRefuseBeforeSending)
{
    unit.SetGlobalParams(Globals({{"TSOLL", 0, 100}, {"ADDR", 0, 0}}));
    Connect(3);
    Identify();
    const std::size_t before = Requests().size();
    EXPECT_EQ(unit.WriteGlobalParam(1, 101), WriteResult::Refused);
    EXPECT_EQ(unit.WriteGlobalParam(1, -1), WriteResult::Refused);
    EXPECT_EQ(unit.WriteGlobalParam(2, 0), WriteResult::Refused);
    EXPECT_EQ(Requests().size(), before);
    EXPECT_EQ(unit.WriteGlobalParam(1, 100), WriteResult::Acknowledged);
    EXPECT_EQ(Requests().back().text, "TSOLL=0100");
}

TEST_F(Protocol, ClosedModeSendsNothing)
{
    Connect(3);
    unit.ClosePort();
    EXPECT_EQ(unit.WriteZoneParam(5, 3, 77), WriteResult::LinkClosed);
    EXPECT_EQ(unit.WriteSetValue(5, 77), WriteResult::LinkClosed);
    EXPECT_EQ(unit.WriteGlobalParam(1, 77), WriteResult::LinkClosed);
    EXPECT_EQ(unit.QueryAZNumber(), 0);
    EXPECT_EQ(unit.ReadZoneParam(5, 3), 77);
    EXPECT_FALSE(unit.LoadStandardParams());
    EXPECT_TRUE(Requests().empty());
}

TEST_F(Protocol, ReadGlobalParamsStopsAtTheFirstParameterWithoutAnswer)
{
    line.Bus().AddFault(Fault(FaultKind::Silence, "HYST=", -1));
    Connect(3);
    Identify();
    EXPECT_FALSE(unit.ReadGlobalParams());
    EXPECT_EQ(unit.ReadGlobalParam(0), -1);
    unit.ClosePort();
    EXPECT_TRUE(unit.GetGlobalParamDef(1)->bPresent);
    EXPECT_EQ(unit.ReadGlobalParam(2), 450);
    EXPECT_FALSE(unit.GetGlobalParamDef(3)->bPresent);
    for (const auto& r : Requests())
        EXPECT_NE(r.text, "OFFS=");
}

TEST_F(Protocol, ReadGlobalParamsTakesMinusOneAndNakAsAnswers)
{
    unit.SetGlobalParams(Globals({{"TSOLL", 0, 500}, {"OFFS", -50, 50}, {"NOPE", 0, 9}}));
    Connect(3);
    Identify();
    EXPECT_TRUE(unit.ReadGlobalParams());
    unit.ClosePort();
    EXPECT_EQ(unit.ReadGlobalParam(2), -1);  // a real value of -1
    EXPECT_TRUE(unit.GetGlobalParamDef(2)->bPresent);
    EXPECT_EQ(unit.ReadGlobalParam(3), -1);  // the unit refused: no value
}

TEST_F(Protocol, ASingleReadWithoutAnswerKeepsTheStoredValue)
{
    Connect(3);
    Identify();
    ASSERT_EQ(unit.ReadZoneParam(5, 3), SimZoneParam(3, 5, 3));
    const int32_t good = unit.ReadZoneParam(5, 3);
    line.Bus().AddFault(Fault(FaultKind::Silence, "K05P03=", -1));
    EXPECT_EQ(unit.ReadZoneParam(5, 3), -1);
    line.Bus().ClearFaults();
    line.Bus().AddFault(Fault(FaultKind::BadChecksum, "K05P03=", -1));
    EXPECT_EQ(unit.ReadZoneParam(5, 3), -1);
    unit.ClosePort();
    EXPECT_EQ(unit.ReadZoneParam(5, 3), good);

    ASSERT_TRUE(unit.OpenPort());
    line.Bus().ClearFaults();
    line.Bus().AddFault(Fault(FaultKind::Nak, "K05P03=", -1));
    EXPECT_EQ(unit.ReadZoneParam(5, 3), -1);
    unit.ClosePort();
    EXPECT_EQ(unit.ReadZoneParam(5, 3), -1);  // a refusal stores "no value"
}

TEST_F(Protocol, BulkRowsFillWholeRowsInBothWidths)
{
    Connect(3);
    Identify();
    ASSERT_TRUE(unit.ReadParamRow(-1));
    ASSERT_TRUE(unit.ReadParamRow(0));
    ASSERT_TRUE(unit.ReadParamRow(3));
    EXPECT_EQ(Requests().back().text, "KALP03=");
    {
        std::lock_guard lock(line.Bus().Mutex());
        const auto* sim = line.Bus().UnitAt(3);
        unit.ClosePort();
        for (int16_t z = 1; z <= 12; ++z) {
            EXPECT_EQ(unit.ReadActualValue(z), sim->actualValues[z - 1]);
            EXPECT_EQ(unit.ReadSetValue(z), sim->setValues[z - 1]);
            EXPECT_EQ(unit.ReadZoneParam(z, 3), sim->zoneParams[2][z - 1]);
        }
    }
    ASSERT_TRUE(unit.OpenPort());
    unit.SetAddress(12);
    Identify();
    ASSERT_TRUE(unit.ReadParamRow(10));
    unit.ClosePort();
    EXPECT_EQ(unit.ReadZoneParam(120, 10), SimZoneParam(12, 120, 10));
}

TEST(ProtocolLine, RowsArriveWholeInUartPiecesAndInAdapterBursts)
{
    // Bursts 16 ms apart: a per-byte wait of 5 + 20 ms still spans them.
    const unitsim::PtyServer::Delivery deliveries[] = {unitsim::PtyServer::Delivery::Paced,
                                                       unitsim::PtyServer::Delivery::Bursts};
    for (auto delivery : deliveries) {
        SCOPED_TRACE(delivery == unitsim::PtyServer::Delivery::Paced ? "paced" : "bursts");
        SimLine line(19200, delivery);
        line.Bus().AddUnit(MakeSimUnit(3, 7, 128, 2, 5));
        line.Start();
        CUnit unit;
        line.Attach(unit, 5);
        unit.SetInterface(1, 19200);  // the line's own rate
        unit.SetAddress(3);
        unit.SetOffline(false);
        ASSERT_TRUE(unit.OpenPort());
        ASSERT_NE(unit.QueryAZNumber(), -1);
        unit.QueryZoneParamCount();
        ASSERT_EQ(unit.QueryZoneCount(), 128);
        const long long reads = unit.GetComPort().GetReadCalls();
        ASSERT_TRUE(unit.ReadParamRow(2));  // 647 bytes, a third of a second at 19200
        EXPECT_EQ(unit.GetComPort().GetLastReadBytes(), 4 + 128 * 5 + 3);
        EXPECT_LE(unit.GetComPort().GetReadCalls() - reads, 647 / 8);
        unit.ClosePort();
        std::lock_guard lock(line.Bus().Mutex());
        for (int16_t z = 1; z <= 128; ++z)
            EXPECT_EQ(unit.ReadZoneParam(z, 2), line.Bus().UnitAt(3)->zoneParams[1][z - 1]) << z;
    }
}

TEST_F(Protocol, StandardParametersAreAcknowledged)
{
    Connect(3);
    Identify();
    EXPECT_TRUE(unit.LoadStandardParams());
    EXPECT_EQ(Requests().back().text, "XSTD=");
}
