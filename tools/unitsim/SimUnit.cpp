// The per-unit answering logic: identification, count requests, single and
// list reads, writes with their refusals.
#include "unitsim/SimUnit.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <functional>
#include <optional>

namespace unitsim::detail {

namespace {

constexpr int kMaxZones = 128;
constexpr int kMaxZoneParams = 64;
// From 100 zones on, zone numbers no longer fit two decimal digits.
constexpr int kHexZones = 100;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Two characters as a number in the mode's base; -1 when they are not digits.
int TwoDigits(const std::string& s, std::size_t pos, bool bHex)
{
    if (pos + 2 > s.size())
        return -1;
    int value = 0;
    for (std::size_t i = pos; i < pos + 2; ++i) {
        int d = bHex ? HexDigit(s[i]) : ((s[i] >= '0' && s[i] <= '9') ? s[i] - '0' : -1);
        if (d < 0)
            return -1;
        value = value * (bHex ? 16 : 10) + d;
    }
    return value;
}

// A written value: decimal with an optional sign, or up to eight hexadecimal
// digits. Eight digits are a 32-bit two's complement (that is how a negative
// value comes in hexadecimal); fewer are a plain positive number. Any other
// character makes the value unreadable. The width is not checked: a unit
// takes what it can parse.
std::optional<int32_t> ParseValue(const std::string& s, bool bHex)
{
    if (s.empty())
        return std::nullopt;
    if (bHex) {
        if (s.size() > 8)
            return std::nullopt;
        uint32_t value = 0;
        for (char c : s) {
            int d = HexDigit(c);
            if (d < 0)
                return std::nullopt;
            value = value * 16 + static_cast<uint32_t>(d);
        }
        return static_cast<int32_t>(value);
    }
    const char* begin = s.data();
    const char* end = s.data() + s.size();
    if (*begin == '+')
        ++begin;
    int32_t value = 0;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end)
        return std::nullopt;
    return value;
}

std::string ValueList(const std::vector<int32_t>& values, int width)
{
    std::string out;
    for (int32_t v : values)
        out += FormatNumber(v, width, false);
    return out;
}

UnitAnswer Value(std::string text) { return {AnswerKind::Value, std::move(text), false}; }
UnitAnswer Nak() { return {AnswerKind::Nak, {}, false}; }
UnitAnswer Ack() { return {AnswerKind::Ack, {}, false}; }
UnitAnswer Silence() { return {AnswerKind::Silence, {}, false}; }

// "K<zz>P<pp>=[value]": zz and pp two digits in the mode's base, pp "II" for
// the actual value.
UnitAnswer ZoneCommand(SimUnitConfig& unit, bool bHex, const std::string& text)
{
    if (bHex != (unit.zones >= kHexZones))
        return Nak();
    const int zone = TwoDigits(text, 1, bHex);
    if (zone < 1 || zone > unit.zones)
        return Nak();
    const std::string value = text.substr(7);
    const std::size_t z = static_cast<std::size_t>(zone - 1);

    if (text.compare(4, 2, "II") == 0) {
        if (!value.empty())
            return Nak();  // measured, not set
        return Value(FormatNumber(unit.actualValues[z], unit.valueWidth, bHex));
    }
    const int p = TwoDigits(text, 4, bHex);
    if (p < 0 || p > unit.zoneParamCount)
        return Nak();
    int32_t& slot = (p == 0) ? unit.setValues[z] : unit.zoneParams[static_cast<std::size_t>(p - 1)][z];
    if (value.empty())
        return Value(FormatNumber(slot, unit.valueWidth, bHex));
    std::optional<int32_t> v = ParseValue(value, bHex);
    if (!v)
        return Nak();
    slot = *v;
    return Ack();
}

// "KALPII=", "KALP00=", "KALPnn=": one value of every zone, always decimal.
UnitAnswer RowRequest(SimUnitConfig& unit, bool bHex, const std::string& text)
{
    if (bHex || text.size() != 7 || text[6] != '=')
        return Nak();
    if (text.compare(4, 2, "II") == 0)
        return Value(ValueList(unit.actualValues, unit.valueWidth));
    const int p = TwoDigits(text, 4, false);
    if (p < 0 || p > unit.zoneParamCount)
        return Nak();
    return Value(ValueList(p == 0 ? unit.setValues : unit.zoneParams[static_cast<std::size_t>(p - 1)],
                           unit.valueWidth));
}

UnitAnswer GlobalCommand(SimUnitConfig& unit, bool bHex, const std::string& text)
{
    const std::size_t eq = text.find('=');
    if (bHex || eq == std::string::npos || eq == 0)
        return Nak();
    const std::string command = text.substr(0, eq);
    auto it = std::find_if(unit.globals.begin(), unit.globals.end(),
                           [&](const SimGlobal& g) { return g.command == command; });
    if (it == unit.globals.end())
        return Nak();
    const std::string value = text.substr(eq + 1);
    if (value.empty())
        return Value(FormatNumber(it->value, unit.valueWidth, false));
    std::optional<int32_t> v = ParseValue(value, false);
    if (!v || *v < it->minVal || *v > it->maxVal)
        return Nak();
    it->value = *v;
    return Ack();
}

void FitRow(std::vector<int32_t>& row, int zones, int32_t (*fill)(int zone))
{
    const std::size_t n = static_cast<std::size_t>(zones);
    for (std::size_t z = row.size(); z < n; ++z)
        row.push_back(fill(static_cast<int>(z) + 1));
    row.resize(n);
}

}  // namespace

