// The actions of the commands, one function per command in its family file.
#pragma once

#include <string>

namespace korw::interp {

using CommandAction = void (*)(const std::string& params);

// The action of a full command name, nullptr when it has none yet.
CommandAction FindCommandAction(const std::string& name);

// Vectors and units (cmd_data.cpp).
void CmdVariate(const std::string& params);
void CmdFactor(const std::string& params);
void CmdGenerateLevels(const std::string& params);
void CmdDelete(const std::string& params);
void CmdRename(const std::string& params);
void CmdRamStatus(const std::string& params);
void CmdList(const std::string& params);
void CmdList1(const std::string& params);
void CmdInclude(const std::string& params);
void CmdExclude(const std::string& params);
void CmdIncludeAll(const std::string& params);
void CmdExcludeMissing(const std::string& params);
void CmdExcludeLevel(const std::string& params);
void CmdFocusOnLevel(const std::string& params);

// Expressions (cmd_compute.cpp).
void CmdCompute(const std::string& params);

// Input files (cmd_input.cpp).
void CmdOpenInFile(const std::string& params);
void CmdSkipItem(const std::string& params);
void CmdSkipLine(const std::string& params);
void CmdRead(const std::string& params);

// Session and output (cmd_session.cpp).
void CmdEcho(const std::string& params);
void CmdRemark(const std::string& params);
void CmdOutFile(const std::string& params);
void CmdQuit(const std::string& params);

// Programs (cmd_programs.cpp).
void CmdRun(const std::string& params);
void CmdSubstitute(const std::string& params);
void CmdGoto(const std::string& params);
void CmdShow(const std::string& params);
void CmdOpenCommandFile(const std::string& params);

// Commands of the front end (cmd_console.cpp).
void CmdShell(const std::string& params);
void CmdEdit(const std::string& params);
void CmdKeys(const std::string& params);

// Tests and correlations (cmd_tests.cpp).
void CmdBartlett(const std::string& params);
void CmdCorMat(const std::string& params);
void CmdWilcoxon(const std::string& params);
void CmdSpearman(const std::string& params);

// Data sets, sorting and tables (cmd_tables.cpp).
void CmdSummary(const std::string& params);
void CmdSort(const std::string& params);
void CmdTransfer(const std::string& params);
void CmdSaveData(const std::string& params);
void CmdGetData(const std::string& params);
void CmdOneWayTable(const std::string& params);
void CmdTwoWayTable(const std::string& params);
void CmdThreeWayTable(const std::string& params);
void CmdTabulate(const std::string& params);
void CmdGroup(const std::string& params);

// Data in and out: delimited text, Stata, SPSS and SAS files (cmd_io.cpp).
void CmdImport(const std::string& params);
void CmdExport(const std::string& params);

// Graphics (cmd_graphics.cpp).
void CmdXText(const std::string& params);
void CmdYText(const std::string& params);
void CmdFrameText(const std::string& params);
void CmdPlot(const std::string& params);
void CmdHistogram(const std::string& params);
void CmdOpenPsFile(const std::string& params);
void CmdPsFrame(const std::string& params);
void CmdClosePsFile(const std::string& params);

// The graphics part of DELETE without parameters: picture file closed, frames and texts reset.
void ResetGraphics();

// Model fits and the fitted model (cmd_models.cpp).
void CmdFitLinearNormal(const std::string& params);
void CmdFitLogitLinear(const std::string& params);
void CmdFitLogLinear(const std::string& params);
void CmdListParameters(const std::string& params);
void CmdTestModelChange(const std::string& params);
void CmdSaveFitted(const std::string& params);
void CmdSaveParameters(const std::string& params);
void CmdSaveNormedResiduals(const std::string& params);
void CmdEstimate(const std::string& params);

// The specialised models (cmd_models.cpp).
void CmdFitAnova(const std::string& params);
void CmdConstructMinimum(const std::string& params);
void CmdFitCoxModel(const std::string& params);
void CmdFitNonLinear(const std::string& params);
void CmdFitCLogit(const std::string& params);
void CmdFitCRasch(const std::string& params);
void CmdFitNegBin(const std::string& params);
void CmdFitMcLogit(const std::string& params);
void CmdFitMcProbit(const std::string& params);
void CmdFitMcCLogLog(const std::string& params);

// DELETE without parameters: a new library session, the session time still counting.
void RestartLibrarySession();

}  // namespace korw::interp
