// Test helper: tries to take the single-instance claim named on its command
// line and says whether it got it ("acquired", exit 0) or not ("busy", exit 3).
#include <cstdio>

#include "platform/instance.h"

int main(int argc, char **argv) {
  if (argc < 2)
    return 2;
  platform::TSingleInstance instance;
  const bool acquired = instance.Acquire(argv[1]);
  std::fputs(acquired ? "acquired" : "busy", stdout);
  return acquired ? 0 : 3;
}
