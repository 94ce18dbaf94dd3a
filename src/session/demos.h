// The demonstration folder DEMOS under the root: its fixed set of files, kept complete and up
// to date from the copy that comes with the program, and the demonstration menu.
#pragma once

#include <string>
#include <vector>

#include "interp/desktop.h"

namespace korw::session {

// The 18 files of a complete demonstration folder.
const std::vector<std::string>& DemoFileNames();

// Where the program keeps its copy of the demonstrations: "demos" in the program directory.
std::string DemoSourceDirectory();

// True when every demonstration file exists in `directory` and the first line of its
// VERSION.TXT is the program's version.
bool DemosComplete(const std::string& directory);

// Unless `target` is complete: removes the demonstration files it holds (a warning box for each
// one that cannot be removed) and copies the full set from `source`. False, after an error box,
// when a file cannot be copied.
bool InstallDemos(const std::string& source, const std::string& target, interp::Desktop& desktop);

// True when `workingDirectory` is the root's DEMOS folder, compared without regard to case.
bool IsDemoDirectory(const std::string& workingDirectory, const std::string& rootDirectory);

// The start of a session in demonstration mode: the folder is made complete, then the
// demonstration menu is shown.
void EnterDemoMode(interp::Desktop& desktop);

// The command window's hint in demonstration mode.
extern const char* const kDemoCommandHint;

// The text of README in the working directory, empty when it cannot be read.
std::string DemoReadme();

}  // namespace korw::session
