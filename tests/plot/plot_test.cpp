#include "plot/plot.h"

#include <algorithm>

#include "data/vectors.h"
#include "plot_test.h"

namespace korw::plot::test {

namespace {

const float missing = data::MissingValue;

void Variate(const std::string& name, const std::vector<float>& values) {
    data::DeclareVariate(name, static_cast<int32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        data::AssignValue(name, static_cast<int32_t>(i + 1), values[i]);
}

void Factor(const std::string& name, int levels, const std::vector<int>& values) {
    data::DeclareFactor(name, static_cast<int32_t>(values.size()), levels);
    for (size_t i = 0; i < values.size(); ++i)
        data::AssignLevel(name, static_cast<int32_t>(i + 1), values[i]);
}

long CountOf(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

TEST_F(PlotTest, PlotChecksItsArguments) {
    Variate("X", {1, 1, 1});
    Variate("Y", {1, 2, 3});
    Variate("SHORT", {1, 2});
    Plot("X", "Y", "", "", "");
    EXPECT_EQ(data::ErrorMessage, "xUpper<=xLower");
    EXPECT_EQ(data::ProcedureName, "Plot");
    Plot("Y", "X", "", "", "");
    EXPECT_EQ(data::ErrorMessage, "yUpper<=yLower");
    Plot("Y", "Q", "", "", "");
    EXPECT_EQ(data::ErrorMessage, "Variate Q does not exist");
    Plot("y", "short", "", "", "");
    EXPECT_EQ(data::ErrorMessage, "LengthOf('Y')<>LengthOf('SHORT')");
    Plot("X=0,,5", "Y", "", "", "#");  // explicit limits are not widened
    EXPECT_TRUE(data::ErrorFree) << data::ErrorMessage;
    Plot("Y", "Y", "", "PINK", "");
    EXPECT_EQ(data::ErrorMessage, "Invalid colour PINK");
    // Every plot, failed or not, leaves the settings as they were.
    EXPECT_EQ(Settings().xUpper, 1);
    EXPECT_EQ(Settings().frameText, "");
    EXPECT_FALSE(Settings().joinPoints);
}

TEST_F(PlotTest, PointsMarkersAndColoursByLevel) {
    Variate("X", {5, 2});
    Variate("Y", {5, 2});
    Factor("G", 2, {1, 2});
    Plot("X=0,5,10", "Y=0,5,10", "Title", "G=0,RED,GREEN", "G=0,PLUS,SQUARE");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    // (5, 5) is the pixel (345, 228): a red plus of size 1.
    EXPECT_EQ(Pixel(346, 228).red, 180);
    EXPECT_EQ(Pixel(345, 227).red, 180);
    EXPECT_TRUE(IsWhite(Pixel(347, 228)));
    // (2, 2) is (174, 346): a green square of half-side round(0.707) = 1.
    EXPECT_EQ(Pixel(175, 347).green, 180);
    EXPECT_TRUE(IsWhite(Pixel(174, 346)));
}

TEST_F(PlotTest, JoinedPointsBreakAtMissingValues) {
    Variate("X", {0, 4, 6, 10});
    Variate("Y", {2, missing, 2, 2});
    Open(ps_);
    Plot("X=0,5,10", "Y=0,5,10", "", "", "L");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    // y = 2 is row 346; x = 3 is column 231 (nothing from 0 to 6), x = 8 is 516 (6 to 10).
    EXPECT_TRUE(IsWhite(Pixel(231, 346)));
    EXPECT_TRUE(IsBlack(Pixel(516, 346)));
    const std::vector<std::string> body = Body();
    // Three markers, one joining line.
    EXPECT_EQ(CountOf(body, "stroke"), 3 + 1 + 3);  // and the frame with two numbered axes
}

TEST_F(PlotTest, MarkerItemsBeginningWithLJoinThePoints) {
    Variate("X", {6, 10});
    Variate("Y", {2, 2});
    for (const char* arg : {"LINE", "l", "G=LINE,STAR"}) {
        Factor("G", 1, {1, 1});
        ClearBitmap();
        Plot("X=0,5,10", "Y=0,5,10", "", "", arg);
        ASSERT_TRUE(data::ErrorFree) << arg << ": " << data::ErrorMessage;
        EXPECT_TRUE(IsBlack(Pixel(516, 346))) << arg;  // the line from 6 to 10 at y = 2
    }
    // What follows the L is the marker when it names one.
    Open(ps_);
    Plot("X=0,5,10", "Y=0,5,10", "", "", "L3");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_EQ(CountOf(Body(), "531.5 519.4 0.7 0 360 arc"), 1);  // circles of size 1
}

TEST_F(PlotTest, HistogramBinsAndLabelSteps) {
    std::vector<float> values;
    for (int i = 1; i <= 99; ++i) values.push_back(static_cast<float>(i));
    Variate("X", values);
    Open(ps_);
    VarHistogram("X", "");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const std::vector<std::string> body = Body();
    EXPECT_EQ(CountOf(body, "closepath gsave fill"), 10);  // round(sqrt(100)) bins
    EXPECT_EQ(CountOf(body, "(Histogram for X)"), 1);
    EXPECT_EQ(CountOf(body, "(Count)"), 1);
    // Label step equal to the bin width 9.8: numbers at its multiples 9.8 to 98 inside the
    // limits 1 to 99, with no decimals for a range above 40.
    EXPECT_EQ(CountOf(body, "pop neg 2 div"), 10);
    EXPECT_EQ(CountOf(body, "(10) dup stringwidth"), 1);
    EXPECT_EQ(CountOf(body, "(98) dup stringwidth"), 1);
    EXPECT_EQ(CountOf(body, " 0.53 setgray"), 10);
}

TEST_F(PlotTest, HistogramCountsAndGridSteps) {
    Variate("X", std::vector<float>(25, 2.0f));
    Open(ps_);
    VarHistogram("X=0,2,2", "");  // 2 is the upper limit: counted in the last bin
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    const std::vector<std::string> body = Body();
    EXPECT_EQ(CountOf(body, "closepath gsave fill"), 1);
    EXPECT_EQ(CountOf(body, "0.2 setlinewidth"), 1);  // y numbers every 5 with grid lines
    for (const char* n : {"(0)", "(5)", "(10)", "(25)"})
        EXPECT_EQ(CountOf(body, std::string(n) + " dup stringwidth pop"), 1) << n;
    EXPECT_EQ(CountOf(body, "(30) dup stringwidth pop"), 0);
    // The bar of bin 2 is filled with the bar colour on the screen: x from 1.1 to 1.9.
    EXPECT_EQ(Pixel(480, 400).red, 90);
    EXPECT_TRUE(IsWhite(Pixel(345, 400)));
}

TEST_F(PlotTest, HistogramWeightsAndFactors) {
    Variate("X", {1, 2, 3});
    Variate("W", {1, -1, 1});
    Variate("Z", {0, 0, 0});
    Variate("W2", {1, 1});
    VarHistogram("X", "W");
    EXPECT_EQ(data::ErrorMessage, "Negative or missing weight");
    EXPECT_EQ(data::ProcedureName, "VarHistogram");
    VarHistogram("X", "Z");
    EXPECT_EQ(data::ErrorMessage, "All weights are zero");
    VarHistogram("X", "W2");
    EXPECT_EQ(data::ErrorMessage, "Weight variate W2 of incorrect length");
    VarHistogram("Q", "");
    EXPECT_EQ(data::ErrorMessage, "Variate Q does not exist");

    Factor("G", 3, {1, 3, 3, 0});
    Open(ps_);
    VarHistogram("G", "");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::vector<std::string> body = Body();
    EXPECT_EQ(CountOf(body, "closepath gsave fill"), 2);  // levels 1 and 3
    EXPECT_EQ(CountOf(body, "(3) dup stringwidth"), 1);
    Open(ps_);
    VarHistogram("G=none", "");  // a first item shows level 0
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    body = Body();
    EXPECT_EQ(CountOf(body, "closepath gsave fill"), 3);
    EXPECT_EQ(CountOf(body, "(0) dup stringwidth"), 1);
}

}  // namespace

}  // namespace korw::plot::test
