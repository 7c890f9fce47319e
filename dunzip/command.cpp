// Decoding of the command record: reads the fields field by field at the
// offsets of this build's layout and runs the function code.
#include <algorithm>
#include <cstring>
#include <new>

#include "dunzip/dunzip_command.h"
#include "dunzip/extract.h"
#include "platform/files.h"

namespace dunzip {

namespace {

std::string TextAt(const std::uint8_t *record, std::size_t offset) {
  const char *text = static_cast<const char *>(GetPointer(record, offset));
  return text == nullptr ? std::string() : std::string(text);
}

bool FlagAt(const std::uint8_t *record, std::size_t offset) {
  return GetU32(record, offset) != 0;
}

template <typename TEntry> TEntry EntryAt(const std::uint8_t *record, std::size_t offset) {
  return reinterpret_cast<TEntry>(GetPointer(record, offset));
}

// The failing entry's name into the caller's item-information buffer, when
// the buffer is there and says it is large enough.
void ReportItem(const std::uint8_t *record, const std::string &item) {
  auto *buffer = static_cast<std::uint8_t *>(GetPointer(record, Cmd.ItemInfoBuffer));
  if (buffer == nullptr || GetU32(buffer, 0) < ItemInfoBufferSize)
    return;
  const std::size_t length = std::min(item.size(), ItemNameMax);
  std::memcpy(buffer + ItemNameOffset, item.data(), length);
  buffer[ItemNameOffset + length] = 0;
}

} // namespace

std::int32_t RunCommand(void *command) noexcept {
  try {
    if (command == nullptr)
      return dzBadCommand;
    auto *record = static_cast<std::uint8_t *>(command);
    if (GetU32(record, Cmd.RecordSize) != CommandSize)
      return dzBadCommand;
    if (GetI32(record, Cmd.FunctionCode) != FcExtract)
      return dzNotSupported;
    if (GetPointer(record, Cmd.ZipFile) == nullptr ||
        GetPointer(record, Cmd.Destination) == nullptr)
      return dzBadCommand;

    TExtractRequest request;
    request.ZipFile = TextAt(record, Cmd.ZipFile);
    request.FileSpec = TextAt(record, Cmd.FileSpec);
    request.Destination = TextAt(record, Cmd.Destination);
    request.IndexofItem = GetI32(record, Cmd.IndexofItem);
    request.OverWrite = FlagAt(record, Cmd.OverWriteFlag);
    request.NoDirectoryNames = FlagAt(record, Cmd.NoDirectoryNamesFlag);
    request.NoDirectoryItems = FlagAt(record, Cmd.NoDirectoryItemsFlag);
    request.Test = FlagAt(record, Cmd.TestFlag);
    request.SubOptions = GetU16(record, Cmd.SubOptions);
    request.MinorStatus = EntryAt<TStatusEntry>(record, Cmd.MinorStatusEntry);
    request.MinorUserData = GetPointer(record, Cmd.MinorUserData);
    request.MajorStatus = EntryAt<TStatusEntry>(record, Cmd.MajorStatusEntry);
    request.MajorUserData = GetPointer(record, Cmd.MajorUserData);
    request.Message = EntryAt<TMessageEntry>(record, Cmd.MessageEntry);
    request.MessageUserData = GetPointer(record, Cmd.MessageUserData);

    std::uint32_t extracted = 0;
    TExtractFailure failure;
    TDunzipResult result = Extract(request, extracted, &failure);
    if (result == dzOk) {
      PutU32(record, Cmd.ReturnCount, extracted);
      return result;
    }
    ReportItem(record, failure.Item);
    // Last of all: nothing after it may change the thread's error.
    platform::HandOverError(failure.OsError);
    return result;
  } catch (...) {
    return dzInternal;
  }
}

} // namespace dunzip
