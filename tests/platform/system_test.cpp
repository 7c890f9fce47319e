// Tests of the registry read, window-manager stand-ins, the clock and
// run-time library loading.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/window.h"
#include "tests/support/test_support.h"

using namespace platform;
using testing_support::RunningOnWindows;

TEST(Registry, MissingKeyOrValueGivesNonZeroStatus) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  EXPECT_NE(ReadMachineValue("Software\\ZrkNoSuchVendor\\NoSuchKey", "ProgPath", type, data), 0);
  EXPECT_TRUE(data.empty());
}

TEST(Registry, WindowsTextValueComesWithItsTerminator) {
  if (!RunningOnWindows())
    GTEST_SKIP() << "needs a real registry";
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_EQ(ReadMachineValue("Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion",
                             type, data),
            0);
  EXPECT_EQ(type, RegSz);
  ASSERT_GE(data.size(), 2u);
  EXPECT_EQ(data.back(), 0);
  EXPECT_NE(data.front(), 0);
  EXPECT_NE(
      ReadMachineValue("Software\\Microsoft\\Windows NT\\CurrentVersion", "ZrkNoValue", type, data),
      0);
}

TEST(Registry, PosixTextFileHoldsEveryType) {
  if (RunningOnWindows())
    GTEST_SKIP() << "the text file stands in for the Windows registry";
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KastTools.exe";
  ASSERT_TRUE(testing_support::WriteWholeFile(
      NativePath(RegistryFile()),
      "Other|ProgPath|REG_SZ|wrong\n" + key + "|ProgPath|REG_SZ|C:\\Programme\\Host\\\r\n" + key +
          "|Count|REG_DWORD|4294967295\n" + key + "|Blob|REG_BINARY|00ff1A\n" + key +
          "|Path2|REG_EXPAND_SZ|%TEMP%|x\n" + key + "|Bad|REG_DWORD|12x\n"));
  using namespace std::string_view_literals;
  const auto progPath = testing_support::TextBytes("C:\\Programme\\Host\\\0"sv);
  const struct {
    const char *key, *value;
    long status;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
  } cases[] = {
      {key.c_str(), "ProgPath", 0, RegSz, progPath},
      {"SOFTWARE\\microsoft\\WINDOWS\\currentversion\\app paths\\kasttools.EXE", "progpath", 0,
       RegSz, progPath},
      {key.c_str(), "Count", 0, RegDword, {0xFF, 0xFF, 0xFF, 0xFF}},
      {key.c_str(), "Blob", 0, RegBinary, {0x00, 0xFF, 0x1A}},
      {key.c_str(), "Path2", 0, RegExpandSz, testing_support::TextBytes("%TEMP%|x\0"sv)},
      {key.c_str(), "Missing", 2, 0, {}},
      {"Software", "ProgPath", 2, 0, {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.value);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(ReadMachineValue(c.key, c.value, type, data), c.status);
    if (c.status == 0) {
      EXPECT_EQ(type, c.type);
      EXPECT_EQ(data, c.data);
    }
  }
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  EXPECT_NE(ReadMachineValue(key, "Bad", type, data), 0);
}

TEST(Window, RegisteredMessageNamesAreStable) {
  const std::uint32_t a = RegisterMessageName("ZRK_UPD_INFO_MSG");
  const std::uint32_t b = RegisterMessageName("ZRK_TEST_OTHER_MSG");
  EXPECT_GE(a, 0xC000u);
  EXPECT_GE(b, 0xC000u);
  EXPECT_NE(a, b);
  EXPECT_EQ(RegisterMessageName("ZRK_UPD_INFO_MSG"), a);
}

TEST(Window, NoSuchWindowIsFoundAndPostsToNothingFail) {
  EXPECT_EQ(FindTopWindow("TZrkNoSuchClass", nullptr), 0u);
  EXPECT_EQ(FindTopWindow("TZrkNoSuchClass", "No Title"), 0u);
  EXPECT_FALSE(PostMessageTo(0x7FFFFF00u, WmClose, 0, 0));
}

TEST(Window, MessageBoxHookTakesOverAndCanBeRemoved) {
  std::string seenText, seenCaption;
  std::uint32_t seenStyle = 0;
  SetMessageBoxHook(
      [&](THandle, std::string_view text, std::string_view caption, std::uint32_t style) {
        seenText = std::string(text);
        seenCaption = std::string(caption);
        seenStyle = style;
        return IdNo;
      });
  const int answer = ShowMessageBox(0,
                                    "Gl\xFC"
                                    "ckwunsch",
                                    "Update einarbeiten", MbYesNo | MbIconQuestion);
  SetMessageBoxHook(nullptr);
  EXPECT_EQ(answer, IdNo);
  EXPECT_EQ(seenText, "Gl\xFC"
                      "ckwunsch");
  EXPECT_EQ(seenCaption, "Update einarbeiten");
  EXPECT_EQ(seenStyle, MbYesNo | MbIconQuestion);
  ProcessPendingMessages(); // nothing pending: returns at once
}

TEST(Clock, TickCountAdvancesWithTimeAndLocalTimeIsSane) {
  const std::uint32_t start = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  const std::uint32_t elapsed = TickCount() - start;
  EXPECT_GE(elapsed, 40u);
  EXPECT_LT(elapsed, 5000u);
  const TLocalTime now = LocalNow();
  EXPECT_GE(now.Year, 2020);
  EXPECT_TRUE(now.Month >= 1 && now.Month <= 12);
  EXPECT_TRUE(now.Day >= 1 && now.Day <= 31);
  EXPECT_TRUE(now.Hour >= 0 && now.Hour <= 23);
  EXPECT_TRUE(now.Second >= 0 && now.Second <= 59);
  EXPECT_TRUE(now.Millisecond >= 0 && now.Millisecond <= 999);
}

TEST(DynamicLibrary, LoadsByWindowsNameNextToTheProgram) {
  void *library = LoadDynamicLibrary("ZRKPROBE.DLL");
  ASSERT_NE(library, nullptr);
  using TAnswer = int (*)();
  auto answer = reinterpret_cast<TAnswer>(FindSymbol(library, "zrk_probe_answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_EQ(FindSymbol(library, "zrk_no_such_entry"), nullptr);
  FreeDynamicLibrary(library);
  EXPECT_EQ(LoadDynamicLibrary("ZRKNOSUCHLIB.DLL"), nullptr);
}

TEST(DynamicLibrary, NeverTakesALibraryFromTheCurrentFolder) {
  // Where the system's own search would find it, before the search path.
  const std::string program = ExecutablePath();
  const std::string bin = program.substr(0, program.find_last_of('\\'));
  const bool windows = testing_support::RunningOnWindows();
  testing_support::TTempFolder dir;
  const auto probe =
      testing_support::ReadWholeFile(bin + (windows ? "\\ZRKPROBE.DLL" : "\\libzrkprobe.so"));
  ASSERT_FALSE(probe.empty());
  ASSERT_TRUE(
      testing_support::WriteWholeFile(dir / (windows ? "ZRKPLANT.DLL" : "libzrkplant.so"), probe));
  const std::string saved = GetCurrentFolder();
  ASSERT_TRUE(SetCurrentFolder(dir.Path()));
  void *library = LoadDynamicLibrary("ZRKPLANT.DLL");
  EXPECT_TRUE(SetCurrentFolder(saved));
  EXPECT_EQ(library, nullptr);
  FreeDynamicLibrary(library);
}
