#include "platform/SafeFormat.h"

#include <charconv>
#include <cstdio>

namespace platform {

namespace {

constexpr int kMaxField = 1000;

enum class Kind { Percent, Signed, Unsigned, Text, Invalid };

struct Conversion
{
    Kind kind = Kind::Invalid;
    bool bLeft = false;
    bool bPlus = false;
    bool bSpace = false;
    bool bAlt = false;
    bool bZero = false;
    int nWidth = -1;      // -1: none given
    int nPrecision = -1;  // -1: none given
    char chConv = 0;
    std::size_t nEnd = 0;  // index just past the conversion
};

// Reads decimal digits at pos; a value above kMaxField is kept as
// kMaxField + 1, so that a long run of digits cannot overflow.
int ReadField(const std::string& s, std::size_t& pos)
{
    int value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        if (value <= kMaxField)
            value = value * 10 + (s[pos] - '0');
        ++pos;
    }
    return value;
}

Conversion ParseConversion(const std::string& s, std::size_t start)
{
    Conversion c;
    std::size_t pos = start + 1;
    if (pos < s.size() && s[pos] == '%') {
        c.kind = Kind::Percent;
        c.nEnd = pos + 1;
        return c;
    }
    for (; pos < s.size(); ++pos) {
        const char f = s[pos];
        if (f == '-') c.bLeft = true;
        else if (f == '+') c.bPlus = true;
        else if (f == ' ') c.bSpace = true;
        else if (f == '#') c.bAlt = true;
        else if (f == '0') c.bZero = true;
        else break;
    }
    if (pos < s.size() && s[pos] >= '1' && s[pos] <= '9')
        c.nWidth = ReadField(s, pos);
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        c.nPrecision = ReadField(s, pos);
    }
    if (pos >= s.size()) {
        c.nEnd = s.size();
        return c;
    }
    // A '%' here starts the next conversion; leave it to be read as such.
    if (s[pos] == '%') {
        c.nEnd = pos;
        return c;
    }
    c.chConv = s[pos];
    c.nEnd = pos + 1;
    if (c.nWidth > kMaxField || c.nPrecision > kMaxField)
        return c;
    switch (c.chConv) {
    case 'd': case 'i': c.kind = Kind::Signed; break;
    case 'u': case 'x': case 'X': c.kind = Kind::Unsigned; break;
    case 's': c.kind = Kind::Text; break;
    default: break;
    }
    return c;
}

// The printf format is built here from parsed, bounded fields and a fixed
// conversion letter; the user's pattern itself never reaches snprintf.
std::string FormatNumber(const Conversion& c, long long value)
{
    char fmt[32];
    std::size_t n = 0;
    fmt[n++] = '%';
    if (c.bLeft) fmt[n++] = '-';
    if (c.bPlus) fmt[n++] = '+';
    if (c.bSpace) fmt[n++] = ' ';
    // '#' is defined for the hexadecimal forms only.
    if (c.bAlt && (c.chConv == 'x' || c.chConv == 'X')) fmt[n++] = '#';
    if (c.bZero) fmt[n++] = '0';
    char* const fmtEnd = fmt + sizeof fmt;
    char* p = fmt + n;
    if (c.nWidth >= 0)
        p = std::to_chars(p, fmtEnd, c.nWidth).ptr;
    if (c.nPrecision >= 0) {
        *p++ = '.';
        p = std::to_chars(p, fmtEnd, c.nPrecision).ptr;
    }
    *p++ = 'l';
    *p++ = 'l';
    *p++ = c.chConv;
    *p = '\0';

    // Width and precision are at most kMaxField, a long long at most 20
    // digits plus sign or prefix: the result always fits.
    char buf[2 * kMaxField + 64];
    int len;
    if (c.kind == Kind::Signed)
        len = std::snprintf(buf, sizeof buf, fmt, value);
    else
        len = std::snprintf(buf, sizeof buf, fmt, static_cast<unsigned long long>(value));
    if (len < 0)
        return std::string();
    return std::string(buf, static_cast<std::size_t>(len) < sizeof buf ? len : sizeof buf - 1);
}

std::string FormatText(const Conversion& c, const std::string& value)
{
    std::string text = value;
    if (c.nPrecision >= 0 && text.size() > static_cast<std::size_t>(c.nPrecision))
        text.resize(c.nPrecision);
    if (c.nWidth > 0 && text.size() < static_cast<std::size_t>(c.nWidth)) {
        const std::string pad(c.nWidth - text.size(), ' ');
        text = c.bLeft ? text + pad : pad + text;
    }
    return text;
}

}  // namespace

std::string SafeFormat(const std::string& pattern, const std::vector<FormatArg>& args)
{
    std::string out;
    out.reserve(pattern.size() + 32);
    std::size_t nextArg = 0;
    std::size_t pos = 0;
    while (pos < pattern.size()) {
        const std::size_t pct = pattern.find('%', pos);
        if (pct == std::string::npos) {
            out.append(pattern, pos, std::string::npos);
            break;
        }
        out.append(pattern, pos, pct - pos);
        const Conversion c = ParseConversion(pattern, pct);
        pos = c.nEnd;

        if (c.kind == Kind::Percent) {
            out += '%';
            continue;
        }
        const FormatArg* arg = nextArg < args.size() ? &args[nextArg] : nullptr;
        if ((c.kind == Kind::Signed || c.kind == Kind::Unsigned) && arg &&
            std::holds_alternative<long long>(*arg)) {
            out += FormatNumber(c, std::get<long long>(*arg));
            ++nextArg;
        } else if (c.kind == Kind::Text && arg && std::holds_alternative<std::string>(*arg)) {
            out += FormatText(c, std::get<std::string>(*arg));
            ++nextArg;
        } else {
            out.append(pattern, pct, c.nEnd - pct);
        }
    }
    return out;
}

}  // namespace platform
