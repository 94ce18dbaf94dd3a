// The desktop services the interpreter and the session lean on: boxes, dialogs, the shell,
// result review and the Escape key. The terminal console and batch mode implement it; a
// desktop window will be a third implementation. The interpreter owns this interface so that
// it never includes anything of the front ends.
#pragma once

#include <optional>
#include <string>

namespace korw::interp {

struct FileDialog {
    std::string title;
    std::string filter;            // "KORW program (*.KOR)|*.KOR"
    std::string defaultExtension;  // ".OUT"
    std::string directory;         // where the dialog opens
    std::string name;              // proposed file name
    bool overwritePrompt = false;
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    virtual void Beep() = 0;                             // the warning beep
    virtual void ErrorBox(const std::string& text) = 0;  // shown until OK
    virtual bool Confirm(const std::string& text) = 0;   // Yes = true
    virtual std::optional<std::string> OpenDialog(const FileDialog& dialog) = 0;
    virtual std::optional<std::string> SaveDialog(const FileDialog& dialog) = 0;
    virtual void ShellOpen(const std::string& file, const std::string& arguments) = 0;
    virtual bool CopyFile(const std::string& from, const std::string& to) = 0;

    // Looks at pending input while a program runs; true when Escape (or Ctrl+C) was pressed.
    virtual bool EscapeRequested() = 0;

    // Shows a command's results (the file) for review; true when they are to be kept (Return),
    // false when suppressed (Escape).
    virtual bool ReviewResults(const std::string& file) = 0;

    // The command log: a command that ran, or failed ("*** " + text).
    virtual void LogCommand(const std::string& line) = 0;

    // The command window shows the normalised command.
    virtual void SetCommandText(const std::string& text) = 0;

    // The file display: a text file shown for reading (SHOW). Front ends without one ignore it.
    virtual void ShowFile(const std::string& file) { (void)file; }

    // The program editor (EDIT); an empty name asks for the file. Returns the error text, empty
    // on success. Front ends without an editor ignore it.
    virtual std::string EditFile(const std::string& file) {
        (void)file;
        return "";
    }

    // The picture of PLOT or HISTOGRAM on show (three-dimensional ones can be turned); the
    // front end offers to save it. Front ends without pictures ignore it.
    virtual void ShowPicture(bool threeD) { (void)threeD; }

    // A picture file named by SHOW (.JPG, .BMP, .PNG): shown in the picture area. Front ends
    // without one hand it to the desktop's viewer.
    virtual void ShowImage(const std::string& file) { ShellOpen(file, ""); }

    // A program starts: the command window shows `notice` (" Running KORW program " + name +
    // " - press Escape to interrupt ") until the program ends. Front ends without one ignore it.
    virtual void ShowProgramNotice(const std::string& notice) { (void)notice; }

    // Demonstration mode: the demonstration text window shows `text` (the comment lines met
    // before a command of a demonstration's command file). Front ends without one ignore it.
    virtual void ShowDemoText(const std::string& text) { (void)text; }

    // Demonstration mode: the demonstration menu, README in the demonstration text window and
    // "OPENCOMMANDFILE 1" to "OPENCOMMANDFILE 6" in the command log.
    virtual void ShowDemoMenu() {}

    // QUIT, or a failed start: the main window closes once the present command is done.
    virtual void CloseMainWindow() = 0;
};

}  // namespace korw::interp
