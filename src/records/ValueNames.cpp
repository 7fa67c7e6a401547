#include "records/ValueNames.h"

#include <charconv>
#include <cstdio>

#include "config/TextMemory.h"
#include "unit/Unit.h"

namespace records {

namespace {

constexpr int kTextZone = 49;
constexpr int kTextParam = 50;
constexpr int kTextSetValue = 52;
constexpr int kTextGlobal = 181;

// U+00B7 between two spaces, in UTF-8 as every text of the window.
constexpr const char* kSeparator = " \xC2\xB7 ";

std::string Numbered(const std::string& label, int n)
{
    char number[16];
    std::snprintf(number, sizeof number, " %02d", n);
    return label + number;
}

// A number of one to three digits at the front of text; the rest is left.
bool TakeNumber(std::string_view& text, int& value)
{
    const char* first = text.data();
    const char* last = first + std::min<std::size_t>(text.size(), 3);
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end == first || *first == '-' || *first == '+')
        return false;
    text.remove_prefix(static_cast<std::size_t>(end - first));
    return true;
}

bool TakePrefix(std::string_view& text, std::string_view prefix)
{
    if (text.substr(0, prefix.size()) != prefix)
        return false;
    text.remove_prefix(prefix.size());
    return true;
}

}  // namespace

ValueLabels LabelsOf(const CTextMemory& texts)
{
    ValueLabels labels;
    labels.zone = texts.GetTextOr(kTextZone, labels.zone);
    labels.param = texts.GetTextOr(kTextParam, labels.param);
    labels.setValue = texts.GetTextOr(kTextSetValue, labels.setValue);
    labels.global = texts.GetTextOr(kTextGlobal, labels.global);
    return labels;
}

std::string ValueName(const SendItem& item, const ValueLabels& labels, const std::string& globalDescription)
{
    switch (item.kind) {
    case SendItem::Kind::Global: {
        std::string name = Numbered(labels.global, item.index);
        if (!globalDescription.empty())
            name += kSeparator + globalDescription;
        return name;
    }
    case SendItem::Kind::SetValue: return Numbered(labels.zone, item.zone) + kSeparator + labels.setValue;
    case SendItem::Kind::ZoneParam:
        return Numbered(labels.zone, item.zone) + kSeparator + Numbered(labels.param, item.index);
    }
    return {};
}

std::string ValueName(const SendItem& item, const ValueLabels& labels, const CUnit& catalogue)
{
    std::string description;
    if (item.kind == SendItem::Kind::Global)
        catalogue.GetParamDescription(item.index, description);
    return ValueName(item, labels, description);
}

bool ParseWhere(const std::string& where, SendItem& item)
{
    std::string_view text = where;
    SendItem parsed;
    int first = 0;
    if (TakePrefix(text, "Global ")) {
        if (!TakeNumber(text, first) || !text.empty() || first < 1)
            return false;
        parsed.kind = SendItem::Kind::Global;
        parsed.index = static_cast<int16_t>(first);
    } else if (TakePrefix(text, "Zone")) {
        int param = 0;
        if (!TakeNumber(text, first) || first < 1 || !TakePrefix(text, " P") || !TakeNumber(text, param) ||
            !text.empty())
            return false;
        parsed.kind = param == 0 ? SendItem::Kind::SetValue : SendItem::Kind::ZoneParam;
        parsed.zone = static_cast<int16_t>(first);
        parsed.index = static_cast<int16_t>(param);
    } else {
        return false;
    }
    item = parsed;
    return true;
}

}  // namespace records
