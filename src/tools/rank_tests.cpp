#include "tools/rank_tests.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "data/errors.h"
#include "data/format.h"
#include "data/outfile.h"
#include "data/restrict.h"
#include "data/sort.h"
#include "data/vectors.h"
#include "distr/distributions.h"
#include "models/models.h"
#include "tools/describe.h"
#include "tools/grouped.h"

namespace korw::tools {

namespace {

// Two extreme rank correlations closer than this are taken as equal: no ties to report.
constexpr double kTieTolerance = 1.0E-7;

std::string Normalised(const std::string& name) {
    size_t b = name.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return data::UpperName(name.substr(b, name.find_last_not_of(' ') - b + 1));
}

// A zero of either sign as +0: Sort orders -0 before +0, but the two are tied values.
float Unsigned(float v) {
    return v + 0.0f;
}

// The vectors a test declares for its own use under "SYS" names. They are deleted when the
// object goes, on every path out of the test (errors and faults included); the error state of
// the test is kept.
class Temporaries {
  public:
    explicit Temporaries(const char* procedure) : procedure_(procedure) {}
    Temporaries(const Temporaries&) = delete;
    Temporaries& operator=(const Temporaries&) = delete;
    ~Temporaries() {
        if (names_.empty() || !data::Active) return;
        bool errorFree = data::ErrorFree;
        std::string message = data::ErrorMessage;
        std::string list;
        for (const std::string& name : names_) list += name + " ";
        try {
            data::Delete(list);
        } catch (const data::Fault&) {
            // Deleting writes only a warning that cannot apply to these vectors.
        }
        data::ErrorFree = errorFree;
        data::ErrorMessage = message;
        data::ProcedureName = procedure_;
    }

    // Declares a variate (levels 0) or a factor of `length` units; its name, or "" after the
    // error of the declaration.
    std::string Declare(int32_t length, int32_t levels = 0) {
        std::string name = data::FreeTemporaryName();
        if (levels == 0)
            data::DeclareVariate(name, length);
        else
            data::DeclareFactor(name, length, levels);
        data::ProcedureName = procedure_;
        if (!data::ErrorFree) return "";
        names_.push_back(name);
        return name;
    }

    // Copies the present units of `source` into a new variate; its name, or "" after an error.
    std::string CopyPresent(const std::string& source) {
        std::string name = data::FreeTemporaryName();
        TransferPresent(source, name);
        if (data::FindVector(name) != 0) names_.push_back(name);
        data::ProcedureName = procedure_;
        return data::ErrorFree ? name : "";
    }

  private:
    const char* procedure_;
    std::vector<std::string> names_;
};

// Sends the library output to the null device while the sorts write their warnings, then
// reopens the output file of before for appending. Restore reports a failure to reopen; when
// the object goes unrestored (an error or a fault on the way) the file is reopened silently.
class QuietOutput {
  public:
    explicit QuietOutput(const char* procedure)
        : procedure_(procedure), saved_(data::OutFileName()) {
        data::NewOutFile("nul");
        data::ProcedureName = procedure_;
    }
    QuietOutput(const QuietOutput&) = delete;
    QuietOutput& operator=(const QuietOutput&) = delete;
    ~QuietOutput() {
        if (restored_) return;
        bool errorFree = data::ErrorFree;
        std::string message = data::ErrorMessage;
        try {
            Reopen();
        } catch (const data::Fault&) {
            // Already leaving through an error; the output file stays closed.
        }
        data::ErrorFree = errorFree;
        data::ErrorMessage = message;
    }

    // False with the library error of the reopening.
    bool Restore() {
        restored_ = true;
        Reopen();
        return data::ErrorFree;
    }

  private:
    void Reopen() {
        if (saved_.empty())
            data::CloseOutFile();
        else
            data::OldOutFile(saved_);
        data::ProcedureName = procedure_;
    }

