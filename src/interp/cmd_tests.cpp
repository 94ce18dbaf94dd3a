// Tests and correlations: BARTLETT and CORMAT.
#include <sstream>
#include <vector>

#include "data/errors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "tools/variance_tests.h"

namespace korw::interp {

namespace {

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

}  // namespace

void CmdBartlett(const std::string& params) {
    std::vector<std::string> words = Words(params);
    if (words.size() < 2) return SetCommandError("Two parameters required");
    tools::Bartlett(words[0], words[1]);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

void CmdCorMat(const std::string& params) {
    if (params.empty()) return SetCommandError("Missing parameter");
    std::string names = params;
    int marks = 0;
    Split last = SplitLast(params);
    if (!last.tail.empty() && last.tail[0] == '*') {
        marks = static_cast<int>(last.tail.size());
        names = last.separator == '\0' ? "" : last.head;
    }
    if (Words(names).size() < 2) return SetCommandError("Only one variate name");
    tools::CorMat(names, marks);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

void CmdWilcoxon(const std::string&) {
    SetCommandError("Not yet available");
}

void CmdSpearman(const std::string&) {
    SetCommandError("Not yet available");
}

}  // namespace korw::interp
