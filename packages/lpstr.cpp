// TLPStr: a zero-terminated text in a buffer of its own, fixed-size or fitted.
#include "packages/lpstr.h"

#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace packages {

namespace {
constexpr std::size_t UnfixedStreamLimit = 32768;
// The capacity is 16 bits wide; a longer text is cut to fit.
constexpr std::size_t MaxTextLength = std::numeric_limits<std::uint16_t>::max() - 1;
} // namespace

TLPStr::TLPStr(std::uint16_t capacity) {
  IsFixed = capacity != 0;
  if (IsFixed)
    SetCapacity(capacity);
}

void TLPStr::SetText(const char *source) {
  Clear();
  if (source == nullptr)
    return;
  SetText(std::string_view(source));
}

void TLPStr::SetText(std::string_view source) {
  Clear();
  std::size_t end = source.find('\0');
  if (end != std::string_view::npos)
    source = source.substr(0, end);
  if (Text) {
    std::size_t n = source.size() < Cap - 1u ? source.size() : Cap - 1u;
    std::memcpy(Text.get(), source.data(), n);
    Text[n] = '\0';
    return;
  }
  std::size_t n = source.size() < MaxTextLength ? source.size() : MaxTextLength;
  std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
  if (!copy)
    return;
  std::memcpy(copy.get(), source.data(), n);
  copy[n] = '\0';
  Text = std::move(copy);
  Cap = static_cast<std::uint16_t>(n + 1);
}

void TLPStr::Clear() {
  if (IsFixed && Text) {
    Text[0] = '\0';
    return;
  }
  Text.reset();
  Cap = 0;
}

void TLPStr::SetCapacity(std::uint16_t n) {
  if (n == 0) {
    IsFixed = false;
    return;
  }
  if (n == Cap) {
    IsFixed = true;
    return;
  }
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[n]);
  if (!buffer)
    return;
  std::size_t keep = Text ? std::strlen(Text.get()) : 0;
  if (keep > n - 1u)
    keep = n - 1u;
  if (keep != 0)
    std::memcpy(buffer.get(), Text.get(), keep);
  buffer[keep] = '\0';
  Text = std::move(buffer);
  Cap = n;
  IsFixed = true;
}

void TLPStr::CopyTextTo(std::string &variable) const {
  variable = Text ? std::string(Text.get()) : std::string();
}

bool TLPStr::LoadFromStream(std::istream &stream) {
  std::size_t limit = IsFixed ? Cap : UnfixedStreamLimit;
  std::vector<char> bytes(limit + 1, '\0');
  stream.read(bytes.data(), static_cast<std::streamsize>(limit));
  auto count = static_cast<std::size_t>(stream.gcount());
  if (count >= limit)
    return false;
  bytes[count] = '\0';
  SetText(static_cast<const char *>(bytes.data()));
  return true;
}

void TLPStr::SaveToStream(std::ostream &stream) const {
  if (Text && Text[0] != '\0')
    stream.write(Text.get(), static_cast<std::streamsize>(std::strlen(Text.get())));
}

bool TLPStr::StoredProperty(std::string &bytes) const {
  if (!Text || Text[0] == '\0')
    return false;
  bytes.assign(Text.get(), std::strlen(Text.get()) + 1);
  return true;
}

void TLPStr::ReadProperty(std::string_view bytes) {
  SetText(bytes);
}

} // namespace packages
