// Programs: RUN, SUBSTITUTE, GOTO, SHOW in a program, OPENCOMMANDFILE.
#include <array>
#include <cstdio>
#include <fstream>
#include <vector>

#include "data/datasets.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/outfile.h"
#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/commands.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/programs.h"
#include "interp/state.h"

namespace korw::interp {

namespace {

constexpr int kSubstitutions = 100;
constexpr size_t kTextAfterReplacement = 254;  // a replaced line keeps this much of its tail

struct Program {
    std::vector<std::string> lines;  // lines[0] is line 1
    int currentLine = 0;
    int loopCount = 0;
};

Program program;
std::array<std::string, kSubstitutions> runValues;
std::array<std::string, kSubstitutions> substituteNames;
bool substitutionActive = false;
bool showAtEnd = false;
std::string showAtEndName;
int interruptedPrograms = 0;
int startedPrograms = 0;
std::FILE* commandFile = nullptr;

std::string TrimRight(std::string s) {
    size_t e = s.find_last_not_of(' ');
    s.erase(e == std::string::npos ? 0 : e + 1);
    return s;
}

std::string TrimLeft(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b);
}

// Everything from a "{" to the next "}" goes; an unclosed "{" takes the rest of the line.
// One pass over the line, so that a long line costs time in proportion to its length.
std::string RemoveBraces(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (size_t i = 0; i < line.size();) {
        size_t open = line.find('{', i);
        out.append(line, i, open == std::string::npos ? std::string::npos : open - i);
        if (open == std::string::npos) break;
        size_t close = line.find('}', open);
        if (close == std::string::npos) break;
        i = close + 1;
    }
    return out;
}

bool ReadLine(std::FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return c != EOF || !line.empty();
}

// The next logical line: continuation lines ending with "\" are joined. `joined` counts the
// physical lines that went into it besides the last.
bool ReadLogicalLine(std::FILE* f, std::string& line, int& joined) {
    joined = 0;
    if (!ReadLine(f, line)) return false;
    line = TrimRight(line);
    std::string next;
    while (!line.empty() && line.back() == '\\' && ReadLine(f, next)) {
        ++joined;
        line.pop_back();
        line += TrimRight(next);
    }
    return true;
}

bool LoadProgram(const std::string& file) {
    std::FILE* f = data::OpenFile(file + ".KOR", "r");
    if (f == nullptr) {
        SetCommandError("Can not open " + file + ".kor");
        if (EditorActive) {
            TheDesktop->Beep();
            TheDesktop->ErrorBox(CommandError);
        }
        return false;
    }
    data::SkipByteOrderMark(f);
    program = Program{};
    std::string line;
    int joined;
    while (ReadLogicalLine(f, line, joined)) {
        program.lines.insert(program.lines.end(), joined, "");  // numbering as in the file
        program.lines.push_back(RemoveBraces(line));
    }
    std::fclose(f);
    return true;
}

// Plain replacement of every occurrence, left to right, never rescanning an inserted value.
void Substitute(std::string& line) {
    for (int i = 0; i < kSubstitutions; ++i) {
        const std::string& name = substituteNames[i];
        const std::string& value = runValues[i];
        if (name.empty() || value.empty()) continue;
        for (size_t at = line.find(name); at != std::string::npos; at = line.find(name, at)) {
            std::string tail = line.substr(at + name.size(), kTextAfterReplacement);
            line = line.substr(0, at) + value + tail;
            at += value.size();
        }
    }
}

// The next line to run, with comments passed over and the COMPUTE shortcuts applied.
bool FetchLine(std::string& line) {
    while (program.currentLine < static_cast<int>(program.lines.size())) {
        line = TrimLeft(program.lines[program.currentLine++]);
        if (line.empty() || line[0] == '%') continue;
        if (line[0] == '=' || line[0] == '+') line = "COMPUTE " + line.substr(1);
        size_t eq = line.find('=');
        if (eq != std::string::npos && line.substr(0, eq).find(' ') == std::string::npos)
            line = "COMPUTE " + line;
        return true;
    }
    return false;
}

void RunLine(const std::string& line) {
    try {
        ExecuteCommand(line);
    } catch (const data::Fault& fault) {
        CommandError = FaultText(fault.kind);
        try {
            if (EchoOn) AppendOutputLine(" *** ERROR - " + CommandError + " ***");
        } catch (const data::Fault&) {
            // The session output itself cannot be written; the program still stops here.
        }
    }
}

void DeleteDollarVectors() {
    for (int i = 1; i <= data::TableSize; ++i) {
        data::Vector& v = data::Entry(i);
        if (v.kind != data::FreeEntry && !v.name.empty() && v.name[0] == '$') {
            std::string name = v.name;
            data::Delete(name);
        }
    }
    data::ErrorFree = true;
}

void StopProgram() {
    ProgramRunning = false;
    TemporaryOutput = RootTemporaryOutput();
    program.lines.clear();
    std::string where =
        program.loopCount > 0 ? "loop " + std::to_string(program.loopCount) + ", " : "";
    bool escape = CommandError == "Escape from keyboard";
    CommandError += " (" + where + "line " + std::to_string(program.currentLine) + ")";
    if (escape && EchoOn) AppendOutputLine(" *** ERROR - " + CommandError + " ***");
}

void ExecuteProgram() {
    std::string line;
    for (;;) {
        CommandError.clear();
        if (!FetchLine(line)) break;
        if (substitutionActive) Substitute(line);
        RunLine(line);
        if (EscapePressed) CommandError = "Escape from keyboard";
        if (!CommandError.empty()) {
            StopProgram();
            break;
        }
    }
    ProgramRunning = false;
    TemporaryOutput = RootTemporaryOutput();
    DeleteDollarVectors();
    bool interrupted = !CommandError.empty();
    if (interrupted) ++interruptedPrograms;
    if (EchoOn)
        AppendOutputLine(interrupted ? " *** PROGRAM INTERRUPTED ***" : " *** END OF PROGRAM ***");
    if (showAtEnd) TheDesktop->ShowFile(showAtEndName.empty() ? SessionOutputFile : showAtEndName);
    if (interrupted) {
        TheDesktop->Beep();
        TheDesktop->ErrorBox(CommandError);
        CommandError.clear();
    }
}

// The file part that RUN checks: after the last ":", "\" or "/", before the first ".".
std::string BareName(const std::string& file) {
    size_t slash = file.find_last_of(":\\/");
    std::string part = slash == std::string::npos ? file : file.substr(slash + 1);
    return part.substr(0, part.find('.'));
}

bool FillRunValues(const std::string& values) {
    runValues.fill("");
    substituteNames.fill("");
    substitutionActive = false;
    std::string rest = values;
    for (int i = 0; i < kSubstitutions && !rest.empty(); ++i) {
        Split s = SplitFirst(rest);
        runValues[i] = s.head;
        rest = s.tail;
    }
    if (!rest.empty()) return SetCommandError("Substitution list too long"), false;
    return true;
}

}  // namespace

