// Field tables of the three records, built from the layout constants of
// admin/, and their JSON view and FIELD=VALUE editing.
#include "tools/record_fields.h"

#include "admin/admin_records.h"
#include "admin/settings.h"
#include "tools/codepage.h"
#include "tools/values.h"

namespace tools {

namespace {

using namespace admin;
using K = TFieldKind;

TJson ValueToJson(const TFieldSpec &spec, const std::uint8_t *bytes, std::size_t offset) {
  switch (spec.Kind) {
  case K::Text:
    return Cp1252ToUtf8(fields::GetText(bytes, offset, spec.Capacity).View());
  case K::Byte:
    return bytes[offset];
  default:
    return util::GetI32(bytes, offset);
  }
}

bool StoreValue(const TFieldSpec &spec, std::string_view value, std::uint8_t *bytes,
                std::size_t offset, std::string &error) {
  std::string name = spec.Name;
  switch (spec.Kind) {
  case K::Text: {
    std::string text;
    if (!Utf8ToCp1252(value, text)) {
      error = name + ": the text is not UTF-8 or has a character Windows-1252 cannot store";
      return false;
    }
    if (text.size() > spec.Capacity) {
      error = name + ": the text has " + std::to_string(text.size()) + " characters, the field " +
              "holds " + std::to_string(spec.Capacity);
      return false;
    }
    fields::SetText(bytes, offset, spec.Capacity, text);
    return true;
  }
  case K::Byte: {
    auto v = ParseInteger(value, 0, 255);
    if (!v) {
      error = name + ": expected a number from 0 to 255, got \"" + std::string(value) + "\"";
      return false;
    }
    bytes[offset] = static_cast<std::uint8_t>(*v);
    return true;
  }
  case K::Int32:
  case K::Result: {
    auto v = ParseInteger(value, INT32_MIN, INT32_MAX);
    if (!v) {
      error = name + ": expected a 32-bit number, got \"" + std::string(value) + "\"";
      return false;
    }
    util::PutI32(bytes, offset, static_cast<std::int32_t>(*v));
    return true;
  }
  case K::Date: {
    auto v = ParseDayNumber(value);
    if (!v) {
      error = name + ": expected a day number, YYYY-MM-DD or DD.MM.YYYY, got \"" +
              std::string(value) + "\"";
      return false;
    }
    util::PutI32(bytes, offset, *v);
    return true;
  }
  case K::Time: {
    auto v = ParseSecondOfDay(value);
    if (!v) {
      error =
          name + ": expected hh:mm:ss or seconds 0 to 86399, got \"" + std::string(value) + "\"";
      return false;
    }
    util::PutI32(bytes, offset, *v);
    return true;
  }
  }
  return false;
}

std::string FieldList(const std::vector<TFieldSpec> &specs) {
  std::string list;
  for (const auto &s : specs) {
    if (!list.empty())
      list += ", ";
    list += s.Name;
    if (s.Count > 1)
      list += "[1.." + std::to_string(s.Count) + "]";
  }
  return list;
}

} // namespace

const std::vector<TFieldSpec> &SettingsFields() {
  static const std::vector<TFieldSpec> specs = {
      {"AdminSeed", K::Int32, AdminSeedOffset},
      {"AdminFileName", K::Text, AdminFileNameOffset, SettingsFileNameCapacity},
      {"DownloadFileName", K::Text, DownloadFileNameOffset, SettingsFileNameCapacity},
      {"UpdateTitle", K::Text, UpdateTitleOffset, TitleCapacity},
      {"DialogCaption", K::Text, DialogCaptionOffset, TitleCapacity},
      {"BrandText", K::Text, BrandTextOffset, BrandTextCapacity},
      {"OptionByte", K::Byte, OptionByteOffset},
      {"ExtraText1", K::Text, ExtraText1Offset, ExtraText1Capacity},
      {"ExtraNumber1", K::Int32, ExtraNumber1Offset},
      {"ExtraText2", K::Text, ExtraText2Offset, ExtraTextCapacity},
      {"ExtraText3", K::Text, ExtraText3Offset, ExtraTextCapacity},
      {"ExtraNumber2", K::Int32, ExtraNumber2Offset},
      {"ExtraNumber3", K::Int32, ExtraNumber3Offset},
  };
  return specs;
}

const std::vector<TFieldSpec> &HeaderFields() {
  static const std::vector<TFieldSpec> specs = {
      {"DestFolders", K::Text, DestFoldersOffset, FolderCapacity, DestFolderCount, DestFolderWidth},
      {"DownloadFolder", K::Text, DownloadFolderOffset, FolderCapacity},
      {"StagingFolder", K::Text, StagingFolderOffset, FolderCapacity},
      {"VersionText", K::Text, VersionTextOffset, VersionTextCapacity},
      {"VersionDate", K::Date, VersionDateOffset},
      {"UpdatePending", K::Byte, UpdatePendingOffset},
      {"VersionNumber", K::Int32, VersionNumberOffset},
      {"VersionDate2", K::Date, VersionDate2Offset},
      {"LastResult", K::Result, LastResultOffset},
      {"LastRunDate", K::Date, LastRunDateOffset},
      {"LastRunTime", K::Time, LastRunTimeOffset},
      {"OptionFlag1", K::Byte, OptionFlag1Offset},
      {"OptionFlag2", K::Byte, OptionFlag2Offset},
      {"OfferedVersionText", K::Text, OfferedVersionTextOffset, VersionTextCapacity},
      {"OfferedVersionDate", K::Date, OfferedVersionDateOffset},
  };
  return specs;
}

const std::vector<TFieldSpec> &PackageFields() {
  static const std::vector<TFieldSpec> specs = {
      {"PackageFileName", K::Text, PackageFileNameOffset, PackageFileNameCapacity},
      {"InstalledInfo", K::Int32, InstalledInfoOffset, 0, PackageInfoCount, 4},
      {"OfferedInfo", K::Int32, OfferedInfoOffset, 0, PackageInfoCount, 4},
      {"InstallPending", K::Byte, InstallPendingOffset},
      {"DestIndex", K::Byte, DestIndexOffset},
      {"PackageReady", K::Byte, PackageReadyOffset},
  };
  return specs;
}

TJson FieldsToJson(const std::vector<TFieldSpec> &specs, const std::uint8_t *bytes) {
  TJson object = TJson::object();
  for (const auto &spec : specs) {
    if (spec.Count > 1) {
      TJson list = TJson::array();
      for (int i = 0; i < spec.Count; ++i)
        list.push_back(ValueToJson(spec, bytes, spec.Offset + spec.Stride * i));
      object[spec.Name] = std::move(list);
      continue;
    }
    object[spec.Name] = ValueToJson(spec, bytes, spec.Offset);
    std::int32_t v = util::GetI32(bytes, spec.Offset);
    if (spec.Kind == K::Date)
      object[std::string(spec.Name) + "Calendar"] = FormatDayNumber(v);
    else if (spec.Kind == K::Time)
      object[std::string(spec.Name) + "Clock"] = FormatSecondOfDay(v);
    else if (spec.Kind == K::Result)
      object[std::string(spec.Name) + "Meaning"] = RunResultMeaning(v);
  }
  return object;
}

bool ApplyAssignment(const std::vector<TFieldSpec> &specs, std::string_view assignment,
                     std::uint8_t *bytes, std::string &error) {
  std::size_t eq = assignment.find('=');
  if (eq == std::string_view::npos || eq == 0) {
    error = "\"" + std::string(assignment) + "\" is not FIELD=VALUE";
    return false;
  }
  std::string_view name = assignment.substr(0, eq);
  std::string_view value = assignment.substr(eq + 1);
  std::optional<std::int64_t> index;
  std::size_t bracket = name.find('[');
  if (bracket != std::string_view::npos) {
    if (name.back() != ']') {
      error = "\"" + std::string(name) + "\": an index is written as Name[i]";
      return false;
    }
    index = ParseInteger(name.substr(bracket + 1, name.size() - bracket - 2), 1, 255);
    if (!index) {
      error = "\"" + std::string(name) + "\": the index is not a number from 1";
      return false;
    }
    name = name.substr(0, bracket);
  }
  for (const auto &spec : specs) {
    if (name != spec.Name)
      continue;
    if (spec.Count > 1 && !index) {
      error = std::string(spec.Name) + " has entries 1 to " + std::to_string(spec.Count) +
              "; write " + spec.Name + "[i]=VALUE";
      return false;
    }
    if (spec.Count == 1 && index) {
      error = std::string(spec.Name) + " is not a list";
      return false;
    }
    if (index && *index > spec.Count) {
      error = std::string(spec.Name) + " has entries 1 to " + std::to_string(spec.Count);
      return false;
    }
    std::size_t offset = spec.Offset + (index ? spec.Stride * (*index - 1) : 0);
    return StoreValue(spec, value, bytes, offset, error);
  }
  error = "unknown field \"" + std::string(name) + "\"; fields: " + FieldList(specs);
  return false;
}

} // namespace tools
