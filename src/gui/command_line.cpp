#include "gui/command_line.h"

#include <QApplication>
#include <QKeyEvent>
#include <algorithm>

#include "data/vectors.h"
#include "interp/command_table.h"
#include "interp/programs.h"
#include "interp/shortkeys.h"
#include "interp/state.h"

namespace korw::gui {

namespace {

constexpr const char* kQuitQuestion = "QUIT ? (Press Return to quit, Escape to continue)";

// The shortkey modifier set of a key event (Shift 1, Alt 2, Ctrl 4).
uint8_t ModifierSet(Qt::KeyboardModifiers m) {
    uint8_t set = 0;
    if (m & Qt::ShiftModifier) set |= interp::kShift;
    if (m & Qt::AltModifier) set |= interp::kAlt;
    if (m & Qt::ControlModifier) set |= interp::kCtrl;
    return set;
}

std::string Text(const QString& s) {
    return s.toStdString();
}

}  // namespace

CommandLine::CommandLine(QWidget* parent) : QLineEdit(parent) {
    setObjectName("CommandWindow");
}

void CommandLine::ResetBrowsing() {
    browsed_ = -1;
    typed_.clear();
}

void CommandLine::SetState(bool failed) {
    failed_ = failed;
    QPalette p = palette();
    QColor background =
        failed ? QColor(160, 0, 0) : (interp::CommandFileOpen ? QColor(0, 0, 110) : Qt::black);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Text, Qt::yellow);
    setPalette(p);
}

bool CommandLine::EmptyLineKey(QKeyEvent* event) {
    static const char* const kDigitCommands[] = {"SUMMARY ", "ONEWAYTABLE ", "TWOWAYTABLE ",
                                                 "THREEWAYTABLE ", "TABULATE "};
    if (!text().isEmpty() || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
    QString typed = event->text();
    if (typed.size() != 1) return false;
    QChar c = typed[0];
    if ((c == 'a' || c == 'A') && !(event->modifiers() & Qt::ShiftModifier)) {
        setText("INCLUDEALL");
        if (execute) execute("INCLUDEALL");
        return true;
    }
    if (c == '=') return setText("COMPUTE ="), true;
    if (c == '+') return setText("COMPUTE "), true;
    if (c >= '0' && c <= '4') return setText(kDigitCommands[c.unicode() - '0']), true;
    return false;
}

bool CommandLine::ShortKey(QKeyEvent* event) {
    int key = event->key();
    uint8_t modifiers = ModifierSet(event->modifiers());
    uint16_t code = 0;
    if (key >= Qt::Key_F2 && key <= Qt::Key_F12)
        code = interp::FunctionKey(key - Qt::Key_F1 + 1);
    else if (((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) &&
             (modifiers & (interp::kCtrl | interp::kAlt)) != 0)
        code = static_cast<uint16_t>(key);
    if (code == 0) return false;
    std::optional<std::string> entry = interp::FindShortKey(code, modifiers);
    if (!entry) return false;
    InsertShortKey(*entry);
    return true;
}

// The text goes in at the caret, replacing the selection; "?" stands for the selected text and
// a final "!" runs the line at once.
void CommandLine::InsertShortKey(std::string entry) {
    bool run = !entry.empty() && entry.back() == '!';
    if (run) entry.pop_back();
    std::string selected = Text(selectedText());
    std::string inserted;
    for (char c : entry) inserted += c == '?' ? selected : std::string(1, c);
    insert(QString::fromStdString(inserted));
    if (!run) return;
    std::string line = Text(text());
    size_t first = line.find_first_not_of(' ');
    line = first == std::string::npos ? "" : line.substr(first);
    setText(QString::fromStdString(line));
    if (execute && !line.empty()) execute(line);
}

// Up and Page Up step back through the log, Down and Page Down forward; the text being typed
// is kept when Up leaves the end of the log and comes back when Down returns past it, with its
// colour. A fetched command has the failure colour only when it failed.
void CommandLine::Browse(int steps) {
    if (log_ == nullptr) return;
    int count = static_cast<int>(log_->size());
    if (steps > 0 && browsed_ < 0) {
        if (interp::CommandFileOpen && text().isEmpty())
            if (std::optional<std::string> next = interp::NextCommandFileLine())
                setText(QString::fromStdString(*next));
        if (!interp::CommandFileOpen) SetState(false);
        return;
    }
    if (count == 0) return;
    if (browsed_ < 0) {
        if (steps > 0) return;
        typed_ = text();
        typedFailed_ = failed_;
        browsed_ = count;
    }
    browsed_ += steps;
    if (browsed_ < 0) browsed_ = 0;
    if (browsed_ >= count) {
        browsed_ = -1;
        setText(typed_);
        SetState(typedFailed_);
        if (browsed) browsed(-1);
        return;
    }
    std::string line = (*log_)[static_cast<size_t>(browsed_)];
    bool failed = line.rfind("*** ", 0) == 0;
    if (failed) line.erase(0, 4);
    setText(QString::fromStdString(line));
    SetState(failed);
    if (browsed) browsed(browsed_);
}

void CommandLine::Escape() {
    if (!text().isEmpty())
        clear();
    else
        setText(interp::CommandFileOpen ? "OPENCOMMANDFILE" : kQuitQuestion);
    SetState(false);
}

void CommandLine::keyPressEvent(QKeyEvent* event) {
    int key = event->key();
    Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (busy && busy()) {
        if (key == Qt::Key_Escape && escapeWhileBusy) escapeWhileBusy();
        return;
    }
    if (key == Qt::Key_F1) {
        if (mods & Qt::ShiftModifier) return event->ignore();  // the window's hint switch
        if (help) help((mods & Qt::ControlModifier) != 0);
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (mods == Qt::ControlModifier) return setText(text().left(cursorPosition()));
        if (mods != Qt::NoModifier && mods != Qt::KeypadModifier) return;
        std::string line = Text(text());
        if (line.find_first_not_of(' ') != std::string::npos && execute) execute(line);
        return;
    }
    if (key == Qt::Key_Escape) return Escape();
    if (key == Qt::Key_Up || key == Qt::Key_PageUp) return Browse(-1);
    if (key == Qt::Key_Down || key == Qt::Key_PageDown) return Browse(1);
    if ((key == Qt::Key_Right || key == Qt::Key_Left) && mods == Qt::ControlModifier) {
        int caret = cursorPosition();
        std::string line = interp::BrowseName(Text(text()), caret, key == Qt::Key_Right);
        setText(QString::fromStdString(line));
        setCursorPosition(caret);
        return;
    }
    if (ShortKey(event)) return;
    if (EmptyLineKey(event)) return;
    if (event->text() == QString::fromUtf8("\u00bd")) return insert("|");
    QLineEdit::keyPressEvent(event);
}

void CommandLine::keyReleaseEvent(QKeyEvent* event) {
    QLineEdit::keyReleaseEvent(event);
    switch (event->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
        case Qt::Key_Escape:
        case Qt::Key_F1:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Space:
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Alt:
            return;
        default:
            break;
    }
    if (interp::ProgramRunning || (busy && busy()) || event->isAutoRepeat()) return;
    std::string line = Text(text());
    bool invalid = false;
    std::string expanded = interp::CompleteTypedLine(line, shortCompletion_, &invalid);
    if (invalid) QApplication::beep();
    if (expanded == line) return;
    int caret =
        cursorPosition() + static_cast<int>(expanded.size()) - static_cast<int>(line.size());
    setText(QString::fromStdString(expanded));
    setCursorPosition(std::clamp(caret, 0, static_cast<int>(expanded.size())));
}

}  // namespace korw::gui
