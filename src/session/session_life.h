// The life of one run: the root directory and its session files, the start of the library
// session in the working directory, and the closing sequence. Shared by every front end.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korw::session {

// The directory of the help text and the demonstration files: the executable's directory
// when it holds KORWHELP.TXT or the folder demos (the build tree), else the installed share
// directory.
std::string ProgramDirectory();

// The help text: "KORW, version JUN2009" and KORWHELP.TXT, or the note that it is missing.
std::string HelpText();

// A new private directory PREFIX-XXXXXX in $TMPDIR (else /tmp), created by mkdtemp; "" when it
// cannot be made. Batch and machine mode keep their temporary root and files there.
std::string MakePrivateDirectory(const char* prefix);

// Makes MISC and DEMOS under the root (a plain file of either name is removed first) and sets
// the interpreter's RootDirectory, SessionOutputFile and TemporaryOutput.
void PrepareRoot(const std::string& root);

// The four lines asked when KORWOUT.TMP exists already.
std::vector<std::string> SessionActiveQuestion();

// True when another session seems to use the root (its KORWOUT.TMP exists).
bool SessionOutputExists();

// Creates KORW.TMP empty; false with the message in `message` when it cannot be created.
bool CreateTemporaryOutput(std::string& message);

// The start command of a file argument: "RUN " + name without extension for a .KOR file,
// "GETDATA " + name for a .KDS file (without an extension that is not upper case), "IMPORT " +
// name for a data file of another program (.csv .tsv .tab .dta .sav .zsav .por .sas7bdat .xpt,
// case ignored; in double quotes when it holds a blank), each with the values appended after
// blanks; "" for any other file (.txt and .dat among them), which only chooses the working
// directory.
std::string StartCommandFor(const std::string& file, const std::vector<std::string>& values);

// Starts the library session in the working directory: demonstration mode when it is the
// root's DEMOS folder (the folder made complete and the menu shown), then Start,
// ContinueOnError, NewOutFile, the interpreter state, and the "Working directory" line.
void StartSession(const std::string& workingDirectory);

// "KORW" + n + ".OUT", n the smallest positive integer without such a file in the directory.
std::string DefaultOutputName(const std::string& directory);

// The closing sequence, in three steps so that a front end can show the last lines before the
// files go. FinishLibrarySession: OldOutFile and Finish, false when there is nothing to close
// (a failed start, or the session output file has vanished).
bool FinishLibrarySession();

// Copies the session output to `name`; false when that fails.
bool KeepOutput(const std::string& name);

// Removes KORW.TMP and KORWOUT.TMP and, when asked, writes LASTDIR.
void RemoveSessionFiles(bool writeLastDir);

}  // namespace korw::session
