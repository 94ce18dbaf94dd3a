// The picture area: the start-up picture, later the 640 x 480 bitmap of PLOT and HISTOGRAM or a
// picture file of SHOW. A plot or picture file on show has the keyboard: Return saves it,
// Escape closes it, the arrow keys and the keypad's plus and minus turn and zoom a 3-d view.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>
#include <string>

#include "gui/text_panes.h"

namespace korw::gui {

class GuiDesktop;

class PicturePane : public QWidget {
    Q_OBJECT
  public:
    explicit PicturePane(GuiDesktop& desktop, QWidget* parent = nullptr);

    // The start-up picture: the program's name and the three lines under it.
    void ShowStartPicture();
    // An empty area (the start-up picture hidden while a start-up program runs).
    void HideStartPicture();
    // The plot bitmap as it stands now, from then on with the picture's keys unless `keys` is
    // false (a program's picture that goes into a PostScript file and waits for nothing).
    void ShowPlot(bool threeD, bool keys = true);
    // A picture file, with the keys of a shown file; false when it cannot be read.
    bool ShowFile(const std::string& file);
    // In a program: waits for a key on the picture (Return offers the save dialog) and closes
    // the picture. Left at once by Cancel.
    void WaitForKey();
    void Cancel() { wait_.Answer(0); }
    bool Waiting() const { return wait_.Waiting(); }
    // A plot or picture file is on show and takes keys.
    bool Active() const { return kind_ != Kind::None; }
    // Back to the start-up picture, without keys.
    void Close();

    const QImage& Image() const { return image_; }

    // Called when Escape closes the picture: the keyboard goes back to the window.
    std::function<void()> left;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    enum class Kind { None, Plot, Plot3d, File };
    void SavePictureAs();
    void Turn(int key);
    void CopyBitmap();

    GuiDesktop& desktop_;
    QImage image_;
    Kind kind_ = Kind::None;
    Wait wait_;
};

// The plot as it stands now, drawn for a screen with `scale` device pixels to a pixel: the
// bitmap itself at 1, else the bitmap's drawing replayed at that scale (640 x 480 pixels in the
// window, sharper text and lines), the scale set as the image's device pixel ratio.
QImage PlotImage(double scale);

}  // namespace korw::gui
