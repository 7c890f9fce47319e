// The named fields of the settings record, the administration header and the
// package record as zrktool lists them: shown as JSON under the code's field
// names and set from FIELD=VALUE arguments, on the records' raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tools {

using TJson = nlohmann::ordered_json;

enum class TFieldKind {
  Text,   // short string of Capacity characters, Windows-1252
  Int32,  // little-endian signed
  Byte,   // 0..255
  Date,   // int32 day number, also shown as a calendar date
  Time,   // int32 second of the day, also shown as hh:mm:ss
  Result, // int32 run result, also shown with its meaning
};

struct TFieldSpec {
  const char *Name;
  TFieldKind Kind;
  std::size_t Offset;
  std::size_t Capacity = 0; // texts only
  int Count = 1;            // > 1: entries 1..Count, Stride bytes apart
  std::size_t Stride = 0;
};

const std::vector<TFieldSpec> &SettingsFields();
const std::vector<TFieldSpec> &HeaderFields();
const std::vector<TFieldSpec> &PackageFields();

// Every field of `specs` read from `bytes`, in record order. Dates, times and
// results get a second key (Name + "Calendar", "Clock", "Meaning") with their
// readable form; the field itself stays a number.
TJson FieldsToJson(const std::vector<TFieldSpec> &specs, const std::uint8_t *bytes);

// Applies "Name=Value" or "Name[i]=Value" to `bytes`. Texts are UTF-8 and are
// stored as Windows-1252; a text that does not fit its field is refused, not
// cut. False with a message in `error` on any problem; `bytes` is then as
// it was for this assignment.
bool ApplyAssignment(const std::vector<TFieldSpec> &specs, std::string_view assignment,
                     std::uint8_t *bytes, std::string &error);

} // namespace tools
