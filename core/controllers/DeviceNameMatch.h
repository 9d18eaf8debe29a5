#pragma once
// Name tests shared by the controller and player matchers.
#include <initializer_list>
#include <string_view>

namespace zelvo {

// Whether `name`, upper-cased (ASCII letters only; other bytes as they are),
// contains any of `needles` (given in upper case). Any thread.
bool upperNameContains(std::string_view name, std::initializer_list<std::string_view> needles);

} // namespace zelvo
