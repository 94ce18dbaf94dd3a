#include "gui/help_pane.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QTextBlock>

#include "interp/command_table.h"

namespace korw::gui {

namespace {

const QColor kAqua(0, 255, 255);
const QColor kTeal(0, 128, 128);

constexpr const char* kTerminalPager =
    "In the terminal version this text is shown in a pager: type a slash and a\n"
    "command name to jump to its section, for example  /^SUMMARY$  in less.\n";
constexpr const char* kWindowReading =
    "In the window, F1 opens the list of commands beside this text: Return on\n"
    "a name jumps to its section. Ctrl+F searches the text, Ctrl+L repeats.\n";

constexpr const char* kTerminalKeysHeading = "Keys of the command line (terminal version";
constexpr const char* kNextHeading = "\nStarting KORW\n";

constexpr const char* kWindowKeys =
    "Keys of the window (korw-gui)\n"
    "-----------------------------\n"
    "\n"
    "The command line (the yellow line under the command log):\n"
    "  - The command word is completed as you type. A beep means that the\n"
    "    typed word fits no command.\n"
    "  - Return runs the command. A failed command stays in the line, on red,\n"
    "    so that you can correct it.\n"
    "  - Ctrl+Return cuts the line at the cursor.\n"
    "  - Up and Down (Page Up, Page Down) walk through the command log; the\n"
    "    line fetched is marked in the log. With a command file open\n"
    "    (OPENCOMMANDFILE), Down at the end of the log fetches its next line.\n"
    "  - Escape empties the line. On an empty line Escape offers to QUIT\n"
    "    (Return quits) or, with a command file open, to close that file.\n"
    "  - On an empty line a few single keys start a command:\n"
    "      A          INCLUDEALL\n"
    "      = or +     a COMPUTE\n"
    "      0          SUMMARY\n"
    "      1          ONEWAYTABLE\n"
    "      2          TWOWAYTABLE\n"
    "      3          THREEWAYTABLE\n"
    "      4          TABULATE\n"
    "  - Ctrl+Right and Ctrl+Left step through the command names (while the\n"
    "    cursor is in the command word) or through the vector names.\n"
    "  - Shortkeys defined with KEYS work on F2 to F12 (alone or with Shift,\n"
    "    Ctrl or Alt) and on Alt or Ctrl with a letter or a digit. A \"?\" in a\n"
    "    shortkey text stands for the selected text; a final \"!\" runs the\n"
    "    command at once.\n"
    "  - F1 shows this help, Ctrl+F1 the help on the command in the line.\n"
    "  - Shift+F1 switches the hint messages off and on.\n"
    "  - Escape stops a running program after its current line.\n"
    "\n"
    "Results: Return keeps them in the session output, Escape suppresses\n"
    "them, Ctrl+P prints them (all or the selected part).\n"
    "\n"
    "Pictures: Return saves the picture (.JPG or .BMP), Escape closes it; a\n"
    "3-d view turns with the arrow keys and zooms with the keypad's + and -.\n"
    "A picture drawn by a program waits for a key (Return first offers to\n"
    "save it), then the program goes on.\n"
    "\n"
    "Help: Ctrl+F searches forwards, Ctrl+L or Return repeats the search,\n"
    "F1 opens the command list (Return, F1 or Right shows a command's\n"
    "section, Backspace or Left copies the name to the command line),\n"
    "Ctrl+P prints, Escape leaves.\n"
    "\n"
    "Editor (EDIT): F2 saves, F9 saves and runs the program (or only the\n"
    "selected lines), F10 shows the session output file, Ctrl+F and Ctrl+L\n"
    "search, Ctrl+Return cuts the line, F1 and Ctrl+F1 give help, Ctrl+P\n"
    "prints, Escape leaves the editor (asking whether to save changes).\n";

bool Unmodified(const QKeyEvent* e) {
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool CtrlOnly(const QKeyEvent* e) {
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

}  // namespace

std::string WindowHelpText(std::string text) {
    size_t pager = text.find(kTerminalPager);
    if (pager != std::string::npos)
        text.replace(pager, std::string_view(kTerminalPager).size(), kWindowReading);
    size_t keys = text.find(kTerminalKeysHeading);
    size_t next = keys == std::string::npos ? keys : text.find(kNextHeading, keys);
    if (next != std::string::npos)
        text.replace(keys, next + 1 - keys, kWindowKeys + std::string("\n"));
    return text;
}

HelpPane::HelpPane(std::string text, QWidget* parent) : QWidget(parent), pending_(std::move(text)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    text_ = new TextPane(this);
    text_->setObjectName("HelpPages");
    text_->setReadOnly(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    Colour(*text_, Qt::black, kAqua);
    text_->keys = [this](QKeyEvent* e) { return TextKeys(e); };
    layout->addWidget(text_, 1);
    list_ = new ListPane(this);
    list_->setObjectName("CommandListBox");
    Colour(*list_, Qt::yellow, kTeal);
    for (std::string_view name : interp::CommandTable())
        list_->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    list_->setFixedWidth(180);
    list_->hide();
    list_->keys = [this](QKeyEvent* e) { return ListKeys(e); };
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { ShowTopic(item->text().toStdString()); });
    layout->addWidget(list_);
}

void HelpPane::ShowTopic(const std::string& topic) {
    if (!pending_.empty()) {
        text_->setPlainText(QString::fromStdString(pending_));
        pending_.clear();
    }
    text_->setFocus();
    if (topic.empty()) return;
    QTextDocument* doc = text_->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.text().trimmed().toUpper().toStdString() != topic) continue;
        text_->moveCursor(QTextCursor::End);
        text_->setTextCursor(QTextCursor(b));
        text_->ensureCursorVisible();
        return;
    }
}

void HelpPane::Leave(const std::string& command) {
    list_->hide();
    if (left) left(command);
}

bool HelpPane::TextKeys(QKeyEvent* e) {
    int key = e->key();
    if (key == Qt::Key_Escape) return Leave(""), true;
    if (key == Qt::Key_F && CtrlOnly(e)) return FindInPane(*text_, lastSearch_, true, status), true;
    if ((key == Qt::Key_L && CtrlOnly(e)) ||
        ((key == Qt::Key_Return || key == Qt::Key_Enter) && Unmodified(e)))
        return FindInPane(*text_, lastSearch_, false, status), true;
    if (key == Qt::Key_P && CtrlOnly(e)) return PrintText(*text_), true;
    if (key == Qt::Key_F1 && Unmodified(e)) {
        list_->show();
        if (list_->currentRow() < 0) list_->setCurrentRow(0);
        list_->setFocus();
        return true;
    }
    return false;
}

bool HelpPane::ListKeys(QKeyEvent* e) {
    int key = e->key();
    QListWidgetItem* item = list_->currentItem();
    if (key == Qt::Key_Escape) {
        list_->hide();
        text_->setFocus();
        return true;
    }
    if (item == nullptr) return false;
    std::string name = item->text().toStdString();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F1 ||
        key == Qt::Key_Right) {
        ShowTopic(name);
        return true;
    }
    if (key == Qt::Key_Backspace || key == Qt::Key_Left) return Leave(name + " "), true;
    return false;
}

}  // namespace korw::gui
