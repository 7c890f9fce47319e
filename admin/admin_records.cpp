// Indexed accessors of the administration records; the fixed fields are
// inline in the header.
#include "admin/admin_records.h"

namespace admin {

namespace {

bool IsDestIndex(int i) {
  return i >= 1 && i <= DestFolderCount;
}
bool IsInfoIndex(int k) {
  return k >= 1 && k <= PackageInfoCount;
}

std::size_t DestFolderOffset(int i) {
  return DestFoldersOffset + static_cast<std::size_t>(i - 1) * DestFolderWidth;
}

std::size_t InfoOffset(std::size_t base, int k) {
  return base + static_cast<std::size_t>(k - 1) * 4;
}

} // namespace

util::TShortString TAdminHeader::DestFolder(int i) const {
  if (!IsDestIndex(i))
    return util::TShortString();
  return fields::GetText(Bytes, DestFolderOffset(i), FolderCapacity);
}

void TAdminHeader::SetDestFolder(int i, std::string_view text) {
  if (IsDestIndex(i))
    fields::SetText(Bytes, DestFolderOffset(i), FolderCapacity, text);
}

std::int32_t TPackageRecord::InstalledInfo(int k) const {
  return IsInfoIndex(k) ? util::GetI32(Bytes, InfoOffset(InstalledInfoOffset, k)) : 0;
}

void TPackageRecord::SetInstalledInfo(int k, std::int32_t v) {
  if (IsInfoIndex(k))
    util::PutI32(Bytes, InfoOffset(InstalledInfoOffset, k), v);
}

std::int32_t TPackageRecord::OfferedInfo(int k) const {
  return IsInfoIndex(k) ? util::GetI32(Bytes, InfoOffset(OfferedInfoOffset, k)) : 0;
}

void TPackageRecord::SetOfferedInfo(int k, std::int32_t v) {
  if (IsInfoIndex(k))
    util::PutI32(Bytes, InfoOffset(OfferedInfoOffset, k), v);
}

} // namespace admin
