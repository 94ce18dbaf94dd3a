#include "gui/main_window.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QScreen>
#include <QSplitter>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <filesystem>
#include <fstream>

#include "console/demos.h"
#include "console/session_life.h"
#include "data/errors.h"
#include "data/files.h"
#include "data/vectors.h"
#include "gui/gui_desktop.h"
#include "interp/command_table.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/programs.h"
#include "interp/shortkeys.h"
#include "interp/state.h"
#include "plot/picture.h"
#include "plot/plot3d.h"
#include "plot/postscript.h"

namespace korw::gui {

namespace fs = std::filesystem;

namespace {

constexpr const char* kQuitQuestion = "QUIT ? (Press Return to quit, Escape to continue)";
constexpr const char* kSelectorHeading =
    " Select/create working directory (use cursor arrows, select by Return).";

const QColor kLime(0, 255, 0);
const QColor kAqua(0, 255, 255);
const QColor kTeal(0, 128, 128);
const QColor kReview(170, 190, 150);

QFont FixedFont() {
    QFont font("Courier New");
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSize(10);
    return font;
}

QString Hint(const std::string& text) {
    return QString::fromStdString(text);
}

bool Plain(const QKeyEvent* e) {
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool Ctrl(const QKeyEvent* e) {
    return (e->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
}

}  // namespace

MainWindow::MainWindow(const GuiOptions& options, GuiDesktop& desktop)
    : options_(options), desktop_(desktop) {
    // The creation sequence: an empty shortkey table, the root's session files, the help text,
    // then the window's place from LASTDIR.
    interp::ClearShortKeys();
    console::PrepareRoot(options_.root);
    BuildWindows();
    settings_ = ReadLastDir(interp::RootDirectory);
    hintsOn_ = settings_.hintsOn;
    PlaceWindow();
    if (::chdir(settings_.workingDirectory.c_str()) != 0) {
        // The directory was just checked to exist; the selector shows what it is.
    }
    desktop_.SetWindow(this);
    interp::TheDesktop = &desktop_;
    qApp->installEventFilter(this);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    desktop_.SetWindow(nullptr);
    if (interp::TheDesktop == &desktop_) interp::TheDesktop = nullptr;
}

void MainWindow::BuildWindows() {
    setWindowTitle("KORW");
    setObjectName("MainWindow");
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    QFont fixed = FixedFont();

    log_ = new TextPane(central);
    log_->setObjectName("ProgramWindow");
    log_->setReadOnly(true);
    log_->setFont(fixed);
    log_->setMinimumHeight(90);
    log_->setFocusPolicy(Qt::ClickFocus);
    Colour(*log_, kLime, Qt::black);
    layout->addWidget(log_, 1);

    command_ = new CommandLine(central);
    command_->setFont(fixed);
    command_->SetLog(&logLines_);
    command_->SetState(false);
    command_->execute = [this](const std::string& text) { Execute(text); };
    command_->help = [this](bool onCommand) {
        ShowHelp(onCommand ? CommandOfLine(command_->text().toStdString()) : "");
    };
    command_->busy = [this] { return busy_ > 0; };
    command_->escapeWhileBusy = [this] {
        if (interp::ProgramRunning) escape_ = true;
    };
    layout->addWidget(command_);

    stack_ = new QStackedWidget(central);
    layout->addWidget(stack_, 4);

    picture_ = new PicturePane(stack_);
    picture_->keys = [this](QKeyEvent* e) { return PictureKeys(e); };
    stack_->addWidget(picture_);

    result_ = new TextPane(stack_);
    result_->setObjectName("ShowFileWindow");
    result_->setReadOnly(true);
    result_->setFont(fixed);
    result_->setLineWrapMode(QPlainTextEdit::NoWrap);
    result_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    result_->keys = [this](QKeyEvent* e) { return ResultKeys(e); };
    stack_->addWidget(result_);

    helpPage_ = new QWidget(stack_);
    auto* helpLayout = new QHBoxLayout(helpPage_);
    helpLayout->setContentsMargins(0, 0, 0, 0);
    help_ = new TextPane(helpPage_);
    help_->setObjectName("HelpPages");
    help_->setReadOnly(true);
    help_->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    QFont bold = fixed;
    bold.setBold(true);
    help_->setFont(bold);
    help_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    help_->setLineWrapMode(QPlainTextEdit::NoWrap);
    Colour(*help_, Qt::black, kAqua);
    helpText_ = console::HelpText();  // shown on the first call for help, to open faster
    help_->keys = [this](QKeyEvent* e) { return HelpKeys(e); };
    helpLayout->addWidget(help_, 1);
    list_ = new ListPane(helpPage_);
    list_->setObjectName("CommandListBox");
    list_->setFont(fixed);
    Colour(*list_, Qt::yellow, kTeal);
    for (std::string_view name : interp::CommandTable())
        list_->addItem(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    list_->setFixedWidth(180);
    list_->hide();
    list_->keys = [this](QKeyEvent* e) { return ListKeys(e); };
    connect(list_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { ShowHelp(item->text().toStdString()); });
    helpLayout->addWidget(list_);
    stack_->addWidget(helpPage_);

    editor_ = new TextPane(stack_);
    editor_->setObjectName("ProgramEditor");
    editor_->setFont(fixed);
    editor_->setLineWrapMode(QPlainTextEdit::NoWrap);
    editor_->keys = [this](QKeyEvent* e) { return EditorKeys(e); };
    stack_->addWidget(editor_);

    demo_ = new TextPane(stack_);
    demo_->setObjectName("DemoWindow");
    demo_->setReadOnly(true);
    demo_->setFont(fixed);
    Colour(*demo_, Qt::black, QColor(255, 255, 210));
    demo_->keys = [this](QKeyEvent* e) {
        if (e->key() != Qt::Key_Escape) return false;
        BackToCommandLine();
        return true;
    };
    stack_->addWidget(demo_);

    picture_->ShowStartPicture();
    stack_->setCurrentWidget(picture_);
    setCentralWidget(central);
}

void MainWindow::BuildSelector() {
    selector_ = new QWidget(stack_);
    auto* layout = new QVBoxLayout(selector_);
    auto* heading = new QLabel(kSelectorHeading, selector_);
    layout->addWidget(heading);
    dirModel_ = new QFileSystemModel(selector_);
    dirModel_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    dirModel_->setRootPath("/");
    tree_ = new QTreeView(selector_);
    tree_->setObjectName("DirectoryListBox1");
    tree_->setModel(dirModel_);
    for (int c = 1; c < dirModel_->columnCount(); ++c) tree_->hideColumn(c);
    tree_->header()->hide();
    // The tree is read in the background: the working directory comes into view once its
    // folder has been read.
    connect(dirModel_, &QFileSystemModel::directoryLoaded, this, [this] {
        if (tree_->currentIndex().isValid()) tree_->scrollTo(tree_->currentIndex());
    });
    layout->addWidget(tree_, 1);
    dirEdit_ = new QLineEdit(selector_);
    dirEdit_->setObjectName("WorkDirEdit");
    layout->addWidget(dirEdit_);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { dirEdit_->setText(dirModel_->filePath(index)); });
    stack_->addWidget(selector_);
}

void MainWindow::PlaceWindow() {
    QRect screen = QGuiApplication::primaryScreen() != nullptr
                       ? QGuiApplication::primaryScreen()->availableGeometry()
                       : QRect(0, 0, 1024, 768);
    if (settings_.width <= 0 || settings_.height <= 0) {
        settings_.width = kDefaultWidth;
        settings_.height = kDefaultHeight;
        settings_.left = CentredPosition(screen.width(), kDefaultWidth);
        settings_.top = CentredPosition(screen.height(), kDefaultHeight);
    }
    resize(settings_.width, settings_.height);
    move(settings_.left, settings_.top);
}

void MainWindow::SetHints(bool on) {
    hintsOn_ = on;
    auto hint = [on](QWidget* w, const std::string& text) {
        w->setToolTip(on ? Hint(text) : QString());
    };
    hint(this, kMainWindowHint);
    std::string commandHint =
        interp::DemoMode ? std::string(console::kDemoCommandHint) : std::string(kCommandHint);
    hint(command_, commandHint);
    hint(log_, commandHint);
    hint(result_, resultMode_ == ResultMode::File ? kSessionOutputHint : kResultHint);
    hint(picture_, kPictureHint);
    hint(help_, kHelpHint);
    hint(list_, kCommandListHint);
    hint(editor_, kEditorHint);
    if (selector_ != nullptr) {
        hint(tree_, DirectoryTreeHint(interp::RootDirectory));
        hint(dirEdit_, DirectoryEditHint(interp::RootDirectory));
    }
    if (!on) QToolTip::hideText();
}

void MainWindow::Activate() {
    if (console::SessionOutputExists()) {
        std::string question;
        for (const std::string& line : console::SessionActiveQuestion())
            question += (question.empty() ? "" : "\n") + line;
        if (!desktop_.Confirm(question)) {
            interp::SessionClosing = true;
            return RequestClose();
        }
    }
    std::string message;
    if (!console::CreateTemporaryOutput(message)) {
        desktop_.ErrorBox(message);
        interp::SessionClosing = true;
        return RequestClose();
    }
    SetHints(hintsOn_);
    const std::vector<std::string>& args = options_.arguments;
    std::error_code ec;
    if (!args.empty() && fs::is_regular_file(args[0], ec)) {
        fs::path file = fs::absolute(args[0]);
        startCommand_ = console::StartCommandFor(file.string(), {args.begin() + 1, args.end()});
        return StartSessionIn(file.parent_path().string());
    }
    if (!options_.workingDirectory.empty()) return StartSessionIn(options_.workingDirectory);
    BuildSelector();
    SetHints(hintsOn_);
    QModelIndex index = dirModel_->index(QString::fromStdString(settings_.workingDirectory));
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    tree_->expand(index);
    dirEdit_->setText(QString::fromStdString(settings_.workingDirectory));
    ShowPane(selector_, tree_);
}

void MainWindow::SelectorChosen(const std::string& directory) {
    std::error_code ec;
    fs::path path = fs::absolute(directory, ec).lexically_normal();
    std::string dir = path.string();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (!fs::is_directory(dir, ec)) {
        fs::create_directories(dir, ec);
        if (!fs::is_directory(dir, ec)) {
            desktop_.Beep();
            return desktop_.ErrorBox("Unable to create directory " + dir);
        }
    }
    StartSessionIn(dir);
}

void MainWindow::StartSessionIn(const std::string& directory) {
    setWindowTitle(QString::fromStdString("KORW from " + directory));
    settings_.workingDirectory = directory;
    console::StartSession(directory);
    started_ = true;
    SetHints(hintsOn_);
    if (selector_ != nullptr && stack_->currentWidget() == selector_) ShowPane(picture_, command_);
    command_->setFocus();
    if (data::FileExists(directory + "/autoexec.kor")) Execute("run autoexec");
    if (!startCommand_.empty() && !interp::DemoMode) Execute(startCommand_);
}

void MainWindow::ShowPane(QWidget* pane, QWidget* focus) {
    stack_->setCurrentWidget(pane);
    if (focus != nullptr) focus->setFocus();
}

// After a window is left: the picture area again (the editor while it is open), the focus on
// the command line.
void MainWindow::BackToCommandLine() {
    if (!editorFile_.empty()) return ShowPane(editor_, editor_);
    ShowPane(picture_, command_);
}

std::string MainWindow::CommandOfLine(const std::string& line) const {
    size_t begin = line.find_first_not_of(' ');
    if (begin == std::string::npos) return "";
    std::string word = line.substr(begin, line.find(' ', begin) - begin);
    return interp::MatchCommand(data::UpperName(word));
}

void MainWindow::Execute(const std::string& typed) {
    if (busy_ > 0 || !started_) return;
    std::string text = typed == kQuitQuestion ? "QUIT" : typed;
    ++busy_;
    command_->SetState(false);
    bool ok = false;
    try {
        ok = interp::RunTypedCommand(text, true);
    } catch (const data::Fault& fault) {
        desktop_.ErrorBox(interp::FaultText(fault.kind));
    }
    --busy_;
    command_->setReadOnly(false);
    command_->ResetBrowsing();
    // A failed command stays in the line (as the command showed it) for correction.
    if (ok || interp::DemoMode) command_->clear();
    command_->SetState(!ok && !interp::DemoMode);
    if (stack_->currentWidget() == picture_ && !pictureShown_) command_->setFocus();
    if (closeRequested_) QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::LogCommand(const std::string& line) {
    // A failed command turns the line red before its error box comes up.
    if (line.rfind("*** ", 0) == 0 && !interp::DemoMode) command_->SetState(true);
    logLines_.push_back(line);
    log_->appendPlainText(QString::fromStdString(line));
    log_->moveCursor(QTextCursor::End);
    log_->ensureCursorVisible();
}

bool MainWindow::TakeEscape() {
    bool e = escape_;
    escape_ = false;
    return e;
}

void MainWindow::RequestClose() {
    closeRequested_ = true;
    if (busy_ == 0) QTimer::singleShot(0, this, [this] { close(); });
}

// ---- results, files and pictures ----

bool MainWindow::Review(const std::string& file) {
    resultMode_ = ResultMode::Review;
    Colour(*result_, Qt::black, kReview);
    if (hintsOn_) result_->setToolTip(kResultHint);
    ShowPane(result_, result_);
    QEventLoop loop;
    reviewLoop_ = &loop;
    reviewAnswer_ = -1;
    // Return or Escape may come while a long text is still being loaded.
    LoadTextInBlocks(*result_, file, [this] { return reviewAnswer_ >= 0 || closing_; });
    if (reviewAnswer_ < 0 && !closing_) reviewAnswer_ = loop.exec();
    int keep = reviewAnswer_;
    reviewLoop_ = nullptr;
    resultMode_ = ResultMode::None;
    result_->clear();
    Colour(*result_, Qt::black, Qt::white);
    if (!editorFile_.empty())
        ShowPane(editor_, editor_);
    else
        ShowPane(picture_, pictureShown_ ? static_cast<QWidget*>(picture_) : command_);
    return keep == 1;
}

bool MainWindow::ResultKeys(QKeyEvent* e) {
    if (e->key() == Qt::Key_P && Ctrl(e)) return PrintText(*result_), true;
    bool ret = (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && Plain(e);
    bool esc = e->key() == Qt::Key_Escape;
    if (!ret && !esc) return false;
    if (resultMode_ == ResultMode::Review && reviewLoop_ != nullptr) {
        reviewAnswer_ = ret ? 1 : 0;
        reviewLoop_->exit(reviewAnswer_);
        return true;
    }
    if (resultMode_ == ResultMode::File) {
        resultMode_ = ResultMode::None;
        BackToCommandLine();
    }
    return true;
}

void MainWindow::ShowFile(const std::string& file) {
    resultMode_ = ResultMode::File;
    Colour(*result_, Qt::black, Qt::white);
    bool session = file == interp::SessionOutputFile;
    if (hintsOn_)
        result_->setToolTip(session ? kSessionOutputHint
                                    : "Press Escape or Return to leave\nPrint (All or selected "
                                      "portion) by Ctrl-P.");
    ShowPane(result_, result_);
    LoadTextInBlocks(*result_, file, [this] { return resultMode_ != ResultMode::File; });
    if (session) result_->moveCursor(QTextCursor::End);
}

void MainWindow::ShowPicture(bool threeD) {
    threeD_ = threeD;
    imageShown_ = false;
    pictureShown_ = true;
    picture_->ShowBitmap();
    ShowPane(picture_, picture_);
    // In a program the picture waits for a key, unless it goes into a PostScript file.
    if (interp::ProgramRunning && !plot::psRequested && !closing_) {
        QEventLoop loop;
        pictureLoop_ = &loop;
        int key = loop.exec();
        pictureLoop_ = nullptr;
        if (key == Qt::Key_Return) SavePictureAs();
        if (!editorFile_.empty()) ShowPane(editor_, editor_);
    }
}

// SHOW of a picture file: shown in the picture area until Return or Escape.
void MainWindow::ShowImage(const std::string& file) {
    if (!picture_->ShowFile(data::ResolveExisting(file)))
        return interp::SetCommandError(file + " could not be loaded");
    pictureShown_ = true;
    imageShown_ = true;
    threeD_ = false;
    ShowPane(picture_, picture_);
}

bool MainWindow::PictureKeys(QKeyEvent* e) {
    int key = e->key();
    if (pictureLoop_ != nullptr) {
        if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt) return true;
        pictureLoop_->exit(key == Qt::Key_Enter ? Qt::Key_Return : key);
        return true;
    }
    if (!pictureShown_) return false;
    if (imageShown_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) key = Qt::Key_Escape;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        SavePictureAs();
        return true;
    }
    if (key == Qt::Key_Escape) {
        pictureShown_ = false;
        imageShown_ = false;
        picture_->ShowStartPicture();
        BackToCommandLine();
        return true;
    }
    if (!threeD_) return false;
    std::optional<plot::ViewKey> turn;
    if (key == Qt::Key_Up) turn = plot::ViewKey::Up;
    if (key == Qt::Key_Down) turn = plot::ViewKey::Down;
    if (key == Qt::Key_Left) turn = plot::ViewKey::Left;
    if (key == Qt::Key_Right) turn = plot::ViewKey::Right;
    if (key == Qt::Key_Plus) turn = plot::ViewKey::ZoomIn;
    if (key == Qt::Key_Minus) turn = plot::ViewKey::ZoomOut;
    if (!turn) return false;
    if (plot::TurnView(*turn)) picture_->ShowBitmap();
    return true;
}

void MainWindow::SavePictureAs() {
    interp::FileDialog dialog{
        "Save picture as ...",    "JPEG Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp", ".JPG",
        interp::WorkingDirectory, plot::DefaultPictureName(interp::WorkingDirectory),    true};
    dialog.name = fs::path(dialog.name).filename().string();
    std::optional<std::string> name = desktop_.SaveDialog(dialog);
    if (!name) return;
    // Only the two picture types of the dialog are written.
    std::string ext = data::UpperName(fs::path(*name).extension().string());
    if (ext != ".JPG" && ext != ".BMP") {
        desktop_.Beep();
        return desktop_.ErrorBox("Unknown picture type " + *name);
    }
    if (!plot::SavePicture(*name)) {
        desktop_.Beep();
        return desktop_.ErrorBox("Failed to save " + *name);
    }
    try {
        if (interp::EchoOn) interp::AppendOutputLine(" *** Picture saved as " + *name + " ***");
    } catch (const data::Fault&) {
        desktop_.ErrorBox(interp::FaultText(data::FaultKind::InputOutput));
    }
}

// ---- help and the command list ----

void MainWindow::ShowHelp(const std::string& topic) {
    if (!helpText_.empty()) {
        help_->setPlainText(QString::fromStdString(helpText_));
        helpText_.clear();
    }
    ShowPane(helpPage_, help_);
    if (topic.empty()) return;
    QTextDocument* doc = help_->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        if (b.text().trimmed().toUpper().toStdString() != topic) continue;
        QTextCursor cursor(b);
        help_->moveCursor(QTextCursor::End);
        help_->setTextCursor(cursor);
        help_->ensureCursorVisible();
        return;
    }
}

bool MainWindow::Search(QPlainTextEdit& pane, bool ask) {
    if (ask || lastSearch_.isEmpty()) {
        bool ok = false;
        QString phrase =
            QInputDialog::getText(this, "Find", "Find what:", QLineEdit::Normal, lastSearch_, &ok);
        if (!ok || phrase.trimmed().isEmpty()) return false;
        lastSearch_ = phrase;
    }
    if (SearchForward(pane, lastSearch_)) return true;
    desktop_.Beep();
    return false;
}

bool MainWindow::HelpKeys(QKeyEvent* e) {
    int key = e->key();
    if (key == Qt::Key_Escape) {
        list_->hide();
        BackToCommandLine();
        return true;
    }
    if (key == Qt::Key_F && Ctrl(e)) return Search(*help_, true), true;
    if ((key == Qt::Key_L && Ctrl(e)) ||
        ((key == Qt::Key_Return || key == Qt::Key_Enter) && Plain(e)))
        return Search(*help_, false), true;
    if (key == Qt::Key_P && Ctrl(e)) return PrintText(*help_), true;
    if (key == Qt::Key_F1 && Plain(e)) {
        list_->show();
        if (list_->currentRow() < 0) list_->setCurrentRow(0);
        list_->setFocus();
        return true;
    }
    return false;
}

bool MainWindow::ListKeys(QKeyEvent* e) {
    int key = e->key();
    QListWidgetItem* item = list_->currentItem();
    if (key == Qt::Key_Escape) {
        list_->hide();
        help_->setFocus();
        return true;
    }
    if (item == nullptr) return false;
    std::string name = item->text().toStdString();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_F1 ||
        key == Qt::Key_Right) {
        ShowHelp(name);
        return true;
    }
    if (key == Qt::Key_Backspace || key == Qt::Key_Left) {
        list_->hide();
        ShowPane(picture_, command_);
        command_->setText(QString::fromStdString(name + " "));
        return true;
    }
    return false;
}

// ---- the program editor ----

std::string MainWindow::EditFile(const std::string& file) {
    std::string path;
    std::string error = interp::PrepareProgramFile(file, path);
    if (!error.empty() || path.empty()) return error;
    std::ifstream in(path, std::ios::binary);
    if (!in) return path + " could not be loaded";
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    editor_->setPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    editor_->document()->setModified(false);
    editorFile_ = fs::absolute(path).string();
    setWindowTitle(QString::fromStdString("KORW from " + interp::WorkingDirectory + " - " +
                                          fs::path(path).filename().string()));
    ShowPane(editor_, editor_);
    return "";
}

// The text is written with the blanks at the ends of its lines removed.
bool MainWindow::SaveEditor() {
    std::ofstream out(editorFile_, std::ios::binary | std::ios::trunc);
    QStringList lines = editor_->toPlainText().split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.pop_back();  // the last line's end
    for (QString& line : lines) {
        while (line.endsWith(' ')) line.chop(1);
        out << line.toStdString() << "\n";
    }
    out.close();
    if (!out) {
        desktop_.Beep();
        desktop_.ErrorBox("Failed to save " + editorFile_);
        return false;
    }
    editor_->document()->setModified(false);
    return true;
}

// F9: the whole program, or only the selected lines, saved and run; a failing line is selected
// afterwards.
void MainWindow::RunEditor() {
    if (data::UpperName(fs::path(editorFile_).extension().string()) != ".KOR" || busy_ > 0) return;
    QTextCursor selection = editor_->textCursor();
    QString fullText = editor_->toPlainText();
    int start = selection.selectionStart(), end = selection.selectionEnd();
    int firstLine = 0;
    bool modified = editor_->document()->isModified();
    interp::RunSelectionOnly = selection.hasSelection();
    if (interp::RunSelectionOnly) {
        firstLine = editor_->document()->findBlock(start).blockNumber();
        editor_->setPlainText(selection.selectedText().replace(QChar(0x2029), '\n'));
        modified = true;
    }
    if (modified) SaveEditor();
    editor_->setReadOnly(true);
    Colour(*editor_, Qt::black, QColor(220, 220, 220));
    std::string stem =
        (fs::path(editorFile_).parent_path() / fs::path(editorFile_).stem()).string();
    failedLine_.reset();
    ++busy_;
    interp::EditorActive = true;
    try {
        interp::ExecuteCommand("RUN " + stem);
        // A program file that cannot be opened has had its box already.
        if (!interp::CommandError.empty() && interp::CommandError.rfind("Can not open ", 0) != 0) {
            desktop_.Beep();
            desktop_.ErrorBox(interp::CommandError);
            interp::CommandError.clear();
        }
    } catch (const data::Fault& fault) {
        desktop_.ErrorBox(interp::FaultText(fault.kind));
    }
    interp::EditorActive = false;
    --busy_;
    editor_->setReadOnly(false);
    Colour(*editor_, Qt::black, Qt::white);
    if (interp::RunSelectionOnly) {
        interp::RunSelectionOnly = false;
        editor_->setPlainText(fullText);
        SaveEditor();
        QTextCursor restored(editor_->document());
        restored.setPosition(start);
        restored.setPosition(end, QTextCursor::KeepAnchor);
        editor_->setTextCursor(restored);
    }
    if (failedLine_) SelectProgramLine(firstLine + *failedLine_);
    failedLine_.reset();
    if (!editorFile_.empty()) ShowPane(editor_, editor_);
    if (closeRequested_) QTimer::singleShot(0, this, [this] { close(); });
}

// Selects the logical program line that holds the given physical line (1-based in the file
// after `firstLine` lines): lines before it that end with "\" belong to it as well.
void MainWindow::SelectProgramLine(int line) {
    QTextDocument* doc = editor_->document();
    QTextBlock last = doc->findBlockByNumber(line - 1);
    if (!last.isValid()) return;
    QTextBlock first = last;
    for (QTextBlock b = first.previous(); b.isValid() && b.text().trimmed().endsWith('\\');
         b = b.previous())
        first = b;
    QTextCursor cursor(doc);
    cursor.setPosition(first.position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
    editor_->setTextCursor(cursor);
}

void MainWindow::LeaveEditor() {
    if (editor_->document()->isModified() &&
        desktop_.Confirm("Save changes to " + editorFile_ + "?"))
        SaveEditor();
    editorFile_.clear();
    setWindowTitle(QString::fromStdString("KORW from " + interp::WorkingDirectory));
    ShowPane(picture_, command_);
}

bool MainWindow::EditorKeys(QKeyEvent* e) {
    int key = e->key();
    if (busy_ > 0) return key == Qt::Key_Escape;
    switch (key) {
        case Qt::Key_Escape:
            LeaveEditor();
            return true;
        case Qt::Key_F1: {
            if (e->modifiers() & Qt::ShiftModifier) return false;
            std::string topic;
            if (Ctrl(e)) topic = CommandOfLine(editor_->textCursor().block().text().toStdString());
            ShowHelp(topic);
            return true;
        }
        case Qt::Key_F2:
            if (!Plain(e)) return false;
            SaveEditor();
            return true;
        case Qt::Key_F9:
            if (!Plain(e)) return false;
            RunEditor();
            return true;
        case Qt::Key_F10:
            if (!Plain(e)) return false;
            ShowFile(interp::SessionOutputFile);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!Ctrl(e)) return false;
            {
                QTextCursor c = editor_->textCursor();
                c.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
                c.removeSelectedText();
            }
            return true;
        case Qt::Key_F:
            return Ctrl(e) ? (Search(*editor_, true), true) : false;
        case Qt::Key_L:
            return Ctrl(e) ? (Search(*editor_, false), true) : false;
        case Qt::Key_P:
            return Ctrl(e) ? (PrintText(*editor_), true) : false;
        default:
            return false;
    }
}

void MainWindow::NoteProgramError(const std::string& text) {
    // The location the program runner appends: " (line n)" or " (loop k, line n)".
    size_t at = text.rfind("line ");
    if (at == std::string::npos || text.empty() || text.back() != ')') return;
    try {
        failedLine_ = std::stoi(text.substr(at + 5));
    } catch (const std::exception&) {
    }
}

void MainWindow::ShowProgramNotice(const std::string& notice) {
    if (!editorFile_.empty()) return;
    command_->setText(QString::fromStdString(notice));
    command_->setReadOnly(true);
    QApplication::processEvents();
}

void MainWindow::ShowDemoText(const std::string& text) {
    demo_->setPlainText(QString::fromStdString(text));
    ShowPane(demo_, command_);
}

void MainWindow::ShowDemoMenu() {
    demo_->setPlainText(QString::fromStdString(console::DemoReadme()));
    for (int n = 1; n <= 6; ++n) LogCommand("OPENCOMMANDFILE " + std::to_string(n));
    ShowPane(demo_, command_);
}

// ---- keys of the whole window ----

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, event);
    auto* e = static_cast<QKeyEvent*>(event);
    // Shift+F1 switches the hints off and on, wherever the focus is.
    if (e->key() == Qt::Key_F1 && (e->modifiers() & Qt::ShiftModifier)) {
        SetHints(!hintsOn_);
        return true;
    }
    // Escape while a program runs stops it after its present line (a picture waiting for a
    // key takes the key itself).
    if (e->key() == Qt::Key_Escape && interp::ProgramRunning && pictureLoop_ == nullptr &&
        QApplication::activeModalWidget() == nullptr) {
        escape_ = true;
        return true;
    }
    if (selector_ == nullptr) return QMainWindow::eventFilter(watched, event);
    if (watched == tree_ && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        SelectorChosen(dirModel_->filePath(tree_->currentIndex()).toStdString());
        return true;
    }
    if (watched == tree_ && e->key() == Qt::Key_Escape) {
        dirEdit_->setFocus();
        return true;
    }
    if (watched == dirEdit_ && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        SelectorChosen(dirEdit_->text().toStdString());
        return true;
    }
    if (watched == dirEdit_ && e->key() == Qt::Key_Escape) {
        tree_->setFocus();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    QMainWindow::keyPressEvent(event);
}

