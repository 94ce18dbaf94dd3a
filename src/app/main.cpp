// korw: parses the command line and starts the chosen front end.
#include <CLI/CLI.hpp>
#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "console/batch.h"
#include "console/inline_picture.h"
#include "console/machine.h"
#include "console/terminal.h"

int main(int argc, char** argv) {
    CLI::App app{"KORW, interactive statistics with the KOR command language", "korw"};
    bool batch = false, selectDir = false, version = false, demo = false, machine = false;
    korw::console::BatchOptions options;
    std::vector<std::string> arguments;
    app.add_flag("--batch", batch, "Run FILE.KOR, or the commands of stdin (-), then close");
    app.add_flag("--machine", machine,
                 "One session for a driving program (the Jupyter kernel): requests on stdin, "
                 "answers framed as JSON lines on stdout");
    app.add_option("--root", options.root, "Root directory of the session files")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--yes", options.yes, "Answer Yes to every confirmation (batch mode)");
    app.add_option("--out", options.out, "Keep the session output as this file at the end");
    // --pictures alone keeps the pictures of a batch run; --pictures=MODE chooses how the
    // terminal console shows them.
    std::string pictures, pictureType;
    app.add_flag("--pictures", pictures,
                 "Batch: save every picture under its default name. Terminal: "
                 "--pictures=auto|kitty|iterm|sixel|symbols|off shows pictures so");
    app.add_option("--picture-type", pictureType,
                   "Batch: save pictures as png, jpg (the default) or bmp (implies --pictures)")
        ->check(CLI::IsMember({"png", "jpg", "bmp"}, CLI::ignore_case));
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

    if (pictures == "true") pictures = "keep";  // the bare flag
    if (!pictures.empty() && pictures != "keep" && !korw::console::ParsePictureMode(pictures)) {
        std::cerr << "korw: --pictures=" << pictures
                  << " is not one of auto, kitty, iterm, sixel, symbols, off\n";
        return 2;
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
    if (machine) {
        if (batch || demo || selectDir || !arguments.empty()) {
            std::cerr << "korw: --machine takes only --root and --out\n";
            return 2;
        }
        return korw::console::RunMachine({options.root, options.out});
    }
    if (!batch) {
        if (!pictures.empty() && pictures != "keep")
            korw::console::SetPictureModeOption(*korw::console::ParsePictureMode(pictures));
        korw::console::TerminalOptions terminal{options.root, selectDir, demo, arguments};
        return korw::console::RunTerminal(terminal);
    }
    if (arguments.empty()) {
        std::cerr << "korw: --batch needs FILE.KOR or - (commands from stdin)\n";
        return 2;
    }
    if (!pictures.empty() && pictures != "keep") {
        std::cerr << "korw: --pictures=MODE is for the terminal console; a batch run takes "
                     "--pictures alone, and --picture-type=png|jpg|bmp\n";
        return 2;
    }
    options.pictures = !pictures.empty() || !pictureType.empty();
    if (!pictureType.empty()) {
        options.pictureType = ".";
        for (char c : pictureType) options.pictureType += static_cast<char>(std::toupper(c));
    }
    options.demo = demo;
    options.input = arguments.front();
    options.values.assign(arguments.begin() + 1, arguments.end());
    return korw::console::RunBatch(options);
}
