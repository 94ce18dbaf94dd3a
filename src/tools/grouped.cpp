#include "tools/grouped.h"

#include "data/errors.h"

namespace korw::tools {

Grouped LookUpGrouped(const std::string& yName, const std::string& fName) {
    std::string yn = yName, fn = fName;
    int yi = data::LookUpVariate(yn);
    if (yi == 0) return {};
    int fi = data::LookUpFactor(fn);
    if (fi == 0) return {};
    const data::Vector& y = data::Entry(yi);
    const data::Vector& f = data::Entry(fi);
    if (y.length != f.length) {
        data::ReportError(f.name + " and " + y.name + " are not of the same length");
        return {};
    }
    return {&y, &f};
}

}  // namespace korw::tools
