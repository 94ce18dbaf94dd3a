#include "gui/editor_pane.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <filesystem>
#include <fstream>

#include "data/vectors.h"
#include "gui/gui_desktop.h"
#include "interp/command_table.h"
#include "interp/programs.h"
#include "interp/state.h"

namespace korw::gui {

namespace fs = std::filesystem;

namespace {

bool Unmodified(const QKeyEvent* e) {
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool CtrlOnly(const QKeyEvent* e) {
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

}  // namespace

std::string CommandOfLine(const std::string& line) {
    size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos) return "";
    std::string word = line.substr(begin, line.find(' ', begin) - begin);
    return interp::MatchCommand(data::UpperName(word));
}

EditorPane::EditorPane(GuiDesktop& desktop, QWidget* parent) : TextPane(parent), desktop_(desktop) {
    setObjectName("ProgramEditor");
    setLineWrapMode(QPlainTextEdit::NoWrap);
}

std::string EditorPane::Open(const std::string& file) {
    std::string path;
    std::string error = interp::PrepareProgramFile(file, path);
    if (!error.empty() || path.empty()) return error;
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + " could not be loaded";
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    document()->setModified(false);
    file_ = fs::absolute(path).string();
    return "";
}

// The text is written with the blanks at the ends of its lines removed.
bool EditorPane::Save() {
    std::ofstream out(file_, std::ios::binary | std::ios::trunc);
    QStringList lines = toPlainText().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();  // the last line's end
    for (QString& line : lines) {
        while (line.endsWith(' ')) line.chop(1);
        out << line.toStdString() << "\n";
    }
    out.close();
    if (!out) {
        desktop_.Beep();
        desktop_.ErrorBox("Failed to save " + file_);
        return false;
    }
    document()->setModified(false);
    return true;
}

// F9: the whole program, or only the selected lines, saved and run; a failing line is selected
// afterwards.
void EditorPane::Run() {
    if (data::UpperName(fs::path(file_).extension().string()) != ".KOR" || (busy && busy())) return;
    QTextCursor selection = textCursor();
    QString fullText = toPlainText();
    int start = selection.selectionStart(), end = selection.selectionEnd();
    int firstLine = 0;
    bool modified = document()->isModified();
    interp::RunSelectionOnly = selection.hasSelection();
    if (interp::RunSelectionOnly) {
        firstLine = document()->findBlock(start).blockNumber();
        setPlainText(selection.selectedText().replace(QChar(0x2029), '\n'));
        modified = true;
    }
    if (modified) Save();
    setReadOnly(true);
    Colour(*this, Qt::black, QColor(220, 220, 220));
    failedLine_.reset();
    std::string stem = (fs::path(file_).parent_path() / fs::path(file_).stem()).string();
    if (run) run("RUN " + stem);
    setReadOnly(false);
    Colour(*this, Qt::black, Qt::white);
    if (interp::RunSelectionOnly) {
        interp::RunSelectionOnly = false;
        setPlainText(fullText);
        Save();
        QTextCursor restored(document());
        restored.setPosition(start);
        restored.setPosition(end, QTextCursor::KeepAnchor);
        setTextCursor(restored);
    }
    if (failedLine_) SelectProgramLine(firstLine + *failedLine_);
    failedLine_.reset();
}

// Selects the logical program line that holds the given physical line (1-based in the file
// after `firstLine` lines): lines before it that end with "\" belong to it as well.
void EditorPane::SelectProgramLine(int line) {
    QTextBlock last = document()->findBlockByNumber(line - 1);
    if (!last.isValid()) return;
    QTextBlock first = last;
    for (QTextBlock b = first.previous(); b.isValid() && b.text().trimmed().endsWith('\\');
         b = b.previous())
        first = b;
    QTextCursor cursor(document());
    cursor.setPosition(first.position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void EditorPane::NoteProgramError(const std::string& text) {
    // The location the program runner appends: " (line n)" or " (loop k, line n)".
    size_t at = text.rfind("line ");
    if (at == std::string::npos || text.empty() || text.back() != ')') return;
    try {
        failedLine_ = std::stoi(text.substr(at + 5));
    } catch (const std::exception&) {
    }
}

void EditorPane::Leave() {
    if (document()->isModified() && desktop_.Confirm("Save changes to " + file_ + "?")) Save();
    file_.clear();
    if (left) left();
}

void EditorPane::keyPressEvent(QKeyEvent* event) {
    if (Keys(event)) return;
    TextPane::keyPressEvent(event);
}

bool EditorPane::Keys(QKeyEvent* e) {
    int key = e->key();
    if (busy && busy()) return key == Qt::Key_Escape;
    switch (key) {
        case Qt::Key_Escape:
            Leave();
            return true;
        case Qt::Key_F1:
            if (e->modifiers() & Qt::ShiftModifier) return false;
            if (help)
                help(CtrlOnly(e) ? CommandOfLine(textCursor().block().text().toStdString()) : "");
            return true;
        case Qt::Key_F2:
            if (!Unmodified(e)) return false;
            if (Save() && status)
                status("Saved " + QString::fromStdString(fs::path(file_).filename().string()));
            return true;
        case Qt::Key_F9:
            if (!Unmodified(e)) return false;
            Run();
            return true;
        case Qt::Key_F10:
            if (!Unmodified(e)) return false;
            if (showSessionOutput) showSessionOutput();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!CtrlOnly(e)) return false;
            {
                QTextCursor c = textCursor();
                c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
                c.removeSelectedText();
            }
            return true;
        case Qt::Key_F:
            return CtrlOnly(e) ? (FindInPane(*this, lastSearch_, true, status), true) : false;
        case Qt::Key_L:
            return CtrlOnly(e) ? (FindInPane(*this, lastSearch_, false, status), true) : false;
        case Qt::Key_P:
            return CtrlOnly(e) ? (PrintText(*this), true) : false;
        default:
            return false;
    }
}

}  // namespace korw::gui
