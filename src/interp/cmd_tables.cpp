// Data sets, sorting and tables: SUMMARY, SORT, TRANSFER, SAVEDATA, GETDATA, ONEWAYTABLE,
// TWOWAYTABLE, THREEWAYTABLE, TABULATE, GROUP.
#include <algorithm>
#include <optional>
#include <sstream>
#include <vector>

#include "data/datasets.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/listing.h"
#include "data/sort.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"
#include "tools/describe.h"
#include "tools/tables.h"

namespace korw::interp {

namespace {

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string BarsToBlanks(std::string text) {
    std::replace(text.begin(), text.end(), '|', ' ');
    return text;
}

// The words of a table command from the end: the factors, then the optional variate
// specification in front of them ("1" means none).
bool TableWords(const std::string& params, int factors, std::vector<std::string>& names,
                std::string& spec) {
    std::string rest = params;
    names.assign(static_cast<size_t>(factors), "");
    for (int k = factors - 1; k >= 0; --k) {
        Split s = SplitLast(rest);
        if (s.tail.empty()) return false;
        names[k] = s.tail;
        rest = s.separator == '\0' ? "" : s.head;
    }
    spec = rest == "1" ? "" : rest;
    return true;
}

}  // namespace

// SUMMARY [names]: the summary block of each vector, of every vector when none is named.
void CmdSummary(const std::string& params) {
    std::vector<std::string> names = Words(params);
    if (names.empty())
        for (int i = 1; i <= data::TableSize; ++i)
            if (data::Entry(i).kind != data::FreeEntry) names.push_back(data::Entry(i).name);
    for (const std::string& name : names) {
        tools::Summary(name);
        if (LibraryFailed()) return;
    }
    ShowCommandOutput();
}

// SORT names [+]
void CmdSort(const std::string& params) {
    if (params.empty()) return;
    data::Sort(params);
    FinishWithOutput();
}

// TRANSFER x y | x a b y c d
void CmdTransfer(const std::string& params) {
    std::vector<std::string> w = Words(params);
    if (w.size() == 2) {
        tools::TransferPresent(w[0], w[1]);
        FinishWithOutput();
        return;
    }
    if (w.size() != 6)
        return SetCommandError("Incorrect number of parameters - two or six required");
    int32_t units[4];
    const std::string* texts[4] = {&w[1], &w[2], &w[4], &w[5]};
    for (int k = 0; k < 4; ++k)
        if (IntegerParameter(*texts[k], units[k]) != 0)
            return SetCommandError("Invalid integer " + *texts[k]);
    data::Transfer(w[0], units[0], units[1], w[3], units[2], units[3]);
    FinishWithOutput();
}

// SAVEDATA (SAVE) file [names]: an existing file is replaced only when the user agrees.
void CmdSaveData(const std::string& params) {
    if (params.empty()) return SetCommandError("Missing parameter");
    Split s = SplitFirst(params);
    std::string file = s.head;
    if (!ProgramRunning && data::FileExists(file + ".KDS") &&
        !TheDesktop->Confirm("The file " + file + ".KDS exists. Overwrite it?")) {
        if (EchoOn) AppendOutputLine(" *** OVERWRITE WARNING - OPERATION CANCELLED ***");
        return;
    }
    data::SaveData(file, s.tail);
    FinishWithOutput();
}

// GETDATA [file [names]]: without a file, or with "*", the file is chosen in a dialog.
void CmdGetData(const std::string& params) {
    Split s = SplitFirst(params);
    std::string file = s.head;
    if (file.empty() || file == "*") {
        FileDialog dialog{"Select KOR data set to GET",
                          "KOR data set (*.KDS)|*.KDS",
                          ".KDS",
                          WorkingDirectory,
                          "",
                          false};
        std::optional<std::string> chosen = TheDesktop->OpenDialog(dialog);
        if (!chosen || chosen->empty()) {
            if (EchoOn) AppendOutputLine("No data set selected.");
            return;
        }
        file = *chosen;
        // The file picked exists; its extension in any case must not get a second one.
        if (file.size() >= 4 && data::UpperName(file.substr(file.size() - 4)) == ".KDS")
            file.replace(file.size() - 4, 4, ".KDS");
        if (EchoOn) {
            AppendOutputLine("Data set selected from dialog box:");
            AppendOutputLine(file);
        }
    }
    data::GetData(file, s.tail);
    FinishWithOutput();
}

// ONEWAYTABLE items
void CmdOneWayTable(const std::string& params) {
    if (params.empty()) return;
    data::Histogram(params);
    FinishWithOutput();
}

// TWOWAYTABLE [w] a b
void CmdTwoWayTable(const std::string& params) {
    std::vector<std::string> names;
    std::string spec;
    if (!TableWords(params, 2, names, spec))
        return SetCommandError("Too few parameters - at least two required");
    tools::TwoWayTable(spec, names[0], names[1]);
    FinishWithOutput();
}

// THREEWAYTABLE [w] a b c
void CmdThreeWayTable(const std::string& params) {
    std::vector<std::string> names;
    std::string spec;
    if (!TableWords(params, 3, names, spec))
        return SetCommandError("Too few parameters - at least three required");
    tools::ThreeWayTable(spec, names[0], names[1], names[2]);
    FinishWithOutput();
}

// TABULATE newvariates factors [newfactors]; "|" stands for a blank inside a list.
void CmdTabulate(const std::string& params) {
    std::vector<std::string> w = Words(params);
    if (w.size() < 2 || w.size() > 3) return SetCommandError("Two or three parameters required");
    tools::Tabulate(BarsToBlanks(w[0]), BarsToBlanks(w[1]),
                    w.size() == 3 ? BarsToBlanks(w[2]) : "");
    FinishWithOutput();
}

// GROUP variate factor [levels [cutpoints]]
void CmdGroup(const std::string& params) {
    Split p1 = SplitFirst(params);
    Split p2 = SplitFirst(p1.tail);
    if (p2.head.empty()) return SetCommandError("Missing parameter");
    Split n = SplitFirst(p2.tail);
    int32_t levels = 0;
    if (!n.head.empty() && n.head != "*" && IntegerParameter(n.head, levels) != 0) levels = -1;
    data::ErrorFree = true;
    tools::Group(p1.head, p2.head, levels, n.tail);
    FinishWithOutput();
}

}  // namespace korw::interp
