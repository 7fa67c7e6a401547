// The bus: parses telegrams, finds the unit, applies the injected faults and
// frames the unit's answer.
#include "unitsim/SimBus.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "unitsim/SimUnit.h"

namespace unitsim {

namespace {

constexpr char kEtx = 0x03;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;

std::string Hex2(uint8_t v)
{
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(v));
    return buf;
}

int AddressOf(char a, char b, bool bHex)
{
    auto digit = [bHex](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (bHex && c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    const int hi = digit(a), lo = digit(b);
    if (hi < 0 || lo < 0)
        return -1;
    return hi * (bHex ? 16 : 10) + lo;
}

struct Parsed
{
    SimRequest request;
    std::string addressChars;  // echoed in the answer
};

// Takes the frame that starts at the first start letter from which the
// checksum works out, so that stray bytes before a telegram do not cost it;
// when none does, the frame from the first start letter, marked bad.
Parsed Parse(const std::string& telegram)
{
    Parsed first;
    bool haveFirst = false;
    for (std::size_t i = 0; i < telegram.size(); ++i) {
        if (telegram[i] != 'G' && telegram[i] != 'g')
            continue;
        std::size_t end = telegram.find(kEtx, i);
        if (end == std::string::npos)
            end = telegram.size();
        const std::string body = telegram.substr(i, end - i);
        if (body.size() < 5)
            continue;
        Parsed p;
        p.request.bHex = body[0] == 'g';
        p.addressChars = body.substr(1, 2);
        p.request.address = AddressOf(body[1], body[2], p.request.bHex);
        p.request.text = body.substr(3, body.size() - 5);
        p.request.bChecksumOk = body.compare(body.size() - 2, 2, Hex2(SimBus::Checksum(body.substr(0, body.size() - 2)))) == 0;
        if (p.request.bChecksumOk)
            return p;
        if (!haveFirst) {
            first = p;
            haveFirst = true;
        }
    }
    if (!haveFirst) {
        first.request.address = -1;
        first.request.text = telegram;
        if (!first.request.text.empty() && first.request.text.back() == kEtx)
            first.request.text.pop_back();
    }
    return first;
}

bool Matches(const SimFault& f, const SimRequest& r)
{
    return f.times != 0 && (f.address == 0 || f.address == r.address) &&
           (f.pattern.empty() || r.text.find(f.pattern) != std::string::npos);
}

void UseUp(SimFault& f)
{
    if (f.times > 0)
        --f.times;
}

}  // namespace

uint8_t SimBus::Checksum(const std::string& bytes)
{
    unsigned sum = 0;
    for (unsigned char c : bytes)
        sum += c;
    return static_cast<uint8_t>(sum & 0xFF);
}

void SimBus::AddUnit(SimUnitConfig unit)
{
    detail::Normalize(unit);
    std::lock_guard<std::mutex> lock(m_mutex);
    SimUnitConfig standard = unit;
    if (!unit.standardSetValues.empty())
        standard.setValues = unit.standardSetValues;
    Heating heating;
    heating.temperatures.assign(unit.actualValues.begin(), unit.actualValues.end());
    heating.last = std::chrono::steady_clock::now();
    heating.noiseState = static_cast<uint32_t>(unit.address) * 2654435761u + 1u;
    m_units.push_back(std::move(unit));
    m_standard.push_back(std::move(standard));
    m_heating.push_back(std::move(heating));
}

void SimBus::AddFault(const SimFault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.push_back(fault);
}

void SimBus::ClearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

void SimBus::SetNoise(const SimNoise& noise)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_noise = noise;
    m_noise.burst = std::max(noise.burst, 1);
    m_random.seed(noise.seed);
    m_nNoiseEvents = 0;
}

long SimBus::NoiseEvents() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nNoiseEvents;
}

