// Interpreter state: one instance for the program run, shared by the command families.
#pragma once

#include <string>

#include "interp/desktop.h"

namespace korw::interp {

inline std::string CommandError;     // empty while the present command succeeds
inline bool EchoOn = true;           // echo and status lines go to the session output
inline bool ProgramRunning = false;  // a program is being executed
inline bool EditorActive = false;    // commands come from the program editor
inline bool SessionClosing = false;  // no more echo or error lines
inline bool OutputPending = false;   // results on show, waiting for Return or Escape
inline bool AnovaFitted = false;     // kind of the last model fit (at most one is true)
inline bool NegBinFitted = false;
inline bool NonLinearFitted = false;
inline bool InputFileOpen = false;  // OPENINFILE has opened a file
inline bool DemoMode = false;       // the working directory is RootDirectory + "/DEMOS"

inline std::string RootDirectory;      // session files live here
inline std::string WorkingDirectory;   // made current before every typed command
inline std::string SessionOutputFile;  // RootDirectory + "/KORWOUT.TMP"
inline std::string CurrentOutputFile;  // where accepted results go
inline std::string TemporaryOutput;    // RootDirectory + "/KORW.TMP", or "NUL"

// The front end in use; set before the first command.
inline Desktop* TheDesktop = nullptr;

inline const char* const kVersion = "JUN2009";

// The per-command output file of the root directory.
std::string RootTemporaryOutput();

}  // namespace korw::interp
