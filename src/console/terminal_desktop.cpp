#include "console/terminal_desktop.h"

#include <poll.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <readline/tilde.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "console/inline_picture.h"
#include "data/files.h"
#include "data/long_work.h"
#include "data/vectors.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/programs.h"
#include "interp/state.h"
#include "plot/canvas.h"
#include "plot/picture.h"
#include "plot/plot3d.h"
#include "plot/postscript.h"
#include "session/demos.h"
#include "session/shell_open.h"

extern char** environ;

namespace korw::console {

namespace {

constexpr const char* kRed = "\033[31m";
constexpr const char* kPlain = "\033[0m";
constexpr int kEscape = 27;
constexpr int kCtrlC = 3;
constexpr int kUp = 1000, kDown = 1001, kLeft = 1002, kRight = 1003;

volatile std::sig_atomic_t interrupted = 0;

// Ctrl+C also stops a command that is running (the stop flag is a lock-free atomic).
void OnInterrupt(int) {
    interrupted = 1;
    data::RequestStop();
}

// Box texts break their lines with CR LF.
std::string PlainLines(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

// The terminal in character mode for the lifetime of the object.
class RawMode {
  public:
    RawMode() {
        active_ = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved_) == 0;
        if (!active_) return;
        termios raw = saved_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    ~RawMode() {
        if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    RawMode(const RawMode&) = delete;
    RawMode& operator=(const RawMode&) = delete;

  private:
    termios saved_{};
    bool active_ = false;
};

// Drops the rest of an escape sequence (arrow keys and the like) after an Escape byte.
void DrainPending() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    char c;
    while (::poll(&p, 1, 20) > 0 && ::read(STDIN_FILENO, &c, 1) == 1) {
    }
}

bool promptCancelled = false;

// The dialog whose file name is being typed: Tab completes names in its directory, offering
// only subdirectories and files whose extension its filter lists.
const interp::FileDialog* openDialog = nullptr;

}  // namespace

std::vector<std::string> FilterExtensions(const std::string& filter) {
    std::vector<std::string> extensions;
    size_t field = 0, begin = 0;
    for (;;) {
        size_t end = filter.find('|', begin);
        std::string part = filter.substr(begin, end == std::string::npos ? end : end - begin);
        if (field % 2 == 1) {
            size_t from = 0;
            for (;;) {
                size_t to = part.find(';', from);
                std::string pattern = part.substr(from, to == std::string::npos ? to : to - from);
                if (pattern == "*" || pattern == "*.*") return {};
                if (pattern.rfind("*.", 0) == 0)
                    extensions.push_back(data::UpperName(pattern.substr(1)));
                if (to == std::string::npos) break;
                from = to + 1;
            }
        }
        ++field;
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    return extensions;
}

std::string WithDefaultExtension(const std::string& name, const interp::FileDialog& dialog) {
    if (dialog.defaultExtension.empty() || !std::filesystem::path(name).extension().empty())
        return name;
    return name + dialog.defaultExtension;
}

namespace {

// Readline's file-name generator with the dialog's filter applied; relative names are taken
// from the dialog's directory and handed back as typed.
char* DialogFileName(const char* text, int state) {
    static std::string prefix;
    static std::vector<std::string> extensions;
    if (state == 0) {
        std::string typed = text;
        bool absolute = !typed.empty() && (typed[0] == '/' || typed[0] == '~');
        prefix = absolute || openDialog->directory.empty() ? "" : openDialog->directory + "/";
        extensions = FilterExtensions(openDialog->filter);
    }
    std::string full = prefix + text;
    while (char* match = rl_filename_completion_function(full.c_str(), state)) {
        state = 1;
        char* expanded = tilde_expand(match);
        namespace fs = std::filesystem;
        std::error_code ec;
        bool keep = extensions.empty() || fs::is_directory(expanded, ec);
        std::string extension = data::UpperName(fs::path(expanded).extension().string());
        for (const std::string& e : extensions) keep = keep || extension == e;
        std::free(expanded);
        if (keep) {
            std::string shown = match + prefix.size();
            std::free(match);
            return ::strdup(shown.c_str());
        }
        std::free(match);
    }
    return nullptr;
}

// "~/name" as the shell would take it.
std::string ExpandTilde(const std::string& name) {
    if (name.empty() || name[0] != '~') return name;
    char* expanded = tilde_expand(name.c_str());
    std::string result = expanded;
    std::free(expanded);
    return result;
}

std::optional<std::string> AskFileName(const interp::FileDialog& dialog) {
    std::string prompt = dialog.title;
    if (!dialog.name.empty()) prompt += " [" + dialog.name + "]";
    prompt += ": ";
    // File names are completed ignoring case, as names are matched when files are opened.
    const char* setting = rl_variable_value("completion-ignore-case");
    std::string ignoreCase = setting != nullptr ? setting : "off";
    rl_variable_bind("completion-ignore-case", "on");
    openDialog = &dialog;
    std::optional<std::string> answer = ReadPromptLine(prompt);
    openDialog = nullptr;
    rl_variable_bind("completion-ignore-case", ignoreCase.c_str());
    if (!answer) return {};
    std::string name = ExpandTilde(*answer);
    if (name.empty()) name = dialog.name;
    if (name.empty()) return {};
    std::filesystem::path path(WithDefaultExtension(name, dialog));
    if (path.is_relative() && !dialog.directory.empty()) path = dialog.directory / path;
    return path.string();
}

// Sends a file to the printer with lp, and says so when there is none. Printing waits for lp,
// which has taken its copy of the file when it ends.
void PrintFile(const std::string& file) {
    std::string program = "lp";
    std::string name = file;
    char* argv[] = {program.data(), name.data(), nullptr};
    pid_t pid;
    std::fflush(stdout);
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
        std::cout << kRed << "Not printed: the print command lp is not installed" << kPlain
                  << std::endl;
        return;
    }
    int status;
    ::waitpid(pid, &status, 0);
}

// The keys of the pager windows (the help text and the files shown), as less key bindings:
// Escape twice leaves (a single Escape begins the arrow keys' sequences), Ctrl+F searches and
// Ctrl+L repeats the search, Ctrl+Home and Ctrl+End go to the top and the bottom, Ctrl+P prints
// the text through lp (the whole file is piped from the top, and the view goes back to where it
// was; what lp says would stay on the terminal below the pager, so a failure only beeps). In
// the help text Return repeats the search too; a file window leaves by Return.
std::string PagerKeys(bool help) {
    std::string keys =
        "#command\n"
        "\\e\\e quit\n"
        "^F forw-search\n"
        "^L repeat-search\n"
        "\\e[1;5H goto-line\n"
        "\\e[1;5F goto-end\n"
        "^P set-mark zg|$lp >/dev/null 2>&1 || printf '\\\\a'\\n'z\n";
    keys += help ? "\\r repeat-search\n\\n repeat-search\n" : "\\r quit\n\\n quit\n";
    return keys;
}

// A text for less's prompt line, its special characters taken literally.
std::string PromptText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (std::strchr("?:.%\\", c) != nullptr) out += '\\';
        out += c;
    }
    return out;
}

// Runs less on a file with the keys above; `start` is a command for less to begin with
// ("+/..."), `hint` the window's keys for the prompt line ("(END)" goes before it at the end).
// A less too old for key bindings from a source file shows the file without them.
bool Page(const std::string& file, bool help, const std::string& start, const std::string& hint) {
    char keysName[] = "/tmp/korw-keys-XXXXXX";
    int fd = ::mkstemp(keysName);
    std::string keys = PagerKeys(help);
    bool haveKeys =
        fd >= 0 && ::write(fd, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
    if (fd >= 0) ::close(fd);
    std::string pager = "less", ignoreCase = "-I", name = file, startCommand = start;
    std::string keysOption = std::string("--lesskey-src=") + keysName;
    std::string promptOption = "-Ps?e(END) ." + PromptText(hint);
    int status = -1;
    for (bool withKeys : {haveKeys, false}) {
        std::vector<char*> argv{pager.data(), ignoreCase.data()};
        if (withKeys) argv.push_back(keysOption.data());
        if (withKeys) argv.push_back(promptOption.data());
        if (!startCommand.empty()) argv.push_back(startCommand.data());
        argv.push_back(name.data());
        argv.push_back(nullptr);
        pid_t pid;
        if (::posix_spawnp(&pid, pager.c_str(), nullptr, nullptr, argv.data(), environ) != 0) break;
        ::waitpid(pid, &status, 0);
        if (!withKeys || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) break;
    }
    if (fd >= 0) ::unlink(keysName);
    return status != -1;
}

}  // namespace

// Tab in a file dialog: the file names its filter admits, nothing when no dialog is open.
char** CompleteDialogFileName(const char* text) {
    if (openDialog == nullptr) return nullptr;
    rl_attempted_completion_over = 1;
    rl_filename_completion_desired = 1;
    return rl_completion_matches(text, DialogFileName);
}

char** CompleteFileName(const char* text, const interp::FileDialog& files) {
    const interp::FileDialog* dialog = std::exchange(openDialog, &files);
    const char* setting = rl_variable_value("completion-ignore-case");
    std::string ignoreCase = setting != nullptr ? setting : "off";
    rl_variable_bind("completion-ignore-case", "on");
    char** matches = CompleteDialogFileName(text);
    rl_variable_bind("completion-ignore-case", ignoreCase.c_str());
    openDialog = dialog;
    return matches;
}

// One key; the arrow keys come back as kUp, kDown, kLeft and kRight.
int ReadKeySequence() {
    RawMode raw;
    unsigned char c = 0;
    std::fflush(stdout);
    if (::read(STDIN_FILENO, &c, 1) != 1) return kEscape;
    if (c == '\n') return '\r';
    if (c != kEscape) return c;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    unsigned char seq[2];
    if (::poll(&p, 1, 30) <= 0 || ::read(STDIN_FILENO, &seq[0], 1) != 1) return kEscape;
    if (::poll(&p, 1, 30) <= 0 || ::read(STDIN_FILENO, &seq[1], 1) != 1) return kEscape;
    // An arrow key is complete: the keys after it (a held key's repeats) stay to be read.
    if (seq[0] == '[' || seq[0] == 'O') {
        switch (seq[1]) {
            case 'A':
                return kUp;
            case 'B':
                return kDown;
            case 'C':
                return kRight;
            case 'D':
                return kLeft;
        }
    }
    DrainPending();
    return 0;
}

// Whether a key waits to be read.
static bool KeyPending() {
    pollfd p{STDIN_FILENO, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

int ReadKey() {
    RawMode raw;
    unsigned char c = 0;
    std::fflush(stdout);
    if (::read(STDIN_FILENO, &c, 1) != 1) return kEscape;
    if (c == kEscape) DrainPending();
    if (c == '\n') c = '\r';
    return c;
}

Keymap promptKeys = nullptr;

void UsePromptKeys(Keymap keymap) {
    promptKeys = keymap;
}

namespace {

// Called once readline has set itself up for the line, so that its own choice of keymap is
// replaced by the prompts' one.
int PromptStartup() {
    if (promptKeys != nullptr) rl_set_keymap(promptKeys);
    return 0;
}

char** PromptCompletion(const char* text, int, int) {
    return CompleteDialogFileName(text);
}

}  // namespace

std::optional<std::string> ReadPromptLine(const std::string& prompt) {
    promptCancelled = false;
    Keymap commandKeys = rl_get_keymap();
    rl_hook_func_t* commandStartup = rl_startup_hook;
    rl_completion_func_t* commandCompletion = rl_attempted_completion_function;
    // A prompt takes a name as it stands, blanks and all: no quotes around completed names.
    const char* commandQuotes = std::exchange(rl_completer_quote_characters, nullptr);
    rl_startup_hook = PromptStartup;
    rl_attempted_completion_function = PromptCompletion;
    char* answer = ::readline(prompt.c_str());
    rl_startup_hook = commandStartup;
    rl_attempted_completion_function = commandCompletion;
    rl_completer_quote_characters = commandQuotes;
    rl_set_keymap(commandKeys);
    if (answer == nullptr) return {};
    std::string line = answer;
    std::free(answer);
    if (promptCancelled) return {};
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

void CancelPromptLine() {
    promptCancelled = true;
    rl_newline(1, '\n');  // ends the line as Return does, so that later output starts below it
}

void ForgetInterrupt() {
    interrupted = 0;
}

void InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
}

void TerminalDesktop::Beep() {
    std::fputc('\a', stdout);
    std::fflush(stdout);
}

std::string Visible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && c != '\n' && c != '\t') || b == 0x7F) {
            out += '^';
            out += static_cast<char>(b ^ 0x40);
        } else {
            out += c;
        }
    }
    return out;
}