std::string SimBus::AddNoise(const std::string& bytes)
{
    if (m_noise.rate <= 0.0 || bytes.empty())
        return bytes;
    std::bernoulli_distribution hit(std::min(m_noise.rate, 1.0));
    std::uniform_int_distribution<int> kind(0, 2), length(1, m_noise.burst), byte(0, 255);
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        if (!hit(m_random)) {
            out += bytes[i++];
            continue;
        }
        ++m_nNoiseEvents;
        const int run = length(m_random);
        switch (kind(m_random)) {
        case 0:  // replaced
            for (int k = 0; k < run && i < bytes.size(); ++k, ++i)
                out += static_cast<char>(byte(m_random));
            break;
        case 1:  // inserted before this byte
            for (int k = 0; k < run; ++k)
                out += static_cast<char>(byte(m_random));
            out += bytes[i++];
            break;
        default:  // dropped
            i += std::min<std::size_t>(static_cast<std::size_t>(run), bytes.size() - i);
            break;
        }
    }
    return out;
}

SimUnitConfig* SimBus::UnitAt(int address)
{
    for (SimUnitConfig& u : m_units)
        if (u.address == address)
            return &u;
    return nullptr;
}

std::vector<SimRequest> SimBus::Requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void SimBus::ClearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

void SimBus::SetRequestObserver(std::function<void(const SimRequest&)> observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

bool SimBus::IsRestarting(std::size_t unit, std::chrono::steady_clock::time_point now)
{
    // Finished restarts are dropped as they are noticed.
    m_restarts.erase(std::remove_if(m_restarts.begin(), m_restarts.end(),
                                    [now](const Restart& r) { return r.until <= now; }),
                     m_restarts.end());
    return std::any_of(m_restarts.begin(), m_restarts.end(), [unit](const Restart& r) { return r.unit == unit; });
}

void SimBus::Heat(std::size_t unit, std::chrono::steady_clock::time_point now)
{
    SimUnitConfig& u = m_units[unit];
    Heating& h = m_heating[unit];
    if (u.heatSeconds <= 0.0)
        return;
    const double dt = std::chrono::duration<double>(now - h.last).count();
    h.last = now;
    // The share of the remaining way covered in dt, the same however the
    // polls fall.
    const double share = 1.0 - std::exp(-std::max(dt, 0.0) / u.heatSeconds);
    for (std::size_t z = 0; z < u.actualValues.size() && z < h.temperatures.size(); ++z) {
        const bool bCold = std::find(u.coldZones.begin(), u.coldZones.end(), static_cast<int>(z) + 1) != u.coldZones.end();
        if (!bCold)
            h.temperatures[z] += (u.setValues[z] - h.temperatures[z]) * share;
        int noise = 0;
        if (u.heatNoise > 0) {
            // A small generator of its own: the same noise on every run.
            h.noiseState = h.noiseState * 1664525u + 1013904223u;
            noise = static_cast<int>((h.noiseState >> 8) % static_cast<uint32_t>(2 * u.heatNoise + 1)) - u.heatNoise;
        }
        u.actualValues[z] = static_cast<int32_t>(std::lround(h.temperatures[z])) + noise;
    }
}

void SimBus::LoadStandardValues(std::size_t unit)
{
    SimUnitConfig& u = m_units[unit];
    const SimUnitConfig& s = m_standard[unit];
    u.setValues = s.setValues;
    u.zoneParams = s.zoneParams;
    u.globals = s.globals;
    // The actual values are measured, not parameters: they stay.
    if (u.type.find("TORVA") != std::string::npos)
        u.address = 1;
}

SimBus::Reply SimBus::Handle(const std::string& telegram)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Parsed parsed = Parse(telegram);
    const SimRequest& request = parsed.request;
    m_requests.push_back(request);
    if (m_observer)
        m_observer(request);
    const long before = m_nTelegrams++;

    Reply reply;
    for (SimFault& f : m_faults) {
        if (f.kind == FaultKind::Disconnect && before >= f.afterRequests && Matches(f, request)) {
            UseUp(f);
            reply.bDisconnect = true;
            return reply;
        }
    }
    if (!request.bChecksumOk)
        return reply;

    // The first unit at the address that is not busy restarting; with two
    // units at one address (a unit that came back at 1 where another was),
    // the one added first answers.
    const auto now = std::chrono::steady_clock::now();
    std::size_t index = m_units.size();
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        if (m_units[i].address == request.address && !IsRestarting(i, now)) {
            index = i;
            break;
        }
    }
    if (index == m_units.size())
        return reply;

    // Measured when asked for, so that what a unit answers is what it held
    // at that moment.
    if (request.text.find("II") != std::string::npos)
        Heat(index, now);

    bool bSilence = false, bNak = false, bBadSum = false, bLower = false;
    bool bSecond = false;
    int twinDelay = -1;
    int valuesShort = 0, valuesLong = 0;
    int otherAddress = -1;
    std::vector<std::pair<int, std::string>> inserts;
    std::string noise;
    for (SimFault& f : m_faults) {
        if (f.kind == FaultKind::Disconnect || !Matches(f, request))
            continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        UseUp(f);
        switch (f.kind) {
        case FaultKind::Silence: bSilence = true; break;
        case FaultKind::Nak: bNak = true; break;
        case FaultKind::BadChecksum: bBadSum = true; break;
        case FaultKind::LowerCase: bLower = true; break;
        case FaultKind::Noise: noise += f.noise; break;
        case FaultKind::Delay: reply.delayMs += f.delayMs; break;
        case FaultKind::Disconnect: break;
        case FaultKind::OtherAddress: otherAddress = f.otherAddress; break;
        case FaultKind::SecondAnswer: bSecond = true; break;
        case FaultKind::Twin: twinDelay = std::max(twinDelay, f.delayMs); break;
        case FaultKind::Insert: inserts.emplace_back(f.offset, f.noise); break;
        case FaultKind::ValuesShort: ++valuesShort; break;
        case FaultKind::ValuesLong: ++valuesLong; break;
        case FaultKind::Reset: {
            // Gone for a moment, back with another configuration; this
            // request is lost with it.
            SimUnitConfig& unit = m_units[index];
            unit.zones = f.zones;
            if (f.width == 4 || f.width == 5)
                unit.valueWidth = f.width;
            detail::Normalize(unit);
            const auto span = std::chrono::milliseconds(std::max(f.delayMs, 0));
            m_restarts.push_back({index, now + span});
            bSilence = true;
            break;
        }
        }
    }
    if (bSilence) {
        reply.delayMs = 0;
        return reply;
    }

    std::string answer;
    if (bNak) {
        answer = {kNak, kEtx};
    } else {
        detail::UnitAnswer a = detail::Answer(m_units[index], request.bHex, request.text);
        switch (a.kind) {
        case detail::AnswerKind::Silence:
            reply.delayMs = 0;
            return reply;
        case detail::AnswerKind::Ack:
            answer = {kAck, kEtx};
            break;
        case detail::AnswerKind::Nak:
            answer = {kNak, kEtx};
            break;
        case detail::AnswerKind::Value: {
            const int width = m_units[index].valueWidth;
            for (; valuesShort > 0 && a.value.size() >= static_cast<std::size_t>(width); --valuesShort)
                a.value.resize(a.value.size() - static_cast<std::size_t>(width));
            for (; valuesLong > 0; --valuesLong)
                a.value += a.value.substr(0, static_cast<std::size_t>(width));
            std::string addressChars = parsed.addressChars;
            if (otherAddress >= 0) {
                char text[8];
                std::snprintf(text, sizeof text, request.bHex ? "%02X" : "%02d", otherAddress & 0xFF);
                addressChars = text;
            }
            answer = std::string(1, request.bHex ? 'g' : 'G') + addressChars + ":" + a.value;
            uint8_t sum = Checksum(answer);
            if (bBadSum)
                sum = static_cast<uint8_t>(sum + 1);
            std::string digits = Hex2(sum);
            if (bLower)
                for (char& c : digits)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            answer += digits;
            answer += kEtx;
            break;
        }
        }
        if (a.bRestart) {
            LoadStandardValues(index);
            const auto span = std::chrono::duration<double>(std::max(0.0, m_units[index].restartSeconds));
            m_restarts.push_back({index, now + std::chrono::duration_cast<std::chrono::steady_clock::duration>(span)});
        }
    }
    if (twinDelay >= 0) {
        reply.twinBytes = answer;
        reply.twinDelayMs = twinDelay;
    }
    for (const auto& [offset, bytes] : inserts)
        answer.insert(std::min(answer.size(), static_cast<std::size_t>(std::max(offset, 0))), bytes);
    if (bSecond)
        answer += answer;
    reply.bytes = AddNoise(noise + answer);
    return reply;
}

}  // namespace unitsim
