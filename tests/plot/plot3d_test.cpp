#include "plot/plot3d.h"

#include <random>

#include "data/vectors.h"
#include "plot_test.h"

namespace korw::plot::test {

namespace {

void Variate(const std::string& name, const std::vector<float>& values) {
    data::DeclareVariate(name, static_cast<int32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i)
        data::AssignValue(name, static_cast<int32_t>(i + 1), values[i]);
}

TEST_F(PlotTest, ThreeDimensionalChecks) {
    ResetView();
    EXPECT_FALSE(TurnView(ViewKey::Left));  // nothing drawn yet
    Variate("X", {1, 2, 3});
    Variate("Y", {1, 2, 3});
    Variate("Z", {4, 4, 4});
    Variate("E", {data::MissingValue, data::MissingValue, data::MissingValue});
    Variate("S", {1, 2});
    Plot3d("X", "Y", "Z", "");
    EXPECT_EQ(data::ErrorMessage, "zUpper<=zLower");
    EXPECT_EQ(data::ProcedureName, "Plot3d");
    Plot3d("X", "Y", "E", "");
    EXPECT_EQ(data::ErrorMessage, "E has no values");
    Plot3d("X", "S", "Y", "");
    EXPECT_EQ(data::ErrorMessage, "S of incorrect length");
    Plot3d("X", "Q", "Y", "");
    EXPECT_EQ(data::ErrorMessage, "Variate Q does not exist");
    VarHistogram3d("X=3,,1", "Y");
    EXPECT_EQ(data::ErrorMessage, "xUpper<=xLower");
    EXPECT_EQ(data::ProcedureName, "VarHistogram3d");
}

TEST_F(PlotTest, ThreeDimensionalViewsTurnAndStayOffThePictureFile) {
    ResetView();
    Variate("X", {1, 2, 3});
    Variate("Y", {3, 1, 2});
    Variate("Z", {2, 3, 1});
    Open(ps_);
    Plot3d("X", "Y", "Z", "RED");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    EXPECT_TRUE(Body().empty());
    EXPECT_GT(NonWhitePixels(), 0);
    EXPECT_TRUE(TurnView(ViewKey::ZoomIn));
    EXPECT_TRUE(TurnView(ViewKey::Down));
    EXPECT_EQ(ViewHint(), "Use cursor keys to rotate, num +/- to zoom/unzoom");
    // Turned until the z axis points at the viewer.
    ResetView();
    VarHistogram3d("X", "Y");
    ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    for (int i = 0; i < 38; ++i) TurnView(ViewKey::Down);
    EXPECT_EQ(ViewHint(),
              "Use cursor keys to rotate, num +/- to zoom/unzoom\n"
              "Count-axis is vertical to screen, pointing towards you");
}

// Held and mixed cursor keys, and zooms between half and twice the first size: the hint, the
// three axis names and the six limits are all drawn, inside the bitmap and apart.
TEST_F(PlotTest, ThreeDimensionalLabelsStayApartWhileTheViewTurns) {
    std::mt19937 random(3);
    std::vector<float> x(30), y(30), z(30);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float>(i) - 10, y[i] = 1000 + 7.5f * static_cast<float>(i * i % 13),
        z[i] = -0.001f * static_cast<float>(i);
    Variate("XLONG", x);
    Variate("Y", y);
    Variate("Z", z);
    for (const bool histogram : {false, true}) {
        ResetView();
        if (histogram)
            VarHistogram3d("XLONG", "Y");
        else
            Plot3d("XLONG", "Y", "Z", "");
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
        int zoom = 0;
        ViewKey key = ViewKey::Down;
        for (int turn = 0; turn < 600; ++turn) {
            // Each key is held for a while, as a user turns the view.
            if (turn % 20 == 0) key = static_cast<ViewKey>(random() % 4);
            if (turn % 50 == 49) {
                const bool in = zoom > -20 && (zoom >= 20 || random() % 2 == 0);
                zoom += in ? -1 : 1;
                key = in ? ViewKey::ZoomIn : ViewKey::ZoomOut;
            }
            const std::vector<TextBox> boxes = TextsDrawn([key] { TurnView(key); });
            const size_t hintLines = ViewHint().find('\n') == std::string::npos ? 1 : 2;
            ASSERT_EQ(boxes.size(), hintLines + 9) << "turn " << turn;
            ASSERT_TRUE(Legible(boxes)) << "turn " << turn;
        }
    }
}

}  // namespace

}  // namespace korw::plot::test
