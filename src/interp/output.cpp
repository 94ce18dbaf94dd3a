#include "interp/output.h"

#include <cstdio>
#include <vector>

#include "data/errors.h"
#include "data/files.h"
#include "data/outfile.h"
#include "interp/state.h"

namespace korw::interp {

std::string RootTemporaryOutput() {
    return RootDirectory + "/KORW.TMP";
}

void SetCommandError(const std::string& text) {
    CommandError = text;
    data::ErrorFree = false;
}

bool LibraryFailed() {
    if (data::ErrorFree) return false;
    SetCommandError(data::ErrorMessage);
    return true;
}

void FinishWithOutput() {
    if (!LibraryFailed()) ShowCommandOutput();
}

void AppendOutputLine(const std::string& text) {
    std::FILE* f = data::OpenFile(SessionOutputFile, "a");
    if (f == nullptr) data::RaiseFault(data::FaultKind::InputOutput);
    bool ok =
        std::fwrite(text.data(), 1, text.size(), f) == text.size() && std::fputc('\n', f) != EOF;
    if (std::fclose(f) != 0 || !ok) data::RaiseFault(data::FaultKind::InputOutput);
    data::NoteWritten(SessionOutputFile, text);
    data::NoteWritten(SessionOutputFile, "\n");
}

void AppendFileLines(const std::string& from, const std::string& to) {
    std::FILE* in = data::OpenFile(from, "rb");
    if (in == nullptr) data::RaiseFault(data::FaultKind::InputOutput);
    std::FILE* out = data::OpenFile(to, "ab");
    if (out == nullptr) {
        std::fclose(in);
        data::RaiseFault(data::FaultKind::InputOutput);
    }
    std::vector<char> buffer(1 << 16);
    size_t n;
    int last = '\n';
    bool ok = true;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
        ok = ok && std::fwrite(buffer.data(), 1, n, out) == n;
        data::NoteWritten(to, std::string_view(buffer.data(), n));
        last = buffer[n - 1];
    }
    if (last != '\n') {  // the last line is ended
        ok = ok && std::fputc('\n', out) != EOF;
        data::NoteWritten(to, "\n");
    }
    std::fclose(in);
    if (std::fclose(out) != 0 || !ok) data::RaiseFault(data::FaultKind::InputOutput);
}

void ShowCommandOutput() {
    if (ProgramRunning && data::IsNullDevice(TemporaryOutput)) return;
    data::NewOutFile("NUL");
    if (data::FileSize(TemporaryOutput) < 1) return;
    if (ProgramRunning) {
        AppendFileLines(TemporaryOutput, CurrentOutputFile);
        return;
    }
    OutputPending = true;
    bool keep = TheDesktop->ReviewResults(TemporaryOutput);
    OutputPending = false;
    if (keep) {
        AppendFileLines(TemporaryOutput, CurrentOutputFile);
        if (CurrentOutputFile != SessionOutputFile && EchoOn)
            AppendOutputLine(" *** OUTPUT WRITTEN TO " + CurrentOutputFile + " ***");
    } else if (EchoOn) {
        AppendOutputLine(" *** OUTPUT SUPPRESSED ***");
    }
}

}  // namespace korw::interp
