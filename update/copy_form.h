// The update dialog TCopyForm: the working state of one update run and the
// handlers that carry it out (activation, timer, unpacking events), drawn
// through a TCopyFormView. RunUpdate is what the program entry calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_records.h"
#include "admin/run_result.h"
#include "platform/ui/copy_form_view.h"
#include "platform/window.h"
#include "update/messages.h"
#include "util/short_string.h"

namespace packages {
class TUnzipFile;
struct TPlacementJournal;
} // namespace packages

namespace update {

// Identifier of the registered window message "ZRK_UPD_INFO_MSG"; kept only.
extern std::uint32_t UpdInfoMessage;

constexpr const char *CopyFormCaption = "Update einarbeiten";
constexpr const char *GroupCaptionUnpacking = "Dekomprimieren der Dateien";
constexpr const char *HostMainWindowClass = "TKastMainForm";
constexpr const char *UpdInfoMessageName = "ZRK_UPD_INFO_MSG";
constexpr unsigned Timer1Interval = 300;
constexpr std::uint32_t HostWaitLimit = 7000;
// Milliseconds between two searches for the host's main window.
constexpr std::uint32_t HostPollInterval = 10;

class TCopyForm {
public:
  // Loads the unzip library through the component UnZIP; when that fails the
  // process ends with exit code 1. `params` are the command-line parameters
  // without the program name.
  TCopyForm(TCopyFormView &view, std::vector<std::string> params);
  ~TCopyForm();
  TCopyForm(const TCopyForm &) = delete;
  TCopyForm &operator=(const TCopyForm &) = delete;

  std::int32_t RunResult = 0;
  admin::TDownloadRecord DownloadRecord;
  admin::TPackageRecord PackageRecord;
  util::TShortString LastFileName;
  TMessageRecord ResultMessage;
  platform::THandle HostWindow = 0;
  admin::TAdminHeader AdminHeader;

  std::unique_ptr<packages::TUnzipFile> UnZIP;

  // Activation handler. Arms Timer1 on the first activation only: the window
  // may report activation again (after a message box, on switching back).
  void SetUp();
  void DoProcess();
  bool DoUnZip(std::string_view archivePath);
  bool CheckCrc32(std::string_view packagePath);
  std::uint8_t FindIndivFilePath(std::string_view fileName);
  void Timer1Timer();
  void UnZIPMessageCallback(std::uint16_t msgId, std::uint16_t mbType, std::uint32_t p1,
                            std::uint32_t p2, const char *lpsz1, const char *lpsz2,
                            std::int32_t &rtnResult);
  void UnZIPMajorCallback(const char *szItem, std::int32_t percent, bool &doCancel);
  void UnZIPMinorCallback(const char *szItem, std::int32_t percent, bool &doCancel);

  TCopyFormView &View() { return Form; }

private:
  void WaitForHost();
  // Unpacks and places every package the administration file holds ready;
  // true when one was taken, whose outcome then has to be recorded.
  bool PlacePendingPackages(packages::TPlacementJournal &journal,
                            const util::TShortString &adminPath, std::int32_t seed);
  void ShowResult();

  TCopyFormView &Form;
  std::vector<std::string> Params;
  bool SetUpDone = false;
};

// Creates the dialog (which may end the process with exit code 1 when the
// unzip library cannot be loaded), keeps `hostWindow` in it, runs the modal
// loop of `view` with SetUp and Timer1Timer bound, and returns the modal
// result, 0. Nothing escapes as an exception.
int RunUpdate(TCopyFormView &view, const std::vector<std::string> &params,
              platform::THandle hostWindow);

} // namespace update
