// The one way the system names, opens, creates and tests files.
//
// Names come from a world of case-insensitive file names: when an existing file is opened for
// reading or appending, or tested for existence, and the exact name does not exist, a unique
// case-insensitive match in the same directory is used. A file that is created replaces the
// existing file whose name matches up to case, and otherwise gets the name exactly as given.
// The name "NUL" (any case) is the null device.
#pragma once

#include <cstdio>
#include <string>

namespace korw::data {

// The path to use for an existing file (reading, appending, testing).
std::string ResolveExisting(const std::string& name);

// The path to use for a file that is created (an existing case-variant is replaced).
std::string ResolveCreate(const std::string& name);

bool IsNullDevice(const std::string& name);
bool FileExists(const std::string& name);  // a file (not a directory) of that name
bool DirectoryExists(const std::string& name);

// fopen with the name resolved for the mode: "r"/"rb" and "a"/"ab" use ResolveExisting (an
// appended file that does not exist yet is created under ResolveCreate), "w"/"wb" ResolveCreate.
std::FILE* OpenFile(const std::string& name, const char* mode);

bool RemoveFile(const std::string& name);

// Upper case (as for names) for the file name only: the directories of a path are
// case-sensitive here, and the file name itself is matched up to case when it is opened.
std::string UpperFileName(const std::string& path);

// Passes over a UTF-8 byte-order mark at the start of a text file just opened, which editors
// on other systems write; without one the file is read from its start.
void SkipByteOrderMark(std::FILE* f);

// A file that replaces `target` whole or not at all: written under an unpredictable name in
// the target's directory (created exclusively, so no link planted there is followed), then
// renamed over the target. Commit keeps the permissions of the file it replaces; a new file gets
// those of the umask. Without Commit (a failed write) the temporary file is removed and the old
// target stays as it was.
class ReplacementFile {
  public:
    explicit ReplacementFile(const std::string& target);  // target as ResolveCreate gives it
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    std::FILE* file() const { return file_; }  // nullptr when it could not be created
    // Closes and renames; false (and nothing replaced) when any write, the close or the rename
    // failed.
    bool Commit(bool written);

  private:
    std::string target_, temporary_;
    std::FILE* file_ = nullptr;
};

// Copies a file over `to` (replacing it when it exists); false when it cannot.
bool CopyFileReplacing(const std::string& from, const std::string& to);

// Size in bytes, -1 when the file cannot be read.
long long FileSize(const std::string& name);

}  // namespace korw::data
