// The terminal console: the command window as a GNU readline prompt, the command log as its
// history, result review and boxes on the terminal.
#pragma once

#include <string>
#include <vector>

namespace korw::console {

struct TerminalOptions {
    std::string root;                    // --root, else the first argument when a directory
    bool selectDir = false;              // ask for the working directory at start-up
    bool demo = false;                   // work in the root's DEMOS folder (demonstration mode)
    std::vector<std::string> arguments;  // FILE.KOR | FILE.KDS | DIR, then values
};

int RunTerminal(const TerminalOptions& options);

}  // namespace korw::console
