#include "console/machine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string_view>
#include <vector>

#include "console/status_line.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/desktop.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/programs.h"
#include "interp/state.h"
#include "plot/picture.h"
#include "session/session_life.h"

namespace korw::console {

namespace fs = std::filesystem;

namespace {

// SIGINT stops the running command or program only; one interrupt may reach us twice (from the
// client and from the signal to its process group), so a second one within this time is the
// same interrupt. While no request runs, SIGINT is ignored.
constexpr long kSameInterruptNs = 300'000'000;

volatile std::sig_atomic_t busy = 0;
volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t endSignal = 0;
volatile long lastInterruptSec = 0, lastInterruptNs = 0;

void NoteInterrupt(int) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    long sinceNs =
        (now.tv_sec - lastInterruptSec) * 1'000'000'000L + (now.tv_nsec - lastInterruptNs);
    lastInterruptSec = now.tv_sec;
    lastInterruptNs = now.tv_nsec;
    if (busy == 0 || (interrupted != 0 && sinceNs < kSameInterruptNs)) return;
    interrupted = 1;
    data::RequestStop();  // a running command stops at its next poll, a program after the line
}

void NoteEnd(int signal) {
    endSignal = signal;
    interrupted = 1;
    data::RequestStop();
}

void CatchSignals() {
    struct sigaction interrupt {};
    interrupt.sa_handler = NoteInterrupt;
    sigemptyset(&interrupt.sa_mask);
    interrupt.sa_flags = SA_RESTART;  // a read of the next request goes on
    sigaction(SIGINT, &interrupt, nullptr);
    struct sigaction end {};
    end.sa_handler = NoteEnd;
    sigemptyset(&end.sa_mask);
    end.sa_flags = 0;  // the read of the next request returns
    sigaction(SIGTERM, &end, nullptr);
    sigaction(SIGHUP, &end, nullptr);
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

std::string JsonList(const std::vector<std::string>& items) {
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i) out += (i == 0 ? "" : ",") + items[i];
    return out + "]";
}

// The desktop of machine mode: boxes become the error of the answer, confirmations are answered
// No, dialogs are cancelled, results are accepted, and pictures are written as PNG files whose
// names the answer lists.
class MachineDesktop : public interp::Desktop {
  public:
    explicit MachineDesktop(std::string pictureDirectory)
        : pictureDirectory_(std::move(pictureDirectory)) {}

    void Beep() override {}
    void ErrorBox(const std::string& text) override {
        std::string plain;
        for (char c : text)
            if (c != '\r') plain += c;
        errors_.push_back(plain);
    }
    bool Confirm(const std::string&) override { return false; }
    std::optional<std::string> OpenDialog(const interp::FileDialog&) override { return {}; }
    std::optional<std::string> SaveDialog(const interp::FileDialog&) override { return {}; }
    void ShellOpen(const std::string&, const std::string&) override {
        interp::SetCommandError("Files are not opened in machine mode");
    }
    std::string EditFile(const std::string&) override {
        return "Files are not edited in machine mode";
    }
    bool CopyFile(const std::string& from, const std::string& to) override {
        return data::CopyFileReplacing(from, to);
    }
    bool EscapeRequested() override { return interrupted != 0; }
    bool ReviewResults(const std::string&) override { return true; }
    void LogCommand(const std::string&) override {}
    void SetCommandText(const std::string&) override {}
    // A three-dimensional picture is shown in its first view; nothing waits for a key.
    void ShowPicture(bool) override {
        std::string name =
            pictureDirectory_ + "/KORWPIC" + std::to_string(++pictureCount_) + ".PNG";
        if (plot::SavePicture(name)) pictures_.push_back(name);
    }
    void ShowImage(const std::string& file) override {
        std::string path = data::ResolveExisting(file);
        if (data::FileExists(path))
            pictures_.push_back(fs::absolute(path).string());
        else
            interp::SetCommandError(file + " not found");
    }
    void CloseMainWindow() override { closing_ = true; }

    bool Closing() const { return closing_; }

    // The boxes and pictures of one request; the pictures of the last one are removed then.
    void StartRequest() {
        errors_.clear();
        for (const std::string& p : pictures_)
            if (p.rfind(pictureDirectory_ + "/", 0) == 0) data::RemoveFile(p);
        pictures_.clear();
    }
    const std::vector<std::string>& Errors() const { return errors_; }
    const std::vector<std::string>& Pictures() const { return pictures_; }

