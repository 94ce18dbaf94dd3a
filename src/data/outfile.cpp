#include "data/outfile.h"

#include <cstdio>

#include "data/errors.h"
#include "data/files.h"

namespace korw::data {

namespace {

std::string outName;
std::FILE* out = nullptr;
std::string observedName;
WriteObserver observer = nullptr;
bool outObserved = false;  // the output file is the observed one
constexpr size_t kNameLimit = 100;
constexpr size_t kBufferSize = 1 << 16;  // listings of many units write many short lines

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

void Close() {
    if (out == nullptr) return;
    bool bad = std::fclose(out) != 0;
    out = nullptr;
    if (bad) RaiseFault(FaultKind::InputOutput);
}

void Open(const std::string& name, const char* mode, const char* failure) {
    outName = Trim(name).substr(0, kNameLimit);
    Close();
    out = OpenFile(outName, mode);
    if (out == nullptr) {
        ReportError(failure + outName);
        return;
    }
    std::setvbuf(out, nullptr, _IOFBF, kBufferSize);
    outObserved = observer != nullptr && outName == Trim(observedName).substr(0, kNameLimit);
}

}  // namespace

void NewOutFile(const std::string& name) {
    Open(name, "w", "IO error initializing output file ");
}

void OldOutFile(const std::string& name) {
    Open(name, "a", "IO error appending to output file ");
}

const std::string& OutFileName() {
    return outName;
}

void CloseOutFile() {
    outName.clear();
    outObserved = false;
    Close();
}

int LineWidth() {
    return outName.empty() ? 79 : 80;
}

void Write(std::string_view text) {
    if (out == nullptr || text.empty()) return;
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size())
        RaiseFault(FaultKind::InputOutput);
    if (outObserved) observer(text);
}

void WriteLine(std::string_view text) {
    Write(text);
    if (out != nullptr && std::fputc('\n', out) == EOF) RaiseFault(FaultKind::InputOutput);
    if (out != nullptr && outObserved) observer("\n");
}

void ObserveFile(const std::string& name, WriteObserver newObserver) {
    observedName = name;
    observer = newObserver;
    outObserved = observer != nullptr && out != nullptr &&
                  outName == Trim(observedName).substr(0, kNameLimit);
}

void NoteWritten(const std::string& name, std::string_view text) {
    if (observer != nullptr && name == observedName) observer(text);
}

}  // namespace korw::data
