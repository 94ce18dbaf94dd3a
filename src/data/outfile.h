// The library output file: every text a library procedure prints goes here.
#pragma once

#include <string>
#include <string_view>

namespace korw::data {

// Closes the output file, creates the named one (replacing an existing file) and makes it the
// output file. Failure: "IO error initializing output file " + name.
void NewOutFile(const std::string& name);

// Closes the output file and opens the named one for appending.
// Failure: "IO error appending to output file " + name.
void OldOutFile(const std::string& name);

const std::string& OutFileName();

// Closes the output file without naming another (end of session).
void CloseOutFile();

// Characters per line: 80, or 79 while no output file name is set.
int LineWidth();

// Appends text to the current line / ends the line. A failed write raises the I/O fault.
void Write(std::string_view text);
void WriteLine(std::string_view text = {});

// A copy of everything written to one file, for a front end that shows that file as it grows
// (batch mode writes the session output to stdout). The library output file reports its own
// writes while it is the observed file; every other writer of that file calls NoteWritten.
using WriteObserver = void (*)(std::string_view text);
void ObserveFile(const std::string& name, WriteObserver observer);
void NoteWritten(const std::string& name, std::string_view text);

}  // namespace korw::data
