// Recipe files: one unit's parameter set as a profile file.
//
// A recipe of a large unit has some two hundred keys. Writing them one by one
// through the profile layer would rewrite the whole file for every key, so
// the writer builds the text in one pass, byte for byte as those key-by-key
// writes into a new file would leave it, and replaces the file once. The
// reader likewise parses the file once, with the profile reader's rules.
#include "recipe/Recipe.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "config/IniFile.h"
#include "config/TextMemory.h"
#include "platform/FileInfo.h"
#include "platform/LocalTime.h"
#include "platform/ProfileFile.h"
#include "unit/Unit.h"

namespace {

constexpr std::time_t kStampOffset = 7200;  // the stamp runs two hours ahead of universal time
constexpr std::size_t kStampMax = 128;
constexpr int kColumn = 6;
constexpr int32_t kColumnMin = -99999;
constexpr int32_t kColumnMax = 999999;
constexpr int32_t kFiveDigits = 10000;

// --- Writing ----------------------------------------------------------------

// The text of a new profile file, written section by section, key by key.
class ProfileText
{
public:
    void Section(const char* name)
    {
        m_text += '[';
        m_text += name;
        m_text += "]\r\n";
    }
    // False when the encoded value could not be stored (or read back whole).
    bool Key(const std::string& key, const std::string& value)
    {
        const std::string encoded = CIniFile::Encode(value);
        if (encoded.size() > platform::kProfileValueMax)
            return false;
        m_text += key;
        m_text += '=';
        m_text += encoded;
        m_text += "\r\n";
        return true;
    }
    const std::string& Text() const { return m_text; }
    void Reserve(std::size_t n) { m_text.reserve(n); }

private:
    std::string m_text;
};

std::string Format2(const char* pattern, int n)
{
    char text[16];
    std::snprintf(text, sizeof text, pattern, n);
    return text;
}

// "%6d" without the cost of printf, which dominated the save of a large unit.
void AppendColumn(std::string& line, int32_t value)
{
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    const auto length = static_cast<std::size_t>(end - digits);
    if (length < kColumn)
        line.append(kColumn - length, ' ');
    line.append(digits, length);
}

bool FitsColumn(int32_t value) { return value >= kColumnMin && value <= kColumnMax; }

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A recipe read once, its values decoded; empty where the file holds none.
// It also knows the line of every key of the recipe's sections, and the
// first key that a section repeats: a file that gives one value twice says
// two things, and whichever a reader took it would be the wrong one.
class RecipeFile
{
public:
    explicit RecipeFile(const std::string& text) : m_index(text)
    {
        static const char* const kSections[] = {"HEADER", "UNIT", "GLOBAL_PARAMETERS", "ZONE_PARAMETERS"};
        const std::vector<std::string_view> lines = platform::SplitProfileLines(text);
        std::string section;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const int number = static_cast<int>(i) + 1;
            if (const auto name = platform::ProfileHeaderName(lines[i])) {
                section.clear();
                for (const char* known : kSections) {
                    if (platform::SameProfileName(*name, known))
                        section = Lower(known);
                }
                // A reader takes the first section of a name only: what a
                // second one says would be passed over without a word.
                if (!section.empty())
                    Note(number, section, "the section [" + std::string(*name) + "]");
                continue;
            }
            const std::size_t equals = lines[i].find('=');
            if (section.empty() || equals == std::string_view::npos)
                continue;
            std::string_view key = lines[i].substr(0, equals);
            while (!key.empty() && (key.front() == ' ' || key.front() == '\t'))
                key.remove_prefix(1);
            while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
                key.remove_suffix(1);
            Note(number, section + '\x1f' + Lower(key), "the key " + std::string(key));
        }
    }
    std::string Get(const std::string& section, const std::string& key) const
    {
        const std::optional<std::string> value = m_index.Value(section, key);
        return value ? CIniFile::Decode(*value) : std::string();
    }
    // "line 12: " for a key of the file, empty when it has none.
    std::string LineOf(const std::string& section, const std::string& key) const
    {
        const auto it = m_lines.find(Lower(section) + '\x1f' + Lower(key));
        return it == m_lines.end() ? std::string() : "line " + std::to_string(it->second) + ": ";
    }
    const std::string& Repeat() const { return m_strRepeat; }

private:
    void Note(int number, const std::string& id, const std::string& what)
    {
        const auto [it, bNew] = m_lines.try_emplace(id, number);
        if (!bNew && m_strRepeat.empty())
            m_strRepeat = "line " + std::to_string(number) + ": " + what + " is given a second time (first at line " +
                          std::to_string(it->second) + ")";
    }

