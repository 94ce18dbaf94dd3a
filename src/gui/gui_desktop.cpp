#include "gui/gui_desktop.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <filesystem>

#include "data/files.h"
#include "gui/main_window.h"
#include "interp/state.h"
#include "session/shell_open.h"

namespace korw::gui {

namespace {

// Box texts break their lines with CR LF.
QString BoxText(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.replace("\r\n", "\n");
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// A chosen name gets the dialog's default extension when it has none.
std::string WithExtension(const std::string& name, const interp::FileDialog& dialog) {
    std::filesystem::path path(name);
    if (path.extension().empty() && !dialog.defaultExtension.empty()) {
        std::string ext = dialog.defaultExtension;
        if (ext[0] != '.') ext = "." + ext;
        path += ext;
    }
    if (path.is_relative() && !dialog.directory.empty()) path = dialog.directory / path;
    return path.string();
}

QFileDialog* MakeDialog(const interp::FileDialog& d, QWidget* parent, bool save) {
    auto* dialog = new QFileDialog(parent, QString::fromStdString(d.title),
                                   QString::fromStdString(d.directory),
                                   QString::fromStdString(QtFilter(d.filter)));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save && !d.overwritePrompt) dialog->setOption(QFileDialog::DontConfirmOverwrite);
    std::string ext = d.defaultExtension;
    if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
    dialog->setDefaultSuffix(QString::fromStdString(ext));
    if (!d.name.empty()) dialog->selectFile(QString::fromStdString(d.name));
    return dialog;
}

}  // namespace

std::string QtFilter(const std::string& filter) {
    std::vector<std::string> parts;
    size_t begin = 0;
    for (;;) {
        size_t end = filter.find('|', begin);
        parts.push_back(filter.substr(begin, end == std::string::npos ? end : end - begin));
        if (end == std::string::npos) break;
        begin = end + 1;
    }
    std::string out;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        std::string label = parts[i];
        size_t paren = label.find(" (");
        if (paren != std::string::npos) label.erase(paren);
        std::string patterns;
        size_t from = 0;
        const std::string& list = parts[i + 1];
        for (;;) {
            size_t to = list.find(';', from);
            std::string p = list.substr(from, to == std::string::npos ? to : to - from);
            if (!patterns.empty()) patterns += ' ';
            patterns += Upper(p) == Lower(p) ? p : Upper(p) + " " + Lower(p);
            if (to == std::string::npos) break;
            from = to + 1;
        }
        if (!out.empty()) out += ";;";
        out += label + " (" + patterns + ")";
    }
    return out;
}

void GuiDesktop::Beep() {
    ++script.beeps;
    QApplication::beep();
}

void GuiDesktop::ErrorBox(const std::string& text) {
    if (window_ != nullptr && interp::EditorActive) window_->NoteProgramError(text);
    if (script.on) return script.boxes.push_back(text);
    QMessageBox::warning(window_, "KORW", BoxText(text));
    Reactivate();
}

bool GuiDesktop::Confirm(const std::string& text) {
    if (script.on) {
        script.boxes.push_back(text);
        return script.confirmAnswer;
    }
    bool yes = QMessageBox::question(window_, "KORW", BoxText(text),
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    Reactivate();
    return yes;
}

// The keyboard goes back to the main window when a box closes, also on a display without a
// window manager to hand it back.
void GuiDesktop::Reactivate() {
    if (window_ != nullptr) window_->activateWindow();
}

std::optional<std::string> GuiDesktop::ScriptedDialog(const interp::FileDialog& dialog) {
    script.dialogTitles.push_back(dialog.title);
    script.dialogNames.push_back(dialog.name);
    if (script.dialogAnswers.empty()) return {};
    std::string answer = script.dialogAnswers.front();
    script.dialogAnswers.pop_front();
    if (answer.empty()) return {};
    return WithExtension(answer, dialog);
}

std::optional<std::string> GuiDesktop::OpenDialog(const interp::FileDialog& dialog) {
    if (script.on) return ScriptedDialog(dialog);
    QFileDialog* box = MakeDialog(dialog, window_, false);
    std::optional<std::string> chosen;
    if (box->exec() == QDialog::Accepted && !box->selectedFiles().isEmpty())
        chosen = box->selectedFiles().front().toStdString();
    delete box;
    Reactivate();
    return chosen;
}

std::optional<std::string> GuiDesktop::SaveDialog(const interp::FileDialog& dialog) {
    if (script.on) return ScriptedDialog(dialog);
    QFileDialog* box = MakeDialog(dialog, window_, true);
    std::optional<std::string> chosen;
    if (box->exec() == QDialog::Accepted && !box->selectedFiles().isEmpty())
        chosen = WithExtension(box->selectedFiles().front().toStdString(), dialog);
    delete box;
    Reactivate();
    return chosen;
}

// A program is started with its arguments, any other file opened by the desktop (xdg-open),
// as in the terminal.
void GuiDesktop::ShellOpen(const std::string& file, const std::string& arguments) {
    session::OpenWithDesktop(file, arguments);
}

bool GuiDesktop::CopyFile(const std::string& from, const std::string& to) {
    return data::CopyFileReplacing(from, to);
}

// Between the lines of a program the window handles what is pending, so Escape is seen and
// the window is drawn.
bool GuiDesktop::EscapeRequested() {
    QApplication::processEvents();
    return window_ != nullptr && window_->TakeEscape();
}

bool GuiDesktop::ReviewResults(const std::string& file) {
    return window_ != nullptr && window_->Review(file);
}

void GuiDesktop::LogCommand(const std::string& line) {
    if (window_ != nullptr) window_->LogCommand(line);
}

void GuiDesktop::SetCommandText(const std::string& text) {
    if (window_ != nullptr) window_->Command().setText(QString::fromStdString(text));
}

void GuiDesktop::ShowFile(const std::string& file) {
    if (window_ != nullptr) window_->ShowFile(file);
}

std::string GuiDesktop::EditFile(const std::string& file) {
    return window_ != nullptr ? window_->EditFile(file) : "";
}

void GuiDesktop::ShowPicture(bool threeD) {
    if (window_ != nullptr) window_->ShowPicture(threeD);
}

void GuiDesktop::ShowImage(const std::string& file) {
    if (window_ != nullptr) window_->ShowImage(file);
}

void GuiDesktop::ShowProgramNotice(const std::string& notice) {
    if (window_ != nullptr) window_->ShowProgramNotice(notice);
}

void GuiDesktop::ShowDemoText(const std::string& text) {
    if (window_ != nullptr) window_->ShowDemoText(text);
}

void GuiDesktop::ShowDemoMenu() {
    if (window_ != nullptr) window_->ShowDemoMenu();
}

void GuiDesktop::CloseMainWindow() {
    if (window_ != nullptr) window_->RequestClose();
}

}  // namespace korw::gui
