// The desktop's "open" action for SHELL, shared by the terminal and the desktop window.
#pragma once

#include <string>
#include <vector>

namespace korw::session {

// Starts a program detached from us (argv[0] searched in PATH when it has no "/"); nothing is
// awaited and nothing is left behind to reap. A `quiet` program's output and messages are
// dropped.
void StartDetached(std::vector<std::string> args, bool quiet = false);

// An executable file is started with the arguments (split at blanks); any other file is opened
// by the desktop's own choice of program (xdg-open, which takes just the file).
void OpenWithDesktop(const std::string& file, const std::string& arguments);

}  // namespace korw::session