std::string FormatNumber(int32_t value, int width, bool bHex)
{
    char buf[24];
    if (!bHex) {
        std::snprintf(buf, sizeof buf, "%0*d", width, static_cast<int>(value));
        return buf;
    }
    uint32_t bits = static_cast<uint32_t>(value);
    if (value < 0 && width < 8)
        bits &= (uint32_t{1} << (4 * width)) - 1;
    std::snprintf(buf, sizeof buf, "%0*X", width, static_cast<unsigned>(bits));
    return buf;
}

void Normalize(SimUnitConfig& unit)
{
    unit.zones = std::clamp(unit.zones, 1, kMaxZones);
    unit.zoneParamCount = std::clamp(unit.zoneParamCount, 0, kMaxZoneParams);
    if (unit.valueWidth != 5)
        unit.valueWidth = 4;

    // Plausible defaults: set values around 200, actual values a few degrees
    // off, zone parameter p of zone z as p*100+z (fits width 4 everywhere).
    FitRow(unit.setValues, unit.zones, [](int z) { return int32_t{200 + 5 * ((z - 1) % 20)}; });
    FitRow(unit.actualValues, unit.zones, [](int z) { return int32_t{197 + 5 * ((z - 1) % 20) + z % 5}; });
    const std::size_t params = static_cast<std::size_t>(unit.zoneParamCount);
    unit.zoneParams.resize(params);
    for (std::size_t p = 0; p < params; ++p) {
        std::vector<int32_t>& row = unit.zoneParams[p];
        const std::size_t n = static_cast<std::size_t>(unit.zones);
        for (std::size_t z = row.size(); z < n; ++z)
            row.push_back(static_cast<int32_t>((p + 1) * 100 + z + 1));
        row.resize(n);
    }
    if (!unit.standardSetValues.empty()) {
        const std::vector<int32_t> start = unit.setValues;
        std::vector<int32_t>& standard = unit.standardSetValues;
        for (std::size_t z = standard.size(); z < start.size(); ++z)
            standard.push_back(start[z]);
        standard.resize(start.size());
    }
}

UnitAnswer Answer(SimUnitConfig& unit, bool bHex, const std::string& text)
{
    const int w = unit.valueWidth;
    // Identification and count requests are always decimal.
    struct Fixed
    {
        const char* text;
        std::function<UnitAnswer()> answer;
    };
    const Fixed fixed[] = {
        {"?AZ#=", [&] { return Value(FormatNumber(unit.azNumber, w, false)); }},
        {"?TYP=", [&] { return Value(unit.type); }},
        {"?SER=", [&] { return Value(FormatNumber(unit.eprom, w, false)); }},
        {"?VER=", [&] { return Value(FormatNumber(unit.version, w, false)); }},
        {"?DAT=", [&] { return Value(unit.revDate); }},
        {"?KAN=", [&] { return Value(FormatNumber(unit.zones, w, false)); }},
        {"?PAN=",
         [&] {
             // The count including the set value P00.
             return unit.countQuery == CountQuery::Pan ? Value(FormatNumber(unit.zoneParamCount + 1, w, false))
                                                        : Silence();
         }},
        {"PALMIN=",
         [&] {
             // The minima of P00..Pn; this simulator has no per-parameter
             // minima, so they are all 0.
             return unit.countQuery == CountQuery::PalMin
                        ? Value(ValueList(std::vector<int32_t>(static_cast<std::size_t>(unit.zoneParamCount) + 1, 0), w))
                        : Silence();
         }},
        {"K01MIN=",
         [&] {
             return unit.countQuery == CountQuery::K01Min
                        ? Value(ValueList(std::vector<int32_t>(static_cast<std::size_t>(unit.zoneParamCount), 0), w))
                        : Silence();
         }},
        {"XSTD=", [&] { return UnitAnswer{AnswerKind::Ack, {}, true}; }},
    };
    for (const Fixed& f : fixed) {
        if (text == f.text) {
            UnitAnswer a = f.answer();
            // A unit that does not know a count request stays silent in
            // either mode; everything else here is refused in hexadecimal.
            if (bHex && a.kind != AnswerKind::Silence)
                return Nak();
            return a;
        }
    }

    if (text.size() >= 4 && text.compare(0, 4, "KALP") == 0)
        return RowRequest(unit, bHex, text);
    if (text.size() >= 7 && text[0] == 'K' && text[3] == 'P' && text[6] == '=')
        return ZoneCommand(unit, bHex, text);
    return GlobalCommand(unit, bHex, text);
}

}  // namespace unitsim::detail