    platform::ProfileIndex m_index;
    std::unordered_map<std::string, int> m_lines;
    std::string m_strRepeat;
};

// Blanks, an optional sign, digits, and then the end (bRestAfterBlank: or a
// blank and anything, as in "250 - Setpoint").
bool IsWholeNumber(std::string_view text, bool bRestAfterBlank)
{
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string_view::npos)
        return false;
    if (text[i] == '-' || text[i] == '+')
        ++i;
    const std::size_t digits = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
        ++i;
    if (i == digits)
        return false;
    return i == text.size() || (bRestAfterBlank && text[i] == ' ');
}

int32_t ToInt32(const std::string& text)
{
    return static_cast<int32_t>(std::clamp<long>(ToNumber(text), INT32_MIN, INT32_MAX));
}

// A zone line as a row of six-character columns. The profile reader drops
// the leading blanks of the first column; they are restored first.
class ZoneLine
{
public:
    explicit ZoneLine(std::string line)
    {
        if (const std::size_t rest = line.size() % kColumn)
            line.insert(0, kColumn - rest, ' ');
        m_line = std::move(line);
    }
    int Columns() const { return static_cast<int>(m_line.size() / kColumn); }
    bool Has(int column) const { return column < Columns(); }
    int32_t Column(int column) const { return ToInt32(Text(column)); }
    // The first column that is not a whole number, -1 when all are.
    int BadColumn() const
    {
        for (int c = 0; c < Columns(); ++c) {
            if (!IsWholeNumber(Text(c), false))
                return c;
        }
        return -1;
    }

private:
    std::string Text(int column) const { return m_line.substr(static_cast<std::size_t>(column) * kColumn, kColumn); }
    std::string m_line;
};

std::string ColumnName(int column)
{
    if (column == 0)
        return "the actual value";
    if (column == 1)
        return "the set value";
    return "P" + Format2("%02d", column - 1);
}

// Why the file is not a recipe that can be taken as it stands: a value that
// is not a whole number, a zone line shorter than the recipe's others, a
// repeated key. Empty when there is nothing wrong. Each reason names its
// line.
std::string Damage(const RecipeFile& file, int globals)
{
    if (!file.Repeat().empty())
        return file.Repeat();
    for (const char* key : {"AZ-Number", "EPROM#", "Version"}) {
        const std::string value = file.Get("UNIT", key);
        if (!value.empty() && !IsWholeNumber(value, false))
            return file.LineOf("UNIT", key) + key + " '" + value + "' is not a whole number";
    }
    for (int i = 1; i <= globals; ++i) {
        const std::string key = Format2("%02d", i);
        const std::string value = file.Get("GLOBAL_PARAMETERS", key);
        if (!value.empty() && !IsWholeNumber(value, true))
            return file.LineOf("GLOBAL_PARAMETERS", key) + "global parameter " + key + " '" + value +
                   "' does not begin with a whole number";
    }
    // The column count every zone line must have: the labels' line, else the
    // first zone line.
    const std::string labels = file.Get("ZONE_PARAMETERS", "Descr.");
    int columns = labels.rfind("Act", 0) == 0 ? ZoneLine(labels).Columns() : -1;
    for (int z = 1; z <= kMaxZones; ++z) {
        const std::string key = Format2("Zone%02d", z);
        const std::string raw = file.Get("ZONE_PARAMETERS", key);
        if (raw.empty())
            break;
        const ZoneLine line(raw);
        if (const int bad = line.BadColumn(); bad >= 0)
            return file.LineOf("ZONE_PARAMETERS", key) + ColumnName(bad) + " of zone " + std::to_string(z) +
                   " is not a whole number";
        if (columns < 0)
            columns = line.Columns();
        if (line.Columns() < columns)
            return file.LineOf("ZONE_PARAMETERS", key) + "zone " + std::to_string(z) + " has " +
                   std::to_string(line.Columns()) + " columns where the recipe has " + std::to_string(columns) +
                   " (the line is cut short)";
    }
    return {};
}

}  // namespace

