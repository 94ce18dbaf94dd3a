#include "console/batch_desktop.h"

#include <csignal>
#include <iostream>
#include <string>
#include <utility>

#include "data/files.h"
#include "data/long_work.h"
#include "interp/output.h"
#include "interp/state.h"
#include "plot/picture.h"

namespace korw::console {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

// A stop signal also stops the command that runs, so that the session ends soon after it.
void NoteStopSignal(int signal) {
    stopSignal = signal;
    data::RequestStop();
}

// Box texts break their lines with CR LF; a terminal wants plain line feeds.
std::string PlainLines(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked read of stdin returns
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

bool StopSignalled() {
    return stopSignal != 0;
}

bool BatchDesktop::EscapeRequested() {
    return StopSignalled();
}

// The explanations of a demonstration go to stdout between the commands they explain.
void BatchDesktop::ShowDemoText(const std::string& text) {
    std::cout << text << std::flush;
}

void BatchDesktop::ErrorBox(const std::string& text) {
    std::cerr << PlainLines(text) << "\n";
}

bool BatchDesktop::Confirm(const std::string& text) {
    std::cerr << PlainLines(text) << " " << (yes_ ? "Yes" : "No") << "\n";
    return yes_;
}

// With --pictures every picture is kept under its default name, as if Return was pressed:
// KORW<n> with the smallest n no picture file of the type has. Without it the first picture of
// the session says how to keep them, on stderr so that the session output stays as it is.
void BatchDesktop::ShowPicture(bool) {
    if (!pictures_) {
        if (!std::exchange(pictureNoteShown_, true))
            std::cerr << "korw: pictures are not kept in batch mode unless --pictures is given "
                         "(saved as KORW1.JPG, ...; --picture-type=png|jpg|bmp chooses the "
                         "type)\n";
        return;
    }
    std::string name;
    for (int n = 1; name.empty() || data::FileExists(name); ++n)
        name = "KORW" + std::to_string(n) + pictureType_;
    if (!plot::SavePicture(name)) return ErrorBox("Can not save the picture as " + name);
    if (interp::EchoOn) interp::AppendOutputLine(" *** Picture saved as " + name + " ***");
}

// A batch run has nobody to look at a started program or an opened picture, and may run where
// nothing can show one: SHELL (and SHOW of a picture) fail instead of reporting success.
void BatchDesktop::ShellOpen(const std::string&, const std::string&) {
    interp::SetCommandError("Files are not opened in batch mode");
}

bool BatchDesktop::CopyFile(const std::string& from, const std::string& to) {
    return data::CopyFileReplacing(from, to);
}

}  // namespace korw::console
