#include "interp/commands.h"

#include <string_view>
#include <utility>

namespace korw::interp {

CommandAction FindCommandAction(const std::string& name) {
    static const std::pair<std::string_view, CommandAction> kActions[] = {
        {"DELETE", CmdDelete},
        {"FITLINEARNORMAL", CmdFitLinearNormal},
        {"FITLOGITLINEAR", CmdFitLogitLinear},
        {"FITLOGLINEAR", CmdFitLogLinear},
        {"LISTPARAMETERS", CmdListParameters},
        {"TESTMODELCHANGE", CmdTestModelChange},
        {"SAVEFITTED", CmdSaveFitted},
        {"SAVEPARAMETERS", CmdSaveParameters},
        {"SAVENORMEDRESIDUALS", CmdSaveNormedResiduals},
        {"ESTIMATE", CmdEstimate},
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
        {"WILCOXON", CmdWilcoxon},
        {"SPEARMAN", CmdSpearman},
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
        {"SUMMARY", CmdSummary},
        {"SORT", CmdSort},
        {"TRANSFER", CmdTransfer},
        {"SAVEDATA", CmdSaveData},
        {"GETDATA", CmdGetData},
        {"ONEWAYTABLE", CmdOneWayTable},
        {"TWOWAYTABLE", CmdTwoWayTable},
        {"THREEWAYTABLE", CmdThreeWayTable},
        {"TABULATE", CmdTabulate},
        {"GROUP", CmdGroup},
    };
    for (const auto& [command, action] : kActions)
        if (command == name) return action;
    return nullptr;
}

}  // namespace korw::interp
