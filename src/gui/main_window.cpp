#include "gui/main_window.h"

#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QTextBlock>
#include <QTimer>
#include <QToolTip>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>

#include "data/errors.h"
#include "data/files.h"
#include "data/long_work.h"
#include "gui/gui_desktop.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/programs.h"
#include "interp/shortkeys.h"
#include "interp/state.h"
#include "plot/postscript.h"
#include "session/demos.h"
#include "session/session_life.h"

namespace korw::gui {

namespace fs = std::filesystem;

namespace {

constexpr const char* kQuitQuestion = "QUIT ? (Press Return to quit, Escape to continue)";
constexpr int kStatusMilliseconds = 6000;

const QColor kLime(0, 255, 0);
const QColor kMarkedLogLine(0, 90, 0);

QFont FixedFont() {
    QFont font("Courier New");
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setPointSize(10);
    return font;
}

// The window that shows the progress of long commands (there is one).
MainWindow* longWorkWindow = nullptr;

void LongWorkHook(bool ended) {
    if (longWorkWindow != nullptr) longWorkWindow->ShowProgress(ended);
}

}  // namespace

MainWindow::MainWindow(const GuiOptions& options, GuiDesktop& desktop)
    : options_(options), desktop_(desktop) {
    // The creation sequence: an empty shortkey table, the root's session files, the help text,
    // then the window's place from LASTDIR.
    interp::ClearShortKeys();
    session::PrepareRoot(options_.root);
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
    longWorkWindow = this;
    data::ReadTestHooksFromEnvironment();
    data::SetLongWorkHook(LongWorkHook);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    data::SetLongWorkHook(nullptr);
    longWorkWindow = nullptr;
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
    command_->busy = [this] { return Busy(); };
    // Escape stops the running command, and a program between its lines.
    command_->escapeWhileBusy = [this] {
        if (interp::ProgramRunning) escape_ = true;
        data::RequestStop();
    };
    command_->browsed = [this](int line) { MarkLogLine(line); };
    layout->addWidget(command_);

    stack_ = new QStackedWidget(central);
    layout->addWidget(stack_, 4);

    picture_ = new PicturePane(desktop_, stack_);
    picture_->left = [this] { BackToCommandLine(); };
    stack_->addWidget(picture_);

    result_ = new ResultPane(stack_);
    result_->setFont(fixed);
    result_->left = [this] { BackToCommandLine(); };
    stack_->addWidget(result_);

    // The help text is put in the window when help is first asked for, to open faster.
    help_ = new HelpPane(WindowHelpText(session::HelpText()), stack_);
    QFont bold = fixed;
    bold.setBold(true);
    help_->Text().setFont(bold);
    help_->List().setFont(fixed);
    help_->left = [this](const std::string& command) {
        BackToCommandLine();
        if (!command.empty() && !editor_->IsOpen())
            command_->setText(QString::fromStdString(command));
    };
    help_->status = [this](const QString& text) { ShowStatus(text); };
    stack_->addWidget(help_);

    editor_ = new EditorPane(desktop_, stack_);
    editor_->setFont(fixed);
    editor_->run = [this](const std::string& command) { RunFromEditor(command); };
    editor_->busy = [this] { return Busy(); };
    editor_->help = [this](const std::string& topic) { ShowHelp(topic); };
    editor_->showSessionOutput = [this] { ShowFile(interp::SessionOutputFile); };
    editor_->left = [this] {
        setWindowTitle(QString::fromStdString("KORW from " + interp::WorkingDirectory));
        BackToCommandLine();
    };
    editor_->status = [this](const QString& text) { ShowStatus(text); };
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

    // The status line lies over the foot of the pane area, so that it takes no room from the
    // panes (the picture needs its 480 lines in the default window).
    status_ = new QLabel(stack_);
    status_->setObjectName("StatusLine");
    status_->setFont(fixed);
    status_->setMargin(3);
    Colour(*status_, Qt::black, QColor(255, 255, 160));
    status_->hide();
    statusTimer_ = new QTimer(this);
    statusTimer_->setSingleShot(true);
    connect(statusTimer_, &QTimer::timeout, status_, &QWidget::hide);
}

void MainWindow::BuildSelector() {
    selector_ = new SelectorPane(stack_);
    selector_->chosen = [this](const std::string& directory) { SelectorChosen(directory); };
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
        w->setToolTip(on ? QString::fromStdString(text) : QString());
    };
    hint(this, kMainWindowHint);
    std::string commandHint =
        interp::DemoMode ? std::string(session::kDemoCommandHint) : std::string(kCommandHint);
    hint(command_, commandHint);
    hint(log_, commandHint);
    result_->SetHints(on);
    hint(picture_, kPictureHint);
    hint(&help_->Text(), kHelpHint);
    hint(&help_->List(), kCommandListHint);
    hint(editor_, kEditorHint);
    if (selector_ != nullptr) selector_->SetHints(on, interp::RootDirectory);
    if (!on) QToolTip::hideText();
}

