#include "session/demos.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "data/files.h"
#include "data/vectors.h"
#include "interp/state.h"
#include "session/session_life.h"

namespace korw::session {

namespace fs = std::filesystem;

const char* const kDemoCommandHint =
    "Write KOR command - or import it from open command file by CursorDown - and press Return "
    "to execute.";

const std::vector<std::string>& DemoFileNames() {
    static const std::vector<std::string> kNames = {
        "VERSION.TXT",   "README",      "1.KOR",        "2.KOR",     "3.KOR",    "4.KOR",
        "5.KOR",         "6.KOR",       "W-H-DATA.KDS", "DEMO2.DAT", "D5-1.KOR", "D5-2.KOR",
        "D5-3.KOR",      "D5-4.KOR",    "D5-5.KOR",     "D5-6.KOR",  "D5-7.KOR", "D6.KDS",
        "SPLITPLOT.KOR", "ORDINAL.KOR", "COX.KOR"};
    return kNames;
}

std::string DemoSourceDirectory() {
    return ProgramDirectory() + "/demos";
}

bool DemosComplete(const std::string& directory) {
    for (const std::string& name : DemoFileNames())
        if (!data::FileExists(directory + "/" + name)) return false;
    std::ifstream in(data::ResolveExisting(directory + "/VERSION.TXT"));
    std::string first;
    std::getline(in, first);
    if (!first.empty() && first.back() == '\r') first.pop_back();  // written on Windows
    return first == interp::kVersion;
}

bool InstallDemos(const std::string& source, const std::string& target, interp::Desktop& desktop) {
    if (DemosComplete(target)) return true;
    for (const std::string& name : DemoFileNames()) {
        std::string file = target + "/" + name;
        if (data::FileExists(file) && !data::RemoveFile(file))
            desktop.ErrorBox("Failed to remove " + name + ". Read-only?");
    }
    // The copy is made here and now, so the wait for an external installer is not needed; a
    // file that cannot be copied ends the installation with its message instead of a wait that
    // would never end.
    for (const std::string& name : DemoFileNames()) {
        std::error_code ec;
        fs::copy_file(source + "/" + name, data::ResolveCreate(target + "/" + name),
                      fs::copy_options::overwrite_existing, ec);
        if (ec) {
            desktop.ErrorBox("Failed to copy " + name + " from " + source);
            return false;
        }
    }
    return true;
}

bool IsDemoDirectory(const std::string& workingDirectory, const std::string& rootDirectory) {
    auto normal = [](const std::string& path) {
        std::string s = fs::path(path).lexically_normal().string();
        while (s.size() > 1 && s.back() == '/') s.pop_back();
        return data::UpperName(s);
    };
    return normal(workingDirectory) == normal(rootDirectory + "/DEMOS");
}

void EnterDemoMode(interp::Desktop& desktop) {
    if (InstallDemos(DemoSourceDirectory(), interp::WorkingDirectory, desktop))
        desktop.ShowDemoMenu();
}

std::string DemoReadme() {
    std::ifstream in(data::ResolveExisting(interp::WorkingDirectory + "/README"));
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace korw::session
