// The desktop services of batch mode: boxes go to stderr, confirmations take the --yes answer,
// dialogs are cancelled and every result is accepted.
#pragma once

#include "interp/desktop.h"

namespace korw::console {

class BatchDesktop : public interp::Desktop {
  public:
    BatchDesktop(bool yes, bool pictures) : yes_(yes), pictures_(pictures) {}

    void Beep() override {}
    void ErrorBox(const std::string& text) override;
    bool Confirm(const std::string& text) override;
    std::optional<std::string> OpenDialog(const interp::FileDialog&) override { return {}; }
    std::optional<std::string> SaveDialog(const interp::FileDialog&) override { return {}; }
    void ShellOpen(const std::string&, const std::string&) override {}
    bool CopyFile(const std::string& from, const std::string& to) override;
    bool EscapeRequested() override { return false; }
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
    bool closing_ = false;
};

}  // namespace korw::console
