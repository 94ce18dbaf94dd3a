#include "console/batch_desktop.h"

#include <filesystem>
#include <iostream>

#include "data/files.h"

namespace korw::console {

namespace {

// Box texts break their lines with CR LF; a terminal wants plain line feeds.
std::string PlainLines(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

}  // namespace

void BatchDesktop::ErrorBox(const std::string& text) {
    std::cerr << PlainLines(text) << "\n";
}

bool BatchDesktop::Confirm(const std::string& text) {
    std::cerr << PlainLines(text) << " " << (yes_ ? "Yes" : "No") << "\n";
    return yes_;
}

bool BatchDesktop::CopyFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(data::ResolveExisting(from), data::ResolveCreate(to),
                               std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

}  // namespace korw::console