  private:
    std::string pictureDirectory_;
    std::vector<std::string> errors_;
    std::vector<std::string> pictures_;
    int pictureCount_ = 0;
    bool closing_ = false;
};

// What the session output gains while a request runs.
std::string captured;

void Capture(std::string_view text) {
    captured.append(text);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The results of a request without the echo of its commands, the marks of a program's start and
// end, and the error lines (the answer carries the error). A remark is carried by its echo, so
// the echo of REMARK gives its text.
std::string Results(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (StartsWith(line, "KORW> REMARK ") || StartsWith(line, "KORW: REMARK ")) {
            out += line.substr(13) + "\n";
            continue;
        }
        if (StartsWith(line, "KORW> ") || StartsWith(line, "KORW: ") ||
            StartsWith(line, " *** ERROR - ") || line == " *** START OF PROGRAM ***" ||
            line == " *** END OF PROGRAM ***" || line == " *** PROGRAM INTERRUPTED ***")
            continue;
        out += line + "\n";
    }
    return out;
}

class Machine {
  public:
    Machine(std::FILE* protocol, MachineDesktop& desktop, std::string cellDirectory)
        : protocol_(protocol), desktop_(desktop), cellDirectory_(std::move(cellDirectory)) {}

    void Answer(const std::string& json) {
        std::fputs(json.c_str(), protocol_);
        std::fputc('\n', protocol_);
        std::fflush(protocol_);
    }

    // Runs a typed command, or a program of the lines given, and answers with its results.
    void Run(const std::string& line, const std::vector<std::string>* programLines) {
        desktop_.StartRequest();
        captured.clear();
        interrupted = 0;
        busy = 1;
        bool ok;
        int interruptedBefore = interp::InterruptedPrograms();
        if (programLines != nullptr)
            ok = RunProgram(*programLines);
        else
            ok = interp::RunTypedCommand(line, true);
        ok = RunCommandFile() && ok;
        busy = 0;
        if (interp::InterruptedPrograms() != interruptedBefore) ok = false;
        std::string error;
        for (const std::string& e : desktop_.Errors()) error += (error.empty() ? "" : "\n") + e;
        if (!ok && error.empty()) error = "Interrupted";
        std::vector<std::string> pictures;
        for (const std::string& p : desktop_.Pictures()) pictures.push_back(Json(p));
        Answer(std::string("{\"status\":") + (ok ? "\"ok\"" : "\"error\"") +
               ",\"output\":" + Json(Results(captured)) + ",\"error\":" + Json(ok ? "" : error) +
               ",\"pictures\":" + JsonList(pictures) +
               ",\"closed\":" + (desktop_.Closing() ? "true" : "false") + "}");
    }

    void Vectors() {
        std::vector<std::string> items;
        for (int i = 1; i <= data::TableSize; ++i) {
            const data::Vector& v = data::Entry(i);
            if (v.kind == data::FreeEntry) continue;
            items.push_back("{\"name\":" + Json(v.name) + ",\"kind\":" +
                            (v.kind == data::FactorKind ? "\"factor\"" : "\"variate\"") +
                            ",\"length\":" + std::to_string(v.length) +
                            ",\"levels\":" + std::to_string(v.levels) + "}");
        }
        Answer("{\"vectors\":" + JsonList(items) + "}");
    }

    // Completions of the command word (when the text has no blank) or of the vector name the
    // text ends with.
    void Complete(const std::string& text) {
        size_t blank = text.find(' ');
        size_t start = 0;
        std::vector<std::string> candidates;
        if (blank == std::string::npos) {
            for (std::string_view name : interp::CommandTable()) candidates.emplace_back(name);
        } else {
            start = text.size();
            while (start > blank && IsNameChar(text[start - 1])) --start;
            candidates = interp::VectorNames();
        }
        std::string word = data::UpperName(text.substr(start));
        std::vector<std::string> matches;
        for (const std::string& c : candidates)
            if (StartsWith(c, word)) matches.push_back(Json(c));
        Answer("{\"matches\":" + JsonList(matches) + ",\"start\":" + std::to_string(start) + "}");
    }

    void Help(const std::string& word) {
        std::string name = interp::MatchCommand(data::UpperName(word));
        Answer("{\"help\":" + Json(name.empty() ? "" : HelpSection(name)) + "}");
    }

  private:
    static bool IsNameChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '#' || c == '$' || c == '%' ||
               c == '&' || c == '@' || c == '_';
    }

