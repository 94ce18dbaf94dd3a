// Machine mode: one session driven by another program (the Jupyter kernel) over standard input
// and output. Requests are lines; every answer is one line of JSON, so a client always knows
// where the results of a command end, whether it failed, and which pictures it made.
//
//   command TEXT        runs TEXT as a typed command (the command word completed as at Return)
//   program N           runs the N lines that follow as a program runs (continuation lines,
//                       substitution, GOTO); it stops at the first failing line
//   vectors             the vectors: name, kind, length, levels
//   complete TEXT       completions of the command word or vector name that TEXT ends with
//   help WORD           the help section of a command
//
// Answers: {"status":"ok"|"error","output":...,"error":...,"pictures":[...],"closed":false}
// for commands and programs; {"vectors":[...]}, {"matches":[...],"start":N} and {"help":...}
// for the questions, which never touch the session output. The first line is {"ready":true,...}
// once the session has started; the last, at the end of input or after QUIT, {"closed":true}.
#pragma once

#include <string>

namespace korw::console {

struct MachineOptions {
    std::string root;  // empty: a private temporary root, removed at the end
    std::string out;   // keep the session output under this name at the end
};

// Runs the session until the end of input, QUIT, SIGTERM or SIGHUP; 0 when it closed normally.
int RunMachine(const MachineOptions& options);

}  // namespace korw::console
