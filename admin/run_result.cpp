// The table of run result codes.
#include "admin/run_result.h"

namespace admin {

namespace {

const TRunResultInfo RunResults[] = {
    {RunOk, "every qualifying package applied (or none qualified)", nullptr},
    {RunChecksumFailed, "package checksum verification failed",
     "Die Pr\xFC"
     "fsummenberechnung ist fehlgeschlagen."},
    {RunUnpackFailed, "unpacking failed", "Das entpacken der Dateien ist fehlgeschlagen."},
    {RunBadDestIndex, "destination folder index outside 1 to 20", nullptr},
    {RunDestFolderMissing, "destination folder does not exist", nullptr},
    {RunCopyFailed, "copying a file failed", nullptr},
    {RunRecordNotRewritten,
     "a package was placed but its record could not be written back as applied", nullptr},
    {RunRecordNotRead, "a package record could not be read; later packages were not applied",
     nullptr},
    {RunFoldersInvalid,
     "the update's folders or file names are invalid or would overwrite a shared file",
     "Die Ordnerangaben des Updates sind ung\xFC"
     "ltig."},
    {RunRecoveryFailed,
     "a package that an earlier run left half placed could not be put back yet; nothing else "
     "was done, the next run tries again",
     "Ein abgebrochenes Update konnte nicht zur\xFC"
     "ckgenommen werden."},
};

} // namespace

const TRunResultInfo *FindRunResult(std::int32_t code) {
  for (const TRunResultInfo &info : RunResults)
    if (info.Code == code)
      return &info;
  return nullptr;
}

std::string RunResultMeaning(std::int32_t code) {
  const TRunResultInfo *info = FindRunResult(code);
  return info != nullptr ? info->Meaning : "unknown result code";
}

} // namespace admin