void TerminalDesktop::ErrorBox(const std::string& text) {
    std::cout << kRed << Visible(PlainLines(text)) << kPlain << std::endl;
}

bool TerminalDesktop::Confirm(const std::string& text) {
    std::cout << Visible(PlainLines(text)) << " (y/n) " << std::flush;
    for (;;) {
        int key = ReadKey();
        if (key == 'y' || key == 'Y' || key == '\r') {
            std::cout << "Yes" << std::endl;
            return true;
        }
        if (key == 'n' || key == 'N' || key == kEscape) {
            std::cout << "No" << std::endl;
            return false;
        }
    }
}

std::optional<std::string> TerminalDesktop::OpenDialog(const interp::FileDialog& dialog) {
    return AskFileName(dialog);
}

std::optional<std::string> TerminalDesktop::SaveDialog(const interp::FileDialog& dialog) {
    for (;;) {
        std::optional<std::string> name = AskFileName(dialog);
        if (!name || !dialog.overwritePrompt || !data::FileExists(*name)) return name;
        if (Confirm(*name + " exists already. Replace it?")) return name;
    }
}

void TerminalDesktop::ShellOpen(const std::string& file, const std::string& arguments) {
    session::OpenWithDesktop(file, arguments);
}

bool TerminalDesktop::CopyFile(const std::string& from, const std::string& to) {
    return data::CopyFileReplacing(from, to);
}

