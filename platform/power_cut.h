// The power-cut simulation of the seam's test variant (fault.h): what a disk
// holds of a folder tree after losing power, kept from the changes the seam
// reports. Not for use outside fault.cpp.
#pragma once

#include <string_view>

#include "platform/fault.h"

namespace platform::detail::power {

// Takes everything below `root` as on the disk: the state a cut goes back to
// for what is not flushed later.
void Start(std::string_view root, bool namesLost, bool torn);
void Noted(const fault::TEvent &event);
// Closes the files the run holds open and makes the tree what the disk
// would hold now.
void Cut();

} // namespace platform::detail::power
