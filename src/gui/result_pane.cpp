#include "gui/result_pane.h"

#include <QKeyEvent>

#include "gui/window_settings.h"

namespace korw::gui {

namespace {

const QColor kReview(170, 190, 150);
constexpr const char* kFileHint =
    "Press Escape or Return to leave\nPrint (All or selected portion) by Ctrl-P.";

}  // namespace

ResultPane::ResultPane(QWidget* parent) : TextPane(parent) {
    setObjectName("ShowFileWindow");
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
}

void ResultPane::SetHints(bool on) {
    hintsOn_ = on;
    const char* hint = mode_ == Mode::Review ? kResultHint
                       : session_            ? kSessionOutputHint
                       : mode_ == Mode::File ? kFileHint
                                             : kResultHint;
    setToolTip(on ? QString(hint) : QString());
}

bool ResultPane::Review(const std::string& file, const std::function<void()>& shown) {
    mode_ = Mode::Review;
    session_ = false;
    Colour(*this, Qt::black, kReview);
    SetHints(hintsOn_);
    wait_.Begin();
    shown();
    // Return or Escape may come while a long text is still being loaded.
    LoadTextInBlocks(*this, file, [this] { return wait_.Answered(); });
    bool keep = wait_.Run() == 1;
    mode_ = Mode::None;
    clear();
    Colour(*this, Qt::black, Qt::white);
    return keep;
}

void ResultPane::ShowFile(const std::string& file, bool session,
                          const std::function<void()>& shown) {
    mode_ = Mode::File;
    session_ = session;
    Colour(*this, Qt::black, Qt::white);
    SetHints(hintsOn_);
    shown();
    LoadTextInBlocks(*this, file, [this] { return mode_ != Mode::File; });
    if (session) moveCursor(QTextCursor::End);
}

void ResultPane::keyPressEvent(QKeyEvent* e) {
    Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    if (e->key() == Qt::Key_P && mods == Qt::ControlModifier) return PrintText(*this);
    bool ret = (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && mods == Qt::NoModifier;
    bool esc = e->key() == Qt::Key_Escape;
    if (!ret && !esc) return TextPane::keyPressEvent(e);
    if (mode_ == Mode::Review) return wait_.Answer(ret ? 1 : 0);
    if (mode_ == Mode::File) {
        mode_ = Mode::None;
        session_ = false;
        if (left) left();
    }
}

}  // namespace korw::gui
