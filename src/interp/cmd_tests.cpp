// Tests and correlations: BARTLETT, CORMAT, WILCOXON and SPEARMAN.
#include <cstdint>
#include <sstream>
#include <vector>

#include "data/errors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "tools/rank_tests.h"
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

namespace {

// A factor level given as an integer expression: 0 to 255, else false with the command error.
bool LevelParameter(const std::string& text, uint8_t& level) {
    int32_t value = 0;
    if (IntegerParameter(text, value) != 0 || value < 0 || value > 255)
        return SetCommandError("Invalid integer parameter " + text), false;
    level = static_cast<uint8_t>(value);
    return true;
}

}  // namespace

// WILCOXON y g l1 l2: the levels are the last two words, read from the end.
void CmdWilcoxon(const std::string& params) {
    if (Words(params).size() < 4) return SetCommandError("Too few parameters - four are required");
    Split l2 = SplitLast(params);
    Split l1 = SplitLast(l2.head);
    uint8_t level2 = 0, level1 = 0;
    if (!LevelParameter(l2.tail, level2) || !LevelParameter(l1.tail, level1)) return;
    Split y = SplitFirst(l1.head);
    Split g = SplitFirst(y.tail);
    tools::WilcoxonTwoSampleTest(y.head, g.head, level1, level2);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

// SPEARMAN a b: the first and the last word.
void CmdSpearman(const std::string& params) {
    if (Words(params).size() < 2) return SetCommandError("Too few parameters - two are required");
    tools::Spearman(SplitFirst(params).head, SplitLast(params).tail);
    if (LibraryFailed()) return;
    ShowCommandOutput();
}

}  // namespace korw::interp