std::string RecipeFileName(const std::string& path)
{
    const auto sep = path.find_last_of("/\\");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

std::string RecipeStamp(std::time_t now, const std::string& pattern)
{
    const std::time_t stamp = now + kStampOffset;
    const std::tm utc = platform::UtcTimeOf(stamp);
    if (utc.tm_mday == 0)
        return {};
    char text[kStampMax];
    const std::size_t n = std::strftime(text, sizeof text, pattern.c_str(), &utc);
    return std::string(text, n);
}

bool WriteRecipe(CUnit& unit, const CTextMemory& texts, const std::string& path)
{
    return WriteRecipe(unit, texts, path, std::time(nullptr));
}

bool WriteRecipe(CUnit& unit, const CTextMemory& texts, const std::string& path, std::time_t now)
{
    const std::optional<std::string> text = RecipeText(unit, texts, RecipeFileName(path), now);
    return text && platform::ReplaceFileAtomically(path, *text);
}

std::optional<std::string> RecipeText(CUnit& unit, const CTextMemory& texts, const std::string& fileName,
                                      std::time_t now)
{
    const int zones = std::clamp<int32_t>(unit.QueryZoneCount(), 0, kMaxZones);
    const int params = std::clamp<int32_t>(unit.QueryZoneParamCount(), 0, kMaxZoneParams);

    // Each zone's row once: actual value, set value, zone parameters. A wider
    // number than a column would run into its neighbour and read back as
    // something else.
    const int columns = params + 2;
    std::vector<int32_t> rows(static_cast<std::size_t>(zones) * static_cast<std::size_t>(columns));
    for (int z = 1; z <= zones; ++z) {
        const auto zone = static_cast<int16_t>(z);
        int32_t* row = &rows[static_cast<std::size_t>(z - 1) * static_cast<std::size_t>(columns)];
        row[0] = unit.ReadActualValue(zone);
        row[1] = unit.ReadSetValue(zone);
        for (int j = 1; j <= params; ++j)
            row[1 + j] = unit.ReadZoneParam(zone, static_cast<int16_t>(j));
    }
    if (!std::all_of(rows.begin(), rows.end(), FitsColumn))
        return std::nullopt;

    ProfileText out;
    out.Reserve(256 + static_cast<std::size_t>(zones + 1) * (12 + kColumn * (params + 2)));
    bool bOk = true;

    out.Section("HEADER");
    bOk &= out.Key("ID", kRecipeId);
    bOk &= out.Key("FileName", fileName);
    bOk &= out.Key("Date", RecipeStamp(now, texts.GetDatePattern()));
    bOk &= out.Key("Time", RecipeStamp(now, texts.GetTimePattern()));
    if (!unit.GetComment().empty())
        bOk &= out.Key("Comment", unit.GetComment());

    out.Section("UNIT");
    bOk &= out.Key("AZ-Number", std::to_string(unit.QueryAZNumber()));
    bOk &= out.Key("Unit-Type", unit.QueryType());
    bOk &= out.Key("EPROM#", std::to_string(unit.QueryEpromNumber()));
    bOk &= out.Key("Version", std::to_string(unit.QueryVersion()));
    bOk &= out.Key("Rev.Date", unit.QueryRevDate());

    // The section exists only once a key is written into it.
    const bool bEnglish = texts.GetLanguageName() == "English";
    bool bGlobalSection = false;
    for (int i = 1; i <= unit.GetGlobalParamCount(); ++i) {
        const int32_t value = unit.ReadGlobalParam(static_cast<int16_t>(i));
        const GlobalParamDef* def = unit.GetGlobalParamDef(i);
        if (value == -1 || !def)
            continue;
        if (!bGlobalSection) {
            out.Section("GLOBAL_PARAMETERS");
            bGlobalSection = true;
        }
        const std::string& description = bEnglish ? def->pDescriptionE : def->pDescriptionD;
        bOk &= out.Key(Format2("%02d", i), std::to_string(value) + " - " + description);
    }

    out.Section("ZONE_PARAMETERS");
    std::string line = "   Act   Set";
    for (int j = 1; j <= params; ++j)
        line += Format2("   P%02d", j);
    bOk &= out.Key("Descr.", line);
    for (int z = 1; z <= zones; ++z) {
        line.clear();
        const int32_t* row = &rows[static_cast<std::size_t>(z - 1) * static_cast<std::size_t>(columns)];
        for (int c = 0; c < columns; ++c)
            AppendColumn(line, row[c]);
        bOk &= out.Key(Format2("Zone%02d", z), line);
    }

    if (!bOk)
        return std::nullopt;
    return out.Text();
}

RecipeResult ReadRecipe(CUnit& unit, const std::string& path, std::string* problem)
{
    std::string ignored;
    std::string& why = problem ? *problem : ignored;
    why.clear();
    const platform::FileInfo info = platform::InfoOf(path);
    if (!info.bExists) {
        why = info.error.empty() ? "there is no such file" : info.error;
        return RecipeResult::NotARecipe;
    }
    if (!info.bRegular || info.nSize > kMaxRecipeBytes) {
        why = info.bRegular ? "the file is too large for a recipe" : "it is not a plain file";
        return RecipeResult::NotARecipe;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
        why = "the file cannot be read";
        return RecipeResult::NotARecipe;
    }
    const RecipeFile file(bytes.str());
    if (file.Get("HEADER", "ID") != kRecipeId) {
        why = "it has no recipe marker";
        return RecipeResult::NotARecipe;
    }
    why = Damage(file, unit.GetGlobalParamCount());
    if (!why.empty())
        return RecipeResult::NotARecipe;

    const bool bOffline = unit.IsOffline();
    const long az = ToNumber(file.Get("UNIT", "AZ-Number"));
    // An AZ number beyond 16 bits belongs to no unit of this kind; cut to
    // 16 bits, 65548 would pass for 12.
    if (az < INT16_MIN || az > INT16_MAX) {
        if (bOffline)
            why = file.LineOf("UNIT", "AZ-Number") + "the AZ number " + std::to_string(az) + " is beyond 16 bits";
        return bOffline ? RecipeResult::NotARecipe : RecipeResult::OtherUnit;
    }
    if (!bOffline && az != unit.QueryAZNumber())
        return RecipeResult::OtherUnit;

    // From here on the file is accepted; nothing above changed the record.
    if (bOffline) {
        unit.SetAZNumber(static_cast<int16_t>(az));
        unit.SetType(file.Get("UNIT", "Unit-Type"));
        unit.SetEpromNumber(ToInt32(file.Get("UNIT", "EPROM#")));
        unit.SetVersion(ToInt32(file.Get("UNIT", "Version")));
        unit.SetRevDate(file.Get("UNIT", "Rev.Date"));
    }
    unit.SetComment(file.Get("HEADER", "Comment"));

    // Offline the file is the whole unit, so what it lacks is absent; with a
    // unit selected what it lacks keeps the unit's value.
    for (int i = 1; i <= unit.GetGlobalParamCount(); ++i) {
        const std::string value = file.Get("GLOBAL_PARAMETERS", Format2("%02d", i));
        if (!value.empty())
            unit.WriteGlobalParam(static_cast<int16_t>(i), ToInt32(value));
        else if (bOffline)
            unit.WriteGlobalParam(static_cast<int16_t>(i), -1);
    }

    int16_t width = 4;
    int params = bOffline ? 0 : std::clamp<int32_t>(unit.QueryZoneParamCount(), 0, kMaxZoneParams);
    int zones = 0;
    for (int z = 1; z <= kMaxZones; ++z) {
        const std::string raw = file.Get("ZONE_PARAMETERS", Format2("Zone%02d", z));
        if (raw.empty())
            break;
        const ZoneLine zoneLine(raw);
        const auto zone = static_cast<int16_t>(z);
        if (z == 1 && bOffline) {
            params = std::clamp(zoneLine.Columns() - 2, 0, kMaxZoneParams);
            unit.SetZoneParamCount(params);
        }
        if (bOffline)
            unit.SetActualValue(zone, zoneLine.Column(0));
        // Column 1 is the set value, column 1 + j zone parameter j.
        for (int j = 0; j <= params; ++j) {
            const int column = 1 + j;
            if (!zoneLine.Has(column) && !bOffline)
                continue;
            const int32_t value = zoneLine.Has(column) ? zoneLine.Column(column) : 0;
            if (j == 0)
                unit.WriteSetValue(zone, value);
            else
                unit.WriteZoneParam(zone, static_cast<int16_t>(j), value);
            if (value >= kFiveDigits)
                width = 5;
        }
        zones = z;
    }
    if (bOffline) {
        unit.SetZoneCount(zones);
        unit.SetValueWidth(width);
    }
    return RecipeResult::Loaded;
}
