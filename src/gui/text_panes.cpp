#include "gui/text_panes.h"

#include <QApplication>
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