    const char* procedure_;
    std::string saved_;
    bool restored_ = false;
};

// Sorts the listed vectors and keeps the caller's procedure name; false after an error.
bool SortAs(const char* procedure, const std::string& list) {
    data::Sort(list);
    data::ProcedureName = procedure;
    return data::ErrorFree;
}

double TwoSidedNormal(double z) {
    return 2 * static_cast<double>(distr::NormalUpperTail(std::fabs(z)));
}

}  // namespace

void PearsonChiSquare(const std::string& yName) {
    constexpr const char* kName = "PearsonChiSquare";
    if (!data::Enter(kName)) return;
    std::string name = Normalised(yName);
    int index = data::FindVector(name);
    if (index == 0 || data::Entry(index).kind != data::VariateKind)
        return data::ReportError("Variate " + name + " does not exist");

    // Units the fit could not have used (a missing value) or with no finite contribution (a
    // fitted value that is not positive) are left out of the sum.
    double chi = 0;
    for (int32_t u = 1; u <= data::Entry(index).length; ++u) {
        if (!data::UnitIncluded(u)) continue;
        double y = data::Entry(index).variate[u];
        double f = models::Fitted(u);
        data::ProcedureName = kName;
        if (!data::ErrorFree) return;
        if (y == data::MissingValue || f == data::MissingValue || f <= 0) continue;
        chi += (y - f) * (y - f) / f;
    }
    int df = models::ResDF();
    data::ProcedureName = kName;
    if (!data::ErrorFree) return;
    double p = static_cast<double>(distr::ChiSquareUpperTail(chi, df));

    OpenFrame(kName);
    data::WriteLine("Pearsons's chi-square test for goodness of fit");
    data::WriteLine("P[ ChiSquare(" + std::to_string(df) + ") > " + data::Fixed(chi, 12, 4) +
                    " ] =  " + ProbabilityText(p));
    CloseFrame();
}

namespace {

constexpr const char* kWilcoxon = "WilcoxonTwoSampleTest";

struct Samples {
    std::vector<float> values;
    std::vector<uint8_t> codes;  // 1 for sample 1, 2 for sample 2
    long n1 = 0, n2 = 0;
};

Samples CollectSamples(const data::Vector& y, const data::Vector& f, uint8_t l1, uint8_t l2) {
    Samples s;
    for (int32_t u = 1; u <= y.length; ++u) {
        float v = y.variate[u];
        uint8_t level = f.factor[u];
        if (!data::UnitIncluded(u) || v == data::MissingValue || (level != l1 && level != l2))
            continue;
        s.values.push_back(Unsigned(v));
        s.codes.push_back(level == l1 ? 1 : 2);
        ++(level == l1 ? s.n1 : s.n2);
    }
    return s;
}

// Sum of the positions 1..N of the entries coded `code` after sorting by value, ties by code.
bool RankSum(const std::string& values, const std::string& codes, int code, double& sum) {
    if (!SortAs(kWilcoxon, values + " " + codes)) return false;
    const std::vector<uint8_t>& c = data::Entry(data::FindVector(codes)).factor;
    long long s = 0;
    for (size_t i = 1; i < c.size(); ++i)
        if (c[i] == code) s += static_cast<long long>(i);
    sum = static_cast<double>(s);
    return true;
}

// The smallest and the largest rank sum of sample 1 consistent with the data: tied sample-1
// values ranked first, then (codes swapped) ranked last.
bool ExtremeRankSums(const Samples& s, double& sMin, double& sMax) {
    Temporaries temporaries(kWilcoxon);
    int32_t n = static_cast<int32_t>(s.values.size());
    std::string values = temporaries.Declare(n);
    if (values.empty()) return false;
    std::string codes = temporaries.Declare(n, 2);
    if (codes.empty()) return false;
    std::vector<float>& v = data::Entry(data::FindVector(values)).variate;
    std::vector<uint8_t>& c = data::Entry(data::FindVector(codes)).factor;
    std::copy(s.values.begin(), s.values.end(), v.begin() + 1);
    std::copy(s.codes.begin(), s.codes.end(), c.begin() + 1);

    QuietOutput quiet(kWilcoxon);
    if (!RankSum(values, codes, 1, sMin)) return false;
    std::vector<uint8_t>& swapped = data::Entry(data::FindVector(codes)).factor;
    for (size_t i = 1; i < swapped.size(); ++i) swapped[i] = static_cast<uint8_t>(3 - swapped[i]);
    if (!RankSum(values, codes, 2, sMax)) return false;
    return quiet.Restore();
}

void WriteWilcoxon(const std::string& y, const std::string& f, int l1, int l2, const Samples& s,
                   double sMin, double sMax) {
    double n = static_cast<double>(s.n1 + s.n2);
    double n1 = static_cast<double>(s.n1), n2 = static_cast<double>(s.n2);
    double w = (sMin + sMax) / 2;
    double e = n1 * (n + 1) / 2;
    double sigma = std::sqrt(n1 * n2 * (n + 1) / 12);
    double u = (w - e) / sigma;

    OpenFrame(kWilcoxon);
    data::WriteLine("WILCOXON'S TWO SAMPLE RANK SUM TEST");
    data::WriteLine("Variate " + y + ".");
    data::WriteLine("Sample 1: Level " + std::to_string(l1) + " of " + f + ", " +
                    std::to_string(s.n1) + " observations.");
    data::WriteLine("Sample 2: Level " + std::to_string(l2) + " of " + f + ", " +
                    std::to_string(s.n2) + " observations.");
    bool ties = sMin != sMax;
    data::WriteLine("Sum of ranks in sample 1    " +
                    (ties ? data::Fixed(w, 12, 1) : data::Fixed(w, 10, 0)));
    data::WriteLine("Expected value              " + data::Fixed(e, 12, 1));
    data::WriteLine("Approximate U-statistic" + data::Fixed(u, 9, 4));
    data::WriteLine("Two sided tail probability  " + data::Fixed(TwoSidedNormal(u), 11, 8));
    if (ties) {
        data::WriteLine("The rank sum has been corrected for ties.");
        data::WriteLine("The extreme values consistent with data are ");
        for (double extreme : {sMin, sMax})
            data::WriteLine(data::Fixed(extreme, 10, 0) +
                            ",  U =" + data::Fixed((extreme - e) / sigma, 10, 4));
    }
    CloseFrame();
}

}  // namespace

void WilcoxonTwoSampleTest(const std::string& yName, const std::string& fName, uint8_t l1,
                           uint8_t l2) {
    if (!data::Enter(kWilcoxon)) return;
    Grouped pair = LookUpGrouped(yName, fName);
    if (pair.y == nullptr) return;
    const data::Vector& y = *pair.y;
    const data::Vector& f = *pair.f;
    if (l1 > f.levels || l2 > f.levels) return data::ReportError("Invalid factor level(s)");
    if (l1 == l2) return data::ReportError("Identical factor levels");

    Samples s = CollectSamples(y, f, l1, l2);
    if (s.n1 == 0) return data::ReportError("Sample 1 is empty");
    if (s.n2 == 0) return data::ReportError("Sample 2 is empty");
    double sMin = 0, sMax = 0;
    if (!ExtremeRankSums(s, sMin, sMax)) return;
    WriteWilcoxon(y.name, f.name, l1, l2, s, sMin, sMax);
}

namespace {

constexpr const char* kSpearman = "Spearman";

// Checks the two names (normalised into x and y); false after the error.
bool SpearmanVariates(const std::string& xName, const std::string& yName, std::string& x,
                      std::string& y) {
    x = Normalised(xName);
    y = Normalised(yName);
    int xi = data::FindVector(x), yi = data::FindVector(y);
    if (xi == 0) return data::ReportError(x + " does not exist"), false;
    if (yi == 0) return data::ReportError(y + " does not exist"), false;
    if (data::Entry(xi).kind != data::VariateKind)
        return data::ReportError(x + " is not a variate"), false;
    if (data::Entry(yi).kind != data::VariateKind)
        return data::ReportError(y + " is not a variate"), false;
    long present = 0;
    for (int32_t u = 1; u <= data::Entry(xi).length; ++u) present += data::UnitIncluded(u);
    if (present <= 1) return data::ReportError("Only one unit present"), false;
    if (data::Entry(xi).length != data::Entry(yi).length)
        return data::ReportError(x + " and " + y + " are of different lengths"), false;
    return true;
}

std::vector<float>& Values(const std::string& name) {
    return data::Entry(data::FindVector(name)).variate;
}

// Copies the present units of source into a temporary; false after an error or when one of
// them is missing.
bool CopyChecked(Temporaries& temporaries, const std::string& source, std::string& copy) {
    copy = temporaries.CopyPresent(source);
    if (copy.empty()) return false;
    std::vector<float>& v = Values(copy);
    for (size_t i = 1; i < v.size(); ++i) {
        if (v[i] == data::MissingValue)
            return data::ReportError("Missing values present in " + source), false;
        v[i] = Unsigned(v[i]);
    }
    return true;
}

// One extreme: sorts by `key` (ties by X), replaces the key by its positions 1..n, sorts by X
// (ties by those ranks) and returns 1 - 6D/(n(n+1)(n-1)) with D the sum of squared rank
// differences.
bool ExtremeCorrelation(const std::string& x, const std::string& key, const std::string& other,
                        double& r) {
    if (!SortAs(kSpearman, key + " " + x + " " + other)) return false;
    std::vector<float>& ranks = Values(key);
    for (size_t i = 1; i < ranks.size(); ++i) ranks[i] = static_cast<float>(i);
    if (!SortAs(kSpearman, x + " " + key + " " + other)) return false;
    const std::vector<float>& sorted = Values(key);
    double d = 0;
    for (size_t i = 1; i < sorted.size(); ++i) {
        double diff = static_cast<double>(i) - sorted[i];
        d += diff * diff;
    }
    double n = static_cast<double>(sorted.size() - 1);
    r = 1 - 6 * d / (n * (n + 1) * (n - 1));
    return true;
}

std::string CorrelationLine(double r, double n) {
    return data::Fixed(r, 10, 6) + " (two-sided tail probability " +
           ProbabilityText(TwoSidedNormal(r * std::sqrt(n - 1))) + ")";
}

}  // namespace

void Spearman(const std::string& xName, const std::string& yName) {
    if (!data::Enter(kSpearman)) return;
    std::string xn, yn;
    if (!SpearmanVariates(xName, yName, xn, yn)) return;

    Temporaries temporaries(kSpearman);
    std::string x, y;
    if (!CopyChecked(temporaries, xn, x) || !CopyChecked(temporaries, yn, y)) return;
    int32_t count = static_cast<int32_t>(Values(x).size() - 1);
    std::string minus = temporaries.Declare(count);
    if (minus.empty()) return;
    const std::vector<float>& yv = Values(y);
    std::vector<float>& rv = Values(minus);
    for (int32_t i = 1; i <= count; ++i) rv[i] = -yv[i];

    OpenFrame(kSpearman);
    data::WriteLine("Variates " + xn + " and " + yn + ", " + std::to_string(count) +
                    " units present.");
    double rHigh = 0, rLow = 0;
    {
        QuietOutput quiet(kSpearman);
        if (!ExtremeCorrelation(x, y, minus, rHigh)) return;
        if (!ExtremeCorrelation(x, minus, y, rLow)) return;
        if (!quiet.Restore()) return;
    }
    rLow = -rLow;  // ranks of decreasing y: the correlation with the sign turned

    double n = count;
    double r = (rHigh + rLow) / 2;
    data::WriteLine("Rank correlation " + data::Fixed(r, 10, 6));
    data::WriteLine("Approximate two-sided tail probability " +
                    ProbabilityText(TwoSidedNormal(r * std::sqrt(n - 1))));
    if (std::fabs(rHigh - rLow) > kTieTolerance) {
        data::WriteLine("The rank correlation has been corrected for ties.");
        data::WriteLine("The extreme values consistent with data are");
        data::WriteLine(CorrelationLine(rHigh, n));
        data::WriteLine(CorrelationLine(rLow, n));
    }
    CloseFrame();
}

}  // namespace korw::tools
