// Graphics: PLOT, HISTOGRAM, the label texts, and the PostScript picture file.
#include <sstream>
#include <vector>

#include "data/errors.h"
#include "data/vectors.h"
#include "interp/commands.h"
#include "interp/output.h"
#include "interp/params.h"
#include "interp/state.h"
#include "plot/plot.h"
#include "plot/plot3d.h"
#include "plot/postscript.h"
#include "plot/settings.h"

namespace korw::interp {

namespace {

// Frame sequencing of PSFRAME #: each plot takes the next frame of the page.
bool autoFrames = false;
int frameCounter = 0;
int framesPerPage = 1;
std::string frameText;

std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    for (std::string w; in >> w;) words.push_back(plot::BarsToBlanks(w));
    return words;
}

// The part of an argument before the first blank or "=" names an existing variate.
bool NamesVariate(const std::string& argument) {
    std::string name = argument.substr(0, argument.find_first_of(" ="));
    int index = data::FindVector(data::UpperName(name));
    return index != 0 && data::Entry(index).kind == data::VariateKind;
}

// The next frame of an automatic page; false with the error when the page is full.
bool NextAutoFrame() {
    if (!plot::psRequested || !autoFrames) return true;
    ++frameCounter;
    if (frameCounter > framesPerPage) return SetCommandError("Too many frames on PS-page"), false;
    plot::PSFrame(frameCounter, framesPerPage);
    return !LibraryFailed();
}

// After a 2-d plot: a failed one closes the picture file; a drawn one ends its PostScript
// frame and is shown.
void FinishPlot() {
    if (!data::ErrorFree) {
        std::string message = data::ErrorMessage;
        if (plot::psRequested) plot::ClosePSFile();
        return SetCommandError(message);
    }
    if (plot::psRequested) plot::PSWriteLine("grestore");
    TheDesktop->ShowPicture(false);
}

void SetText(std::string& text, const std::string& params) {
    text = plot::BarsToBlanks(params);
}

}  // namespace

void ResetGraphics() {
    if (plot::psRequested) plot::ClosePSFile();
    autoFrames = false;
    frameText.clear();
    plot::ResetSettings();
}

void CmdXText(const std::string& params) {
    SetText(plot::Settings().xText, params);
}
void CmdYText(const std::string& params) {
    SetText(plot::Settings().yText, params);
}
// The title goes to PLOT as its argument and stays in the settings record, where a histogram
// takes it instead of its automatic title.
void CmdFrameText(const std::string& params) {
    SetText(frameText, params);
    plot::Settings().frameText = frameText;
}

void CmdPlot(const std::string& params) {
    std::vector<std::string> p = Words(params);
    if (p.size() < 2) return SetCommandError("Too few parameters");
    p.resize(4);
    if (!p[2].empty() && NamesVariate(p[2])) {
        if (ProgramRunning) return SetCommandError("3-d plots not allowed in programs");
        bool ps = plot::psRequested;
        plot::psRequested = false;
        plot::Plot3d(p[0], p[1], p[2], p[3]);
        plot::psRequested = ps;
        if (LibraryFailed()) return;
        return TheDesktop->ShowPicture(true);
    }
    if (!NextAutoFrame()) return;
    plot::Plot(p[0], p[1], frameText, p[2], p[3]);
    FinishPlot();
}

void CmdHistogram(const std::string& params) {
    std::vector<std::string> p = Words(params);
    if (p.empty()) return SetCommandError("Missing parameter");
    if (p.size() > 2) return SetCommandError("Too many parameters");
    p.resize(2);
    if (!p[1].empty() && NamesVariate(p[1].substr(0, p[1].find('=')))) {
        if (ProgramRunning) return SetCommandError("3-d histograms not allowed in programs");
        bool ps = plot::psRequested;
        plot::psRequested = false;
        plot::VarHistogram3d(p[0], p[1]);
        plot::psRequested = ps;
        if (LibraryFailed()) return;
        return TheDesktop->ShowPicture(true);
    }
    if (!NextAutoFrame()) return;
    plot::VarHistogram(p[0], p[1]);
    FinishPlot();
}

void CmdOpenPsFile(const std::string& params) {
    if (plot::psRequested) return SetCommandError("Close " + plot::psFileName + " first!");
    std::string name = params.empty() ? "KORW.PS" : params;
    if (name.find('.') == std::string::npos) name += ".PS";
    plot::psFileName = name;
    plot::psRequested = true;
    plot::PlotBegin();
    if (LibraryFailed()) plot::psRequested = false;
}

void CmdPsFrame(const std::string& params) {
    if (!plot::psRequested) return SetCommandError("PS file not open");
    std::vector<std::string> p = Words(params);
    if (p.size() > 2) return SetCommandError("Too many parameters");
    if (p.size() < 2) return SetCommandError("Two parameters required");
    int32_t n = 0, k = 0;
    if (IntegerParameter(p[1], n) != 0)
        return SetCommandError("Invalid integer expression " + p[1]);
    static const int kValid[] = {1, 2, 4, 8, 9, 16, 18, 25, 32, 36, 49, 50, 64, 72};
    bool valid = false;
    for (int v : kValid) valid = valid || v == n;
    if (!valid)
        return SetCommandError("Invalid integer " + p[1] +
                               ". Valid are 1,2,4,8,9,16,18,25,32,36,49,50,64,72");
    if (p[0] == "#") {
        autoFrames = true;
        frameCounter = 0;
        framesPerPage = n;
        return;
    }
    autoFrames = false;
    if (IntegerParameter(p[0], k) != 0)
        return SetCommandError("Invalid integer expression " + p[0]);
    if (k < 1 || k > n) return SetCommandError("Integer parameter " + p[0] + " is out of range");
    plot::PSFrame(k, n);
    LibraryFailed();
}

void CmdClosePsFile(const std::string&) {
    if (!plot::psRequested) return SetCommandError("PS file not open");
    plot::ClosePSFile();
    autoFrames = false;
    LibraryFailed();
}

}  // namespace korw::interp
