// ExecuteCommand: the one path of every command line, typed or read from a program.
#pragma once

#include <string>

#include "data/errors.h"

namespace korw::interp {

// Runs one command line; afterwards CommandError is empty on success or holds the failure.
// Library faults propagate to the caller.
void ExecuteCommand(const std::string& line);

// The fixed text for a library fault ("Unexpected division by zero - sorry! ").
const char* FaultText(data::FaultKind kind);

// Runs a typed command (Return in the command window): the completion of the command word when
// `expand` holds, ExecuteCommand with the faults caught, the command log and the error box.
// True when the command succeeded.
bool RunTypedCommand(const std::string& text, bool expand);

// Blanks removed at both ends and runs of blanks reduced to one.
std::string NormaliseBlanks(const std::string& line);

}  // namespace korw::interp
