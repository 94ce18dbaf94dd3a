// Cross-classified tables of counts or sums, and the cell-level layout of a cross-
// classification.
#pragma once

#include <string>

namespace korw::tools {

// spec is empty (counts) or variate[:width[:decimals]]; a factor given as -NAME has no margin,
// and NAME=label0,label1,... labels its levels.
void TwoWayTable(const std::string& spec, const std::string& row, const std::string& column);

// One table per level of the layer factor, then one over all its levels (unless -LAYER). The
// present set is restored after each table, also after an error.
void ThreeWayTable(const std::string& spec, const std::string& layer, const std::string& row,
                   const std::string& column);

// One unit per cell of the factors (blank- or "*"-separated, first varying slowest): the new
// factors carry the levels of each cell, the new variates (new or new=old) the counts or sums
// of the present units. Without new factors, temporary ones are made and deleted again.
void Tabulate(const std::string& newVariates, const std::string& factors,
              const std::string& newFactors);

}  // namespace korw::tools
