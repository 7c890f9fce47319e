// TLPStr: the holder of one zero-terminated single-byte text that the unzip
// component hands to the library by address. A fixed holder keeps a buffer of
// set size; otherwise the buffer is made to fit each new text.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

namespace packages {

class TLPStr {
public:
  // Capacity 0: not fixed, nothing held. Otherwise fixed with that capacity.
  explicit TLPStr(std::uint16_t capacity = 0);
  TLPStr(const TLPStr &) = delete;
  TLPStr &operator=(const TLPStr &) = delete;
  virtual ~TLPStr() = default;

  // Null while nothing is held.
  const char *GetText() const { return Text.get(); }
  std::uint16_t Capacity() const { return Cap; }
  [[nodiscard]] bool Fixed() const { return IsFixed; }

  // A null source leaves the holder empty. A fixed holder takes at most
  // capacity - 1 characters; otherwise the holder takes a copy of it all.
  virtual void SetText(const char *source);
  void SetText(std::string_view source);
  // A fixed holder keeps its buffer with an empty text; otherwise the buffer goes.
  virtual void Clear();
  // 0 marks the holder not fixed; the current capacity only marks it fixed;
  // any other size gets a new buffer with the text cut to fit.
  void SetCapacity(std::uint16_t n);

  // The text, or the empty text when nothing is held.
  virtual void CopyTextTo(std::string &variable) const;
  // Reads the rest of the stream as the text: at most capacity bytes, or 32768
  // when not fixed. False ("Line too long") when that limit is reached; the
  // holder is then unchanged.
  virtual bool LoadFromStream(std::istream &stream);
  // The characters without the terminator; nothing when empty.
  virtual void SaveToStream(std::ostream &stream) const;

  // The form-resource property "PChar": the characters and the terminating
  // zero, stored only when the text is not empty.
  static constexpr std::string_view PropertyName = "PChar";
  [[nodiscard]] bool StoredProperty(std::string &bytes) const;
  void ReadProperty(std::string_view bytes);

private:
  std::unique_ptr<char[]> Text;
  std::uint16_t Cap = 0;
  bool IsFixed = false;
};

} // namespace packages
