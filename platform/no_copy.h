// A base for the classes that own an OS object (a file, a claim): one owner
// each, so none of them can be copied.
#pragma once

namespace platform {

class TNoCopy {
public:
  TNoCopy(const TNoCopy &) = delete;
  TNoCopy &operator=(const TNoCopy &) = delete;

protected:
  TNoCopy() = default;
  ~TNoCopy() = default;
};

} // namespace platform
