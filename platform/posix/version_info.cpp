// POSIX files carry no version information.
#include "platform/version_info.h"

namespace platform {

std::string FileVersion(std::string_view) {
  return {};
}

} // namespace platform
