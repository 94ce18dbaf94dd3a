#include "gui/picture_pane.h"

#include <QKeyEvent>
#include <QPainter>

#include "plot/canvas.h"

namespace korw::gui {

PicturePane::PicturePane(QWidget* parent) : QWidget(parent) {
    setObjectName("KORWlogo");
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(plot::BitmapWidth, plot::BitmapHeight);
}

void PicturePane::ShowStartPicture() {
    image_ = QImage(plot::BitmapWidth, plot::BitmapHeight, QImage::Format_RGB32);
    image_.fill(QColor(0, 0, 96));
    QPainter p(&image_);
    QFont big("Liberation Serif", 96, QFont::Bold);
    p.setFont(big);
    p.setPen(QColor(255, 215, 0));
    p.drawText(QRect(0, 60, plot::BitmapWidth, 160), Qt::AlignCenter, "KORW");
    QFont line("Liberation Mono", 18);
    p.setFont(line);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 230, plot::BitmapWidth, 40), Qt::AlignCenter, "Press F1 for help.");
    p.setPen(QColor(170, 190, 150));
    p.drawText(QRect(0, 330, plot::BitmapWidth, 36), Qt::AlignCenter | Qt::TextDontClip,
               "  Interactive Korbelin");
    p.drawText(QRect(0, 370, plot::BitmapWidth, 36), Qt::AlignCenter | Qt::TextDontClip,
               "   Windows version JUN2009");
    update();
}

void PicturePane::ShowBitmap() {
    cairo_surface_t* surface = plot::Bitmap();
    cairo_surface_flush(surface);
    const uchar* bits = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    if (bits == nullptr) return;
    image_ = QImage(bits, cairo_image_surface_get_width(surface),
                    cairo_image_surface_get_height(surface), stride, QImage::Format_RGB32)
                 .copy();
    update();
}

bool PicturePane::ShowFile(const std::string& file) {
    QImage image(QString::fromStdString(file));
    if (image.isNull()) return false;
    image_ = image;
    update();
    return true;
}

void PicturePane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (image_.isNull()) return;
    // Shown at its own size, never scaled, centred in the area.
    QPoint at((width() - image_.width()) / 2, (height() - image_.height()) / 2);
    p.drawImage(at, image_);
}

void PicturePane::keyPressEvent(QKeyEvent* event) {
    if (keys && keys(event)) return;
    QWidget::keyPressEvent(event);
}

}  // namespace korw::gui
