// Stata, SPSS and SAS files, read and written through ReadStat.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "io/columns.h"

namespace korw::io {

enum class StatFormat { Stata, Spss, SpssPortable, Sas, SasTransport };

// The name a vector is written under in a file of that format: characters the format refuses
// become _, a refused first character or a reserved word gets a V in front. The reader gives a
// variable the vector name in its label when this maps the label to the variable's name.
std::string StatVariableName(const std::string& vectorName, StatFormat format);

// Reads the whole file into `table` (`shown` names the file in messages). False with `error` set
// when the file is malformed or cannot be read; `table` is then empty.
bool ReadStatFile(const std::string& path, const std::string& shown, StatFormat format,
                  ImportTable& table, std::string& error);

// Writes the columns as a Stata (.dta) or SPSS (.sav) file. Names the format refuses are mapped
// to accepted ones (original kept as the variable label): `mapped` receives (vector, written).
bool WriteStatFile(std::FILE* file, StatFormat format, const std::vector<ExportColumn>& columns,
                   std::vector<std::pair<std::string, std::string>>& mapped, std::string& error);

}  // namespace korw::io
