// The bus file: a small INI-like description of the simulated units and of
// the faults to inject.
//
//   # comment (also ';'); blank lines are ignored
//   [unit 3]                 a unit at bus address 3 (1..30)
//   az=7                     AZ number
//   type="TORVA 3"           type name; quotes keep leading or trailing blanks
//   eprom=4711               EPROM number
//   version=203              firmware version
//   revdate=12.03.21         revision date (text)
//   zones=12                 1..128; 100 or more: zone commands in hexadecimal
//   params=7                 zone parameters P01..Pn, 0..64
//   countquery=pan           which count request it answers: pan (?PAN=),
//                            palmin (PALMIN=), k01min (K01MIN=) or none
//   width=4                  value width, 4 or 5
//   global=TSOLL 200 0 500   command, value, minimum, maximum (repeatable;
//                            without the limits any 16-bit value is taken)
//   set=200                  set values; also actual=, standard= (the set
//   actual=180,181,...       values after "XSTD=") and p01= .. p64= (zone
//   p03=100+5                parameter rows): one value for every zone, a
//                            list of exactly one value per zone, or A+S for
//                            A in zone 1 rising by S a zone (S may be
//                            negative: 500+-2)
//   restart=3                seconds of silence after "XSTD="
//   heat=90                  actual values heat toward the set values with
//                            this time constant in seconds (0: they stay)
//   heatnoise=1              their measuring noise, +- units (0..1000)
//   cold=5,9                 zones whose heater is broken: they stay cold
//
//   [fault]                  one injected fault (repeatable)
//   kind=badchecksum         silence, noise, badchecksum, lowercase, nak,
//                            delay, disconnect, otheraddress, secondanswer,
//                            insert, valuesshort, valueslong, reset or twin
//   pattern=?PAN=            requests whose text contains this (empty: all)
//   times=2                  how many matching requests it hits; -1 (the
//                            default) every one
//   delay=500                delay: milliseconds before the answer; twin:
//                            after the first unit's answer
//   after=10                 disconnect: telegrams served before the line goes
//   noise=55 AA              noise: the stray bytes, in hexadecimal
//   address=3                only requests to this address (default: any)
//   skip=1                   matching requests passed over before it hits
//   otheraddress=7           otheraddress: the address the answer carries
//   offset=6                 insert: where the noise= bytes go (4: the
//                            value's first character)
//   zones=6                  reset: the zone count it comes back with (its
//                            silence is delay=)
//   width=4                  reset: the value width it comes back with
//
//   [noise]                  random byte noise on every answer
//   rate=0.02                the chance that a byte starts a noise event
//   seed=1                   the same seed, the same noise
//   burst=3                  an event replaces, inserts or drops 1..burst bytes
//
// Keys are case-insensitive; whitespace around keys and values is dropped.
// Values missing from a unit are filled in with plausible ones. Any line the
// parser does not understand makes the whole file fail, naming the line:
// a typo must not quietly turn into a different bus.
#include "unitsim/SimConfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace unitsim {

