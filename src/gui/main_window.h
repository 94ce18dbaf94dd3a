// The main window of korw-gui: the command log and the command line, and one area below them
// that shows one pane at a time: the picture, the results under review or a file, the help with
// the command list, the program editor, the demonstration text and the working-directory
// selector. Each pane owns its keys and its wait for an answer, and says when it is left; the
// window only switches between the panes, gives the keyboard back and runs commands.
#pragma once

#include <QMainWindow>
#include <QStackedWidget>
#include <string>
#include <vector>

#include "gui/command_line.h"
#include "gui/editor_pane.h"
#include "gui/help_pane.h"
#include "gui/picture_pane.h"
#include "gui/result_pane.h"
#include "gui/selector_pane.h"
#include "gui/text_panes.h"
#include "gui/window_settings.h"

class QLabel;
class QTimer;

namespace korw::gui {

class GuiDesktop;

struct GuiOptions {
    std::string root;                    // the root directory (session files)
    std::vector<std::string> arguments;  // FILE.KOR | FILE.KDS, then values
    std::string workingDirectory;        // when set, the session starts there without the selector
};

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    MainWindow(const GuiOptions& options, GuiDesktop& desktop);
    ~MainWindow() override;

    // The start-up checks, the start-up picture, then the directory selector or the session.
    void Activate();

    // The services the desktop passes on.
    bool Review(const std::string& file);
    void ShowPicture(bool threeD);
    void ShowImage(const std::string& file);
    void ShowFile(const std::string& file);
    std::string EditFile(const std::string& file);
    void ShowProgramNotice(const std::string& notice);
    void ShowDemoText(const std::string& text);
    void ShowDemoMenu();
    void LogCommand(const std::string& line);
    bool TakeEscape();
    // The long-work hook of a running command: pending events, and the status line once the
    // command has run a second; `ended` takes the status line away.
    void ShowProgress(bool ended);
    // An error box while the editor's program runs: its line is selected afterwards.
    void NoteProgramError(const std::string& text) { editor_->NoteProgramError(text); }
    void RequestClose();

    // For the tests and the desktop: the windows by role.
    CommandLine& Command() { return *command_; }
    TextPane& Log() { return *log_; }
    ResultPane& Result() { return *result_; }
    TextPane& Help() { return help_->Text(); }
    ListPane& CommandList() { return help_->List(); }
    EditorPane& Editor() { return *editor_; }
    PicturePane& Picture() { return *picture_; }
    SelectorPane* Selector() { return selector_; }
    QWidget* Shown() const { return stack_->currentWidget(); }
    bool SessionStarted() const { return started_; }
    bool HintsOn() const { return hintsOn_; }
    // The text of the status line under the panes (what F2 and a failed search report).
    QString Status() const;
    // The log line that Up or Down fetched and marks, -1 when none is.
    int MarkedLogLine() const { return markedLine_; }

    // Runs a typed command as Return does.
    void Execute(const std::string& text);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildWindows();
    void BuildSelector();
    void PlaceWindow();
    void SetHints(bool on);
    void StartSessionIn(const std::string& directory);
    void SelectorChosen(const std::string& directory);
    void ShowPane(QWidget* pane, QWidget* focus);
    void BackToCommandLine();
    void ShowHelp(const std::string& topic);
    void RunFromEditor(const std::string& command);
    void MarkLogLine(int line);
    void ShowStatus(const QString& text);
    bool CloseSession();
    bool Busy() const { return busy_ > 0; }

    GuiOptions options_;
    GuiDesktop& desktop_;
    WindowSettings settings_;
    bool hintsOn_ = true;
    bool started_ = false;
    bool closeRequested_ = false;
    bool closing_ = false;
    bool escape_ = false;         // Escape pressed while a program runs, taken between its lines
    bool progressShown_ = false;  // the status line shows a running command's progress
    int busy_ = 0;                // commands running (a program's picture or review nests them)
    std::string startCommand_;

    TextPane* log_ = nullptr;
    std::vector<std::string> logLines_;
    int markedLine_ = -1;
    CommandLine* command_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    PicturePane* picture_ = nullptr;
    ResultPane* result_ = nullptr;
    HelpPane* help_ = nullptr;
    EditorPane* editor_ = nullptr;
    TextPane* demo_ = nullptr;
    SelectorPane* selector_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* statusTimer_ = nullptr;
    friend class GuiDesktop;
};

}  // namespace korw::gui
