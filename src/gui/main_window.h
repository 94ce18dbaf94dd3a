// The main window of korw-gui: the command log, the command line, and one area below them that
// shows in turn the picture, the results under review, a file, the help with the command list,
// the program editor, the demonstration text and the working-directory selector.
#pragma once

#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStackedWidget>
#include <QTreeView>
#include <optional>
#include <string>
#include <vector>

#include "gui/command_line.h"
#include "gui/picture_pane.h"
#include "gui/text_panes.h"
#include "gui/window_settings.h"

class QFileSystemModel;

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
    // An error box while the editor's program runs: its line is selected afterwards.
    void NoteProgramError(const std::string& text);
    void RequestClose();

    // For the tests and the desktop: the windows by role.
    CommandLine& Command() { return *command_; }
    TextPane& Log() { return *log_; }
    TextPane& Result() { return *result_; }
    TextPane& Help() { return *help_; }
    ListPane& CommandList() { return *list_; }
    TextPane& Editor() { return *editor_; }
    PicturePane& Picture() { return *picture_; }
    QWidget* Shown() const { return stack_->currentWidget(); }
    bool SessionStarted() const { return started_; }
    bool HintsOn() const { return hintsOn_; }

    // Runs a typed command as Return does.
    void Execute(const std::string& text);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildWindows();
    void BuildSelector();
    void PlaceWindow();
    void SetHints(bool on);
    void StartSessionIn(const std::string& directory);
    void ShowPane(QWidget* pane, QWidget* focus);
    void BackToCommandLine();
    void SavePictureAs();
    void ShowHelp(const std::string& topic);
    bool HelpKeys(QKeyEvent* event);
    bool ListKeys(QKeyEvent* event);
    bool ResultKeys(QKeyEvent* event);
    bool PictureKeys(QKeyEvent* event);
    bool EditorKeys(QKeyEvent* event);
    bool SaveEditor();
    void RunEditor();
    void SelectProgramLine(int line);
    void LeaveEditor();
    bool Search(QPlainTextEdit& pane, bool ask);
    void SelectorChosen(const std::string& directory);
    bool CloseSession();
    std::string CommandOfLine(const std::string& line) const;

    GuiOptions options_;
    GuiDesktop& desktop_;
    WindowSettings settings_;
    bool hintsOn_ = true;
    bool started_ = false;
    bool closeRequested_ = false;
    bool closing_ = false;
    bool escape_ = false;
    int busy_ = 0;
    std::string startCommand_;
    std::string helpText_;

    TextPane* log_ = nullptr;
    std::vector<std::string> logLines_;
    CommandLine* command_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    PicturePane* picture_ = nullptr;
    TextPane* result_ = nullptr;
    QWidget* helpPage_ = nullptr;
    TextPane* help_ = nullptr;
    ListPane* list_ = nullptr;
    TextPane* editor_ = nullptr;
    TextPane* demo_ = nullptr;
    QWidget* selector_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLineEdit* dirEdit_ = nullptr;
    QFileSystemModel* dirModel_ = nullptr;

    enum class ResultMode { None, Review, File };
    ResultMode resultMode_ = ResultMode::None;
    QEventLoop* reviewLoop_ = nullptr;
    int reviewAnswer_ = -1;  // 1 Return, 0 Escape, -1 not yet
    QEventLoop* pictureLoop_ = nullptr;
    bool threeD_ = false;
    bool pictureShown_ = false;
    bool imageShown_ = false;  // a picture file of SHOW, not the plot bitmap
    std::string editorFile_;
    std::string savedCommandText_;
    QString lastSearch_;
    std::optional<int> failedLine_;
    friend class GuiDesktop;
};

}  // namespace korw::gui