bool TerminalDesktop::EscapeRequested() {
    bool escape = interrupted != 0;
    interrupted = 0;
    if (!::isatty(STDIN_FILENO)) return escape;
    RawMode raw;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    unsigned char c;
    while (::poll(&p, 1, 0) > 0 && ::read(STDIN_FILENO, &c, 1) == 1)
        if (c == kEscape || c == kCtrlC) escape = true;
    return escape;
}

bool TerminalDesktop::ReviewResults(const std::string& file) {
    std::ifstream in(data::ResolveExisting(file));
    std::cout << Visible(std::string(std::istreambuf_iterator<char>(in), {}));
    constexpr const char* kHint =
        "\033[36mPress Return to save output, Escape to suppress\r\n"
        "Print (All or selected portion) by Ctrl-P.\033[0m";
    constexpr int kCtrlP = 16;
    std::cout << kHint << std::flush;
    int key;
    for (;;) {
        key = ReadKey();
        if (key == '\r' || key == kEscape) break;
        if (key != kCtrlP) continue;
        std::cout << "\r\033[K\033[A\033[K" << std::flush;  // what lp says goes in its place
        PrintFile(data::ResolveExisting(file));
        std::cout << kHint << std::flush;
    }
    std::cout << "\r\033[K\033[A\033[K" << std::flush;  // the hint's two lines
    return key == '\r';
}

