#include "plot/frame.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "data/vectors.h"
#include "plot/plot.h"
#include "plot_test.h"

namespace korw::plot::test {

namespace {

void Variate(const std::string& name, const std::vector<float>& values) {
    data::DeclareVariate(name, static_cast<int32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        data::AssignValue(name, static_cast<int32_t>(i + 1), values[i]);
}

bool IsNumber(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789.-") == std::string::npos;
}

// The boxes of the axis numbers that `draw` writes on the bitmap.
std::vector<TextBox> NumbersDrawn(const std::function<void()>& draw) {
    std::vector<TextBox> boxes = TextsDrawn(draw);
    std::erase_if(boxes, [](const TextBox& b) { return !IsNumber(b.text); });
    return boxes;
}

bool OnXAxis(const TextBox& b) {
    return b.top >= Settings().bottom;
}

// Limits of every size from 1e-4 to 1e8, sometimes far from zero relative to their range, and
// steps from round ones to hundreds of numbers on the axis, some with grid lines.
struct AxisCase {
    double lower, upper, step;
    int decimals;
};

AxisCase RandomAxis(std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0, 1);
    const double size = std::pow(10, -4 + 12 * unit(random));
    const double span = size * std::pow(10, -3 * unit(random));
    const double lower = unit(random) < 0.3 ? 0 : (2 * unit(random) - 1) * size;
    double step = NiceStep(span);
    if (unit(random) < 0.5) step = span / std::uniform_int_distribution<int>(1, 400)(random);
    if (unit(random) < 0.2) step = -step;
    const int decimals = unit(random) < 0.5 ? -1 : std::uniform_int_distribution<int>(0, 6)(random);
    return {lower, lower + span, step, decimals};
}

TEST_F(PlotTest, AxisNumbersStayInsideTheBitmapAndApart) {
    std::mt19937 random(25);
    for (int trial = 0; trial < 400; ++trial) {
        ResetSettings();
        PlotSettings& s = Settings();
        const AxisCase x = RandomAxis(random), y = RandomAxis(random);
        s.xLower = x.lower, s.xUpper = x.upper, s.xLabelStep = x.step, s.xDecimals = x.decimals;
        s.yLower = y.lower, s.yUpper = y.upper, s.yLabelStep = y.step, s.yDecimals = y.decimals;
        const std::vector<TextBox> boxes = NumbersDrawn([] {
            ClearBitmap();
            DrawFrame();
        });
        ASSERT_TRUE(Legible(boxes)) << "x " << x.lower << " " << x.step << " " << x.upper << ", y "
                                    << y.lower << " " << y.step << " " << y.upper;
        // Thinning keeps at least one number of an axis that has any.
        EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), OnXAxis)) << trial;
        EXPECT_FALSE(std::all_of(boxes.begin(), boxes.end(), OnXAxis)) << trial;
    }
}

TEST_F(PlotTest, HistogramNumbersStayInsideTheBitmapAndApart) {
    std::mt19937 random(255);
    std::vector<float> u(400);
    for (float& v : u) v = std::uniform_real_distribution<float>(0, 1)(random);
    Variate("U", u);
    std::vector<float> big(u);
    for (float& v : big) v = 100000 + 3 * v;
    Variate("B", big);
    for (int bins : {1, 9, 10, 11, 24, 25, 26, 49, 50, 51, 99, 100, 101, 200, 254, 255}) {
        for (const std::string arg : {"U=0,", "U=-0.5,", "B=100000,", "B=100000.5,"}) {
            const std::string upper = arg[0] == 'U' ? ",1" : ",100003";
            const std::string histogram = arg + std::to_string(bins) + upper;
            const auto boxes = NumbersDrawn([&] { VarHistogram(histogram); });
            ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
            EXPECT_TRUE(Legible(boxes)) << histogram;
            EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), OnXAxis)) << histogram;
        }
    }
    // Factors up to 300 levels: numbers 1, 5, 10 or 50 apart.
    for (int levels : {2, 21, 61, 121, 300}) {
        std::vector<int> values(600);
        for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int>(i % levels) + 1;
        data::DeclareFactor("F", static_cast<int32_t>(values.size()), levels);
        for (size_t i = 0; i < values.size(); ++i)
            data::AssignLevel("F", static_cast<int32_t>(i + 1), values[i]);
        const auto boxes = NumbersDrawn([] { VarHistogram("F=0"); });
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        EXPECT_TRUE(Legible(boxes)) << levels << " levels";
    }
}

TEST_F(PlotTest, EndNumbersAreShiftedInsideTheBitmap) {
    std::vector<float> x(20), wide(20);
    for (int i = 0; i < 20; ++i) x[i] = i + 1, wide[i] = -5e6f * (i + 1);
    Variate("X", x);
    Variate("W", wide);
    Open(ps_);
    auto boxes = NumbersDrawn([] { Plot("X", "X", "", "", ""); });
    ASSERT_TRUE(Legible(boxes));
    // 20.0 stood over the right edge by half its width; now it ends near the edge, right of
    // 18.0, and the picture file still centres it under its tick.
    const auto last = std::find_if(boxes.begin(), boxes.end(),
                                   [](const TextBox& b) { return b.text == "20.0" && OnXAxis(b); });
    ASSERT_NE(last, boxes.end());
    EXPECT_GT(last->right, BitmapWidth - 5);
    const std::vector<std::string> body = Body();
    const auto text = std::find(body.begin(), body.end(), "(20.0) dup stringwidth");
    ASSERT_NE(text, body.begin());
    EXPECT_EQ(*(text - 1), "531.5 449.8 moveto");  // at PSX(630), the right edge
    // Numbers wider than the room left of the frame start at the left edge.
    boxes = NumbersDrawn([] { Plot("X", "W", "", "", ""); });
    ASSERT_TRUE(Legible(boxes));
    EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(),
                            [](const TextBox& b) { return b.text == "-100000000"; }));
}

TEST_F(PlotTest, CrowdedNumbersAreThinnedOnTheBitmapOnly) {
    std::vector<float> b(100);
    for (size_t i = 0; i < b.size(); ++i) b[i] = 10000 + 0.3f * static_cast<float>(i);
    Variate("B", b);
    Open(ps_);
    // Numbers of 7 characters every 2.4 over 30: they would run into each other.
    const auto boxes = NumbersDrawn([] { VarHistogram("B=10000,25,10030"); });
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    std::vector<std::string> drawn;
    for (const TextBox& box : boxes)
        if (OnXAxis(box)) drawn.push_back(box.text);
    EXPECT_EQ(drawn, (std::vector<std::string>{"10003.2", "10008.0", "10012.8", "10017.6",
                                               "10022.4", "10027.2"}));
    // Every number stays in the picture file.
    const std::vector<std::string> body = Body();
    const long written = std::count_if(body.begin(), body.end(), [](const std::string& line) {
        return line.starts_with("(100") && line.ends_with(") dup stringwidth");
    });
    EXPECT_EQ(written, 13);
}

}  // namespace

}  // namespace korw::plot::test
