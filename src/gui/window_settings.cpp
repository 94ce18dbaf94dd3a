#include "gui/window_settings.h"

#include <cmath>
#include <filesystem>
#include <fstream>

namespace korw::gui {

namespace {

bool ReadInt(std::istream& in, int& value) {
    std::string line;
    if (!std::getline(in, line)) return false;
    try {
        size_t used = 0;
        value = std::stoi(line, &used);
        return line.find_first_not_of(" \r", used) == std::string::npos;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

WindowSettings ReadLastDir(const std::string& root) {
    WindowSettings s;
    s.workingDirectory = root + "/MISC";
    std::ifstream in(root + "/LASTDIR");
    std::string line;
    if (!in || !std::getline(in, line)) return s;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::error_code ec;
    if (std::filesystem::is_directory(line, ec)) s.workingDirectory = line;
    int measures[4];
    for (int& m : measures)
        if (!ReadInt(in, m)) return s;
    int hints = 1;
    if (!ReadInt(in, hints)) return s;
    s.hintsOn = hints != 0;  // read in full, the flag counts even when the size does not
    if (measures[2] <= 0 || measures[3] <= 0) return s;
    s.left = measures[0];
    s.top = measures[1];
    s.width = measures[2];
    s.height = measures[3];
    return s;
}

void WriteLastDir(const std::string& root, const WindowSettings& s) {
    std::ofstream out(root + "/LASTDIR");
    out << s.workingDirectory << "\n"
        << s.left << "\n"
        << s.top << "\n"
        << s.width << "\n"
        << s.height << "\n"
        << (s.hintsOn ? 1 : 0) << "\n";
}

int CentredPosition(int screenExtent, int windowExtent) {
    return static_cast<int>(std::lround(screenExtent / 2.0 - windowExtent / 2.0));
}

const char* const kMainWindowHint =
    "To avoid these hint messages, press Shift-F1.\nPress Shift-F1 again to get them back.\n\n"
    "To reestablish default size and position on screen,\nclose session and delete or rename "
    "the file LASTDIR on the KORW root";

const char* const kCommandHint =
    "Write KOR command and press Return to Execute.\nPress Escape to delete command line.\n"
    "Press Ctrl-Return to truncate command line from cursors position.\n"
    "Press UpArrow[/DownArrow] to reuse earlier commands.\n"
    "Press Right/Left Arrow with Ctrl to substitute next/previous command or vector name in "
    "alphabetic order.\nPress F1 to get help.\nPress Ctrl-F1 to get help on the present "
    "command.\nPress Escape from an empty command line to terminate.";

const char* const kResultHint =
    "Press Return to save output, Escape to suppress\nPrint (All or selected portion) by Ctrl-P.";

const char* const kPictureHint =
    "Press Return to save, Escape to quit.\n\nFor 3-d graphics:\nCursor keys rotate.\nNum +/- "
    "zoom/unzoom.";

const char* const kHelpHint =
    "Scroll by Up/Down Arrows, Page Up/Down etc.\nCtrl-Home brings you to the top, Ctrl-End to "
    "the bottom.\nSearch for a word or phrase by Ctrl-F.\nThe search is forwards from the cursors "
    "position, ignores case and multiple blanks.\nRepeat the search by Ctrl-L or Return.\nSearch "
    "for help on specific commands by F1\nLeave the help window by Escape.\nPrint (All or "
    "selected portion) by Ctrl-P.";

const char* const kCommandListHint =
    "Select by Up/Down Arrows (or the mouse).\nPress Return, F1 or RightArrow (or double click) "
    "to get help.\nPress BackSpace or LeftArrow to copy the command to the command line.";

const char* const kEditorHint =
    "Press Ctrl-Return to truncate line from cursor\nPress Ctrl-F to search for word or "
    "phrase\nPress Ctrl-L to repeat last search\nPress F1 for help\nPress Ctrl-F1 for help on "
    "command in present line\nPress F2 to save\nPrint (All or selected portion) by Ctrl-P.\n\n"
    "When editing KORW programs:\n    Press F9 to save and run (entire program or\n      "
    "selected lines)\n    Press Escape to interrupt running program\n    Press F10 to look at "
    "the sessions output file\n\nLeave editor with Escape.\n\nStandard Windows editor "
    "features:\n    Mark block with Shift-CursorArrows\n    Copy block to clipboard with "
    "Ctrl-C\n    Delete block with Del\n    Delete and copy to clipboard with Ctrl-X\n    "
    "Insert clipboard contents at cursor with Ctrl-V";

const char* const kSessionOutputHint =
    "The sessions output file\nPress Escape or Return to leave\nPrint (All or selected portion) "
    "by Ctrl-P.";

std::string DirectoryTreeHint(const std::string& root) {
    return "Move in directory tree by cursor arrows and spacebar.\nSelect working directory by "
           "Return.\nTo create new directory, use Escape instead of Return,\nthen edit directory "
           "name and press Return.\n\nTo run KORW demonstration programs, select directory \n" +
           root + "/DEMOS.";
}

std::string DirectoryEditHint(const std::string& root) {
    return "Edit name of working directory and press Return.\nPress Escape to return to the "
           "directory tree.\nNotice that the working directory must be a subdirectory of\n" +
           root;
}

}  // namespace korw::gui
