// Session fixture of the interpreter tests: a recording Desktop, a root and a working directory
// of their own under the test's temporary directory, and a library session started the way the
// front ends start one.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "data/errors.h"
#include "data/outfile.h"
#include "data/session.h"
#include "interp/desktop.h"
#include "interp/execute.h"
#include "interp/programs.h"
#include "interp/state.h"

namespace korw::interp::test {

// Records what the interpreter asks of the front end; confirmations and result reviews take
// their answers from scripts (No and Keep when the script has run out).
class FakeDesktop : public Desktop {
  public:
    int beeps = 0;
    bool closed = false;
    bool escape = false;
    std::vector<std::string> errorBoxes;
    std::vector<std::string> questions;
    std::deque<bool> confirmAnswers;
    std::vector<std::string> log;
    std::vector<std::string> commandTexts;
    std::vector<std::string> reviewed;  // the contents of each file put up for review
    std::deque<bool> reviewAnswers;

    void Beep() override { ++beeps; }
    void ErrorBox(const std::string& text) override { errorBoxes.push_back(text); }
    bool Confirm(const std::string& text) override {
        questions.push_back(text);
        if (confirmAnswers.empty()) return false;
        bool answer = confirmAnswers.front();
        confirmAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> OpenDialog(const FileDialog&) override { return {}; }
    std::optional<std::string> SaveDialog(const FileDialog&) override { return {}; }
    void ShellOpen(const std::string&, const std::string&) override {}
    bool CopyFile(const std::string&, const std::string&) override { return false; }
    bool EscapeRequested() override { return escape; }
    bool ReviewResults(const std::string& file) override {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        reviewed.push_back(s.str());
        if (reviewAnswers.empty()) return true;
        bool keep = reviewAnswers.front();
        reviewAnswers.pop_front();
        return keep;
    }
    void LogCommand(const std::string& line) override { log.push_back(line); }
    void SetCommandText(const std::string& text) override { commandTexts.push_back(text); }
    void CloseMainWindow() override { closed = true; }
};

class InterpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "interp_test_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        previousDirectory_ = std::filesystem::current_path().string();
        std::filesystem::create_directory(root_ + "/work");

        RootDirectory = root_;
        SessionOutputFile = root_ + "/KORWOUT.TMP";
        TemporaryOutput = RootTemporaryOutput();
        CurrentOutputFile = SessionOutputFile;
        WorkingDirectory = root_ + "/work";
        CommandError.clear();
        EchoOn = true;
        ProgramRunning = EditorActive = SessionClosing = OutputPending = false;
        AnovaFitted = NegBinFitted = NonLinearFitted = false;
        InputFileOpen = false;
        EscapePressed = false;
        TheDesktop = &desktop;

        if (data::Active) data::Finish();
        data::Start("KORW JUN2009", SessionOutputFile);
        data::ContinueOnError = true;
        data::NewOutFile(TemporaryOutput);
    }

    void TearDown() override {
        SessionOutputFile = root_ + "/KORWOUT.TMP";
        try {
            if (data::Active) data::Finish();
        } catch (const data::Fault&) {
        }
        TheDesktop = nullptr;
        ProgramRunning = SessionClosing = false;
        EchoOn = true;
        std::error_code ec;
        std::filesystem::current_path(previousDirectory_, ec);
        std::filesystem::remove_all(root_, ec);
    }

    // Runs one line and returns the command's error text.
    std::string Run(const std::string& line) {
        ExecuteCommand(line);
        return CommandError;
    }

    static std::vector<std::string> LinesOf(const std::string& file) {
        std::ifstream in(file);
        std::vector<std::string> lines;
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }

    static std::string TextOf(const std::string& file) {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // The lines of the session output file written since the mark.
    size_t Mark() { return LinesOf(SessionOutputFile).size(); }
    std::vector<std::string> Since(size_t mark) {
        std::vector<std::string> lines = LinesOf(SessionOutputFile);
        return {lines.begin() + static_cast<long>(std::min(mark, lines.size())), lines.end()};
    }

    void WriteFile(const std::string& name, const std::string& text) {
        std::ofstream(WorkingDirectory + "/" + name) << text;
    }

    FakeDesktop desktop;
    std::string root_;

  private:
    std::string previousDirectory_;
};

}  // namespace korw::interp::test
