// Batch mode: a program or the lines of stdin run as typed commands, the session output
// written to stdout as it grows; no key is ever awaited.
#pragma once

#include <string>
#include <vector>

namespace korw::console {

struct BatchOptions {
    std::string root;                  // empty: a private temporary root, removed at the end
    bool yes = false;                  // confirmations answered Yes instead of No
    std::string out;                   // keep the session output under this name
    bool pictures = false;             // save every picture under its default name
    std::string pictureType = ".JPG";  // the type pictures are saved as: ".JPG", ".PNG", ".BMP"
    bool demo = false;                 // work in the root's DEMOS folder (demonstration mode)
    bool progress = false;             // status lines of long commands on stderr
    std::string input = "-";           // "-" for stdin, else FILE.KOR (or FILE.KDS)
    std::vector<std::string> values;   // appended to the start command
};

// Runs the session; the exit status is 0 when every command succeeded, else 1.
int RunBatch(const BatchOptions& options);

}  // namespace korw::console
