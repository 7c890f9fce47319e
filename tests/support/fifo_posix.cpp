// FIFOs on POSIX.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "tests/support/test_support.h"

namespace testing_support {

bool MakeFifo(std::string_view path) {
  return mkfifo(platform::NativePath(path).c_str(), 0666) == 0;
}

bool RemoveFifo(std::string_view path) {
  return unlink(platform::NativePath(path).c_str()) == 0;
}

} // namespace testing_support
