// The power-cut simulation. Files are followed as nodes, as a file system
// keeps them: a node's contents, time and attributes are on the disk as of its
// last flush (or the start), and a folder's names as of the last flush of
// that folder. A cut then writes the tree anew from that state: with names
// kept, every name the run left, each with its node's flushed contents; with
// names lost, the names each folder had when it was last flushed. The seam
// itself does the reading and writing; fault.cpp keeps those calls out of
// the count and out of the notes.
#include "platform/power_cut.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/internal.h"
#include "platform/path_parts.h"

namespace platform::detail::power {

namespace {

// Smaller than any real disk block, so that the small files of a test run
// tear too.
constexpr std::size_t TornBlock = 128;

struct TState {
  std::string Data;
  std::uint32_t DosTime = 0;
  std::uint32_t Attributes = 0;
};

struct TNode {
  bool Durable = false; // Saved holds what the disk has
  TState Saved;
  std::string Path; // its live name; empty once it has none
};

// Names are compared as Windows compares them: "\" for "/", upper case,
// no doubled or trailing separator.
std::string KeyOf(std::string_view path) {
  std::string key;
  for (char c : path) {
    c = c == '/' ? '\\' : c;
    if (c == '\\' && !key.empty() && key.back() == '\\')
      continue;
    key += UpperAscii(c);
  }
  if (key.size() > 1 && key.back() == '\\')
    key.pop_back();
  return key;
}

// Keys have no closing separator, so the folder part without its own is
// the folder's key.
std::string FolderOf(const std::string &key) {
  const std::size_t start = NameStart(key, "\\");
  return start == 0 ? std::string() : key.substr(0, start - 1);
}

// The contents through `handle` when the file is open (Windows opens a file
// that is not shared by no other handle), else by name.
bool ReadState(const std::string &path, std::intptr_t handle, TState &state) {
  if (handle != -1) {
    if (!ReadWholeNative(handle, state.Data))
      return false;
  } else {
    TFile file;
    if (!file.OpenRead(path))
      return false;
    state.Data.clear();
    char buffer[16384];
    std::uint32_t got = 0;
    do {
      if (!file.Read(buffer, sizeof buffer, got))
        return false;
      state.Data.append(buffer, got);
    } while (got > 0);
  }
  return GetDosTime(path, state.DosTime) && GetAttributes(path, state.Attributes);
}

class TSimulation {
public:
  void Start(std::string_view root, bool namesLost, bool torn) {
    Root = std::string(root);
    RootKey = KeyOf(root);
    Separator =
        Root.find('\\') != std::string::npos || Root.find(':') != std::string::npos ? '\\' : '/';
    NamesLost = namesLost;
    Torn = torn;
    Nodes.clear();
    Live.clear();
    Named.clear();
    Spelled.clear();
    Handles.clear();
    Visit(Root, [this](const std::string &path) {
      const std::size_t node = NewNode(path);
      Capture(node);
      Name(path, node);
    });
    FlushAllNames();
  }

  void Noted(const fault::TEvent &event) {
    switch (event.Change) {
    case fault::TChange::Opened:
      Opened(event.Handle, std::string(event.Path));
      break;
    case fault::TChange::Closed:
      Handles.erase(event.Handle);
      break;
    case fault::TChange::Flushed:
      if (auto it = Handles.find(event.Handle); it != Handles.end())
        Capture(it->second, event.Handle);
      break;
    case fault::TChange::Renamed:
      Renamed(std::string(event.Path), std::string(event.To));
      break;
    case fault::TChange::Deleted:
      Unlink(KeyOf(event.Path));
      break;
    case fault::TChange::FolderFlushed:
      FlushNames(FolderOf(KeyOf(event.Path)));
      break;
    case fault::TChange::RenameFlushed:
      RenameFlushed(std::string(event.Path), std::string(event.To));
      break;
    case fault::TChange::VolumeFlushed:
      for (const auto &[key, node] : Live)
        Capture(node);
      FlushAllNames();
      break;
    }
  }

  void Cut() {
    // Windows deletes no file that a handle holds without sharing it.
    for (const auto &[handle, node] : Handles)
      CloseHandleNative(handle);
    Handles.clear();
    std::map<std::string, TState> disk;
    if (NamesLost) {
      for (const auto &[folder, names] : Named)
        for (const auto &[key, node] : names)
          disk[key] = AfterCut(node);
    } else {
      for (const auto &[key, node] : Live)
        disk[key] = AfterCut(node);
    }
    Visit(Root, [](const std::string &path) {
      (void)SetAttributes(path, 0); // a read-only file is not deleted
      (void)DeleteFile(path);
    });
    for (const auto &[key, state] : disk) {
      const std::string &path = Spelled[key];
      MakeFolders(path);
      TFile file;
      std::uint32_t written = 0;
      if (!file.Create(path) ||
          !file.Write(state.Data.data(), static_cast<std::uint32_t>(state.Data.size()), written))
        continue;
      file.Close();
      (void)SetDosTime(path, state.DosTime);
      (void)SetAttributes(path, state.Attributes & ~(faDirectory | faVolumeID));
    }
  }

private:
  bool Below(const std::string &key) const {
    return key.size() > RootKey.size() && key.compare(0, RootKey.size(), RootKey) == 0 &&
           key[RootKey.size()] == '\\';
  }

