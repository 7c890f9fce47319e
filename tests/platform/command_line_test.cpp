// Splitting a command line the host's way: quotes toggle and are dropped, a
// backslash escapes nothing, and the list ends at an empty parameter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_line.h"

namespace {

TEST(SplitCommandLine, QuotesToggleAndNothingIsEscaped) {
  using TList = std::vector<std::string>;
  const struct {
    const char *Line;
    TList Expected;
  } cases[] = {
      {R"(zrkupd.exe "D:\Kast Daten\" 4711 3)", {"zrkupd.exe", R"(D:\Kast Daten\)", "4711", "3"}},
      {R"(zrkupd.exe D:\Daten\ 4711 3)", {"zrkupd.exe", R"(D:\Daten\)", "4711", "3"}},
      {R"("C:\Program Files\zrkupd.exe" "D:\Kast Daten\")",
       {R"(C:\Program Files\zrkupd.exe)", R"(D:\Kast Daten\)"}},
      {R"(x D:\"Kast Daten"\ 1)", {"x", R"(D:\Kast Daten\)", "1"}},
      {R"(x "a\\" b)", {"x", R"(a\\)", "b"}},
      {R"(x a""b "c""d")", {"x", "ab", "cd"}},
      {"x\t a \r\n b  ", {"x", "a", "b"}},
      {R"(x "open to the end)", {"x", "open to the end"}},
      {"x \xC4rger\xA0", {"x", "\xC4rger\xA0"}},
      // Quote pairs before a parameter are skipped; an empty one ends the list.
      {R"(x "" a)", {"x", "a"}},
      {R"(x """" a)", {"x", "a"}},
      {R"(x a """)", {"x", "a"}},
      {"", {}},
      {"   ", {}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.Line);
    EXPECT_EQ(platform::SplitCommandLine(c.Line), c.Expected);
  }
  EXPECT_EQ(platform::SplitCommandLine(std::string("x a\0b", 5)), (TList{"x", "a"}));
}

} // namespace