void MainWindow::Activate() {
    if (session::SessionOutputExists()) {
        std::string question;
        for (const std::string& line : session::SessionActiveQuestion())
            question += (question.empty() ? "" : "\n") + line;
        if (!desktop_.Confirm(question)) {
            interp::SessionClosing = true;
            return RequestClose();
        }
    }
    std::string message;
    if (!session::CreateTemporaryOutput(message)) {
        desktop_.ErrorBox(message);
        interp::SessionClosing = true;
        return RequestClose();
    }
    SetHints(hintsOn_);
    const std::vector<std::string>& args = options_.arguments;
    std::error_code ec;
    if (!args.empty() && fs::is_regular_file(args[0], ec)) {
        fs::path file = fs::absolute(args[0]);
        startCommand_ = session::StartCommandFor(file.string(), {args.begin() + 1, args.end()});
        return StartSessionIn(file.parent_path().string());
    }
    if (!options_.workingDirectory.empty()) return StartSessionIn(options_.workingDirectory);
    BuildSelector();
    SetHints(hintsOn_);
    selector_->Open(settings_.workingDirectory);
    ShowPane(selector_, &selector_->Tree());
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
    session::StartSession(directory);
    started_ = true;
    SetHints(hintsOn_);
    ShowPane(picture_, command_);
    bool autoexec = data::FileExists(directory + "/autoexec.kor");
    bool start = !startCommand_.empty() && !interp::DemoMode;
    // A program run at start-up runs with the start-up picture hidden.
    if (autoexec || start) picture_->HideStartPicture();
    if (autoexec) Execute("run autoexec");
    if (start) Execute(startCommand_);
}

void MainWindow::ShowPane(QWidget* pane, QWidget* focus) {
    // A plot or picture file has the keyboard only while it is on show.
    if (pane != picture_) picture_->Close();
    stack_->setCurrentWidget(pane);
    if (focus != nullptr) focus->setFocus();
}

// Where the keyboard goes when a pane is left: to the editor while it is open, else to the
// command line, the picture area on show below it.
void MainWindow::BackToCommandLine() {
    if (editor_->IsOpen()) return ShowPane(editor_, editor_);
    ShowPane(picture_, command_);
}

void MainWindow::ShowStatus(const QString& text) {
    if (text.isEmpty()) {
        statusTimer_->stop();
        return status_->hide();
    }
    status_->setText(text);
    int height = status_->sizeHint().height();
    status_->setGeometry(0, stack_->height() - height, stack_->width(), height);
    status_->raise();
    status_->show();
    statusTimer_->start(kStatusMilliseconds);
}

// While a command runs the window handles what is pending, so that it is drawn and Escape is
// seen; after a second the status line tells what the command does.
void MainWindow::ShowProgress(bool ended) {
    if (ended) {
        if (progressShown_) ShowStatus(QString());
        progressShown_ = false;
        return;
    }
    QApplication::processEvents();
    if (data::WorkElapsed() < data::kStatusDelay) return;
    std::string text = data::StatusText();
    if (text.empty()) return;
    ShowStatus(QString::fromStdString(text + " (Escape stops)"));
    progressShown_ = true;
}

QString MainWindow::Status() const {
    return status_->isVisible() || statusTimer_->isActive() ? status_->text() : QString();
}

void MainWindow::MarkLogLine(int line) {
    markedLine_ = line;
    QList<QTextEdit::ExtraSelection> marks;
    QTextBlock block = log_->document()->findBlockByNumber(line);
    if (line >= 0 && block.isValid()) {
        QTextEdit::ExtraSelection mark;
        mark.cursor = QTextCursor(block);
        mark.format.setBackground(kMarkedLogLine);
        mark.format.setProperty(QTextFormat::FullWidthSelection, true);
        marks.append(mark);
        log_->setTextCursor(QTextCursor(block));
        log_->ensureCursorVisible();
    }
    log_->setExtraSelections(marks);
}

