// The text windows of the main window: a read-only or editable text whose keys the window
// decides (result window, help, file display, editor, demonstration text), a list box with the
// same hook, and the helpers they share (search, printing, loading a long text in blocks).
#pragma once

#include <QListWidget>
#include <QPlainTextEdit>
#include <functional>
#include <optional>
#include <string>

class QEventLoop;

namespace korw::gui {

// A text window whose key presses go first to `keys` (true: handled).
class TextPane : public QPlainTextEdit {
    Q_OBJECT
  public:
    using QPlainTextEdit::QPlainTextEdit;
    std::function<bool(QKeyEvent*)> keys;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

class ListPane : public QListWidget {
    Q_OBJECT
  public:
    using QListWidget::QListWidget;
    std::function<bool(QKeyEvent*)> keys;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A caller's wait for a pane's answer (a key, a choice): Begin arms it, Run waits in a nested
// event loop until Answer, or returns at once when the answer came between the two.
class Wait {
  public:
    void Begin();
    int Run();
    void Answer(int answer);  // nothing unless armed
    bool Waiting() const { return armed_; }
    bool Answered() const { return answer_.has_value(); }

  private:
    bool armed_ = false;
    std::optional<int> answer_;
    QEventLoop* loop_ = nullptr;
};

// Searches forwards from the caret (or the end of the selection), ignoring case and taking any
// run of blanks in the phrase as any run of white space; the match is selected. False when
// there is none.
bool SearchForward(QPlainTextEdit& pane, const QString& phrase);

// The find dialog (when `ask` or nothing was searched before) and the search from the caret
// for `last`, which keeps the phrase for the next search. A found phrase is selected;
// otherwise the window beeps and the status line says so.
void FindInPane(QPlainTextEdit& pane, QString& last, bool ask,
                const std::function<void(const QString&)>& status);

// Prints the selected part, or the whole text when nothing is selected, through the print
// dialog.
void PrintText(QPlainTextEdit& pane);

// Replaces the text of the pane by a file's, appending it in blocks of lines with the window's
// events processed between them, so that a very long output does not freeze the window.
// `stop` is looked at between blocks: true ends the loading (the rest is not shown).
void LoadTextInBlocks(QPlainTextEdit& pane, const std::string& file,
                      const std::function<bool()>& stop);

// Sets a window's colours.
void Colour(QWidget& widget, const QColor& text, const QColor& background);

}  // namespace korw::gui
