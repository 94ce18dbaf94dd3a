// The help window with the command list beside it. Escape leaves the help; F1 opens the list,
// where Return, F1 or Right shows a command's section, Escape goes back to the text, and
// Backspace or Left leaves the help with the command name for the command line.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "gui/text_panes.h"

namespace korw::gui {

class HelpPane : public QWidget {
    Q_OBJECT
  public:
    // `text`: the help text, put in the window when help is first asked for.
    HelpPane(std::string text, QWidget* parent = nullptr);

    // Shows the text at the section of a command (the top for an empty topic); the keyboard
    // goes to the text.
    void ShowTopic(const std::string& topic);

    TextPane& Text() { return *text_; }
    ListPane& List() { return *list_; }

    // Called when the help is left: an empty text, or the command name taken from the list.
    std::function<void(const std::string& command)> left;
    std::function<void(const QString&)> status;

  private:
    bool TextKeys(QKeyEvent* e);
    bool ListKeys(QKeyEvent* e);
    void Leave(const std::string& command);

    std::string pending_;  // the help text until it is first shown
    TextPane* text_ = nullptr;
    ListPane* list_ = nullptr;
    QString lastSearch_;
};

// The help text as the window shows it: the parts written for the terminal (its pager, the
// keys of its command line) are replaced by the window's.
std::string WindowHelpText(std::string text);

}  // namespace korw::gui
