#include "interp/commands.h"

#include <string_view>
#include <utility>

namespace korw::interp {

CommandAction FindCommandAction(const std::string& name) {
    static const std::pair<std::string_view, CommandAction> kActions[] = {
        {"DELETE", CmdDelete},
        {"GROUP", CmdGroup},
        {"TABULATE", CmdTabulate},
        {"THREEWAYTABLE", CmdThreeWayTable},
        {"TWOWAYTABLE", CmdTwoWayTable},
        {"ONEWAYTABLE", CmdOneWayTable},
        {"GETDATA", CmdGetData},
        {"SAVEDATA", CmdSaveData},
        {"TRANSFER", CmdTransfer},
        {"SORT", CmdSort},
        {"SUMMARY", CmdSummary},
        {"CLOSEPSFILE", CmdClosePsFile},
        {"PSFRAME", CmdPsFrame},
        {"OPENPSFILE", CmdOpenPsFile},
        {"HISTOGRAM", CmdHistogram},
        {"PLOT", CmdPlot},
        {"FRAMETEXT", CmdFrameText},
        {"YTEXT", CmdYText},
        {"XTEXT", CmdXText},
        {"CORMAT", CmdCorMat},
        {"BARTLETT", CmdBartlett},
        {"KEYS", CmdKeys},
        {"EDIT", CmdEdit},
        {"SHELL", CmdShell},
        {"OPENCOMMANDFILE", CmdOpenCommandFile},
        {"SHOW", CmdShow},
        {"GOTO", CmdGoto},
        {"SUBSTITUTE", CmdSubstitute},
        {"RUN", CmdRun},
        {"COMPUTE", CmdCompute},
        {"ECHO", CmdEcho},
        {"EXCLUDE", CmdExclude},
        {"EXCLUDELEVEL", CmdExcludeLevel},
        {"EXCLUDEMISSING", CmdExcludeMissing},
        {"FACTOR", CmdFactor},
        {"FOCUSONLEVEL", CmdFocusOnLevel},
        {"GENERATELEVELS", CmdGenerateLevels},
        {"INCLUDE", CmdInclude},
        {"INCLUDEALL", CmdIncludeAll},
        {"LIST", CmdList},
        {"LIST1", CmdList1},
        {"OPENINFILE", CmdOpenInFile},
        {"OUTFILE", CmdOutFile},
        {"QUIT", CmdQuit},
        {"RAMSTATUS", CmdRamStatus},
        {"READ", CmdRead},
        {"REMARK", CmdRemark},
        {"RENAME", CmdRename},
        {"SKIPITEM", CmdSkipItem},
        {"SKIPLINE", CmdSkipLine},
        {"VARIATE", CmdVariate},
    };
    for (const auto& [command, action] : kActions)
        if (command == name) return action;
    return nullptr;
}

}  // namespace korw::interp
