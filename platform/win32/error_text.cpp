// Windows error texts from the system's message table.
#include <windows.h>

#include "platform/error_text.h"

namespace platform {

std::string ErrorText(int error) {
  char *buffer = nullptr;
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : "";
  if (buffer != nullptr)
    LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (text.empty())
    text = "Error";
  return text + " (" + std::to_string(error) + ")";
}

} // namespace platform
