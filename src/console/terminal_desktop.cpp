#include "console/terminal_desktop.h"

#include <poll.h>
#include <readline/history.h>
#include <readline/readline.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "console/demos.h"
#include "data/files.h"
#include "data/vectors.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/state.h"
#include "plot/picture.h"
#include "plot/plot3d.h"
#include "plot/postscript.h"

extern char** environ;

namespace korw::console {

namespace {

constexpr const char* kRed = "\033[31m";
constexpr const char* kPlain = "\033[0m";
constexpr int kEscape = 27;
constexpr int kCtrlC = 3;
constexpr int kUp = 1000, kDown = 1001, kLeft = 1002, kRight = 1003;

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) {
    interrupted = 1;
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

std::optional<std::string> AskFileName(const interp::FileDialog& dialog) {
    std::string prompt = dialog.title;
    if (!dialog.name.empty()) prompt += " [" + dialog.name + "]";
    prompt += ": ";
    std::optional<std::string> answer = ReadPromptLine(prompt);  // completes file names
    if (!answer) return {};
    std::string name = *answer;
    if (name.empty()) name = dialog.name;
    if (name.empty()) return {};
    std::filesystem::path path(name);
    if (path.extension().empty() && !dialog.defaultExtension.empty())
        path += dialog.defaultExtension;
    if (path.is_relative() && !dialog.directory.empty()) path = dialog.directory / path;
    return path.string();
}

}  // namespace

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
    DrainPending();
    if (seq[0] != '[' && seq[0] != 'O') return 0;
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
    return 0;
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

std::optional<std::string> ReadPromptLine(const std::string& prompt) {
    promptCancelled = false;
    char* answer = ::readline(prompt.c_str());
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

void TerminalDesktop::ErrorBox(const std::string& text) {
    std::cout << kRed << PlainLines(text) << kPlain << std::endl;
}

bool TerminalDesktop::Confirm(const std::string& text) {
    std::cout << PlainLines(text) << " (y/n) " << std::flush;
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
    std::string program = "xdg-open";
    std::vector<char*> argv{program.data(), const_cast<char*>(file.c_str())};
    std::string args = arguments;
    if (!args.empty()) argv.push_back(args.data());
    argv.push_back(nullptr);
    pid_t pid;
    ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
}

bool TerminalDesktop::CopyFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(data::ResolveExisting(from), data::ResolveCreate(to),
                               std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
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
    std::cout << in.rdbuf();
    std::cout << "\033[36mPress Return to save output, Escape to suppress\033[0m" << std::flush;
    int key;
    do {
        key = ReadKey();
    } while (key != '\r' && key != kEscape);
    std::cout << "\r\033[K" << std::flush;
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
    ShowDemoText(DemoReadme());
    for (int n = 1; n <= 6; ++n) ::add_history(("OPENCOMMANDFILE " + std::to_string(n)).c_str());
    ::using_history();  // Up starts from the newest line, OPENCOMMANDFILE 6
    if (!demoHintShown_) {
        demoHintShown_ = true;
        std::cout << "\033[36m" << kDemoCommandHint << kPlain << "\n" << std::flush;
    }
}

// The program editor is the user's own ($VISUAL, $EDITOR, else nano or vi). F9 of a desktop
// editor (save and run) becomes a question when the editor ends.
std::string TerminalDesktop::EditFile(const std::string& file) {
    std::string name = file;
    if (name.empty()) {
        interp::FileDialog dialog{"Select file to EDIT",
                                  "KORW program (*.KOR)|*.KOR",
                                  ".KOR",
                                  interp::WorkingDirectory,
                                  "",
                                  false};
        std::optional<std::string> chosen = OpenDialog(dialog);
        if (!chosen) return "";
        name = *chosen;
        if (interp::EchoOn) {
            interp::AppendOutputLine("File selected from dialog box:");
            interp::AppendOutputLine(name);
        }
    }
    if (std::filesystem::path(name).extension().empty()) name += ".KOR";
    if (data::DirectoryExists(name)) return name + " is a directory name";
    std::string path = data::ResolveExisting(name);
    if (!data::FileExists(path)) {
        std::FILE* f = data::OpenFile(name, "w");
        if (f == nullptr) return "Unable to create file " + name;
        std::fclose(f);
        path = data::ResolveExisting(name);
    }
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
    return name + " could not be loaded";
}

void ShowText(const std::string& text, const std::string& topic) {
    char name[] = "/tmp/korw-help-XXXXXX";
    int fd = ::mkstemp(name);
    if (fd < 0) {
        std::cout << text << std::flush;
        return;
    }
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        // A short write shows what was written.
    }
    ::close(fd);
    std::string pager = "less", start = "+/^" + topic + "$";
    std::vector<char*> argv{pager.data()};
    if (!topic.empty()) argv.push_back(start.data());
    argv.push_back(name);
    argv.push_back(nullptr);
    pid_t pid;
    if (::posix_spawnp(&pid, pager.c_str(), nullptr, nullptr, argv.data(), environ) == 0) {
        int status;
        ::waitpid(pid, &status, 0);
    } else {
        std::cout << text << std::flush;
    }
    ::unlink(name);
}

namespace {

// The picture as a PNG in the temporary directory, opened in the desktop's image viewer.
void ViewPicture(std::string& viewed) {
    if (viewed.empty()) viewed = "/tmp/korw-picture-" + std::to_string(::getpid()) + ".png";
    if (plot::SavePicture(viewed)) {
        std::string program = "xdg-open";
        char* argv[] = {program.data(), viewed.data(), nullptr};
        pid_t pid;
        ::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ);
    }
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

// The picture waits for a key: Return offers to save it, Escape closes it, V shows it in the
// image viewer; a 3-d picture turns with the arrow keys and zooms with + and -.
void TerminalDesktop::ShowPicture(bool threeD) {
    if (interp::ProgramRunning && plot::psRequested) return;
    std::cout << "\033[36mPress Return to save, Escape to quit, V to view the picture."
              << (threeD ? " Cursor keys rotate, +/- zoom/unzoom." : "") << "\033[0m" << std::flush;
    std::string viewed;
    for (;;) {
        int key = ReadKeySequence();
        if (key == '\r') {
            std::cout << "\r\033[K" << std::flush;
            SavePictureAs(*this);
            break;
        }
        if (key == kEscape) break;
        if (key == 'v' || key == 'V') ViewPicture(viewed);
        if (!threeD) continue;
        std::optional<plot::ViewKey> turn;
        if (key == kUp) turn = plot::ViewKey::Up;
        if (key == kDown) turn = plot::ViewKey::Down;
        if (key == kLeft) turn = plot::ViewKey::Left;
        if (key == kRight) turn = plot::ViewKey::Right;
        if (key == '+') turn = plot::ViewKey::ZoomIn;
        if (key == '-') turn = plot::ViewKey::ZoomOut;
        if (turn && plot::TurnView(*turn) && !viewed.empty()) plot::SavePicture(viewed);
    }
    std::cout << "\r\033[K" << std::flush;
    if (!viewed.empty()) ::unlink(viewed.c_str());
}

void TerminalDesktop::ShowFile(const std::string& file) {
    std::string name = data::ResolveExisting(file);
    std::string pager = "less";
    char* argv[] = {pager.data(), name.data(), nullptr};
    pid_t pid;
    if (::posix_spawnp(&pid, pager.c_str(), nullptr, nullptr, argv, environ) == 0) {
        int status;
        ::waitpid(pid, &status, 0);
        return;
    }
    std::ifstream in(name);
    std::cout << in.rdbuf() << std::flush;
}

}  // namespace korw::console
