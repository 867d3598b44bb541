#pragma once
// Telling the user what went wrong outside the window: on standard error, with one prefix.

#include <string>
#include <string_view>

namespace platform {

// Writes "korvi: " + `message` + a line end to standard error and flushes it, so that it is out
// before a crash or an exit. Lines after the first stay as they are.
void Report(std::string_view message);

// Bytes from outside (a settings value, a file, section or key name) as a message shows them:
// control characters, DEL and '"' become \xNN, so that the message stays on its line and says
// exactly which bytes were meant. A backslash stays one: Windows paths read as the user wrote
// them.
std::string Escaped(std::string_view bytes);
// The same between double quotes.
std::string Quoted(std::string_view bytes);
// `bytes` as one word of a command for sh, whatever they hold: between single quotes, each
// single quote inside written as '\''.
std::string ShellQuoted(std::string_view bytes);

}  // namespace platform
