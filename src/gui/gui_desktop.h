// The desktop services in the Qt window: message boxes, file dialogs, the print dialog, the
// shell, and the windows of MainWindow for results, pictures, files and the editor.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "interp/desktop.h"

namespace korw::gui {

class MainWindow;

class GuiDesktop : public interp::Desktop {
  public:
    void SetWindow(MainWindow* window) { window_ = window; }

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
    void SetCommandText(const std::string& text) override;
    void ShowFile(const std::string& file) override;
    std::string EditFile(const std::string& file) override;
    void ShowPicture(bool threeD) override;
    void ShowImage(const std::string& file) override;
    void ShowProgramNotice(const std::string& notice) override;
    void ShowDemoText(const std::string& text) override;
    void ShowDemoMenu() override;
    void CloseMainWindow() override;

    // Scripted answers for tests that cannot click a modal box: boxes are recorded instead of
    // shown, confirmations get `confirmAnswer`, dialogs take the next of `dialogAnswers`
    // (an empty text cancels; none left cancels).
    struct Script {
        bool on = false;
        std::vector<std::string> boxes;
        bool confirmAnswer = true;
        std::deque<std::string> dialogAnswers;
        std::vector<std::string> dialogTitles;
        std::vector<std::string> dialogNames;  // the names the dialogs proposed
        int beeps = 0;
    };
    Script script;

  private:
    void Reactivate();
    std::optional<std::string> ScriptedDialog(const interp::FileDialog& dialog);
    MainWindow* window_ = nullptr;
};

// "KORW program (*.KOR)|*.KOR" as a Qt filter, each pattern in upper and lower case.
std::string QtFilter(const std::string& filter);

}  // namespace korw::gui
