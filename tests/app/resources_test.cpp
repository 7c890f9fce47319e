// The Windows resources of the shipped binaries (Windows only): the version
// information of all three, and the application manifest and icon of the
// two programs, read back from the files as Windows reads them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "zrk_version.h"

namespace {

std::string BinFile(const std::string &name) {
  std::string self = platform::ExecutablePath();
  return self.substr(0, self.find_last_of('\\') + 1) + name;
}

std::string VersionString(const std::vector<char> &block, const char *key) {
  char *value = nullptr;
  UINT length = 0;
  std::string path = std::string("\\StringFileInfo\\040704E4\\") + key;
  if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void **>(&value), &length) ||
      value == nullptr)
    return "<missing>";
  return value;
}

// The text of resource `id` of type `type`, or nothing.
std::string ResourceText(const std::string &file, LPCSTR id, LPCSTR type) {
  HMODULE module = LoadLibraryExA(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr)
    return {};
  std::string text;
  if (HRSRC found = FindResourceA(module, id, type)) {
    HGLOBAL data = LoadResource(module, found);
    const char *bytes = static_cast<const char *>(LockResource(data));
    if (bytes != nullptr)
      text.assign(bytes, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

TEST(Resources, EveryShippedBinaryCarriesTheBuildsVersionAndCommit) {
  for (const char *name : {"zrkupd.exe", "DUNZIP32.DLL", "zrktool.exe"}) {
    SCOPED_TRACE(name);
    std::string path = BinFile(name);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    std::string numeric = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
                          std::to_string(HIWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numeric, ZRK_VERSION);
    EXPECT_EQ(VersionString(block, "FileVersion"), ZRK_VERSION_TEXT);
    EXPECT_EQ(VersionString(block, "ProductVersion"), ZRK_VERSION_TEXT);
    EXPECT_EQ(VersionString(block, "Comments"), ZRK_COMMIT);
    EXPECT_EQ(VersionString(block, "OriginalFilename"), name);
  }
}

TEST(Resources, ProgramsEmbedTheManifestAndTheIcon) {
  for (const char *name : {"zrkupd.exe", "zrktool.exe"}) {
    SCOPED_TRACE(name);
    std::string manifest = ResourceText(BinFile(name), MAKEINTRESOURCEA(1), RT_MANIFEST);
    for (const char *part :
         {"level=\"asInvoker\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          ">true</dpiAware>", "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
          "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
      SCOPED_TRACE(part);
      EXPECT_NE(manifest.find(part), std::string::npos);
    }
    EXPECT_FALSE(ResourceText(BinFile(name), MAKEINTRESOURCEA(1), RT_GROUP_ICON).empty());
  }
  EXPECT_TRUE(ResourceText(BinFile("DUNZIP32.DLL"), MAKEINTRESOURCEA(1), RT_MANIFEST).empty());
}

} // namespace
