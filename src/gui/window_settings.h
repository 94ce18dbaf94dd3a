// What the desktop window keeps between runs (LASTDIR: working directory, the window's left,
// top, width and height, the hint flag) and the hint texts of its windows.
#pragma once

#include <string>

namespace korw::gui {

struct WindowSettings {
    std::string workingDirectory;  // MISC under the root when LASTDIR names none that exists
    int left = 0, top = 0, width = 0, height = 0;  // width or height 0: default size, centred
    bool hintsOn = true;
};

inline constexpr int kDefaultWidth = 820;
inline constexpr int kDefaultHeight = 600;

// Reads LASTDIR of the root. A line that cannot be read leaves the default size (and what was
// read before it); a working directory that no longer exists gives MISC.
WindowSettings ReadLastDir(const std::string& root);

// Writes the six lines of LASTDIR.
void WriteLastDir(const std::string& root, const WindowSettings& settings);

// The position that centres a window of the given size on a screen: half the screen's
// extent minus the window's, rounded.
int CentredPosition(int screenExtent, int windowExtent);

// The hint texts, with line breaks as "\n".
extern const char* const kMainWindowHint;
extern const char* const kCommandHint;
extern const char* const kResultHint;
extern const char* const kPictureHint;
extern const char* const kHelpHint;
extern const char* const kCommandListHint;
extern const char* const kEditorHint;
extern const char* const kSessionOutputHint;
std::string DirectoryTreeHint(const std::string& root);
std::string DirectoryEditHint(const std::string& root);

}  // namespace korw::gui
