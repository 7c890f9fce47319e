// The folders of an update as the folder rules take them.
#include "admin/update_folders.h"

#include "admin/settings.h"

namespace admin {

// The download record is not among them: losing it is harmless, and the host
// may keep it in the download folder, which a run empties anyway.
std::vector<util::TSharedFile> SharedFiles(const std::string &adminPath) {
  return {
      {"the settings file", SettingsPath()},
      {"the administration file", adminPath.empty() ? Settings.AdminFileName().Str() : adminPath}};
}

util::TUpdateFolders UpdateFoldersOf(const TAdminHeader &header, const std::string &adminPath) {
  util::TUpdateFolders folders;
  for (int i = 1; i <= DestFolderCount; ++i)
    folders.DestFolders[static_cast<std::size_t>(i)] = header.DestFolder(i).Str();
  folders.StagingFolder = header.StagingFolder().Str();
  folders.DownloadFolder = header.DownloadFolder().Str();
  folders.SharedFiles = SharedFiles(adminPath);
  return folders;
}

} // namespace admin
