#include "console/terminal.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "console/status_line.h"
#include "console/terminal_desktop.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/execute.h"
#include "interp/programs.h"
#include "interp/shortkeys.h"
#include "interp/state.h"
#include "io/import.h"
#include "session/session_life.h"

namespace korw::console {

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrompt = "KORW> ";
constexpr const char* kQuitQuestion = "QUIT ? (Press Return to quit, Escape to continue)";

TerminalDesktop* desktop = nullptr;
std::string pendingText;  // put into the next command line (a failed command, a key's text)
interp::ShortCompletion lastCompletion;  // what the previous typed key's completion made

void SetLine(const std::string& text) {
    rl_replace_line(text.c_str(), 0);
    rl_point = rl_end;
}

// Executes the line as Return does. Return's own function draws the final line and moves to
// the next; setting rl_done alone would leave the screen showing the text before the key and
// the next prompt drawn over it.
void AcceptLine() {
    rl_redisplay();
    rl_newline(1, '\n');
}

// The command word is completed at every key that types a character, as the user types.
void ExpandTypedLine() {
    if (interp::ProgramRunning) return;
    std::string text = rl_line_buffer;
    bool invalid = false;
    std::string expanded = interp::CompleteTypedLine(text, lastCompletion, &invalid);
    if (invalid) desktop->Beep();
    if (expanded == text) return;
    int point = rl_point + static_cast<int>(expanded.size()) - static_cast<int>(text.size());
    rl_replace_line(expanded.c_str(), 0);
    rl_point = std::clamp(point, 0, rl_end);
}

// Keys of an empty command line: A runs INCLUDEALL; "=", "+" and 0 to 4 start a command.
bool EmptyLineKey(int key) {
    static const char* const kDigitCommands[] = {"SUMMARY ", "ONEWAYTABLE ", "TWOWAYTABLE ",
                                                 "THREEWAYTABLE ", "TABULATE "};
    if (rl_end != 0) return false;
    if (key == 'a' || key == 'A') {  // the A key without Shift, or with Caps Lock
        SetLine("INCLUDEALL");
        AcceptLine();
        return true;
    }
    if (key == '=') return SetLine("COMPUTE ="), true;
    if (key == '+') return SetLine("COMPUTE "), true;
    if (key >= '0' && key <= '4') return SetLine(kDigitCommands[key - '0']), true;
    return false;
}

int TypeKey(int count, int key) {
    if (EmptyLineKey(key)) return 0;
    rl_insert(count, key);
    if (key != ' ') ExpandTypedLine();
    return 0;
}

// "½" (typed in UTF-8) is taken as the vertical bar on the command line.
int OneHalfKey(int, int) {
    return TypeKey(1, '|');
}

// "½" at the other prompts is itself.
int OneHalfText(int, int) {
    return rl_insert_text("\u00bd"), 0;
}

// Escape: empties a line with text; on an empty line it offers OPENCOMMANDFILE (to close an
// open command file) or the QUIT question.
int EscapeKey(int, int) {
    if (rl_end != 0)
        SetLine("");
    else
        SetLine(interp::CommandFileOpen ? "OPENCOMMANDFILE" : kQuitQuestion);
    return 0;
}

// Escape at the other prompts: empties a line with text, cancels the prompt on an empty one.
int PromptEscapeKey(int, int) {
    if (rl_end != 0)
        SetLine("");
    else
        CancelPromptLine();
    return 0;
}

// Down at the end of the log fetches the next line of an open command file.
int DownKey(int count, int key) {
    if (interp::CommandFileOpen && rl_end == 0 && where_history() >= history_length) {
        if (std::optional<std::string> next = interp::NextCommandFileLine()) SetLine(*next);
        return 0;
    }
    return rl_get_next_history(count, key);
}

// Ctrl+Right / Ctrl+Left: the next or previous command name (caret in the command word) or
// vector name (caret in the parameters) in alphabetical order.
void BrowseName(bool forward) {
    int point = rl_point;
    std::string line = interp::BrowseName(rl_line_buffer, point, forward);
    rl_replace_line(line.c_str(), 0);
    rl_point = point;
}

int NextNameKey(int, int) {
    return BrowseName(true), 0;
}
int PreviousNameKey(int, int) {
    return BrowseName(false), 0;
}

char* CompleteName(const char* text, int state) {
    static std::vector<std::string> matches;
    static size_t next;
    if (state == 0) {
        matches.clear();
        next = 0;
        std::string prefix = data::UpperName(text);
        bool commandWord = rl_point <= static_cast<int>(std::strcspn(rl_line_buffer, " "));
        std::vector<std::string> names;
        if (commandWord)
            for (std::string_view n : interp::CommandTable()) names.emplace_back(n);
        else
            names = interp::VectorNames();
        for (const std::string& n : names)
            if (n.rfind(prefix, 0) == 0) matches.push_back(n);
    }
    if (next >= matches.size()) return nullptr;
    return ::strdup(matches[next++].c_str());
}

// The filter of the data files a command line's command takes (the files Tab offers in the
// parameters of IMPORT and EXPORT, as their file dialogs filter them), nullptr for other commands.
const char* DataFileFilter(const std::string& line) {
    std::string command = interp::MatchCommand(data::UpperName(line.substr(0, line.find(' '))));
    if (command == "IMPORT") return io::kImportFilter;
    if (command == "EXPORT") return io::kExportFilter;
    return nullptr;
}

// Command and vector names on the command line; file names in the parameters of IMPORT and
// EXPORT.
char** Completion(const char* text, int start, int) {
    std::string line = rl_line_buffer;
    const char* filter = DataFileFilter(line);
    if (filter != nullptr && static_cast<size_t>(start) > line.find(' '))
        return CompleteFileName(text, {"", filter, "", interp::WorkingDirectory, "", false});
    rl_attempted_completion_over = 1;
    return rl_completion_matches(text, CompleteName);
}

int StartupHook() {
    if (!pendingText.empty()) {
        SetLine(pendingText);
        pendingText.clear();
    }
    return 0;
}

// Shortkeys. A terminal delivers the function keys as xterm sequences whose modifier
// parameter minus one is our modifier set (Shift 1, Alt 2, Ctrl 4); Alt with a key as Escape
// and the key; Ctrl with a letter as its control code. The text selected in the command window
// (replacing "?") is, on a terminal, the word just before the caret.
struct KeyCode {
    uint16_t key;
    uint8_t modifiers;
};
std::map<std::string, KeyCode> keySequences;
std::map<std::string, rl_command_func_t*> previousBindings;

void InsertShortKey(std::string text) {
    bool execute = !text.empty() && text.back() == '!';
    if (execute) text.pop_back();
    std::string line = rl_line_buffer;
    size_t point = static_cast<size_t>(rl_point);
    size_t begin = point;
    while (begin > 0 && line[begin - 1] != ' ') --begin;
    std::string selected = line.substr(begin, point - begin);
    std::string inserted;
    for (char c : text) inserted += c == '?' ? selected : std::string(1, c);
    bool replaceSelection = text.find('?') != std::string::npos;
    size_t from = replaceSelection ? begin : point;
    line = line.substr(0, from) + inserted + line.substr(point);
    rl_replace_line(line.c_str(), 0);
    rl_point = static_cast<int>(from + inserted.size());
    if (execute) {
        size_t b = line.find_first_not_of(' ');
        rl_replace_line(b == std::string::npos ? "" : line.c_str() + b, 0);
        AcceptLine();
    }
}

int ShortKeyKey(int count, int key) {
    std::string sequence(rl_executing_keyseq, static_cast<size_t>(rl_key_sequence_length));
    auto code = keySequences.find(sequence);
    if (code != keySequences.end()) {
        if (std::optional<std::string> text =
                interp::FindShortKey(code->second.key, code->second.modifiers)) {
            InsertShortKey(*text);
            return 0;
        }
    }
    auto previous = previousBindings.find(sequence);
    if (previous != previousBindings.end() && previous->second != nullptr)
        return previous->second(count, key);
    return 0;
}

void BindShortKey(const std::string& sequence, uint16_t key, uint8_t modifiers) {
    keySequences[sequence] = {key, modifiers};
    int type = 0;
    rl_command_func_t* old = rl_function_of_keyseq(sequence.c_str(), nullptr, &type);
    previousBindings[sequence] = type == ISFUNC ? old : nullptr;
    rl_generic_bind(ISFUNC, sequence.c_str(), reinterpret_cast<char*>(ShortKeyKey),
                    rl_get_keymap());
}

void BindShortKeys() {
    static const char* const kLowFunctionKeys = "QRS";  // F2 to F4: ESC O Q/R/S
    static const int kHighFunctionCodes[] = {15, 17, 18, 19, 20, 21, 23, 24};  // F5 to F12
    for (int n = 2; n <= 12; ++n) {
        for (int m = 1; m <= 8; ++m) {
            std::string sequence;
            if (n <= 4) {
                char final = kLowFunctionKeys[n - 2];
                sequence =
                    m == 1 ? std::string("\033O") + final : "\033[1;" + std::to_string(m) + final;
            } else {
                std::string code = std::to_string(kHighFunctionCodes[n - 5]);
                sequence = "\033[" + code + (m == 1 ? "" : ";" + std::to_string(m)) + "~";
            }
            BindShortKey(sequence, interp::FunctionKey(n), static_cast<uint8_t>(m - 1));
        }
    }
    for (char c = 'a'; c <= 'z'; ++c) {
        char upper = static_cast<char>(c - 'a' + 'A');
        BindShortKey(std::string("\033") + c, static_cast<uint16_t>(upper), interp::kAlt);
        BindShortKey(std::string("\033") + upper, static_cast<uint16_t>(upper), interp::kAlt);
        // Ctrl with H, I, J and M is Backspace, Tab and Return on a terminal; A, C, V, X and Z
        // cannot be shortkeys.
        if (std::strchr("ACHIJMVXZ", upper) == nullptr)
            BindShortKey(std::string(1, static_cast<char>(upper - 'A' + 1)),
                         static_cast<uint16_t>(upper), interp::kCtrl);
    }
    // Ctrl with a digit, and with the letters a terminal takes for Backspace, Tab and Return,
    // reach us only from terminals that report modified keys: as the CSI u form or xterm's
    // modifyOtherKeys sequence of the unshifted character.
    std::string extended = "0123456789hijm";
    for (char c : extended) {
        std::string code = std::to_string(static_cast<int>(c));
        uint16_t key = static_cast<uint16_t>(std::toupper(static_cast<unsigned char>(c)));
        BindShortKey("\033[" + code + ";5u", key, interp::kCtrl);
        BindShortKey("\033[27;5;" + code + "~", key, interp::kCtrl);
    }
    for (char d = '0'; d <= '9'; ++d)
        BindShortKey(std::string("\033") + d, static_cast<uint16_t>(d), interp::kAlt);
}

// F1: the help text; Ctrl+F1: the help on the command of the line.
int HelpKey(int, int) {
    std::string topic;
    std::string sequence(rl_executing_keyseq, static_cast<size_t>(rl_key_sequence_length));
    if (sequence != "\033OP") {
        std::string word = interp::MatchCommand(data::UpperName(
            std::string(rl_line_buffer).substr(0, std::strcspn(rl_line_buffer, " "))));
        topic = word;
    }
    ShowText(session::HelpText(), topic);
    // The pager puts the cursor back at the end of the command line, or below the text when
    // it printed it: the line is drawn again from its start.
    std::fputs("\r\033[K", stdout);
    rl_on_new_line();
    rl_redisplay();
    return 0;
}

// A copy of a keymap with copies of its prefix keymaps, so that binding a sequence in one does
// not bind it in the other.
Keymap CopyKeymap(Keymap map) {
    Keymap copy = rl_copy_keymap(map);
    for (int key = 0; key < KEYMAP_SIZE; ++key)
        if (copy[key].type == ISKMAP)
            copy[key].function = reinterpret_cast<rl_command_func_t*>(
                CopyKeymap(reinterpret_cast<Keymap>(map[key].function)));
    return copy;
}

// Binds "½" by the two bytes of its UTF-8 form, which readline would otherwise take for Alt
// with a key until it has looked at the locale.
void BindOneHalf(rl_command_func_t* function, Keymap map) {
    const char* setting = rl_variable_value("convert-meta");
    std::string convertMeta = setting != nullptr ? setting : "on";
    rl_variable_bind("convert-meta", "off");
    rl_bind_keyseq_in_map("\302\275", function, map);
    rl_variable_bind("convert-meta", convertMeta.c_str());
}

// The command line has the keys of the command window; the other prompts (file names, the
// working directory) keep readline's own keys, with the few below.
void BindKeys() {
    rl_readline_name = "korw";
    // Readline reads the inputrc files when it initialises; done on the first line typed, that
    // would rebind our keys after us (Debian's /etc/inputrc makes Ctrl+Right and Ctrl+Left move
    // by words). Initialised now, the inputrc bindings come first and ours replace them.
    rl_initialize();
    rl_attempted_completion_function = Completion;
    // A completed file name with a blank is put in double quotes, as IMPORT and EXPORT take it.
    rl_completer_quote_characters = "\"";
    rl_filename_quote_characters = " ";
    rl_startup_hook = StartupHook;
    rl_variable_bind("keyseq-timeout", "100");
    // Both: Page Up steps back through the log as Up does; Ctrl+Return cuts the line at the
    // cursor where the terminal delivers it, as xterm's modifyOtherKeys sequence or as the CSI u
    // form of newer terminals (Ctrl+K does the same on every terminal).
    rl_bind_keyseq("\\e[5~", rl_get_previous_history);
    rl_bind_keyseq("\\e[27;5;13~", rl_kill_line);
    rl_bind_keyseq("\\e[13;5u", rl_kill_line);

    Keymap prompt = CopyKeymap(rl_get_keymap());
    rl_bind_keyseq_in_map("\\e\\e", PromptEscapeKey, prompt);
    rl_bind_keyseq_in_map("\\e", PromptEscapeKey, prompt);
    rl_bind_keyseq_in_map("\\e[6~", rl_get_next_history, prompt);
    rl_bind_keyseq_in_map("\\e[1;5C", rl_forward_word, prompt);
    rl_bind_keyseq_in_map("\\e[1;5D", rl_backward_word, prompt);
    BindOneHalf(OneHalfText, prompt);
    UsePromptKeys(prompt);

    for (int c = 33; c < 127; ++c) rl_bind_key(c, TypeKey);
    rl_bind_keyseq("\\e\\e", EscapeKey);  // a lone Escape is a prefix of every arrow key
    rl_bind_keyseq("\\e[B", DownKey);
    rl_bind_keyseq("\\eOB", DownKey);
    rl_bind_keyseq("\\e[6~", DownKey);  // Page Down steps on through the log as Down does
    BindOneHalf(OneHalfKey, rl_get_keymap());
    rl_bind_keyseq("\\e[1;5C", NextNameKey);
    rl_bind_keyseq("\\e[1;5D", PreviousNameKey);
    rl_bind_keyseq("\\e", EscapeKey);
    BindShortKeys();
    rl_bind_keyseq("\033OP", HelpKey);
    rl_bind_keyseq("\033[1;5P", HelpKey);
}

std::string ChooseRoot(const TerminalOptions& options) {
    if (!options.root.empty()) return options.root;
    if (!options.arguments.empty() && fs::is_directory(options.arguments[0]))
        return options.arguments[0];
    if (const char* env = std::getenv("KORW_ROOT"); env != nullptr && *env != '\0') return env;
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.korw";
}

// The directory selector opens on the working directory of the last session (LASTDIR), or
// on MISC under the root when that is gone.
std::string LastWorkingDirectory() {
    std::ifstream in(interp::RootDirectory + "/LASTDIR");
    std::string line;
    if (std::getline(in, line) && fs::is_directory(line)) return line;
    return interp::RootDirectory + "/MISC";
}

std::string ChooseWorkingDirectory(const TerminalOptions& options) {
    if (options.demo) return interp::RootDirectory + "/DEMOS";
    std::string wd = fs::current_path().string();
    if (!options.selectDir) return wd;
    wd = LastWorkingDirectory();
    std::cout << " Select/create working directory (use cursor arrows, select by Return).\n";
    std::string chosen = ReadPromptLine("[" + wd + "]: ").value_or("");
    if (chosen.empty()) return wd;
    chosen = fs::absolute(chosen).lexically_normal().string();
    std::error_code ec;
    fs::create_directories(chosen, ec);
    return fs::is_directory(chosen) ? chosen : wd;
}

// What the session output file gained since `offset`, written to the terminal without the
// echo of the typed command, which the prompt line already shows.
void ShowSessionOutputFrom(long offset) {
    std::FILE* f = data::OpenFile(interp::SessionOutputFile, "rb");
    if (f == nullptr) return;
    std::string text;
    if (std::fseek(f, offset, SEEK_SET) == 0) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    }
    std::fclose(f);
    if (text.rfind(kPrompt, 0) == 0) {
        size_t end = text.find('\n');
        text.erase(0, end == std::string::npos ? text.size() : end + 1);
    }
    text = Visible(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

long SessionOutputSize() {
    long long size = data::FileSize(interp::SessionOutputFile);
    return size < 0 ? 0 : static_cast<long>(size);
}

// Runs a command; a program's lines and results, which go straight to the output file, are
// shown on the terminal when it ends.
bool RunCommand(const std::string& text, bool expand) {
    long offset = SessionOutputSize();
    int programs = interp::StartedPrograms();
    ForgetInterrupt();
    bool ok = interp::RunTypedCommand(text, expand);
    if (interp::StartedPrograms() != programs) ShowSessionOutputFrom(offset);
    return ok;
}

void CommandLoop() {
    while (!desktop->Closing()) {
        // The text of a failed command comes back in red for editing.
        bool failed = !pendingText.empty();
        char* raw = ::readline(failed ? "KORW> \001\033[31m\002" : kPrompt);
        if (failed) std::fputs("\033[0m", stdout);
        if (raw == nullptr) break;  // end of input closes the session like QUIT
        std::string text = raw;
        std::free(raw);
        if (text.find_first_not_of(' ') == std::string::npos) continue;
        if (text == kQuitQuestion) text = "QUIT";
        // In demonstration mode a failed command is not kept for editing.
        if (!RunCommand(text, true) && !interp::DemoMode) pendingText = text;
    }
}

void CloseTerminalSession(bool writeLastDir) {
    if (!session::FinishLibrarySession()) return;
    interp::FileDialog dialog{"Save sessions output file as ...",
                              "KORW output file (*.OUT)|*.OUT",
                              ".OUT",
                              interp::WorkingDirectory,
                              session::DefaultOutputName(interp::WorkingDirectory),
                              true};
    while (std::optional<std::string> name = desktop->SaveDialog(dialog)) {
        if (session::KeepOutput(*name)) break;
        desktop->ErrorBox("Can not save " + *name);
    }
    session::RemoveSessionFiles(writeLastDir);
}

}  // namespace

int RunTerminal(const TerminalOptions& options) {
    std::string root = fs::absolute(ChooseRoot(options)).lexically_normal().string();
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!fs::is_directory(root)) {
        std::cerr << "korw: cannot use " << root << " as root directory\n";
        return 1;
    }
    session::PrepareRoot(root);
    TerminalDesktop terminal;
    desktop = &terminal;
    interp::TheDesktop = &terminal;
    BindKeys();
    InstallInterruptHandler();
    InstallTerminalLongWork();

