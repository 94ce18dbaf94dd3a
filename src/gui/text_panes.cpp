#include "gui/text_panes.h"

#include <QApplication>
#include <QEventLoop>
#include <QInputDialog>
#include <QKeyEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <fstream>

#include "data/files.h"

namespace korw::gui {

namespace {

// Lines appended between two looks at the window's events.
constexpr int kLinesPerBlock = 4000;

}  // namespace

void TextPane::keyPressEvent(QKeyEvent* event) {
    if (keys && keys(event)) return;
    QPlainTextEdit::keyPressEvent(event);
}

void ListPane::keyPressEvent(QKeyEvent* event) {
    if (keys && keys(event)) return;
    QListWidget::keyPressEvent(event);
}

void Wait::Begin() {
    armed_ = true;
    answer_.reset();
}

int Wait::Run() {
    if (!answer_) {
        QEventLoop loop;
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;
    }
    armed_ = false;
    return answer_.value_or(0);
}

void Wait::Answer(int answer) {
    if (!armed_ || answer_) return;
    answer_ = answer;
    if (loop_ != nullptr) loop_->exit(answer);
}

void FindInPane(QPlainTextEdit& pane, QString& last, bool ask,
                const std::function<void(const QString&)>& status) {
    if (ask || last.isEmpty()) {
        bool ok = false;
        QString phrase =
            QInputDialog::getText(&pane, "Find", "Find what:", QLineEdit::Normal, last, &ok);
        if (!ok || phrase.trimmed().isEmpty()) return;
        last = phrase;
    }
    if (SearchForward(pane, last)) {
        if (status) status(QString());
        return;
    }
    QApplication::beep();
    if (status) status("\"" + last.simplified() + "\" not found below the cursor");
}

bool SearchForward(QPlainTextEdit& pane, const QString& phrase) {
    QStringList words = phrase.simplified().split(' ', Qt::SkipEmptyParts);
    if (words.isEmpty()) return false;
    for (QString& w : words) w = QRegularExpression::escape(w);
    QRegularExpression pattern(words.join("\\s+"), QRegularExpression::CaseInsensitiveOption);
    QTextCursor found = pane.document()->find(pattern, pane.textCursor().selectionEnd());
    if (found.isNull()) return false;
    pane.setTextCursor(found);
    pane.centerCursor();
    return true;
}

void PrintText(QPlainTextEdit& pane) {
    QPrinter printer;
    QPrintDialog dialog(&printer, &pane);
    bool selection = pane.textCursor().hasSelection();
    if (selection) dialog.setOption(QAbstractPrintDialog::PrintSelection);
    if (dialog.exec() != QDialog::Accepted) return;
    QTextDocument document;
    document.setDefaultFont(pane.font());
    document.setPlainText(selection ? pane.textCursor().selection().toPlainText()
                                    : pane.toPlainText());
    document.print(&printer);
}

void LoadTextInBlocks(QPlainTextEdit& pane, const std::string& file,
                      const std::function<bool()>& stop) {
    pane.clear();
    std::ifstream in(data::ResolveExisting(file), std::ios::binary);
    std::string line, block;
    int lines = 0;
    bool first = true;
    auto flush = [&] {
        if (block.empty()) return;
        if (!block.empty() && block.back() == '\n') block.pop_back();
        QTextCursor cursor(pane.document());
        cursor.movePosition(QTextCursor::End);
        if (!first) cursor.insertBlock();
        cursor.insertText(QString::fromUtf8(block.data(), static_cast<qsizetype>(block.size())));
        first = false;
        block.clear();
        lines = 0;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        block += line;
        block += '\n';
        if (++lines < kLinesPerBlock) continue;
        flush();
        pane.moveCursor(QTextCursor::Start);
        QApplication::processEvents();
        if (stop && stop()) return;
    }
    flush();
    pane.moveCursor(QTextCursor::Start);
}

void Colour(QWidget& widget, const QColor& text, const QColor& background) {
    QPalette p = widget.palette();
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Window, background);
    widget.setPalette(p);
    widget.setAutoFillBackground(true);
}

}  // namespace korw::gui
