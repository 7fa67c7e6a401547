#include "platform/SerialPorts.h"

#include <cctype>

namespace platform {

int PortNumberOfName(const std::string& name)
{
    std::string rest = name;
    if (rest.rfind("\\\\.\\", 0) == 0)
        rest = rest.substr(4);
    if (rest.size() < 4 || rest.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(rest[i])) != "COM"[i])
            return 0;
    }
    int n = 0;
    for (std::size_t i = 3; i < rest.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(rest[i])) || (i == 3 && rest[i] == '0'))
            return 0;
        n = n * 10 + (rest[i] - '0');
    }
    return n <= 255 ? n : 0;
}

}  // namespace platform