int StartedPrograms() {
    return startedPrograms;
}

int InterruptedPrograms() {
    return interruptedPrograms;
}

std::optional<std::string> ChooseProgramFile(const std::string& title) {
    FileDialog dialog{title, "KORW program (*.KOR)|*.KOR", ".KOR", WorkingDirectory, "", false};
    return TheDesktop->OpenDialog(dialog);
}

void CmdRun(const std::string& params) {
    if (ProgramRunning) return SetCommandError("Nested programs not allowed");
    Split split = SplitFirst(params);
    std::string file = split.head;
    if (file.empty() || file == "*") {
        std::optional<std::string> chosen = ChooseProgramFile("Select program to RUN");
        file.clear();
        if (chosen && data::FileExists(*chosen)) {
            file = chosen->size() > 4 ? chosen->substr(0, chosen->size() - 4) : *chosen;
            if (EchoOn) {
                AppendOutputLine("Program selected from dialog box:");
                AppendOutputLine(*chosen);
            }
        }
    }
    if (!FillRunValues(split.tail)) return;
    std::string bare = BareName(file);
    if (file.empty() || data::UpperName(bare) == "CON") return SetCommandError("Invalid file name");
    if (!LoadProgram(file)) return;

    ProgramRunning = true;
    ++startedPrograms;
    if (data::IsNullDevice(CurrentOutputFile)) {
        TemporaryOutput = "NUL";
        data::NewOutFile(TemporaryOutput);
    }
    showAtEnd = false;
    EscapePressed = false;
    // A fault that escapes the program (the session output file failing under the START or END
    // line) must not leave the interpreter believing a program still runs: every later RUN
    // would be refused as nested, and SUBSTITUTE and GOTO accepted interactively.
    try {
        if (EchoOn)
            AppendOutputLine(RunSelectionOnly
                                 ? " *** START OF PROGRAM - executing selected lines only ***"
                                 : " *** START OF PROGRAM ***");
        TheDesktop->ShowProgramNotice(" Running KORW program " + file +
                                      " - press Escape to interrupt ");
        program.currentLine = 0;
        program.loopCount = 0;
        ExecuteProgram();
    } catch (const data::Fault&) {
        ProgramRunning = false;
        TemporaryOutput = RootTemporaryOutput();
        program.lines.clear();
        throw;
    }
}