    // A file argument starts the session at once in the file's directory (the directory
    // selector does not open); a .KOR file is run, a .KDS file loaded, any other file only
    // chooses the directory.
    std::string workingDirectory;
    std::string startCommand;
    std::vector<std::string> args = options.arguments;
    if (!options.demo && !args.empty() && fs::is_regular_file(args[0])) {
        fs::path file = fs::absolute(args[0]);
        workingDirectory = file.parent_path().string();
        startCommand = session::StartCommandFor(file.string(), {args.begin() + 1, args.end()});
    } else {
        workingDirectory = ChooseWorkingDirectory(options);
    }
    if (session::SessionOutputExists()) {
        std::string text;
        for (const std::string& line : session::SessionActiveQuestion()) text += line + "\n";
        if (!terminal.Confirm(text)) return 1;
    }
    std::string message;
    if (!session::CreateTemporaryOutput(message)) {
        terminal.ErrorBox(message);
        return 1;
    }
    // The window caption is the terminal's title: "KORW from " + the working directory.
    if (::isatty(STDOUT_FILENO) != 0) {
        const char* term = std::getenv("TERM");
        if (term != nullptr && std::strcmp(term, "dumb") != 0)
            std::cout << "\033]0;KORW from " << workingDirectory << "\007";
    }
    std::cout << "KORW, version " << interp::kVersion << ". Working directory " << workingDirectory
              << "\n";
    session::StartSession(workingDirectory);
    try {
        if (data::FileExists(workingDirectory + "/autoexec.kor")) RunCommand("run autoexec", false);
        if (!startCommand.empty() && !interp::DemoMode) RunCommand(startCommand, false);
        CommandLoop();
        CloseTerminalSession(args.size() < 2);
    } catch (const data::Fault& fault) {
        std::cerr << "korw: " << interp::FaultText(fault.kind) << "\n";
    }
    interp::TheDesktop = nullptr;
    return 0;
}

}  // namespace korw::console
