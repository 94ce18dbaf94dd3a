// The desktop services on a terminal: BEL for the beep, boxes as coloured lines answered by a
// key, dialogs as file-name prompts, results shown and kept or suppressed by one key.
#pragma once

#include <cstdio>  // before readline, whose headers use FILE

#include <readline/keymaps.h>

#include <string>
#include <string_view>
#include <vector>

#include "console/inline_picture.h"
#include "interp/desktop.h"

namespace korw::console {

class TerminalDesktop : public interp::Desktop {
  public:
    void Beep() override;
    void ErrorBox(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<std::string> OpenDialog(const interp::FileDialog& dialog) override;
    std::optional<std::string> SaveDialog(const interp::FileDialog& dialog) override;
    void ShellOpen(const std::string& file, const std::string& arguments) override;
    bool CopyFile(const std::string& from, const std::string& to) override;
    bool EscapeRequested() override;
    bool ReviewResults(const std::string& file) override;
    void LogCommand(const std::string& line) override;
    void SetCommandText(const std::string&) override {}
    void ShowFile(const std::string& file) override;
    std::string EditFile(const std::string& file) override;
    void ShowPicture(bool threeD) override;
    void ShowImage(const std::string& file) override;
    void ShowProgramNotice(const std::string& notice) override;
    void ShowDemoText(const std::string& text) override;
    void ShowDemoMenu() override;
    void CloseMainWindow() override { closing_ = true; }

    bool Closing() const { return closing_; }

  private:
    bool closing_ = false;
    bool demoHintShown_ = false;
    InlinePictures pictures_;
};

// The text with its control characters (but line feeds and tabs) written visibly, ESC as "^[",
// DEL as "^?", so that bytes read from a data file cannot drive the terminal. Files keep them.
std::string Visible(std::string_view text);

// Shows a text in the pager, starting at the first line equal to `topic` when given.
void ShowText(const std::string& text, const std::string& topic);

// One key from the terminal without echo or line editing: 13 for Return, 27 for Escape.
int ReadKey();

// Sets the Escape flag on Ctrl+C while a program runs, and stops the running command.
void InstallInterruptHandler();
// Forgets a Ctrl+C that a command before has acted on, so that it cannot stop the next program.
void ForgetInterrupt();

// A line typed at a prompt other than the command line (a file name, the working directory),
// trailing blanks removed; nothing when the user cancels it (Escape on an empty line, or the
// end of the input).
std::optional<std::string> ReadPromptLine(const std::string& prompt);

// Tab at a file dialog's prompt: the matching file names (nullptr when no dialog is open, so
// that readline completes as usual).
char** CompleteDialogFileName(const char* text);

// Tab elsewhere: the names in the dialog's directory that its filter admits, case ignored.
char** CompleteFileName(const char* text, const interp::FileDialog& files);

// The extensions of a filter "text|*.KDS|text|*.jpg;*.jpeg", upper-cased with their dots; empty
// when the filter lets every file through ("*.*", "*" or no filter).
std::vector<std::string> FilterExtensions(const std::string& filter);

// The name a save prompt answers: the dialog's default extension is added to a name without an
// extension; a name with any extension (or ending in ".") is kept as typed.
std::string WithDefaultExtension(const std::string& name, const interp::FileDialog& dialog);

// The Escape key on the empty line of such a prompt: ends the prompt as cancelled.
void CancelPromptLine();

// The keymap of such prompts; the command line keeps the keymap that is current otherwise.
void UsePromptKeys(Keymap keymap);

}  // namespace korw::console
