// Bartlett's test and the correlation table: groups of equal values and the notice frames.
// The R comparisons are in tests/golden/tests.out (tests/reference/tests.R).
#include "tools/variance_tests.h"

#include <string>
#include <vector>

#include "../data/data_session.h"

namespace korw::tools::test {
namespace {

using data::test::DataSession;

class VarianceTests : public DataSession {};

TEST_F(VarianceTests, BartlettTakesAGroupOfEqualValuesAsConstant) {
    // Repeated values whose plain sums of squares do not cancel exactly in double precision.
    struct Case {
        float value;
        int n;
    };
    for (Case c : {Case{3.7f, 7}, Case{1.1f, 11}, Case{0.123f, 7}, Case{1234.567f, 11}}) {
        std::vector<float> y;
        std::vector<int> g;
        for (int i = 0; i < c.n; ++i) {
            y.push_back(c.value);
            g.push_back(1);
        }
        for (int i = 1; i <= 4; ++i) {
            y.push_back(static_cast<float>(i * i));
            g.push_back(2);
        }
        Variate("y", y);
        Factor("g", 2, g);
        Bartlett("y", "g");
        ASSERT_EQ(Error(), "");
        std::string out = Output();
        std::string n = std::to_string(c.n);
        EXPECT_TRUE(Contains(
            out, "       1" + std::string(8 - n.size(), ' ') + n + "          0.00000000\n"))
            << out;
        EXPECT_TRUE(Contains(out, "*** No test possible ***\n")) << c.value << "\n" << out;
        EXPECT_FALSE(Contains(out, "Bartlett's test")) << c.value << "\n" << out;
        data::Delete("y g");
    }
}

TEST_F(VarianceTests, OutputBlocksAreFramedOutsideTheProgram) {
    Variate("y", {1, 2, 4, 3, 7, 9});
    Variate("x", {2, 1, 3, 5, 4, 6});
    Factor("g", 2, {1, 1, 1, 2, 2, 2});
    data::ContinueOnError = false;
    Bartlett("y", "g");
    std::string bartlett = Output();
    CorMat("y x", 0);
    std::string cormat = Output();
    Factor("one", 1, {1, 1, 1, 1, 1, 1});
    Bartlett("y", "one");  // no test: the frame closes all the same
    std::string single = Output();
    data::ContinueOnError = true;
    std::string stars(80, '*');
    EXPECT_EQ(bartlett.rfind(stars + "\nOurUnit.Bartlett\nTEST FOR EQUAL VARIANCES\n", 0), 0u)
        << bartlett;
    EXPECT_TRUE(Contains(bartlett, "One-sided F-test")) << bartlett;
    EXPECT_EQ(bartlett.substr(bartlett.size() - stars.size() - 2), stars + "\n\n") << bartlett;
    EXPECT_EQ(cormat, stars +
                          "\nOurUnit.CorMat\n\nTable of empirical correlation coefficients.\n\n" +
                          "                Y\n       X  0.76440\n" + stars + "\n\n");
    EXPECT_TRUE(Contains(single, "*** No test possible ***\n" + stars + "\n\n")) << single;
}

}  // namespace
}  // namespace korw::tools::test
