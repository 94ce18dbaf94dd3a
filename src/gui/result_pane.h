// The result window: a command's results under review (Return keeps them, Escape suppresses
// them, the caller waiting for the answer), or a file on show (the session output file, a
// file named by SHOW), left by Return or Escape. Ctrl+P prints either.
#pragma once

#include <functional>
#include <string>

#include "gui/text_panes.h"

namespace korw::gui {

class ResultPane : public TextPane {
    Q_OBJECT
  public:
    explicit ResultPane(QWidget* parent = nullptr);

    // Loads the results and waits for Return (true) or Escape (false). `shown` is called once
    // the window is on show, before the text is loaded.
    bool Review(const std::string& file, const std::function<void()>& shown);
    // Ends a review as Escape does (the window is closing).
    void Cancel() { wait_.Answer(0); }
    bool Reviewing() const { return wait_.Waiting(); }

    // Shows a file until Return or Escape; `session` marks the session output file (its end in
    // view, its own hint).
    void ShowFile(const std::string& file, bool session, const std::function<void()>& shown);

    void SetHints(bool on);

    // Called when a shown file is left.
    std::function<void()> left;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    enum class Mode { None, Review, File };
    Mode mode_ = Mode::None;
    bool hintsOn_ = true;
    bool session_ = false;
    Wait wait_;
};

}  // namespace korw::gui
