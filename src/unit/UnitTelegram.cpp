// The telegram layer: framing, checksum, retries and the answer decoders.
#include <algorithm>
#include <cstdio>
#include <string_view>

#include "unit/BusTrace.h"
#include "unit/Unit.h"

namespace {

constexpr char kEtx = 0x03;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
constexpr int kTries = 3;
// Letter, three characters, two checksum digits, ETX.
constexpr std::size_t kShortestAnswer = 7;

// The usual decimal conversion over [begin, end): blanks, sign, digits.
int32_t ParseDecimal(const char* p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = (*p++ == '-');
    int64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        value = value * 10 + (*p - '0');
    return static_cast<int32_t>(negative ? -value : value);
}

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

// A single value in hexadecimal numbering, a two's complement number in the
// digits the unit gives: eight digits are 32 bits (as the tool itself writes
// a negative value); otherwise the value width of digits, sign-extended from
// their top bit (FFFF4 in width 5 is -12). A field that holds fewer hex
// digits than the width is damaged or short and reads as the plain number of
// the digits there; none read as 0.
int32_t ParseHexValue(const char* p, const char* end, std::size_t width)
{
    constexpr std::size_t kFullDigits = 8;
    std::size_t digits = 0;
    while (digits < kFullDigits && p + digits < end && HexDigit(p[digits]) >= 0)
        ++digits;
    const std::size_t used = (digits == kFullDigits) ? kFullDigits : std::min(digits, width);
    uint32_t value = 0;
    for (std::size_t i = 0; i < used; ++i)
        value = value * 16 + static_cast<uint32_t>(HexDigit(p[i]));
    if (used == width && used < kFullDigits && used > 0) {
        const uint32_t top = uint32_t{1} << (4 * used - 1);
        if (value & top)
            value |= ~((top << 1) - 1);
    }
    return static_cast<int32_t>(value);
}

// A value field exactly as a unit writes it: decimal digits after an
// optional leading minus, or hexadecimal digits (two's complement of the
// field's width, as ParseHexValue reads it). Nothing else: no blank, no
// plus, no empty field.
bool ParseField(std::string_view field, bool bHex, int64_t& value)
{
    if (field.empty())
        return false;
    if (bHex) {
        for (char c : field) {
            if (HexDigit(c) < 0)
                return false;
        }
        value = ParseHexValue(field.data(), field.data() + field.size(), field.size());
        return true;
    }
    const bool negative = field[0] == '-';
    const std::string_view digits = field.substr(negative ? 1 : 0);
    if (digits.empty())
        return false;
    int64_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    value = negative ? -number : number;
    return true;
}

}  // namespace

uint8_t CUnit::Checksum(const std::string& text)
{
    unsigned sum = 0;
    for (unsigned char c : text)
        sum += c;
    return static_cast<uint8_t>(sum & 0xFF);
}

