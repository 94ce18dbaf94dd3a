// Data set files (.KDS): the present units of chosen vectors in a compact binary form.
//
// Layout, little-endian, no padding: a length byte 33, the 33-character header text, the byte
// 26, then one record per vector to the end of the file. A record is the kind (1 factor,
// 2 variate; 129 and 130 when the count is 16380 or more), the name length and name, the count
// m (unsigned 16-bit, or signed 32-bit for kinds 129 and 130), for a factor its levels byte,
// then m level bytes or m single-precision reals.
#pragma once

#include <string>

namespace korw::data {

// Writes file + ".KDS" with the present units of the listed vectors (all when names is empty).
// The file is written under a temporary name and renamed into place, so an existing data set
// survives a failed write.
void SaveData(const std::string& file, const std::string& names);

// Declares and fills the listed vectors (all when names is empty) from a data set file.
void GetData(const std::string& file, const std::string& names);

// Lists the vectors of a data set file.
void Contents(const std::string& file);

// The file name GetData opens: upper case, ".KDS" appended unless the name as given ends in
// ".KDS" exactly.
std::string DataSetFileName(const std::string& file);

}  // namespace korw::data
