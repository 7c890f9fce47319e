// The result message of an update run: a title and up to twenty lines that one
// routine turns into the text of a system message box, with the icon and
// button choice given by two small numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/window.h"
#include "util/short_string.h"

namespace platform {
class TCopyFormView;
}

namespace update {

// The dialog's window interface lives with the views that draw it.
using platform::TCopyFormView;

constexpr std::size_t MessageTitleCapacity = 100;
constexpr std::size_t MessageLineCapacity = 100;
constexpr int MessageLineCount = 20;
constexpr std::size_t SubstitutionCapacity = 128;
constexpr int SubstitutionCount = 9;
// Body buffer of the box, terminating zero included.
constexpr std::size_t MessageBodyBufferSize = 3000;

struct TMessageRecord {
  util::TShortString Title;
  // Lines[0] is body line 1.
  std::array<util::TShortString, MessageLineCount> Lines;

  void Clear();
  // Both cut the text to the field's capacity of 100.
  void SetTitle(std::string_view text);
  // `line` counts from 1 to 20; other numbers change nothing.
  void SetLine(int line, std::string_view text);
  const util::TShortString &Line(int line) const {
    return Lines[static_cast<std::size_t>(line - 1)];
  }
};

// Replacements for the placeholders "/&1&\" to "/&9&\"; entry 0 is text 1.
// Empty for the whole run: nothing in this program assigns them.
extern std::array<util::TShortString, SubstitutionCount> SubstitutionTexts;
// `number` 1 to 9; the text is cut to 128 characters.
void SetSubstitutionText(int number, std::string_view text);

void ExpandPlaceholders(util::TShortString &line);

// Line 1 always starts the body; later lines that are empty after expansion
// are left out, the others follow a CR LF. A body that would not fit the
// 3000-byte buffer with its terminating zero is cut to 2999 characters.
std::string BuildMessageBody(const TMessageRecord &record);
std::uint32_t MessageStyle(std::uint8_t iconKind, std::uint8_t buttonKind);

// Beeps, then shows the record as a message box owned by `owner`; returns the
// button identifier.
int ShowMessageRecord(platform::THandle owner, std::uint8_t iconKind, std::uint8_t buttonKind,
                      const TMessageRecord &record);
// The same, with the box shown by the dialog's view.
int ShowMessageRecord(TCopyFormView &view, std::uint8_t iconKind, std::uint8_t buttonKind,
                      const TMessageRecord &record);

constexpr std::uint8_t SuccessIconKind = 2;
constexpr std::uint8_t FailureIconKind = 4;

// Both clear the record first.
void BuildSuccessMessage(TMessageRecord &record);
void BuildFailureMessage(TMessageRecord &record, std::int32_t runResult);

} // namespace update
