#include "plot/postscript.h"

#include "plot/frame.h"
#include "plot_test.h"

namespace korw::plot::test {

namespace {

using Lines = std::vector<std::string>;

TEST_F(PlotTest, GeometryPlacesTheScreenOnThePage) {
    EXPECT_NEAR(PSX(0), 85.04, 0.005);
    EXPECT_NEAR(PSX(640), 538.58, 0.005);
    EXPECT_NEAR(PSY(0), 764.65, 0.005);
    EXPECT_NEAR(PSY(480), 424.49, 0.005);
    EXPECT_NEAR(PSY(960), 84.33, 0.005);
}

TEST_F(PlotTest, HeadersOfPostScriptAndEps) {
    Open(ps_);
    EXPECT_TRUE(PSHeaderWritten());
    EXPECT_FALSE(PSIsEps());
    EXPECT_EQ(Close(ps_), (Lines{"%!", "gsave", "0.5 setlinewidth", "showpage"}));
    EXPECT_FALSE(psRequested);
    EXPECT_FALSE(PSHeaderWritten());

    Open(eps_);  // lower-case extension is EPS too
    EXPECT_TRUE(PSIsEps());
    EXPECT_EQ(Close(eps_), (Lines{"%!PS-Adobe-3.0 EPSF-3.0", "%%BoundingBox: 85 424 539 765",
                                  "gsave", "0.5 setlinewidth"}));
}

TEST_F(PlotTest, EpsNameNeedsMoreThanTheExtension) {
    const std::string dir = ::testing::TempDir();
    Open(dir + "A.EPS");
    EXPECT_TRUE(PSIsEps());
    ClosePSFile();
    std::remove((dir + "A.EPS").c_str());
    // A name of only four characters is not EPS; it is made in the current directory.
    Open(".EPS");
    EXPECT_FALSE(PSIsEps());
    ClosePSFile();
    std::remove(".EPS");
}

TEST_F(PlotTest, OpeningTwiceOrFailingToOpen) {
    Open(ps_);
    PlotBegin();  // already open: nothing more is written
    EXPECT_EQ(Close(ps_).size(), 4u);

    psFileName = "/nonexistent-dir/KORW.PS";
    psRequested = true;
    PlotBegin();
    EXPECT_FALSE(data::ErrorFree);
    EXPECT_EQ(data::ErrorMessage, "Failed to open /nonexistent-dir/KORW.PS");
    EXPECT_EQ(data::ProcedureName, "PlotBegin");
    EXPECT_FALSE(psRequested);
    EXPECT_FALSE(PSHeaderWritten());
}

TEST_F(PlotTest, FrameErrors) {
    PSFrame(1, 2);
    EXPECT_EQ(data::ErrorMessage, "PS file not open");
    EXPECT_EQ(data::ProcedureName, "");
    Open(ps_);
    PSFrame(0, 0);  // a layout the command would refuse: frame 1 of 1, not a division by zero
    EXPECT_TRUE(data::ErrorFree);
    EXPECT_EQ(Body(),
              (Lines{"gsave", " 1156.54 0 translate 90 rotate 1.414 1.414 scale",
                     "    1.00  1.00000000000000E+0000 scale", "    0.00     0.00 translate"}));
    Open(eps_);
    PSFrame(1, 2);
    EXPECT_EQ(data::ErrorMessage, "Only one image on Encapsulated Postscript File");
    EXPECT_EQ(Close(eps_).size(), 4u);  // nothing written, and no showpage on EPS
}

TEST_F(PlotTest, FramesOfUprightPages) {
    Open(ps_);
    PSFrame(1, 2);
    PSFrame(2, 2);
    PSFrame(1, 8);
    PSFrame(8, 8);
    EXPECT_EQ(Body(), (Lines{
                          "gsave",
                          "    1.00  1.00000000000000E+0000 scale",
                          "    0.00     0.00 translate",
                          "gsave",
                          "    1.00  1.00000000000000E+0000 scale",
                          "    0.00  -340.16 translate",
                          "gsave",
                          "    0.50  5.00000000000000E-0001 scale",
                          "   85.04   764.65 translate",
                          "gsave",
                          "    0.50  5.00000000000000E-0001 scale",
                          "  538.58  -255.83 translate",
                      }));
}

TEST_F(PlotTest, FramesOfTurnedPages) {
    Open(ps_);
    PSFrame(1, 36);
    PSFrame(36, 36);
    EXPECT_EQ(Body(), (Lines{
                          "gsave",
                          " 1156.54 0 translate 90 rotate 1.414 1.414 scale",
                          "    0.17  1.66666666666667E-0001 scale",
                          "  425.20  3823.23 translate",
                          "gsave",
                          " 1156.54 0 translate 90 rotate 1.414 1.414 scale",
                          "    0.17  1.66666666666667E-0001 scale",
                          " 2692.91  2122.44 translate",
                      }));
}

TEST_F(PlotTest, TitleSizeShrinksLongTitles) {
    Open(ps_);
    PSTitle(std::string(25, 'T'), 7);
    PSTitle(std::string(30, 'T'), 7);
    const Lines body = Body();
    ASSERT_EQ(body.size(), 12u);
    EXPECT_EQ(
        Lines(body.begin() + 0, body.begin() + 6),
        (Lines{"/Times-Roman findfont", "  17.5 scalefont", "setfont", "311.8 753.3 moveto",
               "(" + std::string(25, 'T') + ")", "dup stringwidth pop 2 div neg 0 rmoveto show"}));
    EXPECT_EQ(body[7], "  15 scalefont");
}

TEST_F(PlotTest, AxisTextsAndTextEscapes) {
    EXPECT_EQ(PSText("\xE6\xF8\xC6\xD8\xE5\xC5!"),
              "\xF1\xF9\xE1\xE9"
              "aaAa!");
    EXPECT_EQ(PSText("bl\xC3\xA5 \xC3\xA6\xC3\xB8 \xC3\x85"), "blaa \xF1\xF9 Aa");
    EXPECT_EQ(PSText("(x)"), "(x)");
    // A parenthesis without its partner and a backslash would end the PostScript string early
    // or escape the next character, so they are escaped.
    EXPECT_EQ(PSText("f(x"), "f\\(x");
    EXPECT_EQ(PSText(")a(b)("), "\\)a(b)\\(");
    EXPECT_EQ(PSText("C:\\dir\\"), "C:\\\\dir\\\\");
    Open(ps_);
    PSXAxisText("Dose", 6);
    PSYAxisText("Count", 6);
    EXPECT_EQ(Body(), (Lines{
                          "/Times-Roman findfont",
                          "  10.2 scalefont",
                          "setfont",
                          "329.5 433.0 moveto",
                          "(Dose)",
                          "dup stringwidth pop 2 div neg 0 rmoveto show",
                          "newpath",
                          "/Times-Roman findfont",
                          "  10.2 scalefont",
                          "setfont",
                          "96.4 596.0 translate",
                          "90 rotate",
                          "(Count)",
                          "dup stringwidth pop 2 div neg 0 moveto show",
                          "-90 rotate",
                          "-96.4 -596.0 translate",
                      }));
}

TEST_F(PlotTest, FragmentsOfSegmentsMarkersBarsAndTexts) {
    Open(ps_);
    PSSegment(0, 0, 640, 480);
    PSMarker(MarkerPlus, 2, 320, 240);
    PSMarker(MarkerCircle, 4, 320, 240);
    PSMarker(MarkerSquare, 0, 320, 240);
    PSMarker(MarkerNone, 3, 320, 240);
    PSBar(0, 480, 640, 0, 8);
    PSTextAt(0, 0, "A");
    EXPECT_EQ(Body(), (Lines{
                          "newpath",
                          "85.0 764.6 moveto",
                          "538.6 424.5 lineto",
                          "stroke",
                          "newpath",
                          "310.4 594.6 moveto",
                          "313.2 594.6 lineto",
                          "311.8 596.0 moveto",
                          "311.8 593.1 lineto",
                          "stroke",
                          "newpath",
                          "311.8 594.6 2.8 0 360 arc",
                          "stroke",
                          "newpath",
                          "311.8 594.6 moveto",
                          "311.8 594.6 lineto",
                          "stroke",
                          "newpath",
                          " 0.53 setgray",
                          "85.0 424.5 moveto",
                          "538.6 424.5 lineto",
                          "538.6 764.6 lineto",
                          "85.0 764.6 lineto",
                          "closepath gsave fill",
                          "grestore 0 setgray 0.5 setlinewidth",
                          "85.0 424.5 moveto",
                          "538.6 424.5 lineto",
                          "538.6 764.6 lineto",
                          "85.0 764.6 lineto",
                          "closepath stroke",
                          "/Times-Roman findfont",
                          "10 scalefont setfont",
                          "85.0 764.6 moveto",
                          "(A) show",
                      }));
}

TEST_F(PlotTest, NothingIsWrittenWithoutAFile) {
    PSSegment(0, 0, 1, 1);
    PSWriteLine("grestore");
    DrawFrame();
    EXPECT_FALSE(PSHeaderWritten());
}

TEST_F(PlotTest, FrameRectangleTicksAndNumbers) {
    Settings().xLabelStep = 0.5;
    Settings().yLabelStep = -1;  // numbers at 0 and 1 with grid lines
    Settings().xTickStep = 0.25;
    Open(ps_);
    DrawFrame();
    const Lines body = Body();
    const Lines rectangle = {"1 setlinewidth",     "newpath",
                             "127.6 463.5 moveto", "127.6 743.4 lineto",
                             "531.5 743.4 lineto", "531.5 463.5 lineto",
                             "closepath",          "stroke",
                             "0.5 setlinewidth"};
    ASSERT_GT(body.size(), rectangle.size() + 12);
    EXPECT_EQ(Lines(body.begin(), body.begin() + 9), rectangle);
    // Plain x ticks at 0, 0.25, 0.5, 0.75 and 1: 3 pixels down from the bottom edge.
    EXPECT_EQ(Lines(body.begin() + 9, body.begin() + 13),
              (Lines{"newpath", "127.6 463.5 moveto", "127.6 461.3 lineto", "228.5 463.5 moveto"}));
    EXPECT_EQ(body[20], "stroke");
    // Numbered x ticks at 0, 0.5 and 1, then their numbers with 2 decimals (range 1).
    EXPECT_EQ(Lines(body.begin() + 21, body.begin() + 24),
              (Lines{"newpath", "127.6 463.5 moveto", "127.6 459.2 lineto"}));
    EXPECT_EQ(body[28], "stroke");
    EXPECT_EQ(Lines(body.begin() + 29, body.begin() + 33),
              (Lines{"/Times-Roman findfont", "10 scalefont", "setfont", body[32]}));
    EXPECT_EQ(Lines(body.begin() + 33, body.begin() + 36),
              (Lines{"(0.00) dup stringwidth", "pop neg 2 div", "0 rmoveto show"}));
    // The y axis: grid lines across the frame, stroked thin.
    EXPECT_EQ(Lines(body.begin() + 44, body.begin() + 47),
              (Lines{"newpath", "531.5 463.5 moveto", "123.3 463.5 lineto"}));
    EXPECT_EQ(Lines(body.begin() + 49, body.begin() + 54),
              (Lines{"0.2 setlinewidth", "stroke", "0.5 setlinewidth", "/Times-Roman findfont",
                     "10 scalefont setfont"}));
    EXPECT_EQ(body[55], "(0.00) dup stringwidth pop");
    EXPECT_EQ(body[56], "0 exch sub");
}

TEST_F(PlotTest, AxisNumberFormat) {
    EXPECT_EQ(AxisDecimals(-1, 0, 1), 2);
    EXPECT_EQ(AxisDecimals(-1, 0, 40), 0);  // 2 - round(1.6)
    EXPECT_EQ(AxisDecimals(-1, 0, 41), 0);
    EXPECT_EQ(AxisDecimals(-1, 0, 0.01), 4);
    EXPECT_EQ(AxisDecimals(3, 0, 1000), 3);
    EXPECT_EQ(AxisNumber(2.5, 2), "2.50");
    EXPECT_EQ(AxisNumber(-10, 0), "-10");
}

}  // namespace

}  // namespace korw::plot::test