void TerminalDesktop::LogCommand(const std::string& line) {
    ::add_history(line.rfind("*** ", 0) == 0 ? line.c_str() + 4 : line.c_str());
}

// The command window's notice while a program runs: a line of its own, in the hint colour;
// the program's output follows when it ends.
void TerminalDesktop::ShowProgramNotice(const std::string& notice) {
    std::cout << "\033[36m" << notice << kPlain << "\n" << std::flush;
}

// The demonstration text window is the terminal itself: the text goes above the command line,
// which readline draws again when the text came while a line was being edited (Down).
void TerminalDesktop::ShowDemoText(const std::string& text) {
    std::cout << "\r\033[K\033[32m" << text << kPlain << std::flush;
    if (RL_ISSTATE(RL_STATE_READCMD)) ::rl_on_new_line();
}

// README is printed rather than paged so that it stays in view while Up picks a demonstration
// from the six lines added to the command log.
void TerminalDesktop::ShowDemoMenu() {
    ShowDemoText(session::DemoReadme());
    for (int n = 1; n <= 6; ++n) ::add_history(("OPENCOMMANDFILE " + std::to_string(n)).c_str());
    ::using_history();  // Up starts from the newest line, OPENCOMMANDFILE 6
    if (!demoHintShown_) {
        demoHintShown_ = true;
        std::cout << "\033[36m" << session::kDemoCommandHint << kPlain << "\n" << std::flush;
    }
}

