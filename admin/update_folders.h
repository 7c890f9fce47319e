// The folders of an update as the folder rules take them: the header's
// folders and the files that the host shares with the program. One routine
// for the program and zrktool, so that both judge a header alike.
#pragma once

#include <string>
#include <vector>

#include "admin/admin_records.h"
#include "util/path_rules.h"

namespace admin {

// The files whose folders a run must never empty: the settings file and the
// administration file, as the current settings name them; `adminPath`, when
// given, stands for the administration file instead (a tool may edit another
// one).
std::vector<util::TSharedFile> SharedFiles(const std::string &adminPath = std::string());

// The header's folders with SharedFiles(adminPath).
util::TUpdateFolders UpdateFoldersOf(const TAdminHeader &header,
                                     const std::string &adminPath = std::string());

} // namespace admin
