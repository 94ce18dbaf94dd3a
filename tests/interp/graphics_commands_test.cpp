// The graphics commands as the dispatcher runs them: label texts reaching the picture file.
#include <algorithm>

#include "data/vectors.h"
#include "interp_fixture.h"

namespace korw::interp::test {
namespace {

class GraphicsCommands : public InterpTest {
  protected:
    void SetUp() override {
        InterpTest::SetUp();
        ASSERT_EQ(Run("VARIATE x y 20"), "");
        ASSERT_EQ(Run("COMPUTE x = #"), "");
        ASSERT_EQ(Run("COMPUTE y = x^2/10"), "");
    }
    // The lines of the picture file that one command writes.
    std::vector<std::string> Picture(const std::string& line) {
        const std::string file = WorkingDirectory + "/pic.PS";
        EXPECT_EQ(Run("OPENPSFILE " + file), "");
        EXPECT_EQ(Run(line), "");
        EXPECT_EQ(Run("CLOSEPSFILE"), "");
        return LinesOf(file);
    }
    static bool Has(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
};

TEST_F(GraphicsCommands, FrameTextTitlesHistogramsAndPlots) {
    std::vector<std::string> lines = Picture("HISTOGRAM y");
    EXPECT_TRUE(Has(lines, "(Histogram for Y)"));
    ASSERT_EQ(Run("FRAMETEXT Growth|of plants"), "");
    lines = Picture("HISTOGRAM y");
    EXPECT_TRUE(Has(lines, "(Growth of plants)"));
    EXPECT_FALSE(Has(lines, "(Histogram for Y)"));
    lines = Picture("PLOT x y");
    EXPECT_TRUE(Has(lines, "(Growth of plants)"));
    ASSERT_EQ(Run("FRAMETEXT"), "");  // cleared: the histogram has its own title again
    lines = Picture("HISTOGRAM y");
    EXPECT_TRUE(Has(lines, "(Histogram for Y)"));
}

}  // namespace
}  // namespace korw::interp::test
