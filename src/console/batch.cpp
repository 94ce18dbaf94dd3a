#include "console/batch.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string_view>

#include "console/batch_desktop.h"
#include "console/status_line.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/outfile.h"
#include "interp/execute.h"
#include "interp/programs.h"
#include "interp/state.h"
#include "session/session_life.h"

namespace korw::console {

namespace fs = std::filesystem;

namespace {

// Every line written to the session output file goes to stdout at once, from its writer, so
// that stdout has the whole session even when the file is removed behind our back.
void CopyToStdout(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (!text.empty() && text.back() == '\n') std::fflush(stdout);
}

class SessionStream {
  public:
    void Flush() { std::fflush(stdout); }
};

// Runs one command as typed; false when it failed or a program it started was interrupted.
bool RunLine(const std::string& line, SessionStream& stream) {
    int interrupted = interp::InterruptedPrograms();
    bool ok = interp::RunTypedCommand(line, false);
    if (interp::InterruptedPrograms() != interrupted) ok = false;
    stream.Flush();
    return ok;
}

// Nobody presses Down in batch mode: an opened command file is run to its end at once, each
// command as if fetched into the command window and executed with Return.
bool RunCommandFile(BatchDesktop& desktop, SessionStream& stream) {
    bool allOk = true;
    while (interp::CommandFileOpen && !desktop.Closing() && !StopSignalled()) {
        std::optional<std::string> next = interp::NextCommandFileLine();
        if (!next) break;
        allOk = RunLine(*next, stream) && allOk;
    }
    return allOk;
}

// Runs the lines of stdin until their end or QUIT; false when any command failed.
bool RunLines(BatchDesktop& desktop, SessionStream& stream) {
    bool allOk = true;
    std::string line;
    while (!desktop.Closing() && !StopSignalled() && std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        allOk = RunLine(line, stream) && allOk;
        allOk = RunCommandFile(desktop, stream) && allOk;
    }
    return allOk;
}

int RunSession(const BatchOptions& options, BatchDesktop& desktop) {
    SessionStream stream;
    std::string workingDirectory =
        options.demo ? interp::RootDirectory + "/DEMOS" : fs::current_path().string();
    std::string startCommand;
    if (options.input != "-") {
        fs::path file = fs::absolute(options.input);
        if (!fs::is_regular_file(file)) {
            std::cerr << "korw: " << options.input << ": no such file\n";
            return 1;
        }
        workingDirectory = file.parent_path().string();
        startCommand = session::StartCommandFor(file.string(), options.values);
    }
    if (session::SessionOutputExists()) {
        std::string text;
        for (const std::string& line : session::SessionActiveQuestion()) text += line + "\n";
        if (!desktop.Confirm(text)) return 1;
    }
    std::string message;
    if (!session::CreateTemporaryOutput(message)) {
        desktop.ErrorBox(message);
        return 1;
    }
    try {
        session::StartSession(workingDirectory);
    } catch (const data::Fault&) {
        // A start that fails (a full disk) must not leave the root looking busy to every later
        // session: the files it made are removed.
        session::RemoveSessionFiles(false);
        throw;
    }
    stream.Flush();

    bool allOk = true;
    if (data::FileExists(workingDirectory + "/autoexec.kor")) {
        allOk = interp::RunTypedCommand("run autoexec", false) && allOk;
        stream.Flush();
    }
    if (!startCommand.empty()) {
        if (!desktop.Closing())
            allOk = interp::RunTypedCommand(startCommand, false) &&
                    interp::InterruptedPrograms() == 0 && allOk;
        stream.Flush();
    } else {
        allOk = RunLines(desktop, stream) && allOk;
    }

    // The end-of-session lines reach stdout before the files are removed.
    if (session::FinishLibrarySession()) {
        stream.Flush();
        bool kept = options.out.empty() || session::KeepOutput(fs::absolute(options.out).string());
        if (!kept) {
            desktop.ErrorBox("Can not save the session output as " + options.out);
            allOk = false;
        }
        // An output that could not be saved stays in a root of the user's as KORWOUT.TMP.
        if (kept || options.root.empty())
            session::RemoveSessionFiles(!options.root.empty());
        else
            data::RemoveFile(interp::TemporaryOutput);
    }
    return allOk && !StopSignalled() ? 0 : 1;
}

}  // namespace

int RunBatch(const BatchOptions& options) {
    std::string root = options.root;
    bool privateRoot = root.empty();
    if (privateRoot) root = session::MakePrivateDirectory("korw");
    if (root.empty() || !fs::is_directory(root)) {
        std::cerr << "korw: cannot use " << (root.empty() ? "a temporary root" : root)
                  << " as root directory\n";
        return 1;
    }
    session::PrepareRoot(fs::absolute(root).lexically_normal().string());
    data::ObserveFile(interp::SessionOutputFile, CopyToStdout);

    BatchDesktop desktop(options.yes, options.pictures, options.pictureType);
    CatchStopSignals();
    InstallBatchLongWork(options.progress);
    interp::TheDesktop = &desktop;
    int status = 1;
    try {
        status = RunSession(options, desktop);
    } catch (const data::Fault& fault) {
        std::cerr << "korw: " << interp::FaultText(fault.kind) << "\n";
    }
    interp::TheDesktop = nullptr;
    data::ObserveFile("", nullptr);
    std::error_code ec;
    if (privateRoot) fs::remove_all(root, ec);
    return status;
}

}  // namespace korw::console
