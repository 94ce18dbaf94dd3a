#include "data/files.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "data/vectors.h"

namespace korw::data {

namespace fs = std::filesystem;

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The unique entry of the directory of `name` whose file name equals it up to case, or "".
std::string CaseVariant(const std::string& name) {
    fs::path p(name);
    fs::path dir = p.parent_path();
    std::string leaf = p.filename().string();
    if (leaf.empty()) return "";
    std::error_code ec;
    fs::directory_iterator it(dir.empty() ? fs::path(".") : dir, ec);
    if (ec) return "";
    std::string found;
    for (const auto& entry : it) {
        std::string candidate = entry.path().filename().string();
        if (strcasecmp(candidate.c_str(), leaf.c_str()) != 0) continue;
        if (!found.empty()) return "";  // two case variants: neither is meant
        found = (dir / candidate).string();
    }
    return found;
}

}  // namespace

bool IsNullDevice(const std::string& name) {
    return strcasecmp(name.c_str(), "NUL") == 0;
}

std::string ResolveExisting(const std::string& name) {
    if (IsNullDevice(name)) return "/dev/null";
    if (name.empty() || Exists(name)) return name;
    std::string variant = CaseVariant(name);
    return variant.empty() ? name : variant;
}

std::string ResolveCreate(const std::string& name) {
    return ResolveExisting(name);
}

bool FileExists(const std::string& name) {
    struct stat st;
    return !IsNullDevice(name) && ::stat(ResolveExisting(name).c_str(), &st) == 0 &&
           !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& name) {
    struct stat st;
    return ::stat(ResolveExisting(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::FILE* OpenFile(const std::string& name, const char* mode) {
    std::string path = mode[0] == 'w' ? ResolveCreate(name) : ResolveExisting(name);
    if (mode[0] == 'r' && !IsNullDevice(name)) {
        struct stat st;  // a directory opens for reading on Linux; it is no file to read
        if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return nullptr;
    }
    return std::fopen(path.c_str(), mode);
}

ReplacementFile::ReplacementFile(const std::string& target) : target_(target) {
    temporary_ = target + ".XXXXXX";
    int fd = ::mkstemp(temporary_.data());
    if (fd < 0) {
        temporary_.clear();
        return;
    }
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) ::close(fd);
}

ReplacementFile::~ReplacementFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!temporary_.empty()) std::remove(temporary_.c_str());
}

bool ReplacementFile::Commit(bool written) {
    if (file_ == nullptr) return false;
    struct stat st;
    mode_t mode;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = written && std::fflush(file_) == 0 && ::fchmod(::fileno(file_), mode) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    if (!ok || std::rename(temporary_.c_str(), target_.c_str()) != 0) return false;
    temporary_.clear();
    return true;
}

std::string UpperFileName(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, at) + UpperName(path.substr(at));
}

void SkipByteOrderMark(std::FILE* f) {
    unsigned char mark[3];
    if (std::fread(mark, 1, 3, f) != 3 || mark[0] != 0xEF || mark[1] != 0xBB || mark[2] != 0xBF)
        std::rewind(f);
}

bool RemoveFile(const std::string& name) {
    if (IsNullDevice(name)) return false;
    return std::remove(ResolveExisting(name).c_str()) == 0;
}

bool CopyFileReplacing(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::copy_file(ResolveExisting(from), ResolveCreate(to),
                               std::filesystem::copy_options::overwrite_existing, ec);
    return !ec;
}

long long FileSize(const std::string& name) {
    struct stat st;
    if (::stat(ResolveExisting(name).c_str(), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

}  // namespace korw::data
