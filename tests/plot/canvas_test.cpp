#include "plot/canvas.h"

#include "data/vectors.h"
#include "plot/frame.h"
#include "plot_test.h"

namespace korw::plot::test {

namespace {

// With the default frame and limits 0..1, the data point (0.5, 0.5) is the pixel (345, 228).
constexpr int cx = 345, cy = 228;

TEST_F(PlotTest, PaletteAndColourNames) {
    EXPECT_EQ(PaletteColour(6).green, 120);
    EXPECT_EQ(PaletteColour(14).red, 220);
    const Rgb outside = PaletteColour(16);
    EXPECT_EQ(outside.red + outside.green + outside.blue, 0 + 127 + 255);
    EXPECT_EQ(ColourCode("LIGHTMAGENTA"), 13);
    EXPECT_EQ(ColourCode("LIGHTMAG"), 13);
    EXPECT_EQ(ColourCode("lightgray"), 7);
    EXPECT_EQ(ColourCode("GRAY"), 7);
    EXPECT_EQ(ColourCode("NONE"), 15);
    EXPECT_EQ(ColourCode("15"), 15);
    EXPECT_EQ(ColourCode("16"), -1);
    EXPECT_EQ(ColourCode("PINK"), -1);
    EXPECT_EQ(MarkerCode("+"), MarkerPlus);
    EXPECT_EQ(MarkerCode("triangle"), MarkerDelta);
    EXPECT_EQ(MarkerCode("TRIANGLES"), MarkerDelta);  // first 8 characters
    EXPECT_EQ(MarkerCode("DIAMONDS"), -1);
    EXPECT_EQ(MarkerCode("0"), MarkerNone);
    EXPECT_EQ(MarkerCode("9"), -1);
    EXPECT_EQ(BarsToBlanks("Dose|in|mg"), "Dose in mg");
}

TEST_F(PlotTest, SettingsAreSavedAndRestored) {
    SaveSettings();
    Settings().xUpper = 99;
    Settings().frameText = "Changed";
    Settings().markerType = MarkerCircle;
    RestoreSettings();
    EXPECT_EQ(Settings().xUpper, 1);
    EXPECT_EQ(Settings().frameText, "");
    EXPECT_EQ(Settings().markerType, MarkerPlus);
    EXPECT_EQ(Settings().barColour, 8);
    EXPECT_EQ(Settings().bottom, 425);
}

TEST_F(PlotTest, FrameEdgesAndGridDots) {
    Settings().yLabelStep = -0.5;
    DrawFrame();
    EXPECT_TRUE(IsBlack(Pixel(60, 30)));
    EXPECT_TRUE(IsBlack(Pixel(630, 425)));
    EXPECT_TRUE(IsBlack(Pixel(60, 200)));
    EXPECT_TRUE(IsBlack(Pixel(630, 200)));
    EXPECT_TRUE(IsBlack(Pixel(300, 30)));
    EXPECT_TRUE(IsWhite(Pixel(61, 31)));
    EXPECT_TRUE(IsWhite(Pixel(59, 200)));
    // Numbered x ticks at 0 and 1 (label step 1): 6 pixels down from the bottom edge.
    EXPECT_TRUE(IsBlack(Pixel(630, 431)));
    EXPECT_TRUE(IsWhite(Pixel(631, 430)));
    EXPECT_TRUE(IsWhite(Pixel(cx, 427)));
    // Grid line at y = 0.5, dotted every second pixel from the right edge.
    EXPECT_TRUE(IsBlack(Pixel(628, cy)));
    EXPECT_TRUE(IsWhite(Pixel(629, cy)));
    EXPECT_TRUE(IsBlack(Pixel(54, cy)));  // and its numbered tick left of the axis
}

TEST_F(PlotTest, MarkersAtAKnownPoint) {
    struct Case {
        int type, size;
        std::vector<std::pair<int, int>> set, clear;  // offsets from the centre
    };
    const std::vector<Case> cases = {
        {MarkerCross, 4, {{-3, -3}, {3, 3}, {-3, 3}, {0, 0}}, {{4, 4}, {0, 1}}},
        {MarkerPlus, 3, {{-3, 0}, {3, 0}, {0, -3}, {0, 3}}, {{4, 0}, {1, 1}}},
        {MarkerCircle, 5, {{5, 0}, {-5, 0}, {0, -5}, {0, 5}}, {{0, 0}, {6, 0}}},
        {MarkerStar, 4, {{-3, -3}, {3, -3}, {4, 0}, {0, 4}}, {{1, 2}}},
        {MarkerDelta, 4, {{0, -4}, {3, 2}, {-3, 2}, {0, 2}}, {{0, 0}, {0, 3}}},
        {MarkerNapla, 4, {{0, 4}, {3, -2}, {-3, -2}, {0, -2}}, {{0, 0}, {0, -3}}},
        {MarkerSquare, 4, {{-3, -3}, {3, 3}, {3, 0}, {0, -3}}, {{0, 0}, {4, 0}}},
        {MarkerDiamond, 4, {{0, -4}, {4, 0}, {0, 4}, {-4, 0}}, {{0, 0}, {3, 3}}},
    };
    for (const Case& c : cases) {
        ClearBitmap();
        DrawMarker(0.5, 0.5, c.type, c.size, 4);
        for (auto [dx, dy] : c.set)
            EXPECT_EQ(Pixel(cx + dx, cy + dy).red, 180) << c.type << " at " << dx << "," << dy;
        for (auto [dx, dy] : c.clear)
            EXPECT_TRUE(IsWhite(Pixel(cx + dx, cy + dy))) << c.type << " at " << dx << "," << dy;
    }
    ClearBitmap();
    DrawMarker(0.5, 0.5, MarkerNone, 5, 0);
    EXPECT_EQ(NonWhitePixels(), 0);
    DrawMarker(0.5, 0.5, MarkerCircle, 0, 0);  // size 0: one pixel
    EXPECT_EQ(NonWhitePixels(), 1);
    EXPECT_TRUE(IsBlack(Pixel(cx, cy)));
}

TEST_F(PlotTest, MissingCoordinatesDrawNothing) {
    const double missing = data::MissingValue;
    DrawMarker(missing, 0.5, MarkerPlus, 3, 0);
    DrawMarker(0.5, missing, MarkerPlus, 3, 0);
    DrawSegment(0, 0, missing, 1, 0);
    DrawBar(0, 0, 1, missing, 8);
    DrawTextAt(missing, 0.5, "X", 0);
    EXPECT_EQ(NonWhitePixels(), 0);
    Open(ps_);
    DrawMarker(missing, 0.5, MarkerPlus, 3, 0);
    EXPECT_TRUE(Body().empty());
}

TEST_F(PlotTest, BarsAndSegments) {
    DrawBar(0.25, 0, 0.75, 0.5, 8);
    const Rgb inside = Pixel(cx, 300);
    EXPECT_EQ(inside.red, 90);
    EXPECT_EQ(inside.blue, 90);
    // Outline in black: left edge at x = 0.25 (pixel 203), top at y = 0.5.
    EXPECT_TRUE(IsBlack(Pixel(203, 300)));
    EXPECT_TRUE(IsBlack(Pixel(cx, cy)));
    EXPECT_TRUE(IsWhite(Pixel(cx, cy - 1)));
    ClearBitmap();
    DrawSegment(0, 0, 1, 0, 2);  // along the bottom edge, both end pixels set
    EXPECT_EQ(Pixel(60, 425).green, 180);
    EXPECT_EQ(Pixel(630, 425).green, 180);
    EXPECT_TRUE(IsWhite(Pixel(631, 425)));
}

TEST_F(PlotTest, TextsAppearAtTheirAnchors) {
    Settings().frameText = "Title";
    Settings().xText = "Dose";
    Settings().yText = "Count";
    DrawFrame();
    auto inkIn = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) n += !IsWhite(Pixel(x, y));
        return n;
    };
    EXPECT_GT(inkIn(280, 0, 360, 29), 0);     // title above the frame
    EXPECT_GT(inkIn(310, 450, 380, 479), 0);  // x text at the bottom
    EXPECT_GT(inkIn(0, 200, 25, 280), 0);     // y text along the left edge
}

}  // namespace

}  // namespace korw::plot::test