void MainWindow::Execute(const std::string& typed) {
    if (Busy() || !started_) return;
    std::string text = typed == kQuitQuestion ? "QUIT" : typed;
    ++busy_;
    command_->SetState(false);
    ShowStatus(QString());
    bool ok = false;
    try {
        ok = interp::RunTypedCommand(text, true);
    } catch (const data::Fault& fault) {
        desktop_.ErrorBox(interp::FaultText(fault.kind));
    }
    --busy_;
    command_->setReadOnly(false);
    command_->ResetBrowsing();
    MarkLogLine(-1);
    // A failed command stays in the line (as the command showed it) for correction.
    if (ok || interp::DemoMode) command_->clear();
    command_->SetState(!ok && !interp::DemoMode);
    // The keyboard stays with a pane the command opened (a picture, the editor, a file);
    // otherwise it comes back to the command line.
    if (stack_->currentWidget() == picture_ && !picture_->Active()) command_->setFocus();
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
    if (!Busy()) QTimer::singleShot(0, this, [this] { close(); });
}

// ---- the panes the interpreter opens ----

bool MainWindow::Review(const std::string& file) {
    if (closing_) return false;
    bool keep = result_->Review(file, [this] { ShowPane(result_, result_); });
    BackToCommandLine();
    return keep;
}

void MainWindow::ShowFile(const std::string& file) {
    result_->ShowFile(file, file == interp::SessionOutputFile,
                      [this] { ShowPane(result_, result_); });
}

void MainWindow::ShowPicture(bool threeD) {
    // Typed: the picture keeps the keyboard until Escape. In a program it waits for a key
    // (unless it goes into a PostScript file) and then gives the keyboard back.
    if (!interp::ProgramRunning) return picture_->ShowPlot(threeD), ShowPane(picture_, picture_);
    if (plot::psRequested || closing_) {
        picture_->ShowPlot(threeD, false);
        return ShowPane(picture_, nullptr);  // the keyboard stays where it is
    }
    ShowPane(picture_, picture_);
    picture_->ShowPlot(threeD);
    picture_->WaitForKey();
    BackToCommandLine();
}

// SHOW of a picture file: shown in the picture area until Return or Escape.
void MainWindow::ShowImage(const std::string& file) {
    if (!picture_->ShowFile(data::ResolveExisting(file)))
        return interp::SetCommandError(file + " could not be loaded");
    ShowPane(picture_, picture_);
}

void MainWindow::ShowHelp(const std::string& topic) {
    ShowPane(help_, nullptr);
    help_->ShowTopic(topic);
}

std::string MainWindow::EditFile(const std::string& file) {
    std::string error = editor_->Open(file);
    if (!error.empty() || !editor_->IsOpen()) return error;
    setWindowTitle(QString::fromStdString("KORW from " + interp::WorkingDirectory + " - " +
                                          fs::path(editor_->File()).filename().string()));
    ShowPane(editor_, editor_);
    return "";
}

// F9 in the editor: the program runs as a command of its own, its error in a box; the
// keyboard is back in the editor afterwards.
void MainWindow::RunFromEditor(const std::string& command) {
    ++busy_;
    interp::EditorActive = true;
    try {
        interp::ExecuteCommand(command);
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
    BackToCommandLine();
    if (closeRequested_) QTimer::singleShot(0, this, [this] { close(); });
}

void MainWindow::ShowProgramNotice(const std::string& notice) {
    if (editor_->IsOpen()) return;
    command_->setText(QString::fromStdString(notice));
    command_->setReadOnly(true);
    QApplication::processEvents();
}

void MainWindow::ShowDemoText(const std::string& text) {
    demo_->setPlainText(QString::fromStdString(text));
    ShowPane(demo_, command_);
}

void MainWindow::ShowDemoMenu() {
    demo_->setPlainText(QString::fromStdString(session::DemoReadme()));
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
    if (e->key() == Qt::Key_Escape && interp::ProgramRunning && !picture_->Waiting() &&
        !result_->Reviewing() && QApplication::activeModalWidget() == nullptr) {
        escape_ = true;
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---- closing ----

bool MainWindow::CloseSession() {
    if ((selector_ != nullptr && stack_->currentWidget() == selector_) || !started_) return false;
    if (!session::FinishLibrarySession()) return false;
    interp::FileDialog dialog{"Save sessions output file as ...",
                              "KORW output file (*.OUT)|*.OUT",
                              ".OUT",
                              interp::WorkingDirectory,
                              session::DefaultOutputName(interp::WorkingDirectory),
                              true};
    while (std::optional<std::string> name = desktop_.SaveDialog(dialog)) {
        if (session::KeepOutput(*name)) break;
        desktop_.ErrorBox("Can not save " + *name);
    }
    session::RemoveSessionFiles(false);
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A command still running (a program, a long command, results under review) ends first: the
    // program is stopped by the Escape flag, a long command by the stop flag, the review by
    // suppression, and the close follows.
    if (Busy()) {
        closeRequested_ = true;
        escape_ = true;
        data::RequestStop();
        result_->Cancel();
        picture_->Cancel();
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
