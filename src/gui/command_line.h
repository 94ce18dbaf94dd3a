// The command window: a one-line edit with the keys of the command line (completion of the
// command word at every key release, the log browsed with Up and Down, the keys of an empty
// line, shortkeys, Ctrl+arrows through command and vector names).
#pragma once

#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

#include "interp/command_table.h"

namespace korw::gui {

class CommandLine : public QLineEdit {
    Q_OBJECT
  public:
    explicit CommandLine(QWidget* parent = nullptr);

    // The command log the line browses (the lines as logged, failed ones with "*** ").
    void SetLog(const std::vector<std::string>* log) { log_ = log; }
    // Back to the end of the log (after a command ran).
    void ResetBrowsing();
    // Red while a failed command is kept, the other colour while a command file is open.
    void SetState(bool failed);

    std::function<void(const std::string&)> execute;  // Return (and "!" shortkeys)
    std::function<void(bool onCommand)> help;         // F1, Ctrl+F1
    std::function<bool()> busy;                       // a command or program is running
    std::function<void()> escapeWhileBusy;
    std::function<void(int line)> browsed;  // the log line Up or Down fetched, -1 for none

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    bool EmptyLineKey(QKeyEvent* event);
    bool ShortKey(QKeyEvent* event);
    void InsertShortKey(std::string text);
    void Browse(int steps);
    void Escape();

    const std::vector<std::string>* log_ = nullptr;
    int browsed_ = -1;          // the log line shown, -1 at the end of the log
    QString typed_;             // the text being typed when Up left the end of the log
    bool failed_ = false;       // the line shows a failed command (its colour)
    bool typedFailed_ = false;  // the same for the text being typed
    interp::ShortCompletion shortCompletion_;  // the previous key's completion of a short word
};

}  // namespace korw::gui
