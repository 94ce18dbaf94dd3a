// The desktop window driven by keys: one session for the whole run, as a user would have it.
// Boxes and file dialogs answer from the desktop's script, so nothing modal waits for a click.
#include <sys/wait.h>

#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "data/long_work.h"
#include "gui/gui_desktop.h"
#include "gui/help_pane.h"
#include "gui/main_window.h"
#include "gui/selector_pane.h"
#include "gui/window_settings.h"
#include "interp/state.h"
#include "session/session_life.h"

using korw::gui::CommandLine;
using korw::gui::GuiDesktop;
using korw::gui::MainWindow;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir root_;
    std::string work_;
    GuiDesktop desktop_;
    MainWindow* window_ = nullptr;
    QString reviewed_;
    int typing_ = 0;

    static std::string SessionOutput() { return ReadFile(korw::interp::SessionOutputFile); }

    // Types a command and presses Return; results under review are answered with `answer`
    // (Return or Escape) once they are shown, and their text kept in reviewed_.
    // Typed letter by letter, a command word is completed as it grows: "li" becomes LIST, and
    // typing on ("LISTS") falls back to a shorter name, so the tests type what users type.
    void Type(const QString& text, Qt::Key answer = Qt::Key_Return) {
        reviewed_.clear();
        int typing = ++typing_;
        QTimer::singleShot(0, this, [this, answer, typing] { Answer(answer, 0, typing); });
        QTest::keyClicks(&window_->Command(), text);
        QTest::keyClick(&window_->Command(), Qt::Key_Return);
    }

    // Waits (inside the review's own event loop) for the result window, then answers it.
    void Answer(Qt::Key answer, int tries, int typing) {
        if (typing != typing_) return;  // a later command is being typed
        if (window_->Shown() == &window_->Result() && !window_->Result().toPlainText().isEmpty()) {
            reviewed_ = window_->Result().toPlainText();
            QTest::keyClick(&window_->Result(), answer);
            return;
        }
        if (tries < 200)
            QTimer::singleShot(
                5, this, [this, answer, tries, typing] { Answer(answer, tries + 1, typing); });
    }

    QWidget* Focus() { return QApplication::focusWidget(); }
    QWidget* CommandWidget() { return &window_->Command(); }

    // Presses `key` on whatever has the keyboard once a program waits on its picture.
    void AnswerPicture(Qt::Key key, int tries = 0) {
        if (window_->Picture().Waiting()) return QTest::keyClick(Focus(), key);
        if (tries < 400)
            QTimer::singleShot(5, this, [this, key, tries] { AnswerPicture(key, tries + 1); });
    }

    // Answers the find dialog with a phrase once it is up.
    void AnswerFind(const QString& phrase, int tries = 0) {
        if (auto* d = qobject_cast<QInputDialog*>(QApplication::activeModalWidget())) {
            d->setTextValue(phrase);
            return d->accept();
        }
        if (tries < 400)
            QTimer::singleShot(5, this, [this, phrase, tries] { AnswerFind(phrase, tries + 1); });
    }

    QString LastLogLine() {
        QStringList lines = window_->Log().toPlainText().split('\n');
        return lines.isEmpty() ? QString() : lines.back();
    }

  private slots:
    void initTestCase() {
        QVERIFY(root_.isValid());
        work_ = root_.path().toStdString() + "/work";
        fs::create_directories(work_);
        desktop_.script.on = true;
        korw::gui::GuiOptions options;
        options.root = root_.path().toStdString();
        options.workingDirectory = work_;
        window_ = new MainWindow(options, desktop_);
        window_->show();
        window_->Activate();
        QVERIFY(window_->SessionStarted());
        QCOMPARE(window_->windowTitle(), QString::fromStdString("KORW from " + work_));
        // Without LASTDIR the window has the default size.
        QCOMPARE(window_->size(), QSize(820, 600));
    }

    // The command word is completed at each key release; the caret stays behind the typed
    // character; an executed command goes to the log and leaves the line empty.
    void typedCommandsAreCompleted() {
        QTest::keyClicks(&window_->Command(), "vari");
        QCOMPARE(window_->Command().text(), QString("VARIATE"));
        QCOMPARE(window_->Command().cursorPosition(), 7);
        QTest::keyClicks(&window_->Command(), " x y 5");
        QCOMPARE(window_->Command().text(), QString("VARIATE x y 5"));
        QTest::keyClick(&window_->Command(), Qt::Key_Return);
        QCOMPARE(LastLogLine(), QString("VARIATE x y 5"));
        QVERIFY(window_->Command().text().isEmpty());
        // "=" on an empty line starts a COMPUTE.
        QTest::keyClicks(&window_->Command(), "=");
        QCOMPARE(window_->Command().text(), QString("COMPUTE ="));
        window_->Command().clear();
        Type(" x = #");
        Type(" y = x*2+1");
        // The log shows the command as identified: the full name, the blanks reduced.
        QCOMPARE(LastLogLine(), QString("COMPUTE y = x*2+1"));
    }

    // Ctrl+Right and Ctrl+Left step through command names in the command word and through
    // vector names in the parameters; at the end of the list the last name stays.
    void ctrlArrowsStepThroughNames() {
        CommandLine& line = window_->Command();
        line.setText("LIST x");
        line.setCursorPosition(2);
        QTest::keyClick(&line, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(line.text(), QString("LIST1 x"));
        QTest::keyClick(&line, Qt::Key_Left, Qt::ControlModifier);
        QTest::keyClick(&line, Qt::Key_Left, Qt::ControlModifier);
        QCOMPARE(line.text(), QString("L1 x"));
        line.setCursorPosition(line.text().size());
        QTest::keyClick(&line, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(line.text(), QString("L1 Y"));
        QTest::keyClick(&line, Qt::Key_Right, Qt::ControlModifier);
        QCOMPARE(line.text(), QString("L1 Y"));
        line.clear();
    }

    // IMPORT and EXPORT are typed as other commands: a key right after the completion of I or
    // EX that begins one of them counts as typed after the short word, every other key as
    // before; the caret stays behind the typed character.
    void importAndExportAreTyped() {
        CommandLine& line = window_->Command();
        struct {
            const char* keys;
            const char* line;
        } cases[] = {{"i", "INCLUDE"},     {"im", "IMPORT"},      {"import", "IMPORT"},
                     {"in", "INCLUDE"},    {"ex", "EXCLUDE"},     {"exp", "EXPORT"},
                     {"export", "EXPORT"}, {"exc", "EXCLUDE"},    {"ski", "SKIPITEM"},
                     {"ope", "OPEN"},      {"inca", "INCLUDEALL"}};
        for (const auto& c : cases) {
            line.clear();
            QTest::keyClicks(&line, c.keys);
            QCOMPARE(line.text(), QString(c.line));
            QCOMPARE(line.cursorPosition(), static_cast<int>(line.text().size()));
        }
        line.clear();
        QTest::keyClicks(&line, "im my.csv");
        QCOMPARE(line.text(), QString("IMPORT my.csv"));
        // The caret moved away from the completed name: M is typed into it and cut back.
        line.clear();
        QTest::keyClicks(&line, "i");
        line.setCursorPosition(3);
        QTest::keyClicks(&line, "m");
        QCOMPARE(line.text(), QString("INC"));
        line.clear();
    }

    // The command list and Ctrl+Right/Left hold the new commands in their alphabetical places.
    void newCommandsAreListedAndBrowsed() {
        QStringList names;
        for (int i = 0; i < window_->CommandList().count(); ++i)
            names << window_->CommandList().item(i)->text();
        QCOMPARE(names.size(), 78);
        QCOMPARE(names.indexOf("EXPORT"), names.indexOf("EXCLUDEMISSING") + 1);
        QCOMPARE(names.indexOf("IMPORT"), names.indexOf("HISTOGRAM") + 1);
        CommandLine& line = window_->Command();
        for (auto [from, to] :
             {std::pair{"EXCLUDEMISSING x", "EXPORT x"}, std::pair{"HISTOGRAM x", "IMPORT x"}}) {
            line.setText(from);
            line.setCursorPosition(2);
            QTest::keyClick(&line, Qt::Key_Right, Qt::ControlModifier);
            QCOMPARE(line.text(), QString(to));
            QTest::keyClick(&line, Qt::Key_Left, Qt::ControlModifier);
            QCOMPARE(line.text(), QString(from));
        }
        line.clear();
    }

    // Results wait in the result window: Return keeps them, Escape suppresses them.
    void resultsAreReviewed() {
        Type("li x y", Qt::Key_Return);
        QVERIFY(reviewed_.contains("11"));
        std::string out = SessionOutput();
        QVERIFY(out.find("KORW> LIST x y\n") != std::string::npos);
        QVERIFY(out.find("11") != std::string::npos);
        QVERIFY(out.find("OUTPUT SUPPRESSED") == std::string::npos);
        Type("li x", Qt::Key_Escape);
        QVERIFY(!reviewed_.isEmpty());
        out = SessionOutput();
        QVERIFY(out.rfind("KORW> LIST x\n *** OUTPUT SUPPRESSED ***\n") != std::string::npos);
        QCOMPARE(window_->Shown(), static_cast<QWidget*>(&window_->Picture()));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&window_->Command()));
    }

    // A failed command: the error box, "*** " in the log, the text kept; Up brings back the
    // failed command without its "*** " and Down restores what was being typed.
    void failedCommandStaysInTheLine() {
        desktop_.script.boxes.clear();
        Type("li nosuch");
        QCOMPARE(desktop_.script.boxes, std::vector<std::string>{"Invalid identifier NOSUCH"});
        QCOMPARE(LastLogLine(), QString("*** LIST nosuch"));
        QCOMPARE(window_->Command().text(), QString("LIST nosuch"));
        window_->Command().setText("SUMMARY x");
        QTest::keyClick(&window_->Command(), Qt::Key_Up);
        QCOMPARE(window_->Command().text(), QString("LIST nosuch"));
        QTest::keyClick(&window_->Command(), Qt::Key_Up);
        QCOMPARE(window_->Command().text(), QString("LIST x"));
        QTest::keyClick(&window_->Command(), Qt::Key_PageDown);
        QTest::keyClick(&window_->Command(), Qt::Key_Down);
        QCOMPARE(window_->Command().text(), QString("SUMMARY x"));
        // Escape empties the line, and on an empty line offers the QUIT question.
        QTest::keyClick(&window_->Command(), Qt::Key_Escape);
        QVERIFY(window_->Command().text().isEmpty());
        QTest::keyClick(&window_->Command(), Qt::Key_Escape);
        QCOMPARE(window_->Command().text(),
                 QString("QUIT ? (Press Return to quit, Escape to continue)"));
        QTest::keyClick(&window_->Command(), Qt::Key_Escape);
        QVERIFY(window_->Command().text().isEmpty());
    }

    // KEYS defines a shortkey; "?" takes the selected text and "!" runs the line; KEYS lists it.
    void shortKeysInsertAndRun() {
        Type("k CF5 COMPUTE ?=0!");
        QCOMPARE(LastLogLine(), QString("KEYS CF5 COMPUTE ?=0!"));
        window_->Command().setText("y");
        window_->Command().selectAll();
        QTest::keyClick(&window_->Command(), Qt::Key_F5, Qt::ControlModifier);
        QCOMPARE(LastLogLine(), QString("COMPUTE y=0"));
        Type("k");
        QVERIFY(reviewed_.startsWith(" Present shortkey definitions."));
        QVERIFY2(reviewed_.contains("  <Ctrl>-F5   COMPUTE ?=0!"), qPrintable(reviewed_));
        Type("k CF5");
    }

    // F9 in the editor runs the selected lines; the failing line is selected afterwards, and
    // the file keeps its whole text.
    void editorRunsSelectionAndSelectsFailingLine() {
        std::string program = "VARIATE a 2\nVARIATE b 2\nLIST nosuch\nVARIATE c 2\n";
        std::ofstream(work_ + "/prog.KOR") << program;
        Type("ed prog");
        QCOMPARE(window_->Shown(), static_cast<QWidget*>(&window_->Editor()));
        QTextCursor c(window_->Editor().document());
        c.setPosition(window_->Editor().document()->findBlockByNumber(1).position());
        c.setPosition(window_->Editor().document()->findBlockByNumber(3).position(),
                      QTextCursor::KeepAnchor);
        window_->Editor().setTextCursor(c);
        desktop_.script.boxes.clear();
        QTest::keyClick(&window_->Editor(), Qt::Key_F9);
        QCOMPARE(desktop_.script.boxes,
                 std::vector<std::string>{"Invalid identifier NOSUCH (line 2)"});
        QCOMPARE(window_->Editor().textCursor().selectedText(), QString("LIST nosuch"));
        QCOMPARE(QString::fromStdString(ReadFile(work_ + "/prog.KOR")),
                 QString::fromStdString(program));
        QVERIFY(SessionOutput().find(" *** START OF PROGRAM - executing selected lines only ***") !=
                std::string::npos);
        QTest::keyClick(&window_->Editor(), Qt::Key_Escape);
        QCOMPARE(window_->Shown(), static_cast<QWidget*>(&window_->Picture()));
    }

    // A plot is shown; Return offers "Save picture as ..." with KORWn.JPG, the type following
    // the extension; 3-d pictures turn with the arrow keys.
    void picturesAreShownSavedAndTurned() {
        Type(" w = x*x+1");
        Type("pl x w");
        QCOMPARE(LastLogLine(), QString("PLOT x w"));
        QCOMPARE(window_->Shown(), static_cast<QWidget*>(&window_->Picture()));
        QImage plotted = window_->Picture().Image();
        QCOMPARE(plotted.size(), QSize(640, 480));
        desktop_.script.dialogAnswers = {"pic1", "pic2.bmp"};
        desktop_.script.dialogTitles.clear();
        desktop_.script.dialogNames.clear();
        QTest::keyClick(&window_->Picture(), Qt::Key_Return);
        QTest::keyClick(&window_->Picture(), Qt::Key_Return);
        QCOMPARE(desktop_.script.dialogTitles, std::vector<std::string>(2, "Save picture as ..."));
        QCOMPARE(desktop_.script.dialogNames, (std::vector<std::string>{"KORW1.JPG", "KORW1.JPG"}));
        QVERIFY(fs::exists(work_ + "/pic1.JPG"));
        QCOMPARE(ReadFile(work_ + "/pic1.JPG").substr(0, 2), std::string("\xFF\xD8"));
        QCOMPARE(ReadFile(work_ + "/pic2.bmp").substr(0, 2), std::string("BM"));
        QVERIFY(SessionOutput().find(" *** Picture saved as " + work_ + "/pic1.JPG ***") !=
                std::string::npos);
        QTest::keyClick(&window_->Picture(), Qt::Key_Escape);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(&window_->Command()));

        // In a program the picture waits for a key; Return offers to save it there too.
        std::ofstream(work_ + "/pic.KOR") << "PLOT x w\nVARIATE after 1\n";
        desktop_.script.dialogAnswers = {""};
        desktop_.script.dialogTitles.clear();
        QTimer::singleShot(50, this, [this] {
            QVERIFY(korw::interp::ProgramRunning);
            QTest::keyClick(&window_->Picture(), Qt::Key_Return);
        });
        Type("ru pic");
        QCOMPARE(desktop_.script.dialogTitles, std::vector<std::string>{"Save picture as ..."});
        QVERIFY(SessionOutput().find("KORW: VARIATE after 1\n *** END OF PROGRAM ***") !=
                std::string::npos);

        Type(" z = 10-x");
        Type("pl x w z");
        QImage before = window_->Picture().Image();
        QTest::keyClick(&window_->Picture(), Qt::Key_Left);
        QVERIFY(window_->Picture().Image() != before);
        QImage turned = window_->Picture().Image();
        QTest::keyClick(&window_->Picture(), Qt::Key_Plus, Qt::KeypadModifier);
        QVERIFY(window_->Picture().Image() != turned);
        QTest::keyClick(&window_->Picture(), Qt::Key_Escape);
    }

    // After a program's picture is answered the keyboard is back on the command line: what is
    // typed next reaches it, and Return runs it instead of offering to save the picture.
    void programPictureGivesTheKeyboardBack() {
        Type("v P 5");
        Type(" P = #");
        std::ofstream(work_ + "/pic2.KOR") << "PLOT P P\nREMARK done\n";
        desktop_.script.dialogTitles.clear();
        AnswerPicture(Qt::Key_Space);
        Type("ru pic2");
        QCOMPARE(LastLogLine(), QString("RUN pic2"));
        QVERIFY(SessionOutput().find("KORW: REMARK done") != std::string::npos);
        QCOMPARE(Focus(), CommandWidget());
        QVERIFY(!window_->Picture().Active());
        QTest::keyClicks(Focus(), "REMARK typed");
        QTest::keyClick(Focus(), Qt::Key_Return);
        QCOMPARE(LastLogLine(), QString("REMARK typed"));
        QVERIFY(desktop_.script.dialogTitles.empty());

        // Run from the editor, the keyboard goes back to the editor, Return first saving.
        Type("ed pic2");
        desktop_.script.dialogAnswers = {""};
        AnswerPicture(Qt::Key_Return);
        QTest::keyClick(&window_->Editor(), Qt::Key_F9);
        QCOMPARE(desktop_.script.dialogTitles, std::vector<std::string>{"Save picture as ..."});
        QCOMPARE(window_->Shown(), static_cast<QWidget*>(&window_->Editor()));
        QCOMPARE(Focus(), static_cast<QWidget*>(&window_->Editor()));
        QTest::keyClick(&window_->Editor(), Qt::Key_Escape);
        QCOMPARE(Focus(), CommandWidget());
    }

    // Every way out of every pane gives the keyboard back: to the command line, or to the
    // editor while it is open, or within the pane (the command list back to the help text).
    void everyWayOutGivesTheKeyboardBack() {
        QWidget* picture = &window_->Picture();
        QWidget* result = &window_->Result();
        QWidget* help = &window_->Help();
        QWidget* list = &window_->CommandList();
        QWidget* editor = &window_->Editor();
        // A typed plot keeps the keyboard until Escape.
        Type("pl P P");
        QCOMPARE(Focus(), picture);
        QTest::keyClick(picture, Qt::Key_Escape);
        QCOMPARE(Focus(), CommandWidget());
        QCOMPARE(window_->Shown(), picture);
        // A picture file is left by Return as by Escape.
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(QString::fromStdString(work_ + "/blue.bmp"), "BMP"));
        Type("sho blue.bmp");
        QCOMPARE(Focus(), picture);
        QTest::keyClick(picture, Qt::Key_Return);
        QCOMPARE(Focus(), CommandWidget());
        // The session output file: Return and Escape both leave it.
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            Type("sho");
            QCOMPARE(window_->Shown(), result);
            QCOMPARE(Focus(), result);
            QTest::keyClick(result, key);
            QCOMPARE(Focus(), CommandWidget());
            QCOMPARE(window_->Shown(), picture);
        }
        // Help: F1, the list by F1, back to the text by Escape, out by Escape; Backspace in
        // the list leaves with the command name in the line.
        QTest::keyClick(CommandWidget(), Qt::Key_F1);
        QCOMPARE(Focus(), help);
        QTest::keyClick(help, Qt::Key_F1);
        QCOMPARE(Focus(), list);
        QTest::keyClick(list, Qt::Key_Escape);
        QCOMPARE(Focus(), help);
        QTest::keyClick(help, Qt::Key_Escape);
        QCOMPARE(Focus(), CommandWidget());
        QCOMPARE(window_->Shown(), picture);
        window_->Command().setText("summ");
        QTest::keyClick(CommandWidget(), Qt::Key_F1, Qt::ControlModifier);
        QCOMPARE(window_->Help().textCursor().block().text().trimmed(), QString("SUMMARY"));
        QTest::keyClick(help, Qt::Key_F1);
        window_->CommandList().setCurrentRow(2);
        QString name = window_->CommandList().currentItem()->text();
        QTest::keyClick(list, Qt::Key_Backspace);
        QCOMPARE(Focus(), CommandWidget());
        QCOMPARE(window_->Command().text(), name + " ");
        window_->Command().clear();
        // From the editor, help and the session output go back to the editor.
        Type("ed pic2");
        QCOMPARE(Focus(), editor);
        QTest::keyClick(editor, Qt::Key_F1, Qt::ControlModifier);
        QCOMPARE(window_->Help().textCursor().block().text().trimmed(), QString("PLOT"));
        QTest::keyClick(help, Qt::Key_Escape);
        QCOMPARE(Focus(), editor);
        QTest::keyClick(editor, Qt::Key_F10);
        QCOMPARE(Focus(), result);
        QTest::keyClick(result, Qt::Key_Escape);
        QCOMPARE(Focus(), editor);
        QTest::keyClick(editor, Qt::Key_F1);
        QTest::keyClick(help, Qt::Key_F1);
        QTest::keyClick(list, Qt::Key_Left);  // no command line while the editor is open
        QCOMPARE(Focus(), editor);
        QVERIFY(window_->Command().text().isEmpty());
        QTest::keyClick(editor, Qt::Key_Escape);
        QCOMPARE(Focus(), CommandWidget());
        // Results under review, then a plot and a review after it: the picture is closed.
        Type("pl P P");
        window_->Command().setFocus();
        Type("li P", Qt::Key_Escape);
        QCOMPARE(Focus(), CommandWidget());
        QVERIFY(!window_->Picture().Active());
    }

    // The directory selector: Escape moves between the tree and the name, Return in either
    // hands the directory back.
    void selectorHandsBackTheDirectory() {
        korw::gui::SelectorPane selector;
        std::vector<std::string> chosen;
        selector.chosen = [&](const std::string& d) { chosen.push_back(d); };
        selector.show();
        QVERIFY(QTest::qWaitForWindowExposed(&selector));
        selector.activateWindow();
        selector.Open(work_);
        QCOMPARE(Focus(), static_cast<QWidget*>(&selector.Tree()));
        QCOMPARE(selector.Name().text(), QString::fromStdString(work_));
        QTest::keyClick(&selector.Tree(), Qt::Key_Escape);
        QCOMPARE(Focus(), static_cast<QWidget*>(&selector.Name()));
        QTest::keyClick(&selector.Name(), Qt::Key_Escape);
        QCOMPARE(Focus(), static_cast<QWidget*>(&selector.Tree()));
        QTest::keyClick(&selector.Tree(), Qt::Key_Return);
        selector.Name().setText(QString::fromStdString(work_ + "/new"));
        QTest::keyClick(&selector.Name(), Qt::Key_Enter);
        QCOMPARE(chosen, (std::vector<std::string>{work_, work_ + "/new"}));
        window_->activateWindow();
        window_->Command().setFocus();
    }

    // Up and Down mark the log line they fetched; the line is red only for a command that
    // failed, and the text being typed comes back with its own colour.
    void browsingMarksTheFetchedLine() {
        CommandLine& line = window_->Command();
        auto red = [&line] { return line.palette().color(QPalette::Base) == QColor(160, 0, 0); };
        Type("li nosuch");
        QVERIFY(red());
        int last = static_cast<int>(window_->Log().blockCount()) - 1;
        QTest::keyClick(&line, Qt::Key_Up);
        QCOMPARE(window_->MarkedLogLine(), last);
        QCOMPARE(window_->Log().textCursor().block().text(), QString("*** LIST nosuch"));
        QVERIFY(red());
        QTest::keyClick(&line, Qt::Key_Up);
        QCOMPARE(window_->MarkedLogLine(), last - 1);
        QCOMPARE(window_->Log().extraSelections().size(), 1);
        QVERIFY(!line.text().startsWith("***"));
        QVERIFY(!red());
        QTest::keyClick(&line, Qt::Key_Down);
        QTest::keyClick(&line, Qt::Key_Down);
        QCOMPARE(window_->MarkedLogLine(), -1);
        QVERIFY(window_->Log().extraSelections().isEmpty());
        QCOMPARE(line.text(), QString("LIST nosuch"));
        QVERIFY(red());
        QTest::keyClick(&line, Qt::Key_Up);
        QTest::keyClick(&line, Qt::Key_Up);
        line.clear();
        Type("REMARK ok");  // running a command ends the browsing and its mark
        QCOMPARE(window_->MarkedLogLine(), -1);
        QVERIFY(!red());
    }

    // F2 in the editor and a search that finds nothing say so in the status line.
    void editorAndSearchReportInTheStatusLine() {
        Type("ed pic2");
        window_->Editor().moveCursor(QTextCursor::End);
        QTest::keyClicks(&window_->Editor(), "REMARK more");
        QTest::keyClick(&window_->Editor(), Qt::Key_F2);
        QCOMPARE(window_->Status(), QString("Saved pic2.KOR"));
        QVERIFY(ReadFile(work_ + "/pic2.KOR").find("REMARK more") != std::string::npos);
        window_->Editor().moveCursor(QTextCursor::Start);
        AnswerFind("done");
        QTest::keyClick(&window_->Editor(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(window_->Editor().textCursor().selectedText(), QString("done"));
        QTest::keyClick(&window_->Editor(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(window_->Status(), QString("\"done\" not found below the cursor"));
        QTest::keyClick(&window_->Editor(), Qt::Key_Escape);
        // The help text's search too.
        QTest::keyClick(CommandWidget(), Qt::Key_F1);
        AnswerFind("no  such   phrase");
        QTest::keyClick(&window_->Help(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(window_->Status(), QString("\"no such phrase\" not found below the cursor"));
        QTest::keyClick(&window_->Help(), Qt::Key_Escape);
        // A command clears the line.
        Type("REMARK ok");
        QVERIFY(window_->Status().isEmpty());
    }

    // The help window describes the window's keys; the rest of the text is the terminal's.
    void helpDescribesTheWindow() {
        std::string terminal = korw::session::HelpText();
        std::string window = korw::gui::WindowHelpText(terminal);
        QVERIFY(terminal.find("Keys of the command line (terminal version") != std::string::npos);
        QVERIFY(window.find("Keys of the command line (terminal version") == std::string::npos);
        QVERIFY(window.find("this text is shown in a pager") == std::string::npos);
        QVERIFY(window.find("Keys of the window (korw-gui)") != std::string::npos);
        QVERIFY(window.find("Ctrl+K") == std::string::npos);
        size_t from = terminal.find("\nStarting KORW\n");
        QVERIFY(from != std::string::npos);
        QCOMPARE(window.substr(window.find("\nStarting KORW\n")), terminal.substr(from));
        QCOMPARE(window.substr(0, 200), terminal.substr(0, 200));
        // A text without the terminal's parts is left as it is.
        QCOMPARE(korw::gui::WindowHelpText("KORW help\nSUMMARY\n"),
                 std::string("KORW help\nSUMMARY\n"));
        QTest::keyClick(CommandWidget(), Qt::Key_F1);
        QVERIFY(window_->Help().toPlainText().contains("Keys of the window (korw-gui)"));
        QTest::keyClick(&window_->Help(), Qt::Key_Escape);
    }

    // On a screen of two device pixels to a pixel the plot is drawn again at that scale: the
    // same picture (each pixel of the bitmap is, nearly everywhere, the colour of the 2 x 2
    // block it became), sharper; the saved picture stays 640 x 480.
    void plotIsDrawnAtTheScreensScale() {
        Type("pl P P");
        QImage bitmap = korw::gui::PlotImage(1);
        QImage sharp = korw::gui::PlotImage(2);
        QCOMPARE(bitmap.size(), QSize(640, 480));
        QCOMPARE(sharp.size(), QSize(1280, 960));
        QCOMPARE(sharp.devicePixelRatio(), 2.0);
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(640, 480));
        int same = 0, differentBlocks = 0;
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x) {
                same += sharp.pixel(2 * x, 2 * y) == bitmap.pixel(x, y);
                differentBlocks += sharp.pixel(2 * x, 2 * y) != sharp.pixel(2 * x + 1, 2 * y + 1);
            }
        QVERIFY2(same > 640 * 480 * 98 / 100, qPrintable(QString::number(same)));
        QVERIFY(differentBlocks > 0);  // finer than the bitmap blown up
        QCOMPARE(window_->Picture().Image().size(), QSize(640, 480));  // at scale 1 here
        desktop_.script.dialogAnswers = {"scaled.bmp"};
        QTest::keyClick(&window_->Picture(), Qt::Key_Return);
        QCOMPARE(QImage(QString::fromStdString(work_ + "/scaled.bmp")).size(), QSize(640, 480));
        QTest::keyClick(&window_->Picture(), Qt::Key_Escape);
    }

    // Escape while a program runs stops it after the present line: the window answers keys
    // between the program's lines.
    void escapeStopsARunningProgram() {
        std::ofstream prog(work_ + "/slow.KOR");
        for (int i = 0; i < 400; ++i) prog << "VARIATE s" << i % 50 << " 10\n";
        prog.close();
        desktop_.script.boxes.clear();
        QTimer::singleShot(0, this,
                           [this] { QTest::keyClick(&window_->Command(), Qt::Key_Escape); });
        Type("ru slow");
        QCOMPARE(desktop_.script.boxes.size(), size_t(1));
        QVERIFY(desktop_.script.boxes[0].rfind("Escape from keyboard (line ", 0) == 0);
        QVERIFY(SessionOutput().find(" *** PROGRAM INTERRUPTED ***") != std::string::npos);
        QVERIFY(!window_->Command().isReadOnly());
    }

    // Escape while a command runs stops the command at its next poll; meanwhile the window is
    // drawn and, after a second, its status line shows what the command does.
    void escapeStopsARunningCommand() {
        std::ofstream(work_ + "/fitdata.KOR")
            << "VARIATE fx fy 400\nCOMPUTE fx = (SIN(#) + 1) / 2\n"
               "COMPUTE fy = (SIN(# * 7.3) + 1) / 2 < 0.3 + 0.4 * fx\n";
        Type("ru fitdata");
        // A fit of a few passes made slow by the test hook; the status line shows after a
        // second. The timers live on `guard`, so none outlives the test.
        korw::data::SetTestPollSleep(300);
        QString status;
        QObject guard;
        std::function<void(int)> stopWhenShown = [&](int tries) {
            if (window_->Status().contains("FITLOGITLINEAR: iteration")) {
                status = window_->Status();
                return QTest::keyClick(&window_->Command(), Qt::Key_Escape);
            }
            if (tries < 400)
                QTimer::singleShot(20, &guard, [&, tries] { stopWhenShown(tries + 1); });
        };
        QTimer::singleShot(0, &guard, [&] { stopWhenShown(0); });
        desktop_.script.boxes.clear();
        Type("FITLOGITLINEAR fy = 1 + fx");
        korw::data::SetTestPollSleep(0);
        QVERIFY2(status.endsWith(" (Escape stops)"), qPrintable(status));
        QCOMPARE(desktop_.script.boxes, std::vector<std::string>{"Interrupted by the user"});
        QVERIFY(SessionOutput().find(" *** ERROR - Interrupted by the user ***") !=
                std::string::npos);
        QVERIFY(window_->Status().isEmpty());
        QVERIFY(!window_->Command().isReadOnly());
        window_->Command().clear();
    }

    // SHOW of a picture file puts it in the picture area; Escape closes it.
    void showPutsAPictureFileInThePictureArea() {
        QImage image(20, 10, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(image.save(QString::fromStdString(work_ + "/red.bmp"), "BMP"));
        Type("sho red.bmp");
        QCOMPARE(window_->Shown(), static_cast<QWidget*>(&window_->Picture()));
        QCOMPARE(window_->Picture().Image().size(), QSize(20, 10));
        QTest::keyClick(&window_->Picture(), Qt::Key_Escape);
        QCOMPARE(window_->Picture().Image().size(), QSize(640, 480));
    }

    // SHELL starts a program with its arguments and leaves no child of ours behind.
    void shellStartsAProgramWithItsArguments() {
        std::string marker = work_ + "/marker.txt";
        std::ofstream(work_ + "/mark.sh") << "#!/bin/sh\necho \"$@\" > " << marker << "\n";
        fs::permissions(work_ + "/mark.sh", fs::perms::owner_all);
        Type("shel mark.sh one two");
        QCOMPARE(LastLogLine(), QString("SHELL mark.sh one two"));
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(ReadFile(marker)), QString("one two\n"),
                                  5000);
        QCOMPARE(::waitpid(-1, nullptr, WNOHANG), -1);
    }

    // A listing of 10^5 lines is shown in blocks: the window keeps answering while it loads.
    void longOutputDoesNotFreezeTheWindow() {
        Type("v long 100000");
        Type(" long = #");
        QElapsedTimer clock, sinceTick;
        qint64 longestGap = 0;
        QTimer ticker;
        ticker.setInterval(10);
        connect(&ticker, &QTimer::timeout, this,
                [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        clock.start();
        sinceTick.start();
        ticker.start();
        // Escape once the last line is on show.
        int lines = 0;
        std::function<void()> whenLoaded = [&] {
            lines = window_->Result().blockCount();
            if (lines >= 100000) return QTest::keyClick(&window_->Result(), Qt::Key_Escape);
            QTimer::singleShot(5, this, whenLoaded);
        };
        QTimer::singleShot(0, this, whenLoaded);
        ++typing_;
        QTest::keyClicks(&window_->Command(), "li long");
        QTest::keyClick(&window_->Command(), Qt::Key_Return);
        ticker.stop();
        qInfo() << "LIST of 100000 lines:" << clock.elapsed() << "ms, longest freeze" << longestGap
                << "ms";
        QVERIFY(lines >= 100000);
        QVERIFY(longestGap < 1000);
    }

    // LASTDIR: six lines; a line that cannot be read, or a width or height of 0, gives the
    // default size; a working directory that is gone gives MISC under the root.
    void lastDirIsReadWithFallbacks() {
        QTemporaryDir dir;
        std::string root = dir.path().toStdString();
        korw::gui::WindowSettings s = korw::gui::ReadLastDir(root);
        QCOMPARE(s.workingDirectory, root + "/MISC");
        QCOMPARE(s.width, 0);
        std::ofstream(root + "/LASTDIR") << root << "\n10\n20\n700\n500\n0\n";
        s = korw::gui::ReadLastDir(root);
        QCOMPARE(s.workingDirectory, root);
        QVERIFY(s.left == 10 && s.top == 20 && s.width == 700 && s.height == 500 && !s.hintsOn);
        std::ofstream(root + "/LASTDIR") << root << "/gone\n10\n20\nwide\n500\n0\n";
        s = korw::gui::ReadLastDir(root);
        QCOMPARE(s.workingDirectory, root + "/MISC");
        QVERIFY(s.width == 0 && s.hintsOn);
        std::ofstream(root + "/LASTDIR") << root << "\n10\n20\n0\n500\n0\n";
        s = korw::gui::ReadLastDir(root);
        QVERIFY(s.width == 0 && !s.hintsOn);  // the default size, the hints still off
        QCOMPARE(korw::gui::CentredPosition(1024, 820), 102);
        QCOMPARE(korw::gui::CentredPosition(1023, 820), 102);  // 101.5 rounds away from zero
    }

    // The dialogs' filters in Qt's form, each pattern in both cases.
    void filtersBecomeQtFilters() {
        QCOMPARE(korw::gui::QtFilter("JPEG Image File (*.jpg)|*.jpg|Bitmaps (*.bmp)|*.bmp"),
                 std::string("JPEG Image File (*.JPG *.jpg);;Bitmaps (*.BMP *.bmp)"));
        QCOMPARE(korw::gui::QtFilter("KORW program (*.KOR)|*.KOR"),
                 std::string("KORW program (*.KOR *.kor)"));
        // Several lower-case patterns of one type, and several types.
        QCOMPARE(korw::gui::QtFilter("Data files (*.csv *.tab *.sas7bdat)|*.csv;*.tab;*.sas7bdat"),
                 std::string("Data files (*.CSV *.csv *.TAB *.tab *.SAS7BDAT *.sas7bdat)"));
        QCOMPARE(korw::gui::QtFilter("CSV file (*.csv)|*.csv|Stata file (*.dta)|*.dta"),
                 std::string("CSV file (*.CSV *.csv);;Stata file (*.DTA *.dta)"));
    }

    // Closing: the session output saved as chosen, the session files gone, LASTDIR written.
    void closingKeepsOutputAndWritesLastDir() {
        std::string root = root_.path().toStdString();
        desktop_.script.dialogAnswers = {"session"};
        desktop_.script.dialogTitles.clear();
        window_->Command().setFocus();
        QTest::keyClick(&window_->Command(), Qt::Key_F1, Qt::ShiftModifier);  // hints off
        QVERIFY(!window_->HintsOn());
        window_->close();
        QCOMPARE(desktop_.script.dialogTitles,
                 std::vector<std::string>{"Save sessions output file as ..."});
        std::string kept = ReadFile(work_ + "/session.OUT");
        QVERIFY(kept.find("KORW> PLOT x w z") != std::string::npos);
        QVERIFY(kept.find("End of session") != std::string::npos);
        QVERIFY(!fs::exists(root + "/KORWOUT.TMP"));
        QVERIFY(!fs::exists(root + "/KORW.TMP"));
        std::string lastDir = ReadFile(root + "/LASTDIR");
        QVERIFY(lastDir.rfind(work_ + "\n", 0) == 0);
        QVERIFY(lastDir.find("\n820\n600\n0\n") != std::string::npos);
        delete window_;
        window_ = nullptr;
    }

    // A program named at start-up runs with the start-up picture hidden.
    void startProgramRunsWithThePictureHidden() {
        std::ofstream(work_ + "/start.KOR") << "REMARK started\n";
        korw::gui::GuiOptions options;
        options.root = root_.path().toStdString();
        options.arguments = {work_ + "/start.KOR"};
        desktop_.script.dialogAnswers = {""};
        MainWindow window(options, desktop_);
        window_ = &window;
        window.show();
        window.Activate();
        QVERIFY(SessionOutput().find("KORW: REMARK started") != std::string::npos);
        QVERIFY(window.Picture().Image().isNull());
        QCOMPARE(window.Shown(), static_cast<QWidget*>(&window.Picture()));
        window.close();
        window_ = nullptr;
    }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
