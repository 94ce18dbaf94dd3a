// IMPORT and EXPORT on the vector table: a whole file in as new vectors (all or nothing), and
// the included units of vectors out, the file type chosen by the extension.
#pragma once

#include <string>

namespace korw::io {

// Whether `file` has an extension IMPORT reads (case ignored).
bool ImportableFile(const std::string& file);

}  // namespace korw::io
