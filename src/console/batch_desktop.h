// The desktop services of batch mode: boxes go to stderr, confirmations take the --yes answer,
// dialogs are cancelled and every result is accepted.
#pragma once

#include <string>
#include <utility>

#include "interp/desktop.h"

namespace korw::console {

// SIGINT, SIGTERM and SIGHUP end a batch session as Escape ends a program: a running program is
// interrupted, no further line is read, and the session is closed as usual. The handlers do not
// restart a read of stdin, so that a session waiting for its next line stops at once.
void CatchStopSignals();
bool StopSignalled();

class BatchDesktop : public interp::Desktop {
  public:
    // `pictureType` is the extension pictures are kept with: ".JPG", ".PNG" or ".BMP".
    BatchDesktop(bool yes, bool pictures, std::string pictureType = ".JPG")
        : yes_(yes), pictures_(pictures), pictureType_(std::move(pictureType)) {}

    void Beep() override {}
    void ErrorBox(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<std::string> OpenDialog(const interp::FileDialog&) override { return {}; }
    std::optional<std::string> SaveDialog(const interp::FileDialog&) override { return {}; }
    void ShellOpen(const std::string& file, const std::string& arguments) override;
    bool CopyFile(const std::string& from, const std::string& to) override;
    bool EscapeRequested() override;  // after SIGINT, SIGTERM or SIGHUP
    bool ReviewResults(const std::string&) override { return true; }
    void LogCommand(const std::string&) override {}
    void SetCommandText(const std::string&) override {}
    void ShowPicture(bool threeD) override;
    void ShowDemoText(const std::string& text) override;
    void CloseMainWindow() override { closing_ = true; }

    bool Closing() const { return closing_; }
    bool SavePictures() const { return pictures_; }

  private:
    bool yes_;
    bool pictures_;
    std::string pictureType_;
    bool pictureNoteShown_ = false;
    bool closing_ = false;
};

}  // namespace korw::console
