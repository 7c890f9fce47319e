// Registry lookup of the host's program folder: the conversion of every value
// type to text, the fall-backs, and (on POSIX, where the registry is a text
// file) whole reads through the accessor.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "tests/support/test_support.h"
#include "util/registry.h"
#include "util/text.h"

namespace {

using util::TRegConversion;

constexpr auto Bytes = testing_support::TextBytes;

std::string Repeat(std::string_view unit, int count) {
  std::string s;
  for (int i = 0; i < count; ++i)
    s += unit;
  return s;
}

TEST(ConvertRegistryData, EachTypeBecomesText) {
  struct TCase {
    const char *Name;
    std::uint32_t Type;
    std::vector<std::uint8_t> Data;
    TRegConversion Expected;
    std::string Text;
  } cases[] = {
      {"text up to NUL", platform::RegSz, Bytes(std::string("C:\\P\0junk", 9)),
       TRegConversion::Converted, "C:\\P"},
      {"text without NUL", platform::RegSz, Bytes("abc"), TRegConversion::Converted, "abc"},
      {"empty text", platform::RegSz, {}, TRegConversion::Converted, ""},
      {"expand text kept as stored", platform::RegExpandSz, Bytes(std::string("%WINDIR%\\x\0", 11)),
       TRegConversion::Converted, "%WINDIR%\\x"},
      {"dword", platform::RegDword, {12, 0, 0, 0}, TRegConversion::Converted, "12"},
      {"dword unsigned",
       platform::RegDword,
       {0xFF, 0xFF, 0xFF, 0xFF},
       TRegConversion::Converted,
       "4294967295"},
      {"dword little-endian",
       platform::RegDword,
       {0x01, 0x02, 0x00, 0x00},
       TRegConversion::Converted,
       "513"},
      {"short dword", platform::RegDword, {12, 0, 0}, TRegConversion::UseDefault, ""},
      {"binary",
       platform::RegBinary,
       {0x0A, 0xFF, 0x00, 0x5c},
       TRegConversion::Converted,
       "0AFF005C"},
      {"empty binary", platform::RegBinary, {}, TRegConversion::Converted, ""},
      {"binary of 127 bytes", platform::RegBinary, std::vector<std::uint8_t>(127, 0xAB),
       TRegConversion::Converted, Repeat("AB", 127)},
      {"text over 255", platform::RegSz, Bytes(std::string(300, 'p')), TRegConversion::Converted,
       std::string(255, 'p')},
      {"binary of 128 bytes", platform::RegBinary, std::vector<std::uint8_t>(128, 1),
       TRegConversion::Refused, ""},
      {"multi-string", 7, Bytes(std::string("a\0b\0\0", 5)), TRegConversion::UseDefault, ""},
      {"no type", 0, Bytes("x"), TRegConversion::UseDefault, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Name);
    util::TShortString text = "stale";
    EXPECT_EQ(util::ConvertRegistryData(c.Type, c.Data.data(), c.Data.size(), text), c.Expected);
    EXPECT_EQ(text.Str(), c.Text);
  }
}

std::string ProgramFolder() {
  return util::RemoveBackslash(util::ExtractFolder(platform::ExecutablePath())).Str();
}

// The registry file of this process, when it lies in the scratch drive root
// (a $ZRK_REGISTRY of the caller's is never overwritten).
class RegistryFile : public ::testing::Test {
protected:
  void SetUp() override {
    if (testing_support::RunningOnWindows())
      GTEST_SKIP() << "the Windows registry is written from outside the program";
    Path = platform::RegistryFile();
    if (Path.rfind(platform::DriveRoot(), 0) != 0)
      GTEST_SKIP() << "ZRK_REGISTRY points outside the scratch drive root";
  }
  void TearDown() override {
    if (!Path.empty())
      (void)platform::DeleteFile(Path); // may be gone already
  }
  void Write(const std::string &lines) {
    ASSERT_TRUE(testing_support::WriteWholeFile(Path, lines));
  }

