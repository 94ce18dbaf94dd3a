// The output path of commands: the session output file and the review of results.
#pragma once

#include <string>

namespace korw::interp {

// CommandError := text, and the library's ErrorFree := false.
void SetCommandError(const std::string& text);

// Stops the command with the library's message when its last call failed; true when it did.
bool LibraryFailed();

// After a command's library call: the library's message when it failed, else its results shown.
void FinishWithOutput();

// Appends one line to the session output file.
void AppendOutputLine(const std::string& text);

// Appends every line of a file to another (accepted results).
void AppendFileLines(const std::string& from, const std::string& to);

// Moves the printed results of a command from TemporaryOutput to the output file (in a
// program) or to the review of the front end (typed commands).
void ShowCommandOutput();

}  // namespace korw::interp
