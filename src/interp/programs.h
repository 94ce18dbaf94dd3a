// Programs: RUN with its execution loop, SUBSTITUTE, GOTO, the deferred SHOW, and command
// files (OPENCOMMANDFILE) whose lines the front end fetches one at a time.
#pragma once

#include <optional>
#include <string>

namespace korw::interp {

// Set by the Escape key (or Ctrl+C) while a program runs; the loop stops after the line.
inline bool EscapePressed = false;

// A command file is open (OPENCOMMANDFILE).
inline bool CommandFileOpen = false;

// The editor runs only its selected lines (changes the START OF PROGRAM line).
inline bool RunSelectionOnly = false;

// How many programs so far stopped on an error or Escape (their error boxes have been shown,
// and the RUN itself counts as successful); batch mode turns a rise into its exit status.
int InterruptedPrograms();

// How many programs have started so far (the terminal shows what a program wrote).
int StartedPrograms();

// The open dialog for a program file (*.KOR) in the working directory, with its title.
std::optional<std::string> ChooseProgramFile(const std::string& title);

// The program file EDIT works on: `file`, or the file chosen in the open dialog when it is
// empty (its name echoed); ".KOR" added to a name without extension, and an empty file created
// when none exists. Returns the error text, or "" with `path` the existing file (empty when the
// dialog was cancelled).
std::string PrepareProgramFile(const std::string& file, std::string& path);

// The next command of the open command file, put through ExpandCommandLine; nothing at the
// end of the file, which is then closed.
std::optional<std::string> NextCommandFileLine();

}  // namespace korw::interp
