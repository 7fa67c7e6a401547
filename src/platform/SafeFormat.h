#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// One argument of a user-editable format pattern.
using FormatArg = std::variant<long long, std::string>;

// Formats a pattern that comes from a file a user can edit (a language text).
// Only conversions that match the next expected argument are substituted, in
// order: %d / %i / %u / %x / %X for a number, %s for a text, with printf's
// flags (-+ #0), width and precision (a width or precision above 1000 is
// printed as it stands instead), and %% for a percent sign. Any other
// conversion, %n, %*d, a conversion whose argument has the other type, and
// conversions beyond the arguments are copied as they stand; a copied
// conversion does not use up an argument. Arguments left over are ignored.
// '#' takes effect with %x and %X only; a text is padded with blanks.
std::string SafeFormat(const std::string& pattern, const std::vector<FormatArg>& args);

}  // namespace platform