namespace {

std::string Trim(const std::string& s)
{
    const char* ws = " \t\r\n";
    const std::size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::optional<int32_t> ToInt(const std::string& s)
{
    const char* b = s.data();
    const char* e = s.data() + s.size();
    if (b != e && *b == '+')
        ++b;
    int32_t v = 0;
    auto [p, ec] = std::from_chars(b, e, v);
    if (b == e || ec != std::errc() || p != e)
        return std::nullopt;
    return v;
}

struct Line
{
    std::string key;
    std::string value;
    int number = 0;
};

class Parser
{
public:
    Parser(std::string name, SimBus& bus, std::string& error) : m_name(std::move(name)), m_bus(bus), m_error(error) {}

    bool Run(std::istream& in);

private:
    enum class Section { None, Unit, Fault, Noise };

    bool Fail(int line, const std::string& message)
    {
        m_error = m_name + ":" + std::to_string(line) + ": " + message;
        return false;
    }
    bool Int(const Line& l, int32_t& out, int32_t lo, int32_t hi);
    bool Header(const std::string& text, int line);
    bool UnitKey(const Line& l);
    bool FaultKey(const Line& l);
    bool NoiseKey(const Line& l);
    bool FinishSection();
    bool FinishUnit();
    bool Row(const Line& l, std::vector<int32_t>& row, int zones);

    std::string m_name;
    SimBus& m_bus;
    std::string& m_error;

    Section m_section = Section::None;
    int m_sectionLine = 0;
    std::set<std::string> m_keysSeen;
    SimUnitConfig m_unit;
    std::vector<Line> m_rows;  // value rows wait for the zone count
    SimFault m_fault;
    bool m_bHaveKind = false;

    std::vector<SimUnitConfig> m_units;
    std::vector<SimFault> m_faults;
    SimNoise m_noise;
};

bool Parser::Int(const Line& l, int32_t& out, int32_t lo, int32_t hi)
{
    std::optional<int32_t> v = ToInt(l.value);
    if (!v)
        return Fail(l.number, l.key + "= wants a whole number, not '" + l.value + "'");
    if (*v < lo || *v > hi)
        return Fail(l.number, l.key + "=" + l.value + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    out = *v;
    return true;
}

bool Parser::Run(std::istream& in)
{
    std::string raw;
    int number = 0;
    while (std::getline(in, raw)) {
        ++number;
        const std::string text = Trim(raw);
        if (text.empty() || text[0] == '#' || text[0] == ';')
            continue;
        if (text[0] == '[') {
            if (!Header(text, number))
                return false;
            continue;
        }
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos)
            return Fail(number, "expected key=value or a [section], not '" + text + "'");
        Line l{Lower(Trim(text.substr(0, eq))), Trim(text.substr(eq + 1)), number};
        if (l.value.size() >= 2 && l.value.front() == '"' && l.value.back() == '"')
            l.value = l.value.substr(1, l.value.size() - 2);
        if (l.key.empty())
            return Fail(number, "a value without a key");
        if (l.key != "global" && !m_keysSeen.insert(l.key).second)
            return Fail(number, l.key + "= is given twice in this section");
        bool ok = false;
        switch (m_section) {
        case Section::None: return Fail(number, l.key + "= outside a [unit N] or [fault] section");
        case Section::Unit: ok = UnitKey(l); break;
        case Section::Fault: ok = FaultKey(l); break;
        case Section::Noise: ok = NoiseKey(l); break;
        }
        if (!ok)
            return false;
    }
    if (in.bad())
        return Fail(number, "read error");
    if (!FinishSection())
        return false;
    if (m_units.empty())
        return Fail(number, "the file describes no unit");

    // Only a file that is right throughout changes the bus.
    for (SimUnitConfig& u : m_units)
        m_bus.AddUnit(std::move(u));
    for (const SimFault& f : m_faults)
        m_bus.AddFault(f);
    if (m_noise.rate > 0.0)
        m_bus.SetNoise(m_noise);
    return true;
}

bool Parser::Header(const std::string& text, int line)
{
    if (text.back() != ']')
        return Fail(line, "a section header must end with ']'");
    if (!FinishSection())
        return false;
    const std::string name = Lower(Trim(text.substr(1, text.size() - 2)));
    m_keysSeen.clear();
    m_sectionLine = line;
    if (name == "fault") {
        m_section = Section::Fault;
        m_fault = SimFault{};
        m_bHaveKind = false;
        return true;
    }
    if (name == "noise") {
        m_section = Section::Noise;
        return true;
    }
    if (name.compare(0, 4, "unit") == 0) {
        std::optional<int32_t> address = ToInt(Trim(name.substr(4)));
        if (!address || *address < 1 || *address > 30)
            return Fail(line, "a unit section is [unit N] with a bus address N of 1..30");
        for (const SimUnitConfig& u : m_units)
            if (u.address == *address)
                return Fail(line, "a second unit at address " + std::to_string(*address));
        m_section = Section::Unit;
        m_unit = SimUnitConfig{};
        m_unit.address = *address;
        m_rows.clear();
        return true;
    }
    return Fail(line, "unknown section [" + name + "]");
}

bool Parser::UnitKey(const Line& l)
{
    const std::string& k = l.key;
    int32_t v = 0;
    if (k == "az")
        return Int(l, v, -32768, 32767) && ((m_unit.azNumber = v), true);
    if (k == "type")
        return (m_unit.type = l.value), true;
    if (k == "revdate")
        return (m_unit.revDate = l.value), true;
    if (k == "eprom")
        return Int(l, m_unit.eprom, INT32_MIN, INT32_MAX);
    if (k == "version")
        return Int(l, m_unit.version, INT32_MIN, INT32_MAX);
    if (k == "zones")
        return Int(l, v, 1, 128) && ((m_unit.zones = v), true);
    if (k == "params")
        return Int(l, v, 0, 64) && ((m_unit.zoneParamCount = v), true);
    if (k == "width") {
        if (l.value != "4" && l.value != "5")
            return Fail(l.number, "width= is 4 or 5, not '" + l.value + "'");
        m_unit.valueWidth = l.value[0] - '0';
        return true;
    }
    if (k == "countquery") {
        const std::string q = Lower(l.value);
        if (q == "pan")
            m_unit.countQuery = CountQuery::Pan;
        else if (q == "palmin")
            m_unit.countQuery = CountQuery::PalMin;
        else if (q == "k01min")
            m_unit.countQuery = CountQuery::K01Min;
        else if (q == "none")
            m_unit.countQuery = CountQuery::None;
        else
            return Fail(l.number, "countquery= is pan, palmin, k01min or none, not '" + l.value + "'");
        return true;
    }
    if (k == "restart") {
        char* end = nullptr;
        errno = 0;
        const double s = std::strtod(l.value.c_str(), &end);
        if (l.value.empty() || *end != '\0' || errno != 0 || !(s >= 0.0 && s <= 3600.0))
            return Fail(l.number, "restart= wants seconds from 0 to 3600, not '" + l.value + "'");
        m_unit.restartSeconds = s;
        return true;
    }
    if (k == "heat") {
        char* end = nullptr;
        errno = 0;
        const double s = std::strtod(l.value.c_str(), &end);
        if (l.value.empty() || *end != '\0' || errno != 0 || !(s >= 0.0 && s <= 86400.0))
            return Fail(l.number, "heat= wants seconds from 0 to 86400, not '" + l.value + "'");
        m_unit.heatSeconds = s;
        return true;
    }
    if (k == "heatnoise")
        return Int(l, m_unit.heatNoise, 0, 1000);
    if (k == "cold") {
        std::stringstream ss(l.value);
        for (std::string item; std::getline(ss, item, ',');) {
            std::optional<int32_t> zone = ToInt(Trim(item));
            if (!zone || *zone < 1 || *zone > 128)
                return Fail(l.number, "cold= wants zone numbers such as '5,9', not '" + l.value + "'");
            m_unit.coldZones.push_back(*zone);
        }
        return true;
    }
    if (k == "global") {
        std::istringstream words(l.value);
        std::vector<std::string> w;
        for (std::string s; words >> s;)
            w.push_back(s);
        SimGlobal g;
        std::optional<int32_t> value, lo, hi;
        if (w.size() == 2 || w.size() == 4) {
            value = ToInt(w[1]);
            lo = w.size() == 4 ? ToInt(w[2]) : std::optional<int32_t>(g.minVal);
            hi = w.size() == 4 ? ToInt(w[3]) : std::optional<int32_t>(g.maxVal);
        }
        if (!value || !lo || !hi || w[0].find('=') != std::string::npos)
            return Fail(l.number, "global= is 'COMMAND value [min max]', not '" + l.value + "'");
        if (*lo > *hi)
            return Fail(l.number, "global " + w[0] + ": the minimum is above the maximum");
        for (const SimGlobal& other : m_unit.globals)
            if (other.command == w[0])
                return Fail(l.number, "global " + w[0] + " is given twice");
        g.command = w[0];
        g.value = *value;
        g.minVal = *lo;
        g.maxVal = *hi;
        m_unit.globals.push_back(g);
        return true;
    }
    const bool bParamRow = k.size() == 3 && k[0] == 'p' && std::isdigit(static_cast<unsigned char>(k[1])) &&
                           std::isdigit(static_cast<unsigned char>(k[2])) && k != "p00";
    if (k == "set" || k == "actual" || k == "standard" || bParamRow) {
        m_rows.push_back(l);
        return true;
    }
    return Fail(l.number, "unknown key '" + k + "' in a unit section");
}

bool Parser::Row(const Line& l, std::vector<int32_t>& row, int zones)
{
    std::vector<std::string> items;
    std::stringstream ss(l.value);
    for (std::string item; std::getline(ss, item, ',');)
        items.push_back(Trim(item));
    if (!l.value.empty() && l.value.back() == ',')
        items.push_back({});
    row.clear();
    if (items.size() == 1) {
        const std::string& item = items[0];
        const std::size_t plus = item.find('+', 1);
        std::optional<int32_t> start = ToInt(item.substr(0, plus));
        std::optional<int32_t> step = plus == std::string::npos ? std::optional<int32_t>(0) : ToInt(item.substr(plus + 1));
        if (!start || !step)
            return Fail(l.number, l.key + "= wants a number, a list or A+S, not '" + l.value + "'");
        for (int z = 0; z < zones; ++z)
            row.push_back(static_cast<int32_t>(*start + static_cast<int64_t>(*step) * z));
        return true;
    }
    if (static_cast<int>(items.size()) != zones)
        return Fail(l.number, l.key + "= has " + std::to_string(items.size()) + " values for " +
                                  std::to_string(zones) + " zones");
    for (const std::string& item : items) {
        std::optional<int32_t> v = ToInt(item);
        if (!v)
            return Fail(l.number, l.key + "=: '" + item + "' is not a whole number");
        row.push_back(*v);
    }
    return true;
}

bool Parser::FinishUnit()
{
    SimUnitConfig& u = m_unit;
    u.zoneParams.assign(static_cast<std::size_t>(u.zoneParamCount), {});
    for (const Line& l : m_rows) {
        std::vector<int32_t>* row = nullptr;
        if (l.key == "set")
            row = &u.setValues;
        else if (l.key == "actual")
            row = &u.actualValues;
        else if (l.key == "standard")
            row = &u.standardSetValues;
        else {
            const int p = std::atoi(l.key.c_str() + 1);
            if (p > u.zoneParamCount)
                return Fail(l.number, l.key + "= but the unit has params=" + std::to_string(u.zoneParamCount));
            row = &u.zoneParams[static_cast<std::size_t>(p - 1)];
        }
        if (!Row(l, *row, u.zones))
            return false;
    }
    m_units.push_back(u);
    return true;
}

bool Parser::FaultKey(const Line& l)
{
    const std::string& k = l.key;
    if (k == "kind") {
        static const std::pair<const char*, FaultKind> kinds[] = {
            {"silence", FaultKind::Silence}, {"noise", FaultKind::Noise},
            {"badchecksum", FaultKind::BadChecksum}, {"lowercase", FaultKind::LowerCase},
            {"nak", FaultKind::Nak}, {"delay", FaultKind::Delay}, {"disconnect", FaultKind::Disconnect},
            {"otheraddress", FaultKind::OtherAddress}, {"secondanswer", FaultKind::SecondAnswer},
            {"insert", FaultKind::Insert}, {"valuesshort", FaultKind::ValuesShort},
            {"valueslong", FaultKind::ValuesLong}, {"reset", FaultKind::Reset}, {"twin", FaultKind::Twin},
        };
        const std::string name = Lower(l.value);
        for (const auto& [text, kind] : kinds) {
            if (name == text) {
                m_fault.kind = kind;
                m_bHaveKind = true;
                return true;
            }
        }
        return Fail(l.number, "unknown fault kind '" + l.value + "'");
    }
    if (k == "pattern")
        return (m_fault.pattern = l.value), true;
    if (k == "times")
        return Int(l, m_fault.times, -1, INT32_MAX);
    if (k == "delay")
        return Int(l, m_fault.delayMs, 0, 600000);
    if (k == "after")
        return Int(l, m_fault.afterRequests, 0, INT32_MAX);
    if (k == "address")
        return Int(l, m_fault.address, 0, 30);
    if (k == "skip")
        return Int(l, m_fault.skip, 0, INT32_MAX);
    if (k == "otheraddress")
        return Int(l, m_fault.otherAddress, 0, 255);
    if (k == "offset")
        return Int(l, m_fault.offset, 0, 4096);
    if (k == "zones")
        return Int(l, m_fault.zones, 1, 128);
    if (k == "width") {
        if (l.value != "4" && l.value != "5")
            return Fail(l.number, "width= is 4 or 5, not '" + l.value + "'");
        m_fault.width = l.value[0] - '0';
        return true;
    }
    if (k == "noise") {
        std::string bytes;
        std::istringstream words(l.value);
        for (std::string w; words >> w;) {
            unsigned v = 0;
            auto [p, ec] = std::from_chars(w.data(), w.data() + w.size(), v, 16);
            if (w.size() > 2 || ec != std::errc() || p != w.data() + w.size())
                return Fail(l.number, "noise= wants bytes in hexadecimal such as '55 AA', not '" + l.value + "'");
            bytes += static_cast<char>(v);
        }
        if (bytes.empty())
            return Fail(l.number, "noise= names no byte");
        m_fault.noise = bytes;
        return true;
    }
    return Fail(l.number, "unknown key '" + k + "' in a fault section");
}

bool Parser::NoiseKey(const Line& l)
{
    if (l.key == "rate") {
        char* end = nullptr;
        const double rate = std::strtod(l.value.c_str(), &end);
        if (l.value.empty() || *end != '\0' || !(rate >= 0.0 && rate <= 1.0))
            return Fail(l.number, "rate= wants a chance from 0 to 1 such as 0.02, not '" + l.value + "'");
        m_noise.rate = rate;
        return true;
    }
    int32_t v = 0;
    if (l.key == "seed")
        return Int(l, v, 0, INT32_MAX) && ((m_noise.seed = static_cast<unsigned>(v)), true);
    if (l.key == "burst")
        return Int(l, m_noise.burst, 1, 64);
    return Fail(l.number, "unknown key '" + l.key + "' in the noise section");
}

bool Parser::FinishSection()
{
    switch (m_section) {
    case Section::None: return true;
    case Section::Noise:
        m_section = Section::None;
        return true;
    case Section::Unit:
        m_section = Section::None;
        return FinishUnit();
    case Section::Fault:
        m_section = Section::None;
        if (!m_bHaveKind)
            return Fail(m_sectionLine, "a fault section without kind=");
        m_faults.push_back(m_fault);
        return true;
    }
    return true;
}

}  // namespace

bool LoadBusFile(const std::string& path, SimBus& bus, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read: " + std::strerror(errno);
        return false;
    }
    return Parser(path, bus, error).Run(in);
}

}  // namespace unitsim
