// What a command-line tool needs from the console: its arguments in UTF-8
// whatever code page the system passes them in, and byte-exact standard
// input and output.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The arguments after the program name, in UTF-8. Windows passes the ANSI
// code page in `argv`, so there the wide command line is read instead.
std::vector<std::string> ToolArguments(int argc, char **argv);

// A file path from ToolArguments in the form the file functions here take:
// the ANSI code page on Windows (a character it lacks becomes "?", which no
// file name holds), Windows-1252 on POSIX where the name has that form.
std::string ToolPath(const std::string &utf8);

// A path in the form the file functions take, in UTF-8 for messages: the
// inverse of ToolPath.
std::string ToolPathText(const std::string &path);

// True when standard error is a terminal (or console), where progress can be
// shown without ending up in a log.
bool StandardErrorIsTerminal();

// Standard input and output carry bytes unchanged (no CR LF translation) and
// the console shows UTF-8.
void PrepareToolConsole();

} // namespace platform
