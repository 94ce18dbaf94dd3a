// The picture area: the start-up picture, later the 640 x 480 bitmap of PLOT and HISTOGRAM.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

namespace korw::gui {

class PicturePane : public QWidget {
    Q_OBJECT
  public:
    explicit PicturePane(QWidget* parent = nullptr);

    // The start-up picture: the program's name and the three lines under it.
    void ShowStartPicture();
    // A copy of the plot bitmap as it stands now.
    void ShowBitmap();
    // A picture file; false when it cannot be read.
    bool ShowFile(const std::string& file);
    const QImage& Image() const { return image_; }

    std::function<bool(QKeyEvent*)> keys;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QImage image_;
};

}  // namespace korw::gui
