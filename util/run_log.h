// The run log ZRKUPD.LOG in the data folder: one block of Windows-1252 lines
// (CR LF) per run, for the support person who hears "the update failed".
// Writing it never changes the run: every failure here is swallowed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace runlog {

constexpr std::string_view RunLogName = "ZRKUPD.LOG";
// Past this size the older half of the file goes.
constexpr std::int64_t RunLogLimit = 1024 * 1024;
// Every block starts with a line that starts so.
constexpr std::string_view BlockMark = "==== ";

// Starts the block of a run and writes its first lines: the time, the
// program and library versions and the command-line parameters. The log goes
// into `dataFolder` (the current folder when blank).
void BeginRun(std::string_view dataFolder, const std::vector<std::string> &params);
// True between BeginRun and the end of its block.
bool Running();
// One line of the block (Windows-1252, without line end); it gets its time.
void Note(std::string_view line);
// "what: path: the system's error text".
void NoteFailure(std::string_view what, std::string_view path, int osError);
// Writes what has been noted so far, so that a run that ends abruptly still
// leaves it behind.
void Flush();
// The last line of the block, with the result and the message shown.
void EndRun(std::int32_t result, std::string_view message);
// The last line of a run that produced no result (nothing pending, nothing
// readable, the program could not start): "Nothing done: " and why.
void EndRunWithoutResult(std::string_view why);

// The blocks of a log file's text, oldest first, each with its line ends.
std::vector<std::string> SplitBlocks(std::string_view text);

} // namespace runlog
