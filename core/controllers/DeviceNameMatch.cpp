#include "controllers/DeviceNameMatch.h"

#include <string>

namespace zelvo {

bool upperNameContains(std::string_view name, std::initializer_list<std::string_view> needles)
{
    std::string upper(name);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    for (auto needle : needles) {
        if (upper.find(needle) != std::string::npos)
            return true;
    }
    return false;
}

} // namespace zelvo
