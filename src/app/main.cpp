// korw: parses the command line and starts the chosen front end.
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "console/batch.h"
#include "console/terminal.h"

int main(int argc, char** argv) {
    CLI::App app{"KORW, interactive statistics with the KOR command language", "korw"};
    bool batch = false, selectDir = false, version = false, demo = false;
    korw::console::BatchOptions options;
    std::vector<std::string> arguments;
    app.add_flag("--batch", batch, "Run FILE.KOR, or the commands of stdin (-), then close");
    app.add_option("--root", options.root, "Root directory of the session files")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--yes", options.yes, "Answer Yes to every confirmation (batch mode)");
    app.add_option("--out", options.out, "Keep the session output as this file at the end");
    app.add_flag("--pictures", options.pictures, "Save every picture under its default name");
    app.add_flag("--progress", options.progress,
                 "Show the progress of long commands on stderr (batch mode)");
    app.add_flag("--select-dir", selectDir, "Choose the working directory at start-up");
    app.add_flag("--demo", demo,
                 "Demonstration mode: work in ROOT/DEMOS, restoring the demonstrations there");
    app.add_flag("--version", version, "Print the version and exit");
    app.add_option("arguments", arguments,
                   "FILE.KOR | FILE.KDS | DATAFILE | DIR | -, then values (DATAFILE: .csv .tsv "
                   ".tab .dta .sav .zsav .por .sas7bdat .xpt, imported)");
    app.allow_extras(false);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and friends succeed; every wrong option exits with 2, whatever CLI11's code.
        int code = app.exit(e);
        return code == 0 ? 0 : 2;
    }

    if (version) {
        std::cout << "KORW, version JUN2009\n";
        return 0;
    }
    // The demonstrations have a working directory of their own and take their commands from
    // the menu (or, in batch mode, from stdin).
    if (demo &&
        (selectDir || (batch ? arguments != std::vector<std::string>{"-"} : !arguments.empty()))) {
        std::cerr << "korw: --demo takes no FILE, DIR or --select-dir (batch mode: only -)\n";
        return 2;
    }
    if (!batch) {
        korw::console::TerminalOptions terminal{options.root, selectDir, demo, arguments};
        return korw::console::RunTerminal(terminal);
    }
    if (arguments.empty()) {
        std::cerr << "korw: --batch needs FILE.KOR or - (commands from stdin)\n";
        return 2;
    }
    options.demo = demo;
    options.input = arguments.front();
    options.values.assign(arguments.begin() + 1, arguments.end());
    return korw::console::RunBatch(options);
}
