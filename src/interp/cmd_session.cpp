// Session and output commands: ECHO, REMARK, OUTFILE, QUIT, and the restart of DELETE.
#include <cstdio>
#include <fstream>
#include <vector>

#include "data/errors.h"
#include "data/files.h"
#include "data/infile.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"
#include "special/nonlin.h"

namespace korw::interp {

namespace {

// Rewrites the session output file with its first four lines only.
void ResetSessionOutput() {
    std::vector<std::string> lines;
    {
        std::ifstream in(data::ResolveExisting(SessionOutputFile));
        std::string line;
        while (lines.size() < 4 && std::getline(in, line)) lines.push_back(line);
    }
    std::FILE* f = data::OpenFile(SessionOutputFile, "w");
    if (f == nullptr) data::RaiseFault(data::FaultKind::InputOutput);
    for (const std::string& line : lines) std::fprintf(f, "%s\n", line.c_str());
    if (std::fclose(f) != 0) data::RaiseFault(data::FaultKind::InputOutput);
    AppendOutputLine(" *** The output file has been reset ***");
}

void SetOutputFile(const std::string& params) {
    std::string name = data::UpperFileName(params == "0" ? "NUL" : params);
    if (!name.empty()) {
        std::FILE* f = data::OpenFile(name, "w");
        if (f == nullptr) return SetCommandError("Cannot open " + name);
        std::fclose(f);
        CurrentOutputFile = name;
    } else {
        CurrentOutputFile = SessionOutputFile;
    }
    TemporaryOutput = data::IsNullDevice(name) && ProgramRunning ? "NUL" : RootTemporaryOutput();
}

}  // namespace

void CmdEcho(const std::string& params) {
    if (params.empty()) {
        AppendOutputLine(EchoOn ? " *** COMMAND ECHO DISABLED ***"
                                : " *** COMMAND ECHO RESUMED ***");
        EchoOn = !EchoOn;
        return;
    }
    std::string last = SplitLast(params).tail;
    float value;
    if (RealParameter(last, value) != 0) return SetCommandError("Invalid real number " + last);
    if (EchoOn && !(value > 0)) AppendOutputLine(" *** COMMAND ECHO DISABLED ***");
    if (!EchoOn && value > 0) AppendOutputLine(" *** COMMAND ECHO RESUMED ***");
    EchoOn = value > 0;
}

void CmdRemark(const std::string& params) {
    if (EchoOn && CurrentOutputFile == SessionOutputFile) return;  // the echo carries the text
    std::FILE* f = data::OpenFile(CurrentOutputFile, "a");
    if (f == nullptr) data::RaiseFault(data::FaultKind::InputOutput);
    std::fprintf(f, "%s\n", params.c_str());
    if (std::fclose(f) != 0) data::RaiseFault(data::FaultKind::InputOutput);
    data::NoteWritten(CurrentOutputFile, params + "\n");  // a front end may be showing that file
    if (EchoOn) AppendOutputLine(" *** REMARK APPENDED TO " + CurrentOutputFile + " ***");
}

void CmdOutFile(const std::string& params) {
    if (params == "*") return ResetSessionOutput();
    SetOutputFile(params);
}

void CmdQuit(const std::string&) {
    TheDesktop->CloseMainWindow();
}

void RestartLibrarySession() {
    ResetGraphics();
    double started = data::SessionStart();
    data::Finish();
    data::Start("KORW/" + std::string(kVersion), TemporaryOutput);
    data::SetSessionStart(started);
    InputFileOpen = false;
    data::ContinueOnError = true;
    AnovaFitted = NegBinFitted = NonLinearFitted = false;
    special::ForgetNonLinearFits();
    SetOutputFile("");
    EchoOn = true;
    LibraryFailed();
}

}  // namespace korw::interp
