#include "plot/plot3d.h"

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

}  // namespace

}  // namespace korw::plot::test
