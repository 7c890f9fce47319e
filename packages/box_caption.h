// Caption of the message boxes that the packages subsystem shows itself: the
// program's title, as the framework's plain message boxes carry it.
#pragma once

#include <string_view>

namespace packages {

constexpr std::string_view BoxCaption = "zrkupd";

} // namespace packages
