#include "tools/describe.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/summaries.h"
#include "data/vectors.h"

namespace korw::tools {

namespace {

constexpr int kSummaryDigits = 7;  // significant digits of the summary statistics
constexpr int kMaxSummaryDecimals = 18;
constexpr int kMaxCutpointUnits = 254;

std::string Normalised(const std::string& name) {
    std::string text = name;
    size_t b = text.find_first_not_of(' ');
    text = b == std::string::npos ? "" : text.substr(b, text.find_last_not_of(' ') - b + 1);
    return data::UpperName(text);
}

void SummaryCounts(const data::Vector& v) {
    long counts[2][2] = {{0, 0}, {0, 0}};  // [valid][present]
    for (int32_t u = 1; u <= v.length; ++u) {
        bool valid =
            v.kind == data::FactorKind ? v.factor[u] > 0 : v.variate[u] != data::MissingValue;
        counts[valid ? 0 : 1][data::UnitIncluded(u) ? 0 : 1]++;
    }
    bool isFactor = v.kind == data::FactorKind;
    auto row = [](const char* label, long present, long excluded) {
        data::WriteLine(std::string(label) + data::Int(present, 9) + data::Int(excluded, 11) +
                        data::Int(present + excluded, 11));
    };
    data::WriteLine("             present   excluded      total");
    row(isFactor ? "  level > 0" : "non-missing", counts[0][0], counts[0][1]);
    row(isFactor ? "  level = 0" : "    missing", counts[1][0], counts[1][1]);
    row("      total", counts[0][0] + counts[1][0], counts[0][1] + counts[1][1]);
    data::WriteLine();
}

void SummaryStatistics(const std::string& name) {
    double min = data::Min(name), mean = data::Mean(name), max = data::Max(name);
    double sd = std::sqrt(data::Variance(name));
    int width = 5, decimals = 2;
    for (double x : {min, max, mean}) WidenFormat(kSummaryDigits, x, width, decimals);
    while (decimals > kMaxSummaryDecimals) {
        --decimals;
        --width;
    }
    data::WriteLine("Statistics for values present and non-missing.");
    data::WriteLine("Min  = " + data::Fixed(min, width, decimals));
    data::WriteLine("Mean = " + data::Fixed(mean, width, decimals));
    data::WriteLine("Max  = " + data::Fixed(max, width, decimals));
    data::WriteLine("S.D. = " + data::Fixed(sd, width, decimals));
}

// A number of the cutpoint list: the whole text must convert, in decimal notation (strtod
// alone would also take hexadecimal numbers such as 0x10).
bool ParseReal(const std::string& text, double& value) {
    if (text.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end == text.c_str() + text.size() && std::isfinite(value);
}

// The L - 1 cutpoints; false after reporting the error.
bool Cutpoints(const std::string& text, int cutVariate, const std::string& variate, int levels,
               std::vector<double>& cuts) {
    if (text.empty()) {
        double min = data::Min(variate), max = data::Max(variate);
        for (int k = 1; k < levels; ++k) cuts.push_back(min + k * (max - min) / levels);
        return true;
    }
    if (cutVariate != 0) {
        const data::Vector& c = data::Entry(cutVariate);
        for (int u = 1; u < levels; ++u) {
            if (c.variate[u] == data::MissingValue) {
                data::ReportError("The variate " + c.name + " has a missing value");
                return false;
            }
            cuts.push_back(c.variate[u]);
        }
    } else {
        size_t i = 0;
        while ((i = text.find_first_not_of(" ,", i)) != std::string::npos) {
            size_t j = std::min(text.find_first_of(" ,", i), text.size());
            std::string word = text.substr(i, j - i);
            i = j;
            double value = 0;
            if (!ParseReal(word, value)) {
                data::ReportError("Invalid cutpoint " + word);
                return false;
            }
            if (static_cast<int>(cuts.size()) == levels - 1) {
                data::ReportError("Too many cutpoints specified");
                return false;
            }
            cuts.push_back(value);
        }
        if (static_cast<int>(cuts.size()) < levels - 1) {
            data::ReportError("Too few cutpoints specified");
            return false;
        }
    }
    for (size_t k = 1; k < cuts.size(); ++k)
        if (cuts[k] <= cuts[k - 1]) {
            data::ReportError("Cutpoints must increase");
            return false;
        }
    return true;
}

}  // namespace

std::string ProbabilityText(double p) {
    return data::Fixed(p, 10, 6);
}

void OpenFrame(const char* procedure) {
    if (data::ContinueOnError) return;
    data::WriteLine(std::string(static_cast<size_t>(data::LineWidth()), '*'));
    data::WriteLine(std::string("OurUnit.") + procedure);
}

void CloseFrame() {
    if (data::ContinueOnError) return;
    data::WriteLine(std::string(static_cast<size_t>(data::LineWidth()), '*'));
    data::WriteLine();
}

void WidenFormat(int digits, double x, int& width, int& decimals) {
    if (x == 0 || !std::isfinite(x)) return;  // no logarithm to take a width from
    double e = std::log10(std::fabs(x) / (1 - std::pow(10.0, -digits)));
    int k = std::max(static_cast<int>(std::trunc(e)) + 1, 1) + (x < 0 ? 1 : 0);
    int wanted = digits + static_cast<int>(std::trunc(1 - e)) - 1;
    while (decimals < wanted) {
        ++decimals;
        ++width;
    }
    while (width < decimals + k + 1) ++width;
}

void Summary(const std::string& vectorName) {
    if (!data::Enter("Summary")) return;
    std::string name = vectorName;
    int index = data::LookUp(name);
    if (index == 0) return;
    OpenFrame("Summary");
    data::WriteLine();
    const data::Vector& v = data::Entry(index);
    bool isFactor = v.kind == data::FactorKind;
    data::WriteLine(std::string(isFactor ? "Factor " : "Variate ") + v.name +
                    (isFactor ? " on " + std::to_string(v.levels) + " levels" : "") + ", length " +
                    std::to_string(v.length));
    data::WriteLine();
    SummaryCounts(v);
    if (!isFactor) SummaryStatistics(name);
    CloseFrame();
}

void Group(const std::string& variateName, const std::string& factorName, int32_t levels,
           const std::string& cutpointText) {
    if (!data::Enter("Group")) return;
    std::string cutText = cutpointText;
    size_t b = cutText.find_first_not_of(' ');
    cutText =
        b == std::string::npos ? "" : cutText.substr(b, cutText.find_last_not_of(' ') - b + 1);
    int cutVariate = 0;
    std::string cutName = data::UpperName(cutText);
    if (!cutText.empty() && cutText.size() <= 8) cutVariate = data::FindVector(cutName);
    if (cutVariate != 0) {
        const data::Vector& c = data::Entry(cutVariate);
        if (c.kind != data::VariateKind) return data::ReportError(cutName + " is a factor");
        if (c.length > kMaxCutpointUnits)
            return data::ReportError("Cutpoint variate " + cutName + " too long");
        if (levels > 0 && levels != c.length + 1)
            return data::ReportError("Incorrect length of cutpoint variate " + cutName);
        if (levels == 0) levels = c.length + 1;
    }

    std::string variate = Normalised(variateName);
    int vi = data::FindVector(variate);
    if (vi == 0 || data::Entry(vi).kind != data::VariateKind)
        return data::ReportError("No variate " + variate);
    int32_t length = data::Entry(vi).length;

    std::string factor = Normalised(factorName);
    int fi = data::FindVector(factor);
    if (fi != 0 && data::Entry(fi).kind == data::VariateKind)
        return data::ReportError(factor + " is a variate");
    if (levels < 0 || levels > data::MaxLevels)
        return data::ReportError("Invalid number of levels");
    if (fi != 0) {
        const data::Vector& f = data::Entry(fi);
        if (f.length != length) return data::ReportError("Incorrect length of factor " + factor);
        if (levels > 0 && levels != f.levels)
            return data::ReportError(cutVariate != 0
                                         ? "Incorrect length of cutpoint variate " + cutName
                                         : "Incorrect number of levels for factor " + factor);
        if (levels == 0) levels = f.levels;
    }
    if (levels == 0 && !cutText.empty())
        return data::ReportError("The number of levels must be specified");
    if (levels == 0)
        levels = std::min<int32_t>(
            static_cast<int32_t>(std::lround(std::sqrt(static_cast<double>(length) + 1))),
            data::MaxLevels);

    std::vector<double> cuts;
    if (!Cutpoints(cutText, cutVariate, variate, levels, cuts)) return;
    if (fi == 0) {
        data::DeclareFactor(factor, length, levels);
        if (!data::ErrorFree) return;
        fi = data::FindVector(factor);
    }
    // Values are stored in single precision, so the cutpoints are compared as stored values
    // too: a value typed as 0.1 and a cutpoint 0.1 are then equal and the value falls into the
    // class that ends at the cutpoint, instead of above it because 0.1f exceeds 0.1.
    std::vector<float> stored(cuts.begin(), cuts.end());
    const std::vector<float>& x = data::Entry(vi).variate;
    std::vector<uint8_t>& f = data::Entry(fi).factor;
    for (int32_t u = 1; u <= length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        f[u] = static_cast<uint8_t>(
            1 + (std::lower_bound(stored.begin(), stored.end(), x[u]) - stored.begin()));
    }
}

void TransferPresent(const std::string& sourceName, const std::string& targetName) {
    if (!data::Enter("TransferPresent")) return;
    std::string source = sourceName;
    int si = data::LookUp(source);
    if (si == 0) return;
    int32_t k = 0;
    for (int32_t u = 1; u <= data::Entry(si).length; ++u) k += data::UnitIncluded(u) ? 1 : 0;
    if (k == 0) return data::ReportError("No values present in " + source);

    std::string target = Normalised(targetName);
    int ti = data::FindVector(target);
    if (ti == 0) {
        if (data::Entry(si).kind == data::FactorKind)
            data::DeclareFactor(target, k, data::Entry(si).levels);
        else
            data::DeclareVariate(target, k);
        if (!data::ErrorFree) return;
        ti = data::FindVector(target);
    }
    const data::Vector& s = data::Entry(si);
    data::Vector& t = data::Entry(ti);
    if (t.length != k) return data::ReportError("Incorrect length of " + target);
    if (s.kind == data::FactorKind && t.kind == data::FactorKind && s.levels != t.levels)
        return data::ReportError("Invalid number of levels for " + target);
    if (s.kind != t.kind) return data::ReportError("Invalid vector type " + target);
    int32_t w = 1;
    for (int32_t u = 1; u <= s.length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        if (s.kind == data::FactorKind)
            t.factor[w++] = s.factor[u];
        else
            t.variate[w++] = s.variate[u];
    }
}

}  // namespace korw::tools
