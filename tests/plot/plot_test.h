// Session fixture of the graphics tests: a fresh library session, default settings, a clean
// bitmap, and the picture file read back line by line.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/session.h"
#include "plot/canvas.h"
#include "plot/postscript.h"
#include "plot/settings.h"

namespace korw::plot::test {

// The boxes of the texts that `draw` writes on the bitmap.
inline std::vector<TextBox> TextsDrawn(const std::function<void()>& draw) {
    std::vector<TextBox> boxes;
    RecordTextBoxes(&boxes);
    draw();
    RecordTextBoxes(nullptr);
    return boxes;
}

inline std::string Describe(const TextBox& b) {
    return "\"" + b.text + "\" at [" + std::to_string(b.left) + ", " + std::to_string(b.right) +
           "] x [" + std::to_string(b.top) + ", " + std::to_string(b.bottom) + "]";
}

// Every box inside the bitmap and no two meeting; reports the first fault.
inline ::testing::AssertionResult Legible(const std::vector<TextBox>& boxes) {
    for (size_t i = 0; i < boxes.size(); ++i) {
        if (!InsideBitmap(boxes[i]))
            return ::testing::AssertionFailure() << Describe(boxes[i]) << " leaves the bitmap";
        for (size_t j = 0; j < i; ++j)
            if (Overlap(boxes[i], boxes[j]))
                return ::testing::AssertionFailure()
                       << Describe(boxes[i]) << " meets " << Describe(boxes[j]);
    }
    return ::testing::AssertionSuccess();
}

class PlotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string stem = ::testing::TempDir() + "plot_test_" + std::to_string(::getpid());
        out_ = stem + ".out";
        ps_ = stem + ".PS";
        eps_ = stem + ".eps";
        if (data::Active) data::Finish();
        data::Start("KORW JUN2009", out_);
        data::ContinueOnError = true;
        ClosePSFile();
        ResetSettings();
        ClearBitmap();
    }
    void TearDown() override {
        ClosePSFile();
        if (data::Active) data::Finish();
        std::remove(out_.c_str());
        std::remove(ps_.c_str());
        std::remove(eps_.c_str());
    }

    // Opens a picture file as the OPENPSFILE command does.
    void Open(const std::string& name) {
        psFileName = name;
        psRequested = true;
        PlotBegin();
        ASSERT_TRUE(data::ErrorFree) << data::ErrorMessage;
    }

    // Closes the picture file and returns its lines.
    std::vector<std::string> Close(const std::string& name) {
        ClosePSFile();
        std::vector<std::string> lines;
        std::ifstream in(name);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // The lines written between the header (4 lines for .PS, 5 for EPS) and "showpage".
    std::vector<std::string> Body() {
        std::vector<std::string> lines = Close(ps_);
        if (lines.size() < 5) return {};
        return {lines.begin() + 3, lines.end() - 1};
    }

    static bool IsWhite(Rgb c) { return c.red == 255 && c.green == 255 && c.blue == 255; }
    static bool IsBlack(Rgb c) { return c.red == 0 && c.green == 0 && c.blue == 0; }

    static int NonWhitePixels() {
        int count = 0;
        for (int y = 0; y < BitmapHeight; ++y)
            for (int x = 0; x < BitmapWidth; ++x) count += !IsWhite(Pixel(x, y));
        return count;
    }

    std::string out_, ps_, eps_;
};

}  // namespace korw::plot::test
