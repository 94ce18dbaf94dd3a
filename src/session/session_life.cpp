#include "session/session_life.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "compute/compute.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/outfile.h"
#include "data/session.h"
#include "data/vectors.h"
#include "interp/programs.h"
#include "interp/shortkeys.h"
#include "interp/state.h"
#include "io/import.h"
#include "session/demos.h"

namespace korw::session {

namespace fs = std::filesystem;

namespace {

// The window measures LASTDIR keeps for the desktop window; a terminal has none of its own.
constexpr int kDefaultWidth = 820;
constexpr int kDefaultHeight = 600;

void MakeDirectory(const std::string& path) {
    std::error_code ec;
    if (fs::exists(path, ec) && !fs::is_directory(path, ec)) fs::remove(path, ec);
    fs::create_directories(path, ec);
}

// The terminal has no window of its own: the window measures and the hint flag of an existing
// LASTDIR (written by the desktop window) are kept as they are, only the working directory
// changes. Without them the defaults are written.
void WriteLastDir() {
    const std::string path = interp::RootDirectory + "/LASTDIR";
    std::vector<std::string> kept = {"0", "0", std::to_string(kDefaultWidth),
                                     std::to_string(kDefaultHeight), "1"};
    {
        std::ifstream in(path);
        std::string line;
        std::vector<std::string> read;
        if (std::getline(in, line))
            while (read.size() < kept.size() && std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                read.push_back(line);
            }
        if (read.size() == kept.size()) kept = read;
    }
    std::ofstream out(path);
    out << interp::WorkingDirectory << "\n";
    for (const std::string& line : kept) out << line << "\n";
}

}  // namespace

std::string ProgramDirectory() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && (fs::exists(exe.parent_path() / "KORWHELP.TXT") ||
                fs::is_directory(exe.parent_path() / "demos")))
        return exe.parent_path().string();
    fs::path share = exe.parent_path().parent_path() / "share" / "korw";
    if (!ec && fs::is_directory(share)) return share.string();
    return ec ? "." : exe.parent_path().string();
}

std::string HelpText() {
    std::ifstream in(ProgramDirectory() + "/KORWHELP.TXT");
    if (!in) return "\n    The file KORWHELP.TXT has disappeared!\n\n";
    std::string text = std::string("KORW, version ") + interp::kVersion + "\n";
    text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return text;
}

void PrepareRoot(const std::string& root) {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    interp::RootDirectory = r;
    interp::SessionOutputFile = r + "/KORWOUT.TMP";
    interp::TemporaryOutput = interp::RootTemporaryOutput();
    MakeDirectory(r + "/MISC");
    MakeDirectory(r + "/DEMOS");
}

std::vector<std::string> SessionActiveQuestion() {
    return {interp::RootDirectory + "/KORWOUT.TMP exists already.",
            "Probably an KORW session under the same root",
            "directory is active. If this is the case, there",
            "will be file sharing conflicts.  Continue?"};
}

bool SessionOutputExists() {
    return data::FileExists(interp::SessionOutputFile);
}

bool CreateTemporaryOutput(std::string& message) {
    std::FILE* f = data::OpenFile(interp::TemporaryOutput, "w");
    if (f == nullptr) {
        message =
            "Can not open " + interp::RootDirectory + "/KORW.TMP - this session will be closed";
        return false;
    }
    std::fclose(f);
    return true;
}

namespace {

// The data files a start argument imports. Plain .txt and .dat files are often no tables at
// all (notes, READ's input), so they only choose the directory, as before IMPORT existed.
bool ImportedAtStart(const std::string& file, const std::string& upperExtension) {
    return io::ImportableFile(file) && upperExtension != ".TXT" && upperExtension != ".DAT";
}

}  // namespace

std::string MakePrivateDirectory(const char* prefix) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return "";
    return pattern;
}

std::string StartCommandFor(const std::string& file, const std::vector<std::string>& values) {
    fs::path path(file);
    std::string ext = data::UpperName(path.extension().string());
    std::string command;
    if (ext == ".KOR") {
        command = "RUN " + path.stem().string();
    } else if (ext == ".KDS") {  // GETDATA adds ".KDS" to a name that does not end in it exactly
        command =
            "GETDATA " + (path.extension() == ".KDS" ? path.filename() : path.stem()).string();
    } else if (ImportedAtStart(file, ext)) {
        std::string name = path.filename().string();
        command = "IMPORT " + (name.find(' ') == std::string::npos ? name : '"' + name + '"');
    } else {
        return "";
    }
    for (const std::string& v : values) command += " " + v;
    return command;
}

void StartSession(const std::string& workingDirectory) {
    interp::WorkingDirectory = workingDirectory;
    if (::chdir(workingDirectory.c_str()) != 0) {
        // The directory was checked by the caller; a race leaves the present one current.
    }
    interp::DemoMode = IsDemoDirectory(workingDirectory, interp::RootDirectory);
    if (interp::DemoMode && interp::TheDesktop != nullptr) EnterDemoMode(*interp::TheDesktop);
    interp::CurrentOutputFile = interp::SessionOutputFile;
    interp::LoadShortKeys();
    data::Start(std::string("KORW ") + interp::kVersion, interp::SessionOutputFile);
    data::ContinueOnError = true;
    compute::SeedRandomFromClock();
    data::NewOutFile(interp::TemporaryOutput);
    interp::InputFileOpen = false;
    interp::CommandFileOpen = false;
    interp::ProgramRunning = false;
    interp::OutputPending = false;
    interp::EditorActive = false;
    interp::EchoOn = true;
    std::FILE* f = data::OpenFile(interp::SessionOutputFile, "a");
    if (f != nullptr) {
        std::string line = "Working directory " + workingDirectory + "\n\n";
        std::fputs(line.c_str(), f);
        std::fclose(f);
        data::NoteWritten(interp::SessionOutputFile, line);
    }
}

std::string DefaultOutputName(const std::string& directory) {
    for (int n = 1;; ++n) {
        std::string name = "KORW" + std::to_string(n) + ".OUT";
        if (!data::FileExists(directory + "/" + name)) return name;
    }
}

bool FinishLibrarySession() {
    if (interp::SessionClosing || !data::FileExists(interp::SessionOutputFile)) return false;
    data::OldOutFile(interp::SessionOutputFile);
    data::Finish();
    interp::SaveShortKeys();
    return true;
}

// The copy replaces an old file of that name only once it is complete, so that a full disk
// leaves the old file whole.
bool KeepOutput(const std::string& name) {
    std::FILE* in = data::OpenFile(interp::SessionOutputFile, "rb");
    if (in == nullptr) return false;
    data::ReplacementFile out(data::ResolveCreate(name));
    bool ok = out.file() != nullptr;
    char buffer[65536];
    size_t n;
    while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        ok = std::fwrite(buffer, 1, n, out.file()) == n;
    ok = ok && std::ferror(in) == 0;
    std::fclose(in);
    return out.Commit(ok);
}

void RemoveSessionFiles(bool writeLastDir) {
    data::RemoveFile(interp::TemporaryOutput);
    data::RemoveFile(interp::SessionOutputFile);
    if (writeLastDir) WriteLastDir();
}

}  // namespace korw::session
