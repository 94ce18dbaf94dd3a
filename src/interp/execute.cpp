#include "interp/execute.h"

#include <unistd.h>

#include <array>
#include <memory>
#include <new>

#include "data/files.h"
#include "data/long_work.h"
#include "data/outfile.h"
#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/programs.h"
#include "interp/state.h"
#include "models/models.h"

namespace korw::interp {

namespace {

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string ApplyAlias(const std::string& word) {
    if (word == "L") return "LIST";
    if (word == "L1") return "LIST1";
    if (word == "OPEN") return "OPENINFILE";
    if (word == "SAVE") return "SAVEDATA";
    return word;
}

bool DiscardsParameters(const std::string& word) {
    return word == "RAMSTATUS" || word == "QUIT" || word == "CLOSEPSFILE" || word == "INCLUDEALL" ||
           word == "LISTPARAMETERS";
}

// What the command window holds: the typed text, replaced by the identified command once
// ExecuteCommand knows it (not for program lines, nor while the editor issues the commands).
// The command log takes its line from here.
std::string commandWindowText;

void WriteErrorLine() {
    if (!CommandError.empty() && EchoOn && !SessionClosing)
        AppendOutputLine(" *** ERROR - " + CommandError + " ***");
}

// Commands that may replace the fit record: a stopped one puts the record back.
bool MayFit(const std::string& word) {
    return word.rfind("FIT", 0) == 0 || word == "CONSTRUCTMINIMUM";
}

// The long-work report of one command ends with it, also through a fault.
struct WorkScope {
    WorkScope(const std::string& word, const std::string& params) {
        data::BeginWork(word, params.empty() ? word : word + " " + params);
    }
    ~WorkScope() { data::EndWork(); }
    WorkScope(const WorkScope&) = delete;
    WorkScope& operator=(const WorkScope&) = delete;
};

// Runs a command's action; when memory runs out on the way, or the user stops the command, the
// vectors the command had declared so far are deleted again, so the table holds what it held
// before, and the command fails with a message instead of ending the session. The library fills
// a vector only after it has the memory it needs, so vectors that existed before keep their
// values; a loop that changes vectors in place undoes its changes when it is stopped, and the
// fit record of a stopped fit is put back.
void RunAction(CommandAction action, const std::string& word, const std::string& params) {
    std::array<bool, data::TableSize + 1> wasInUse{};
    for (int i = 1; i <= data::TableSize; ++i) wasInUse[i] = data::Entry(i).kind != data::FreeEntry;
    auto deleteNewVectors = [&wasInUse] {
        for (int i = 1; i <= data::TableSize; ++i)
            if (!wasInUse[i] && data::Entry(i).kind != data::FreeEntry)
                data::Delete(data::Entry(i).name);
    };
    std::unique_ptr<models::SavedFit> savedFit;
    if (MayFit(word)) savedFit = std::make_unique<models::SavedFit>();
    const std::array<bool, 3> fitted{AnovaFitted, NegBinFitted, NonLinearFitted};
    WorkScope work(word, params);
    try {
        action(params);
    } catch (const std::bad_alloc&) {
        deleteNewVectors();
        data::ErrorFree = false;
        CommandError = "Not enough memory to run " + word;
    } catch (const data::Interrupted&) {
        deleteNewVectors();
        if (savedFit) {
            savedFit->Restore();
            AnovaFitted = fitted[0];
            NegBinFitted = fitted[1];
            NonLinearFitted = fitted[2];
        }
        data::ErrorFree = false;
        data::ErrorMessage = data::kInterruptedText;
        CommandError = data::kInterruptedText;
    }
}

}  // namespace

std::string NormaliseBlanks(const std::string& line) {
    size_t b = line.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    size_t e = line.find_last_not_of(' ');
    std::string out;
    out.reserve(e - b + 1);
    for (size_t i = b; i <= e; ++i)
        if (line[i] != ' ' || out.back() != ' ') out.push_back(line[i]);
    return out;
}

const char* FaultText(data::FaultKind kind) {
    switch (kind) {
        case data::FaultKind::FloatDivideByZero:
        case data::FaultKind::IntDivideByZero:
            return "Unexpected division by zero - sorry! ";
        case data::FaultKind::IntOverflow:
        case data::FaultKind::RangeCheck:
            return "Unexpected integer register overflow - sorry! ";
        case data::FaultKind::InvalidFloat:
        case data::FaultKind::FloatOverflow:
            return "Unexpected floating point overflow - sorry! ";
        case data::FaultKind::InputOutput:
            return "Unexpected I/O error - sorry! ";
    }
    return "Unexpected I/O error - sorry! ";
}

// A fault while QUIT runs closes the session. Lines that are not completed (batch lines, "quit",
// "qu") are QUIT commands as well as the completed "QUIT".
static bool IsQuitCommand(const std::string& text) {
    std::string word = UpperAscii(SplitFirst(NormaliseBlanks(text)).head);
    return word.rfind("QUIT", 0) == 0 || MatchCommand(word) == "QUIT";
}

// "x=a+b" and "+x=1" are COMPUTE commands also where the command word is not completed
// (batch lines): the first word holds "=" before the end, or the text begins with "+".
static std::string AssignmentShortcut(const std::string& text) {
    size_t eq = text.substr(0, text.find(' ')).find('=');
    if ((eq == std::string::npos || eq + 1 >= text.size()) && !(text.size() > 1 && text[0] == '+'))
        return text;
    return "COMPUTE " + (text[0] == '=' || text[0] == '+' ? text.substr(1) : text);
}

void ExecuteCommand(const std::string& rawLine) {
    if (ProgramRunning) {
        if (TheDesktop->EscapeRequested()) EscapePressed = true;  // read by the program loop
    } else if (!WorkingDirectory.empty() && ::chdir(WorkingDirectory.c_str()) != 0) {
        // A vanished working directory leaves the present one current; files say the rest.
    }
    data::ErrorFree = true;
    CommandError.clear();

    std::string line = NormaliseBlanks(rawLine);
    Split split = SplitFirst(line);
    std::string word = ApplyAlias(UpperAscii(split.head));
    std::string params = split.tail;
    if (DiscardsParameters(word)) params.clear();

    std::string name = MatchCommand(word);
    if (name.empty())
        CommandError = "Unknown command " + word;
    else
        word = name;

    if (word == "QUIT" && !data::FileExists(SessionOutputFile)) {
        TheDesktop->Beep();
        TheDesktop->ErrorBox(
            "The sessions output file has disappeared!\r\nDid you close another session during "
            "this session?");
        TheDesktop->CloseMainWindow();
        WriteErrorLine();
        return;
    }
    if (EchoOn && !SessionClosing)
        AppendOutputLine((ProgramRunning ? "KORW: " : "KORW> ") + word + " " + params);
    if (!(ProgramRunning && data::IsNullDevice(TemporaryOutput))) data::NewOutFile(TemporaryOutput);

    if (word.empty()) {
        CommandError = "Empty command";
    } else if (CommandError.empty()) {
        if (!ProgramRunning && !EditorActive) {
            commandWindowText = params.empty() ? word : word + " " + params;
            TheDesktop->SetCommandText(commandWindowText);
        }
        CommandAction action = FindCommandAction(word);
        if (action == nullptr)
            CommandError = "Command " + word + " not implemented";
        else
            RunAction(action, word, params);
    }
    WriteErrorLine();
}

bool RunTypedCommand(const std::string& typed, bool expand) {
    CommandError.clear();
    std::string text = typed;
    if (expand) {
        if (!text.empty() && text[0] == ' ') text = "COMPUTE " + text;
        text = ExpandCommandLine(text);
    } else {
        text = AssignmentShortcut(text);
    }
    commandWindowText = text;
    try {
        ExecuteCommand(text);
    } catch (const data::Fault& fault) {
        if (fault.kind == data::FaultKind::InputOutput && IsQuitCommand(text)) {
            TheDesktop->ErrorBox("Cannot write to the sessions outputfile");
            SessionClosing = true;
            TheDesktop->CloseMainWindow();
            return false;
        }
        CommandError = FaultText(fault.kind);
        try {
            WriteErrorLine();
        } catch (const data::Fault&) {
            // The session output itself cannot be written; the error box still tells.
        }
    }
    if (CommandError.empty()) {
        TheDesktop->LogCommand(commandWindowText);
        return true;
    }
    TheDesktop->LogCommand("*** " + commandWindowText);
    TheDesktop->Beep();
    TheDesktop->ErrorBox(CommandError);
    CommandError.clear();
    return false;
}

}  // namespace korw::interp
