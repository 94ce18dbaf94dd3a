#include "io/import.h"

#include <algorithm>
#include <cctype>

namespace korw::io {

bool ImportableFile(const std::string& file) {
    static const char* const kTypes[] = {".csv", ".tsv",  ".tab", ".txt",      ".dat", ".dta",
                                         ".sav", ".zsav", ".por", ".sas7bdat", ".xpt"};
    std::string lower = file;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* type) {
        std::string t = type;
        return lower.size() > t.size() && lower.compare(lower.size() - t.size(), t.size(), t) == 0;
    });
}

}  // namespace korw::io