void CmdSubstitute(const std::string& params) {
    if (!ProgramRunning) return SetCommandError("SUBSTITUTE not allowed in interactive mode");
    std::string rest = params;
    for (int i = 0; i < kSubstitutions && !rest.empty(); ++i) {
        Split s = SplitFirst(rest);
        rest = s.tail;
        Split pair = SplitFirst(s.head, "=");
        substituteNames[i] = pair.head;
        if (pair.separator == '=' && !pair.tail.empty()) runValues[i] = pair.tail;
        if (substituteNames[i].empty() != runValues[i].empty())
            return SetCommandError(
                "Length of SUBSTITUTE list does not match length of parameter list");
    }
    if (!rest.empty()) return SetCommandError("SUBSTITUTE list too long");
    substitutionActive = true;
}

void CmdGoto(const std::string& params) {
    if (!ProgramRunning) return SetCommandError("GOTO not allowed in interactive mode");
    Split split = SplitLast(params);
    float condition;
    if (RealParameter(split.tail, condition) != 0)
        return SetCommandError("Invalid real number " + split.tail);
    if (!(condition > 0)) return;
    const std::string& label = split.head;
    int count = static_cast<int>(program.lines.size());
    for (int pass = 0, line = program.currentLine; pass < 2; ++pass, line = 0) {
        if (pass == 1) ++program.loopCount;
        for (++line; line <= count; ++line) {
            if (NormaliseBlanks(program.lines[line - 1]) == label) {
                program.currentLine = line;
                return;
            }
        }
    }
    program.currentLine = count;
}

void CmdShow(const std::string& params) {
    if (ProgramRunning) {
        showAtEnd = true;
        showAtEndName = params;
        return;
    }
    if (params.empty()) return TheDesktop->ShowFile(SessionOutputFile);
    if (!data::FileExists(params)) return SetCommandError("The file " + params + " does not exist");
    size_t dot = params.find_last_of("./");
    std::string ext = dot == std::string::npos || params[dot] == '/' ? "" : params.substr(dot);
    ext = data::UpperName(ext);
    static const char* const kTextTypes[] = {".OUT", ".KOR", ".EPS", ".PS", ".DAT",
                                             ".TXT", ".BAT", ".CMD", "."};
    for (const char* type : kTextTypes)
        if (ext == type) return TheDesktop->ShowFile(params);
    if (ext == ".KDS") {
        data::Contents(params.substr(0, params.size() - 4));  // Contents adds ".KDS"
        if (!LibraryFailed()) ShowCommandOutput();
        return;
    }
    if (ext == ".JPG" || ext == ".BMP" || ext == ".PNG") return TheDesktop->ShowImage(params);
    SetCommandError("Unknown file type - use SHELL");
}

void CmdOpenCommandFile(const std::string& params) {
    if (ProgramRunning) return SetCommandError("OPENCOMMANDFILE not allowed in programs");
    if (commandFile != nullptr) std::fclose(commandFile);
    commandFile = nullptr;
    CommandFileOpen = false;
    if (params.empty()) {
        if (DemoMode) TheDesktop->ShowDemoMenu();
        return;
    }
    std::string name = data::UpperFileName(params + ".KOR");
    commandFile = data::OpenFile(name, "r");
    if (commandFile == nullptr) return SetCommandError("Can not open " + name);
    data::SkipByteOrderMark(commandFile);
    CommandFileOpen = true;
}

// In demonstration mode the comment lines before a command explain it: they are collected
// (without their "%") and shown before the command is handed out.
std::optional<std::string> NextCommandFileLine() {
    if (commandFile == nullptr) return {};
    std::string line;
    std::string comments;
    int joined;
    while (ReadLogicalLine(commandFile, line, joined)) {
        line = TrimLeft(line);
        if (line.empty()) continue;
        if (line[0] == '%') {
            if (DemoMode) comments += line.substr(1) + "\n";
            continue;
        }
        if (!comments.empty()) TheDesktop->ShowDemoText(comments);
        return ExpandCommandLine(line);
    }
    std::fclose(commandFile);
    commandFile = nullptr;
    CommandFileOpen = false;
    if (!comments.empty()) TheDesktop->ShowDemoText(comments);
    if (DemoMode) TheDesktop->ShowDemoMenu();
    return {};
}

}  // namespace korw::interp