// The program editor is the user's own ($VISUAL, $EDITOR, else nano or vi). F9 of a desktop
// editor (save and run) becomes a question when the editor ends.
std::string TerminalDesktop::EditFile(const std::string& file) {
    std::string path;
    std::string error = interp::PrepareProgramFile(file, path);
    if (!error.empty() || path.empty()) return error;
    const char* editors[] = {std::getenv("VISUAL"), std::getenv("EDITOR"), "nano", "vi"};
    for (const char* editor : editors) {
        if (editor == nullptr || *editor == '\0') continue;
        std::string program = editor;
        char* argv[] = {program.data(), path.data(), nullptr};
        pid_t pid;
        if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) continue;
        int status;
        ::waitpid(pid, &status, 0);
        std::string stem = std::filesystem::path(path).stem().string();
        std::string ext = data::UpperName(std::filesystem::path(path).extension().string());
        if (ext == ".KOR" && Confirm("Run " + stem + " now?")) {
            interp::EditorActive = true;
            interp::ExecuteCommand("RUN " +
                                   (std::filesystem::path(path).parent_path() / stem).string());
            interp::EditorActive = false;
        }
        return "";
    }
    return path + " could not be loaded";
}

void ShowText(const std::string& text, const std::string& topic) {
    char name[] = "/tmp/korw-help-XXXXXX";
    int fd = ::mkstemp(name);
    bool written =
        fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) ::close(fd);
    constexpr const char* kHelpHint =
        "Help: Ctrl-F searches, Ctrl-L or Return repeats, Ctrl-Home/End top/bottom, Ctrl-P "
        "prints, Escape twice leaves.";
    if (!written || !Page(name, true, topic.empty() ? "" : "+/^" + topic + "$", kHelpHint))
        std::cout << Visible(text) << std::flush;
    if (fd >= 0) ::unlink(name);
}

namespace {

constexpr const char* kPictureHint =
    "\033[36mPress Return to save, Escape to quit. V views the picture.";
constexpr const char* kThreeDHint = " For 3-d graphics: Cursor keys rotate. Num +/- zoom/unzoom.";

// The picture as a PNG in the temporary directory, opened in the desktop's image viewer. With
// no desktop to show it in (over SSH, on a console) one line says how to keep it instead of the
// opener's complaints, which go nowhere in any case.
void ViewPicture(std::string& viewed) {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) {
        std::cout << "\r\033[KNo desktop to view the picture in: press Return to save it as "
                     "a .JPG or .BMP file.\n"
                  << kPictureHint << std::flush;
        return;
    }
    if (viewed.empty()) viewed = "/tmp/korw-picture-" + std::to_string(::getpid()) + ".png";
    if (plot::SavePicture(viewed)) session::StartDetached({"xdg-open", viewed}, true);
}