  std::string Path;
};

const std::string HostKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\KastTools.exe";

TEST_F(RegistryFile, HostProgramFolderFromTheRegistryOrTheProgram) {
  struct TCase {
    std::string Line;
    std::string Expected;
  } cases[] = {
      {"|ProgPath|REG_SZ|C:\\Programme\\Host\\", "C:\\Programme\\Host"},
      {"|ProgPath|REG_SZ|D:\\", "D:\\"},
      {"|PROGPATH|REG_EXPAND_SZ|  E:\\Kast  ", "E:\\Kast"},
      {"|ProgPath|REG_SZ|   ", ""},
      {"|ProgPath|REG_DWORD|12", "12"},
      {"|ProgPath|REG_SZ|", ProgramFolder()},
      {"|OtherValue|REG_SZ|C:\\X", ProgramFolder()},
      {"|ProgPath|REG_BINARY|" + std::string(256, 'A'), ProgramFolder()},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Line);
    Write(HostKey + c.Line + "\n");
    EXPECT_EQ(util::FindHostProgramFolder().Str(), c.Expected);
  }
  ASSERT_TRUE(platform::DeleteFile(Path));
  EXPECT_EQ(util::FindHostProgramFolder().Str(), ProgramFolder());
}

TEST_F(RegistryFile, ReadRegistryTextFallsBackToTheDefault) {
  const std::string name80(80, 'v');
  Write("Soft\\Key|Text|REG_SZ|value\n"
        "Soft\\Key|Bin|REG_BINARY|00FF\n"
        "Soft\\Key|Big|REG_BINARY|" +
        std::string(256, '1') + "\nSoft\\Key|" + name80 + "|REG_SZ|long name\n");
  util::TStRegIni registry("machine");
  registry.SetCurrentSubKey("Soft\\Key");
  EXPECT_EQ(util::ReadRegistryText(registry, "Text", "dflt").Str(), "value");
  EXPECT_EQ(util::ReadRegistryText(registry, "Bin", "dflt").Str(), "00FF");
  EXPECT_EQ(util::ReadRegistryText(registry, "Big", "dflt").Str(), "");
  EXPECT_EQ(util::ReadRegistryText(registry, "Missing", "dflt").Str(), "dflt");
  EXPECT_EQ(util::ReadRegistryText(registry, name80 + "tail", "dflt").Str(), "long name");
  EXPECT_EQ(util::ReadRegistryText(registry, "Missing", std::string(90, 'd')).Str(),
            std::string(80, 'd'));

  registry.SetCurrentSubKey("Soft\\Other");
  EXPECT_EQ(util::ReadRegistryText(registry, "Text", "dflt").Str(), "dflt");

  util::TStRegIni user("USER");
  user.SetCurrentSubKey("Soft\\Key");
  EXPECT_FALSE(user.IsMachineRoot());
  EXPECT_EQ(util::ReadRegistryText(user, "Text", "dflt").Str(), "dflt");
}

TEST(FindHostProgramFolder, FallsBackToTheProgramFolderWithoutTheValue) {
  // Neither the test prefix nor the scratch drive root registers the host.
  if (!testing_support::RunningOnWindows() &&
      platform::RegistryFile().rfind(platform::DriveRoot(), 0) != 0)
    GTEST_SKIP() << "ZRK_REGISTRY points outside the scratch drive root";
  std::string program = platform::ExecutablePath();
  std::size_t slash = program.rfind('\\');
  if (slash == std::string::npos)
    GTEST_SKIP() << "the program path has no Windows folder part: " << program;
  std::string expected = program.substr(0, slash);
  if (expected.size() == 2 && expected[1] == ':')
    expected += '\\';
  EXPECT_EQ(util::FindHostProgramFolder().Str(), expected);
}

} // namespace
