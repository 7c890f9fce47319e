// The program's command-line parameters. On Windows they are split from the
// process's command line the way the host's runtime splits it, so that a
// quoted folder ending in a backslash arrives as the host meant it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Every parameter of `line`, the program name first. Characters up to the
// blank separate parameters; a quote toggles quoting and is dropped, and
// nothing is escaped, so a backslash before a quote is an ordinary character.
// Pairs of quotes in front of a parameter are skipped, and the list ends at
// the first parameter that comes out empty.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The parameters without the program name: on Windows from the process's own
// command line (argc and argv are not used), elsewhere argv[1] onwards.
std::vector<std::string> ProgramParameters(int argc, char **argv);

} // namespace platform