std::string CUnit::Transact(const std::string& request, bool bHex, const AnswerShape& shape)
{
    m_eLastFailure = TransactFailure::NoAnswer;
    if (m_nAddress == 0 || !m_Port.IsOpen())
        return {};

    char head[8];
    if (bHex)
        std::snprintf(head, sizeof head, "g%02X", static_cast<unsigned>(static_cast<uint16_t>(m_nAddress)) & 0xFFFFu);
    else
        std::snprintf(head, sizeof head, "G%02d", static_cast<int>(m_nAddress));
    std::string telegram = head + request;
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", Checksum(telegram));
    telegram += sum;
    telegram += kEtx;

    const char startLetter = bHex ? 'g' : 'G';
    // Whether the line carried anything since the first telegram went out:
    // a unit that answers later than we wait answers each try in turn, and
    // whatever it still owes must not be taken for the next request.
    bool bLineSpoke = false;
    m_bLastSilentTry = false;
    int faultTries = 0;
    int otherAddressTries = 0;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        // Bytes that came since the last answer was watched: behind it
        // (another answer to it), or the tail of an answer to an earlier
        // try of this request.
        const std::string stale = m_Port.DiscardInput();
        if (!stale.empty() && (attempt == 0 || !m_bLastSilentTry)) {
            // Owed by no try of ours that went unanswered: a surplus answer.
            LineFault(request, stale);
        } else {
            TraceDiscardedAnswer(m_nAddress, request, stale);
            bLineSpoke = bLineSpoke || !stale.empty();
        }
        m_Port.Write(telegram);
        std::string answer;
        m_Port.Read(answer, 0);
        bLineSpoke = bLineSpoke || m_Port.GetLastReadBytes() > 0;
        m_bLastSilentTry = m_bLastSilentTry || (m_Port.GetLastReadBytes() == 0 && m_Port.GetLastEarlyBytes().empty());
        CBusTrace* const trace = ActiveBusTrace();
        const std::string early = m_Port.GetLastEarlyBytes();
        if (!early.empty()) {
            // Not this request's answer, and what came after it may be
            // another's too: this try is lost.
            if (trace)
                trace->Line(m_nAddress, request, early + answer, TraceOutcome::EarlyAnswer);
            ++faultTries;
            LineFault(request, {});
            continue;
        }
        // The trace shows the bytes as they came, noise included.
        const std::string received = trace ? answer : std::string();

        std::size_t start = answer.find(startLetter);
        if (start != std::string::npos && start > 0)
            answer.erase(0, start);

        TraceOutcome outcome = JudgeAnswer(answer, head, bHex, shape);
        // One answer per request: bytes right behind it (a second unit at
        // this address, an echo) make it one that cannot be trusted.
        if (outcome == TraceOutcome::Answer || outcome == TraceOutcome::Ack || outcome == TraceOutcome::Nak ||
            outcome == TraceOutcome::OtherAddress) {
            if (m_Port.BytesFollowAnswer())
                outcome = TraceOutcome::SecondAnswer;
        }
        if (trace)
            trace->Line(m_nAddress, request, received, received.empty() ? TraceOutcome::NoAnswer : outcome);
        if (outcome == TraceOutcome::SecondAnswer) {
            // Another answer than the one asked for is on the line.
            ++faultTries;
            LineFault(request, {});
            continue;
        }
        if (outcome == TraceOutcome::BadAnswer && CheckAnswer(answer)) {
            // A whole telegram, but not this request's answer: one owed to
            // an earlier request, which may have taken another's place.
            LineFault(request, {});
            continue;
        }
        if (outcome == TraceOutcome::OtherAddress) {
            // A unit that always answers so is told by the failure; one
            // such answer among ours is a stray on the line.
            ++otherAddressTries;
            ++m_nOtherAddressAnswers;
            continue;
        }
        if (outcome == TraceOutcome::Answer || outcome == TraceOutcome::Ack || outcome == TraceOutcome::Nak) {
            if (otherAddressTries > 0) {
                LineFault(request, {});
            } else if (attempt > 0) {
                // The answer may be the late one to an earlier try of this
                // same request; the ones still owed must not be taken for
                // the next request. That is no line fault: a unit late with
                // every answer would otherwise never be received whole.
                TraceDiscardedAnswer(m_nAddress, request, m_Port.LetLineGoQuiet(LateAnswerQuietMs()));
            }
            m_eLastFailure = TransactFailure::None;
            return answer;
        }
    }
    if (bLineSpoke)
        TraceDiscardedAnswer(m_nAddress, request, m_Port.LetLineGoQuiet(LateAnswerQuietMs()));
    if (faultTries == kTries)
        m_eLastFailure = TransactFailure::SecondAnswer;
    else if (otherAddressTries == kTries)
        m_eLastFailure = TransactFailure::OtherAddress;
    else if (bLineSpoke || faultTries + otherAddressTries > 0)
        m_eLastFailure = TransactFailure::BadAnswer;
    return {};
}

void CUnit::LineFault(const std::string& request, const std::string& bytes)
{
    ++m_nLineFaults;
    TraceDiscardedAnswer(m_nAddress, request, bytes + m_Port.LetLineGoQuiet(LateAnswerQuietMs()));
}

bool CUnit::SettleLine()
{
    if (!m_Port.IsOpen())
        return true;
    const std::string stale = m_Port.DiscardInput();
    if (stale.empty())
        return true;
    LineFault("", stale);
    return false;
}

bool CUnit::WatchLine()
{
    if (!m_Port.IsOpen() || !m_Port.BytesFollowExchange())
        return true;
    LineFault("", {});
    return false;
}

TraceOutcome CUnit::JudgeAnswer(const std::string& answer, const std::string& head, bool bHex,
                                const AnswerShape& shape) const
{
    if (answer.empty())
        return TraceOutcome::NoAnswer;
    // ACK and NAK count only as a short acknowledgement: the byte alone, or
    // after at most the start letter and three characters, then ETX.
    const std::size_t control = answer.find_first_of(std::string{kAck, kNak});
    if (control != std::string::npos) {
        const bool bAlone = answer.size() == 1;
        const bool bShort = control + 2 == answer.size() && answer.back() == kEtx && control <= 4 &&
                            (control == 0 || answer[0] == head[0]);
        if (!bAlone && !bShort)
            return CheckAnswer(answer) ? TraceOutcome::BadAnswer : TraceOutcome::BadChecksum;
        // One that carries address characters must carry ours: in the
        // request's numbering, or in decimal, as some units acknowledge.
        // Every write is read back, so an acknowledgement cannot put a
        // wrong value anywhere.
        char decimal[8];
        std::snprintf(decimal, sizeof decimal, "%02d", static_cast<int>(m_nAddress));
        if (m_bCheckAnswerAddress && control >= 3 && answer.compare(1, 2, head, 1, 2) != 0 &&
            answer.compare(1, 2, decimal, 0, 2) != 0)
            return TraceOutcome::OtherAddress;
        return answer[control] == kAck ? TraceOutcome::Ack : TraceOutcome::Nak;
    }
    if (!CheckAnswer(answer))
        return TraceOutcome::BadChecksum;
    if (answer[0] != head[0])
        return TraceOutcome::BadAnswer;
    if (m_bCheckAnswerAddress && answer.compare(1, 2, head, 1, 2) != 0)
        return TraceOutcome::OtherAddress;
    return AnswerFits(answer, bHex, shape) ? TraceOutcome::Answer : TraceOutcome::BadAnswer;
}