// ---- closing ----

bool MainWindow::CloseSession() {
    if ((selector_ != nullptr && stack_->currentWidget() == selector_) || !started_) return false;
    if (!console::FinishLibrarySession()) return false;
    interp::FileDialog dialog{"Save sessions output file as ...",
                              "KORW output file (*.OUT)|*.OUT",
                              ".OUT",
                              interp::WorkingDirectory,
                              console::DefaultOutputName(interp::WorkingDirectory),
                              true};
    while (std::optional<std::string> name = desktop_.SaveDialog(dialog)) {
        if (console::KeepOutput(*name)) break;
        desktop_.ErrorBox("Can not save " + *name);
    }
    console::RemoveSessionFiles(false);
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A command still running (a program, results under review) ends first: the program is
    // stopped by the Escape flag, the review by suppression, and the close follows.
    if (busy_ > 0) {
        closeRequested_ = true;
        escape_ = true;
        if (reviewLoop_ != nullptr) {
            reviewAnswer_ = 0;
            reviewLoop_->exit(0);
        }
        if (pictureLoop_ != nullptr) pictureLoop_->exit(Qt::Key_Escape);
        event->ignore();
        return;
    }
    if (closing_) return event->accept();
    closing_ = true;
    bool writeLastDir = !interp::SessionClosing && started_ && options_.arguments.size() < 2;
    bool closed = !interp::SessionClosing && CloseSession();
    if (closed && writeLastDir) {
        showNormal();
        settings_.workingDirectory = interp::WorkingDirectory;
        settings_.left = x();
        settings_.top = y();
        settings_.width = width();
        settings_.height = height();
        settings_.hintsOn = hintsOn_;
        WriteLastDir(interp::RootDirectory, settings_);
    }
    event->accept();
}

}  // namespace korw::gui