  std::size_t NewNode(const std::string &path) {
    Nodes.push_back(TNode{false, TState(), path});
    return Nodes.size() - 1;
  }

  void Name(const std::string &path, std::size_t node) {
    const std::string key = KeyOf(path);
    Live[key] = node;
    Spelled[key] = path;
    Nodes[node].Path = path;
  }

  void Unlink(const std::string &key) {
    if (auto it = Live.find(key); it != Live.end()) {
      Nodes[it->second].Path.clear();
      Live.erase(it);
    }
  }

  void Capture(std::size_t node, std::intptr_t handle = -1) {
    TNode &n = Nodes[node];
    if (!n.Path.empty() && ReadState(n.Path, handle, n.Saved))
      n.Durable = true;
  }

  void Opened(std::intptr_t handle, const std::string &path) {
    const std::string key = KeyOf(path);
    if (!Below(key))
      return;
    auto it = Live.find(key);
    const std::size_t node = it != Live.end() ? it->second : NewNode(path);
    Name(path, node);
    Handles[handle] = node;
  }

  void Renamed(const std::string &from, const std::string &to) {
    const std::string fromKey = KeyOf(from), toKey = KeyOf(to);
    std::size_t node = 0;
    if (auto it = Live.find(fromKey); it != Live.end()) {
      node = it->second;
      Live.erase(it);
    } else if (Below(toKey)) {
      node = NewNode(to);
    } else {
      return;
    }
    Unlink(toKey);
    if (Below(toKey))
      Name(to, node);
    else
      Nodes[node].Path.clear();
  }

  // NTFS logs every change of a name in order: a rename written through
  // puts the log, and with it every name change before it, on the disk.
  void RenameFlushed(const std::string &from, const std::string &to) {
    Renamed(from, to);
    FlushAllNames();
  }

  void FlushAllNames() {
    for (auto &[folder, names] : Named)
      names.clear();
    for (const auto &[key, node] : Live)
      Named[FolderOf(key)][key] = node;
  }

  void FlushNames(const std::string &folder) {
    auto &names = Named[folder];
    names.clear();
    for (const auto &[key, node] : Live)
      if (FolderOf(key) == folder)
        names[key] = node;
  }

  // What the disk holds of `node` after the cut.
  TState AfterCut(std::size_t node) {
    const TNode &n = Nodes[node];
    TState live;
    const bool hasLive = !n.Path.empty() && ReadState(n.Path, -1, live);
    TState state = n.Durable ? n.Saved : TState{std::string(), live.DosTime, live.Attributes};
    if (Torn && hasLive && live.Data != state.Data) {
      // The blocks before the last one that the run wrote reached the disk.
      const std::size_t kept =
          live.Data.size() > TornBlock ? (live.Data.size() - 1) / TornBlock * TornBlock : 0;
      const std::string rest = state.Data.size() > kept ? state.Data.substr(kept) : std::string();
      state.Data = live.Data.substr(0, kept) + rest;
    }
    return state;
  }

  void MakeFolders(const std::string &path) {
    for (std::size_t at = Root.size() + 1; at < path.size(); ++at)
      if (path[at] == '\\' || path[at] == '/')
        (void)CreateFolder(path.substr(0, at));
  }

  // Every file below `folder`, deepest first.
  template <typename TVisit> void Visit(const std::string &folder, TVisit visit) {
    std::vector<TFindEntry> entries;
    if (!FindFiles(folder + Separator + "*.*", faDirectory | faHidden | faSysFile, entries))
      return;
    for (const TFindEntry &entry : entries) {
      const std::string path = folder + Separator + entry.Name;
      if (entry.Attributes & faDirectory)
        Visit(path, visit);
      else
        visit(path);
    }
  }

  std::string Root, RootKey;
  char Separator = '\\';
  bool NamesLost = false, Torn = false;
  std::vector<TNode> Nodes;
  std::map<std::string, std::size_t> Live; // live name -> node
  // Per folder, the names on the disk -> node.
  std::map<std::string, std::map<std::string, std::size_t>> Named;
  std::map<std::string, std::string> Spelled; // name -> path as last written
  std::map<std::intptr_t, std::size_t> Handles;
};

std::mutex Lock;
TSimulation &Simulation() {
  static TSimulation simulation;
  return simulation;
}

} // namespace

void Start(std::string_view root, bool namesLost, bool torn) {
  std::lock_guard<std::mutex> guard(Lock);
  Simulation().Start(root, namesLost, torn);
}

void Noted(const fault::TEvent &event) {
  std::lock_guard<std::mutex> guard(Lock);
  Simulation().Noted(event);
}

void Cut() {
  std::lock_guard<std::mutex> guard(Lock);
  Simulation().Cut();
}

} // namespace platform::detail::power
