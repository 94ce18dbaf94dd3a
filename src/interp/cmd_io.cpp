// Data in and out: IMPORT and EXPORT of delimited text, Stata, SPSS and SAS files.
#include "interp/commands.h"
#include "interp/output.h"

namespace korw::interp {

void CmdImport(const std::string& params) {
    (void)params;
    SetCommandError("Command IMPORT not implemented");
}

void CmdExport(const std::string& params) {
    (void)params;
    SetCommandError("Command EXPORT not implemented");
}

}  // namespace korw::interp