    // The section of the help text headed by the name, a line of "=" under it, up to the next
    // such heading.
    static std::string HelpSection(const std::string& name) {
        std::istringstream in(session::HelpText());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        auto heading = [&lines](size_t i) {
            return i + 1 < lines.size() && !lines[i].empty() &&
                   lines[i + 1] == std::string(lines[i].size(), '=');
        };
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] != name || !heading(i)) continue;
            size_t end = i + 2;
            while (end < lines.size() && !heading(end)) ++end;
            while (end > i && lines[end - 1].empty()) --end;
            std::string text;
            for (size_t k = i; k < end; ++k) text += lines[k] + "\n";
            return text;
        }
        return "";
    }

    bool RunProgram(const std::vector<std::string>& lines) {
        std::string file = cellDirectory_ + "/CELL.KOR";
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            for (const std::string& line : lines) out << line << "\n";
            if (!out) {
                desktop_.ErrorBox("Can not write the program " + file);
                return false;
            }
        }
        return interp::RunTypedCommand("RUN " + cellDirectory_ + "/CELL", false);
    }

    // An opened command file runs to its end at once, as in batch mode.
    bool RunCommandFile() {
        bool ok = true;
        while (interp::CommandFileOpen && !desktop_.Closing() && interrupted == 0) {
            std::optional<std::string> next = interp::NextCommandFileLine();
            if (!next) break;
            ok = interp::RunTypedCommand(*next, false) && ok;
        }
        return ok;
    }

    std::FILE* protocol_;
    MachineDesktop& desktop_;
    std::string cellDirectory_;
};

// Reads requests until the end of input, QUIT or a signal to end.
void Serve(Machine& machine, MachineDesktop& desktop) {
    std::string line;
    while (!desktop.Closing() && endSignal == 0 && std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t blank = line.find(' ');
        std::string verb = line.substr(0, blank);
        std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (verb == "command") {
            machine.Run(rest, nullptr);
        } else if (verb == "program") {
            int count = std::atoi(rest.c_str());
            std::vector<std::string> lines;
            for (int i = 0; i < count && std::getline(std::cin, line); ++i) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                lines.push_back(line);
            }
            machine.Run("", &lines);
        } else if (verb == "vectors") {
            machine.Vectors();
        } else if (verb == "complete") {
            machine.Complete(rest);
        } else if (verb == "help") {
            machine.Help(rest);
        } else {
            machine.Answer("{\"status\":\"error\",\"error\":" + Json("Unknown request " + verb) +
                           "}");
        }
    }
}

int RunSession(const MachineOptions& options, std::FILE* protocol, const std::string& cells) {
    MachineDesktop desktop(cells);
    interp::TheDesktop = &desktop;
    Machine machine(protocol, desktop, cells);
    std::string message;
    if (session::SessionOutputExists() || !session::CreateTemporaryOutput(message)) {
        machine.Answer("{\"ready\":false,\"error\":" +
                       Json(message.empty() ? "Another session uses the root directory" : message) +
                       "}");
        return 1;
    }
    session::StartSession(fs::current_path().string());
    if (data::FileExists(interp::WorkingDirectory + "/autoexec.kor"))
        interp::RunTypedCommand("run autoexec", false);
    machine.Answer("{\"ready\":true,\"version\":" + Json(interp::kVersion) +
                   ",\"directory\":" + Json(interp::WorkingDirectory) + "}");
    Serve(machine, desktop);
    desktop.StartRequest();  // the last pictures go
    bool kept = true;
    if (session::FinishLibrarySession()) {
        kept = options.out.empty() || session::KeepOutput(fs::absolute(options.out).string());
        if (kept || options.root.empty())
            session::RemoveSessionFiles(!options.root.empty());
        else
            data::RemoveFile(interp::TemporaryOutput);
    }
    machine.Answer(std::string("{\"closed\":true,\"kept\":") + (kept ? "true" : "false") + "}");
    return kept && endSignal == 0 ? 0 : 1;
}

}  // namespace

int RunMachine(const MachineOptions& options) {
    // The protocol has standard output to itself: anything else that writes there goes to
    // standard error instead.
    std::fflush(stdout);
    int protocolFd = ::dup(STDOUT_FILENO);
    std::FILE* protocol = protocolFd < 0 ? nullptr : ::fdopen(protocolFd, "w");
    if (protocol == nullptr || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::cerr << "korw: cannot set up machine mode\n";
        return 1;
    }
    std::string root = options.root;
    bool privateRoot = root.empty();
    if (privateRoot) root = session::MakePrivateDirectory("korw");
    std::string cells = session::MakePrivateDirectory("korw-cells");
    if (root.empty() || !fs::is_directory(root) || cells.empty()) {
        std::cerr << "korw: cannot use " << (root.empty() ? "a temporary root" : root)
                  << " as root directory\n";
        return 1;
    }
    session::PrepareRoot(fs::absolute(root).lexically_normal().string());
    data::ObserveFile(interp::SessionOutputFile, Capture);
    CatchSignals();
    InstallBatchLongWork(false);  // no status line: standard error is the client's log
    int status = 1;
    try {
        status = RunSession(options, protocol, cells);
    } catch (const data::Fault& fault) {
        std::cerr << "korw: " << interp::FaultText(fault.kind) << "\n";
    }
    interp::TheDesktop = nullptr;
    data::ObserveFile("", nullptr);
    std::error_code ec;
    fs::remove_all(cells, ec);
    if (privateRoot) fs::remove_all(root, ec);
    std::fclose(protocol);
    return status;
}

}  // namespace korw::console
