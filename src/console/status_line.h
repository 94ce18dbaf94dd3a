// The long-work hook of the terminal and of batch mode: the status line of a command that runs
// longer than a second, on standard error, and (in the terminal) Escape or Ctrl+C typed while a
// command runs, which stop it.
#pragma once

namespace korw::console {

// The terminal: keys are looked at and the status line shown when standard error is a terminal.
void InstallTerminalLongWork();

// Batch mode: the status line only when `progress` holds (--progress); a batch run has no keys.
void InstallBatchLongWork(bool progress);

}  // namespace korw::console