void SavePictureAs(TerminalDesktop& desktop) {
    interp::FileDialog dialog{
        "Save picture as ...",
        "JPEG Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp",
        ".JPG",
        interp::WorkingDirectory,
        std::filesystem::path(plot::DefaultPictureName(interp::WorkingDirectory))
            .filename()
            .string(),
        true};
    std::optional<std::string> name = desktop.SaveDialog(dialog);
    if (!name) return;
    if (!plot::SavePicture(*name)) return desktop.ErrorBox("Can not save the picture as " + *name);
    if (interp::EchoOn) interp::AppendOutputLine(" *** Picture saved as " + *name + " ***");
}

}  // namespace

// The picture is drawn below the command when the terminal can show it, then waits for a key:
// Return offers to save it, Escape closes it, V shows it in the image viewer; a 3-d picture
// turns with the arrow keys and zooms with + and -, drawn again in place. In a program any
// other key closes it too and the program goes on.
void TerminalDesktop::ShowPicture(bool threeD) {
    if (interp::ProgramRunning && plot::psRequested) return;
    pictures_.Show(plot::Bitmap());
    std::cout << kPictureHint << (threeD ? kThreeDHint : "") << kPlain << std::flush;
    std::string viewed;
    for (;;) {
        int key = ReadKeySequence();
        if (key == '\r') {
            std::cout << "\r\033[K" << std::flush;
            SavePictureAs(*this);
            break;
        }
        if (key == kEscape) break;
        if (key == 'v' || key == 'V') {
            ViewPicture(viewed);
            continue;
        }
        // A program waits for any key; interactively the picture stays until Return or Escape.
        if (interp::ProgramRunning) break;
        if (!threeD) continue;
        std::optional<plot::ViewKey> turn;
        if (key == kUp) turn = plot::ViewKey::Up;
        if (key == kDown) turn = plot::ViewKey::Down;
        if (key == kLeft) turn = plot::ViewKey::Left;
        if (key == kRight) turn = plot::ViewKey::Right;
        if (key == '+') turn = plot::ViewKey::ZoomIn;
        if (key == '-') turn = plot::ViewKey::ZoomOut;
        if (!turn || !plot::TurnView(*turn)) continue;
        if (!viewed.empty()) plot::SavePicture(viewed);
        // Keys that came while the picture was drawn are turns of a held key: only the last
        // drawing counts, so the picture keeps up with the key instead of lagging behind.
        if (!KeyPending()) pictures_.Redraw(plot::Bitmap());
    }
    std::cout << "\r\033[K" << std::flush;
    if (!viewed.empty()) ::unlink(viewed.c_str());
}

// A picture file is drawn in the terminal when it can show pictures, else opened on the desktop.
void TerminalDesktop::ShowImage(const std::string& file) {
    cairo_surface_t* image = LoadPictureFile(file);
    bool shown = image != nullptr && pictures_.Show(image);
    if (image != nullptr) cairo_surface_destroy(image);
    if (!shown) ShellOpen(file, "");
}

void TerminalDesktop::ShowFile(const std::string& file) {
    std::string name = data::ResolveExisting(file);
    std::string shown = file == interp::SessionOutputFile ? "The sessions output file" : file;
    if (Page(name, false, "", shown + ": Return or Escape twice leaves, Ctrl-P prints.")) return;
    std::ifstream in(name);
    std::cout << Visible(std::string(std::istreambuf_iterator<char>(in), {})) << std::flush;
}

}  // namespace korw::console
