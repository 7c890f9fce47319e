// Code of the platform seam that is the same on every OS: the last-error slot,
// Windows wildcard matching, the listing filter, and the file
// object's lifetime and end test (built on Close, Position and Size per OS).
#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "platform/codepage.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/instance.h"
#include "platform/internal.h"
#include "platform/path_parts.h"
#include "platform/window.h"

namespace platform {

namespace {
thread_local int CurrentError = 0;

std::mutex HookLock;
TMessageBoxHook Hook;

bool GlobMatch(std::string_view name, std::string_view pattern) {
  // Iterative matcher with one backtrack point for the last '*'.
  std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || LowerAscii(pattern[p]) == LowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

// True, with the error Windows gives for it, when `file` holds no open file.
bool NotOpen(const TFile &file) {
  if (file.IsOpen())
    return false;
  detail::SetError(ErrorInvalidHandle);
  return true;
}
} // namespace

int LastError() {
  return CurrentError;
}

TKeepError::~TKeepError() {
  detail::SetError(Error);
}

void SetMessageBoxHook(TMessageBoxHook hook) {
  std::lock_guard<std::mutex> guard(HookLock);
  Hook = std::move(hook);
}

TFile::~TFile() {
  Close();
}

int ShowMessageBox(THandle owner, std::string_view text, std::string_view caption,
                   std::uint32_t style) {
  TMessageBoxHook hook;
  try {
    {
      // Not held while the hook runs: it may set another hook.
      std::lock_guard<std::mutex> guard(HookLock);
      hook = Hook;
    }
    if (hook)
      return hook(owner, text, caption, style);
  } catch (...) {
    return 0; // a box that cannot be shown answers as a closed one
  }
  return detail::ShowMessageBoxNative(owner, text, caption, style);
}

TSingleInstance::~TSingleInstance() {
  Release();
}

void TSingleInstance::Release() {
  if (!Held())
    return;
  detail::CloseHandleNative(Handle);
  Handle = Invalid;
}

// The file tasks: the fault hooks first, then the system, then what changed
// for the power-cut simulation.
bool TFile::Open(std::string_view path, TOpen how) {
  Close();
  const bool creates = how != TOpen::Shared && how != TOpen::Read && how != TOpen::Unshared;
  if (detail::Faulted(creates ? fault::TOp::Create : fault::TOp::Open) || !OpenNative(path, how))
    return false;
  detail::Note({fault::TChange::Opened, Handle, path});
  return true;
}

bool TFile::OpenShared(std::string_view path) {
  return Open(path, TOpen::Shared);
}

bool TFile::OpenRead(std::string_view path) {
  return Open(path, TOpen::Read);
}

bool TFile::Create(std::string_view path) {
  return Open(path, TOpen::Create);
}

bool TFile::OpenUnshared(std::string_view path) {
  return Open(path, TOpen::Unshared);
}

bool TFile::CreateUnshared(std::string_view path) {
  return Open(path, TOpen::CreateUnshared);
}

bool TFile::CreateNew(std::string_view path) {
  return Open(path, TOpen::CreateNew);
}

bool TFile::Seek(std::int64_t position) {
  if (NotOpen(*this))
    return false;
  return !detail::Faulted(fault::TOp::Seek) && SeekNative(position);
}

bool TFile::Flush() {
  if (NotOpen(*this))
    return false;
  if (!FlushNative())
    return false;
  detail::Note({fault::TChange::Flushed, Handle});
  return true;
}

bool TFile::SetDosTime(std::uint32_t dosTime) {
  if (NotOpen(*this))
    return false;
  return !detail::Faulted(fault::TOp::SetAttributes) && SetDosTimeNative(dosTime);
}

void TFile::Close() {
  if (Handle == Invalid)
    return;
  detail::Note({fault::TChange::Closed, Handle});
  CloseNative();
  Handle = Invalid;
}

bool SetAttributes(std::string_view path, std::uint32_t attributes) {
  return !detail::Faulted(fault::TOp::SetAttributes) &&
         detail::SetAttributesNative(path, attributes);
}

bool SetDosTime(std::string_view path, std::uint32_t dosTime) {
  return !detail::Faulted(fault::TOp::SetAttributes) && detail::SetDosTimeNative(path, dosTime);
}

bool DeleteFile(std::string_view path) {
  if (detail::Faulted(fault::TOp::Delete) || !detail::DeleteFileNative(path))
    return false;
  detail::Note({fault::TChange::Deleted, -1, path});
  return true;
}

bool MoveFileReplacing(std::string_view from, std::string_view to) {
  if (detail::Faulted(fault::TOp::Rename) || !detail::MoveFileReplacingNative(from, to))
    return false;
  detail::Note({fault::TChange::Renamed, -1, from, to});
  return true;
}

bool CreateFolder(std::string_view path) {
  return !detail::Faulted(fault::TOp::CreateFolder) && detail::CreateFolderNative(path);
}

bool RemoveFolder(std::string_view path) {
  return !detail::Faulted(fault::TOp::Delete) && detail::RemoveFolderNative(path);
}

TFile::TFile(TFile &&other) noexcept : TNoCopy(), Handle(other.Handle) {
  other.Handle = Invalid;
}

TFile &TFile::operator=(TFile &&other) noexcept {
  if (this != &other) {
    Close();
    Handle = other.Handle;
    other.Handle = Invalid;
  }
  return *this;
}

bool TFile::AtEnd(bool &atEnd) {
  std::int64_t position = 0, size = 0;
  if (!Position(position) || !Size(size))
    return false;
  atEnd = position >= size;
  return true;
}

namespace {
// Longest path the ANSI file functions take (MAX_PATH without the NUL).
constexpr std::size_t MaxPathChars = 259;
constexpr int MaxTempAttempts = 1000;
std::atomic<unsigned> TempCounter{0};
} // namespace

bool TFile::Read(void *buffer, std::uint32_t count, std::uint32_t &got) {
  got = 0;
  if (NotOpen(*this))
    return false;
  if (detail::Faulted(fault::TOp::Read))
    return false;
  return ReadNative(buffer, count, got);
}

bool TFile::Write(const void *buffer, std::uint32_t count, std::uint32_t &written) {
  written = 0;
  if (NotOpen(*this))
    return false;
  if (detail::Faulted(fault::TOp::Write)) {
    // A full disk takes part of the data before it refuses the rest.
    const TKeepError keep;
    if (detail::FaultIsDiskFull() && count > 1)
      (void)WriteNative(buffer, count / 2, written);
    return false;
  }
  return WriteNative(buffer, count, written);
}

namespace {
// Steps of a copy through the program: one read and one write for most files.
constexpr std::uint32_t CopyBlock = 64 * 1024;
} // namespace

bool TFile::CopyFrom(TFile &source, bool &readFailed) {
  readFailed = false;
  if (NotOpen(*this) || NotOpen(source))
    return false;
  // Only a copy that the system cannot make itself needs a buffer; on the
  // heap, so that threads with small stacks can copy too.
  std::unique_ptr<std::uint8_t[]> buffer;
  bool native = true, nativeMoved = false;
  for (;;) {
    if (detail::Faulted(fault::TOp::Read)) {
      readFailed = true;
      return false;
    }
    std::uint64_t got = 0;
    // An end reported before the system copy moved a single byte proves
    // nothing (some file systems cannot copy and say so only this way): the
    // read below makes sure. A failed system copy moved nothing either.
    if (native && (!CopyNative(source, got) || (got == 0 && !nativeMoved)))
      native = false;
    if (native) {
      if (got == 0)
        break;
      nativeMoved = true;
    } else {
      if (!buffer)
        buffer.reset(new (std::nothrow) std::uint8_t[CopyBlock]);
      std::uint32_t n = 0;
      if (!buffer) {
        readFailed = true;
        detail::SetError(ErrorNotEnoughMemory);
        return false;
      }
      if (!source.ReadNative(buffer.get(), CopyBlock, n)) {
        readFailed = true;
        return false;
      }
      got = n;
      if (got == 0)
        break;
    }
    if (native) {
      // The system copy has moved its step already; the failure stands all
      // the same, and the caller drops what it wrote.
      if (detail::Faulted(fault::TOp::Write))
        return false;
      continue;
    }
    std::uint32_t written = 0;
    const auto count = static_cast<std::uint32_t>(got);
    if (!Write(buffer.get(), count, written))
      return false;
    if (written != count) {
      detail::SetError(ErrorDiskFull);
      return false;
    }
    if (count < CopyBlock)
      break;
  }
  detail::SetError(ErrorSuccess);
  return true;
}

TTempFile::~TTempFile() {
  Discard();
}

bool TTempFile::Create(std::string_view target, std::string_view prefix) {
  std::string folder, name;
  detail::SplitMask(target, folder, name);
  for (int attempt = 0; attempt < MaxTempAttempts; ++attempt) {
    const std::string number = std::to_string(++TempCounter);
    std::string path = folder + std::string(prefix) + number + ".tmp";
    if (path.size() > MaxPathChars)
      path = folder + "~" + number;
    if (CreateNamed(target, path))
      return true;
    const int error = LastError();
    if (error != ErrorAlreadyExists && error != ErrorFileExists)
      return false;
  }
  return false;
}

bool TTempFile::CreateAs(std::string_view target, std::string_view path) {
  return CreateNamed(target, std::string(path));
}

bool TTempFile::CreateNamed(std::string_view target, const std::string &path) {
  Discard();
  if (detail::Faulted(fault::TOp::Create) || !CreateNamedNative(target, path))
    return false;
  detail::Note({fault::TChange::Opened, Data.Handle, path});
  return true;
}

bool TTempFile::MoveIntoPlace(TDurable durable) {
  if (detail::Faulted(fault::TOp::Rename) || !MoveIntoPlaceNative(durable))
    return false;
  const bool through = detail::WritesRenameThrough(durable);
  detail::Note(
      {through ? fault::TChange::RenameFlushed : fault::TChange::Renamed, -1, TempPath, Target});
  return true;
}

bool TTempFile::Commit(std::string_view aside, TDurable durable) {
  if (TempPath.empty()) {
    detail::SetError(ErrorInvalidHandle);
    return false;
  }
  if (!FlushBeforeMove(durable))
    return false;
  Data.Close();
  if (!aside.empty() && !MoveFileReplacing(Target, aside))
    return false;
  if (!MoveIntoPlace(durable))
    return false;
  TempPath.clear();
  if (!FlushAfterMove(durable))
    return false;
  detail::SetError(ErrorSuccess);
  return true;
}

bool TTempFile::Commit(std::string_view aside, TFlushBehind &behind) {
  if (!behind.Running())
    return Commit(aside, TDurable::Data);
  if (TempPath.empty()) {
    detail::SetError(ErrorInvalidHandle);
    return false;
  }
  // Renamed while still open (its handle shares deletion), then flushed and
  // closed by `behind`: nothing relies on the data before behind.Finish(),
  // and a cut before that finds the package unrecorded and puts it back.
  if (!aside.empty() && !MoveFileReplacing(Target, aside))
    return false;
  if (!MoveIntoPlace(TDurable::Data))
    return false;
  TempPath.clear();
  if (!FlushAfterMove(TDurable::Data))
    return false;
  behind.Take(std::move(Data));
  detail::SetError(ErrorSuccess);
  return true;
}

void TTempFile::Discard() {
  // A clean-up after a failure: the caller still has to read why it failed.
  const TKeepError keep;
  Data.Close();
  if (!TempPath.empty())
    (void)DeleteFile(TempPath);
  TempPath.clear();
}

bool MatchesMask(std::string_view name, std::string_view pattern) {
  if (pattern == "*" || pattern == "*.*")
    return true;
  if (GlobMatch(name, pattern))
    return true;
  // Windows lets a trailing ".*" or "." stand for "no extension at all":
  // "README.*" finds "README", "*." finds every name without a dot.
  const bool hasDot = name.find('.') != std::string_view::npos;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*" &&
      GlobMatch(name, pattern.substr(0, pattern.size() - 2)))
    return true;
  if (!hasDot && !pattern.empty() && pattern.back() == '.') {
    std::string_view stem = pattern;
    while (!stem.empty() && stem.back() == '.')
      stem.remove_suffix(1);
    return GlobMatch(name, stem);
  }
  return false;
}

void *LoadDynamicLibrary(std::string_view name, std::string_view folder) {
  try {
    return detail::LoadDynamicLibraryNative(name, folder);
  } catch (...) {
    detail::SetError(ErrorNotEnoughMemory);
    return nullptr;
  }
}

void *FindSymbol(void *library, const char *name) {
  if (library == nullptr || name == nullptr)
    return nullptr;
  return detail::FindSymbolNative(library, name);
}

void FreeDynamicLibrary(void *library) {
  if (library != nullptr)
    detail::FreeDynamicLibraryNative(library);
}

namespace detail {

void SetError(int error) {
  CurrentError = error;
}

std::string LibraryPath(std::string_view folder, std::string_view file) {
  std::string path = std::string(folder) + std::string(file);
#ifdef ZRK_FAULT_HOOKS
  // Test programs load the test variant of a library, built into "faults"
  // beside them, so that its fault hooks count with theirs.
  std::string variant = std::string(folder) + "faults" + folder.back() + std::string(file);
  std::uint32_t attributes = 0;
  if (GetAttributes(variant, attributes))
    path = std::move(variant);
#endif
  return path;
}

bool PassesFilter(std::uint32_t attributes, std::uint32_t filter) {
  const std::uint32_t special = faHidden | faSysFile | faVolumeID | faDirectory;
  return (attributes & special & ~filter) == 0;
}

bool ListedBefore(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const char32_t ca = Cp1252UpperCase(static_cast<unsigned char>(a[i]));
    const char32_t cb = Cp1252UpperCase(static_cast<unsigned char>(b[i]));
    if (ca != cb)
      return ca < cb;
  }
  if (a.size() != b.size())
    return a.size() < b.size();
  return a < b;
}

void SplitMask(std::string_view mask, std::string &folder, std::string &pattern) {
  folder = std::string(FolderPart(mask, "\\/:"));
  pattern = std::string(NamePart(mask, "\\/:"));
}

} // namespace detail

// Both systems list through the walk; the list is its entries gathered.
bool FindFiles(std::string_view mask, std::uint32_t attributeFilter,
               std::vector<TFindEntry> &entries) {
  entries.clear();
  try {
    if (WalkFiles(mask, attributeFilter, [&entries](const TFindEntry &entry) {
          entries.push_back(entry);
          return true;
        }))
      return true;
  } catch (...) {
    detail::SetError(ErrorNotEnoughMemory);
  }
  entries.clear();
  return false;
}

} // namespace platform