bool CUnit::AnswerFits(const std::string& answer, bool bHex, const AnswerShape& shape) const
{
    if (shape.kind == AnswerShape::Kind::Any)
        return true;
    if (answer.size() < kShortestAnswer)
        return false;
    const std::string_view field(answer.data() + 4, answer.size() - kShortestAnswer);
    if (shape.kind == AnswerShape::Kind::Text)
        return std::all_of(field.begin(), field.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (shape.kind == AnswerShape::Kind::Number) {
        // A width still to be learned is learned from this answer: 4 or 5.
        const bool bWidthOk = m_nValueWidth == 0 ? (field.size() == 4 || field.size() == 5)
                                                 : field.size() == static_cast<std::size_t>(m_nValueWidth) ||
                                                       (bHex && field.size() == 8);
        int64_t value = 0;
        if (!bWidthOk || !ParseField(field, bHex, value))
            return false;
        return value >= shape.nMin && value <= shape.nMax;
    }
    // Values: always decimal, in the learned width only.
    if (m_nValueWidth != 4 && m_nValueWidth != 5)
        return false;
    const std::size_t width = static_cast<std::size_t>(m_nValueWidth);
    if (field.size() % width != 0)
        return false;
    const auto count = static_cast<int64_t>(field.size() / width);
    if (count < shape.nMin || count > shape.nMax)
        return false;
    for (std::size_t pos = 0; pos < field.size(); pos += width) {
        int64_t value = 0;
        if (!ParseField(field.substr(pos, width), false, value))
            return false;
    }
    return true;
}

int CUnit::LateAnswerQuietMs() const
{
    return kTries * m_Port.GetByteWaitMs();
}

bool CUnit::CheckAnswer(const std::string& answer)
{
    const std::size_t length = answer.size();
    if (length < kShortestAnswer)
        return false;
    char expected[4];
    std::snprintf(expected, sizeof expected, "%02X", Checksum(answer.substr(0, length - 3)));
    return answer.compare(length - 3, 2, expected) == 0;
}

std::string CUnit::AnswerText(const std::string& answer)
{
    if (!CheckAnswer(answer))
        return {};
    std::string text = answer.substr(4, answer.size() - 7);
    std::size_t last = text.find_last_not_of(" \t\r\n\v\f");
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

int32_t CUnit::AnswerNumber(const std::string& answer, bool bHex)
{
    if (!CheckAnswer(answer))
        return -1;
    if (m_nValueWidth == 0)
        m_nValueWidth = (answer.size() == 11) ? 4 : 5;

    // Only the value field counts: never digits of the checksum.
    const char* field = answer.data() + 4;
    const std::size_t fieldLength = answer.size() - kShortestAnswer;
    const std::size_t width = static_cast<std::size_t>(std::max<int16_t>(m_nValueWidth, 0));
    if (bHex)
        return ParseHexValue(field, field + fieldLength, width);
    return ParseDecimal(field, field + std::min(width, fieldLength));
}

bool CUnit::AnswerValueList(const std::string& answer, int32_t* destination)
{
    if (!CheckAnswer(answer))
        return false;
    // A row is whole or not taken: one value per zone in the learned width.
    // Without a known width and zone count the values cannot be told apart.
    if (!RowShapeKnown() || !AnswerFits(answer, false, AnswerShape::Values(m_nZoneCount, m_nZoneCount)))
        return false;

    const std::size_t width = static_cast<std::size_t>(m_nValueWidth);
    for (int zone = 0; zone < m_nZoneCount; ++zone) {
        const char* value = answer.data() + 4 + static_cast<std::size_t>(zone) * width;
        destination[zone] = ParseDecimal(value, value + width);
    }
    return true;
}

bool CUnit::RowShapeKnown() const
{
    return m_nZoneCount >= 1 && m_nZoneCount <= kMaxZones && (m_nValueWidth == 4 || m_nValueWidth == 5);
}
