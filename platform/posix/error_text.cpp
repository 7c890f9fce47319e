// Texts for the Windows error numbers that the POSIX build maps its errno
// values to, worded as Windows words them.
#include "platform/error_text.h"

namespace platform {

namespace {

struct TErrorText {
  int Error;
  const char *Text;
};

constexpr TErrorText ErrorTexts[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {17, "The system cannot move the file to a different disk drive."},
    {29, "The system cannot write to the specified device."},
    {31, "A device attached to the system is not functioning."},
    {32, "The process cannot access the file because it is being used by another process."},
    {39, "The disk is full."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {112, "There is not enough space on the disk."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
};

} // namespace

std::string ErrorText(int error) {
  std::string text = "Error";
  for (const auto &e : ErrorTexts)
    if (e.Error == error)
      text = e.Text;
  return text + " (" + std::to_string(error) + ")";
}

} // namespace platform
