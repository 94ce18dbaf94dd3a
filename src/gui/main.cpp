// korw-gui: the desktop window. Parses the command line, settles the root directory and opens
// the main window.
#include <CLI/CLI.hpp>
#include <QApplication>
#include <QIcon>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "gui/gui_desktop.h"
#include "gui/main_window.h"

namespace fs = std::filesystem;

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Whether Qt will find a screen to open the window on. Without one Qt aborts (status 134) with a
// message written for developers; the user gets one line instead. A platform that needs no
// display (offscreen, minimal, the framebuffer ones) is left to Qt, as is any platform named
// that is not ours to judge.
bool DisplayAvailable() {
    std::string platform = Set("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    if (platform.rfind("xcb", 0) == 0) return Set("DISPLAY");
    if (platform.rfind("wayland", 0) == 0) return Set("WAYLAND_DISPLAY");
    if (!platform.empty()) return true;
    return Set("DISPLAY") || Set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    auto started = std::chrono::steady_clock::now();
    CLI::App app{"KORW, interactive statistics with the KOR command language (desktop window)",
                 "korw-gui"};
    std::string root;
    bool version = false, demo = false;
    std::vector<std::string> arguments;
    app.add_option("--root", root, "Root directory of the session files")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--demo", demo,
                 "Demonstration mode: work in ROOT/DEMOS, restoring the demonstrations there");
    app.add_flag("--version", version, "Print the version and exit");
    app.add_option("arguments", arguments,
                   "FILE.KOR | FILE.KDS | DATAFILE | DIR, then values (DATAFILE: .csv .tsv .tab "
                   ".dta .sav .zsav .por .sas7bdat .xpt, imported)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help succeeds; every wrong option exits with 2 and one line, as korw's do.
        if (e.get_exit_code() == 0) return app.exit(e);
        std::cerr << "korw-gui: " << e.what() << " (korw-gui --help lists the options)\n";
        return 2;
    }
    if (version) {
        std::cout << "KORW, version JUN2009\n";
        return 0;
    }
    if (!DisplayAvailable()) {
        std::cerr << "korw-gui: no display to open the window on (DISPLAY and WAYLAND_DISPLAY "
                     "are unset); korw is the terminal console\n";
        return 1;
    }
    // The root: --root, a directory as first argument, $KORW_ROOT, else ~/.korw.
    if (root.empty() && !arguments.empty() && fs::is_directory(arguments[0])) {
        root = arguments[0];
        arguments.erase(arguments.begin());
    }
    if (root.empty()) {
        const char* env = std::getenv("KORW_ROOT");
        const char* home = std::getenv("HOME");
        root = env != nullptr && *env != '\0'
                   ? env
                   : std::string(home != nullptr ? home : ".") + "/.korw";
    }
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!fs::is_directory(root)) {
        std::cerr << "korw-gui: cannot use " << root << " as root directory\n";
        return 1;
    }
    int qtArgc = 1;
    QApplication qt(qtArgc, argv);
    QApplication::setApplicationName("korw-gui");
    QApplication::setWindowIcon(QIcon::fromTheme("korw"));
    korw::gui::GuiOptions options;
    options.root = fs::absolute(root).lexically_normal().string();
    options.arguments = arguments;
    // The demonstrations have a working directory of their own: the selector does not open.
    if (demo) {
        options.arguments.clear();
        options.workingDirectory = options.root + "/DEMOS";
    }
    korw::gui::GuiDesktop desktop;
    korw::gui::MainWindow window(options, desktop);
    window.show();
    QTimer::singleShot(0, &window, [&window, started] {
        // KORW_GUI_TIMING=1: the time from the start of main to the window on show, for
        // measuring the start-up.
        if (std::getenv("KORW_GUI_TIMING") != nullptr)
            std::cerr << "korw-gui: window shown after "
                      << std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - started)
                             .count()
                      << " ms\n";
        window.Activate();
    });
    return QApplication::exec();
}
