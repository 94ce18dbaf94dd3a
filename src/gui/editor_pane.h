// The program editor: F2 saves, F9 saves and runs the program (or only its selected lines,
// the failing line selected afterwards), F10 shows the session output file, Ctrl+F and Ctrl+L
// search, Ctrl+Return cuts the line, F1 and Ctrl+F1 ask for help, Ctrl+P prints, Escape leaves
// (asking whether to save changes).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "gui/text_panes.h"

namespace korw::gui {

class GuiDesktop;

class EditorPane : public TextPane {
    Q_OBJECT
  public:
    explicit EditorPane(GuiDesktop& desktop, QWidget* parent = nullptr);

    // Loads a program file (made when it does not exist); an error text when that fails.
    std::string Open(const std::string& file);
    bool IsOpen() const { return !file_.empty(); }
    const std::string& File() const { return file_; }
    // A box while the editor's program runs: its program line is selected afterwards.
    void NoteProgramError(const std::string& text);

    std::function<void(const std::string& command)> run;  // runs "RUN file" as a program
    std::function<bool()> busy;                           // a command or program is running
    std::function<void(const std::string& topic)> help;
    std::function<void()> showSessionOutput;
    std::function<void()> left;
    std::function<void(const QString&)> status;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool Keys(QKeyEvent* e);
    bool Save();
    void Run();
    void SelectProgramLine(int line);
    void Leave();

    GuiDesktop& desktop_;
    std::string file_;
    QString lastSearch_;
    std::optional<int> failedLine_;
};

// The command word of a line, as the command table names it ("" when there is none).
std::string CommandOfLine(const std::string& line);

}  // namespace korw::gui
