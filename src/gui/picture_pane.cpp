#include "gui/picture_pane.h"

#include <QKeyEvent>
#include <QPainter>
#include <cmath>
#include <filesystem>
#include <optional>

#include "data/errors.h"
#include "data/files.h"
#include "data/vectors.h"
#include "gui/gui_desktop.h"
#include "interp/execute.h"
#include "interp/output.h"
#include "interp/state.h"
#include "plot/canvas.h"
#include "plot/picture.h"
#include "plot/plot3d.h"

namespace korw::gui {

namespace fs = std::filesystem;

PicturePane::PicturePane(GuiDesktop& desktop, QWidget* parent)
    : QWidget(parent), desktop_(desktop) {
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

void PicturePane::HideStartPicture() {
    if (Active()) return;
    image_ = QImage();
    update();
}

QImage PlotImage(double scale) {
    if (scale <= 1) {
        cairo_surface_t* surface = plot::Bitmap();
        const uchar* bits = cairo_image_surface_get_data(surface);
        if (bits == nullptr) return {};
        return QImage(bits, cairo_image_surface_get_width(surface),
                      cairo_image_surface_get_height(surface),
                      cairo_image_surface_get_stride(surface), QImage::Format_RGB32)
            .copy();
    }
    // Qt's RGB32 is cairo's RGB24: the replay draws straight into the image.
    QImage image(static_cast<int>(std::ceil(plot::BitmapWidth * scale)),
                 static_cast<int>(std::ceil(plot::BitmapHeight * scale)), QImage::Format_RGB32);
    image.fill(Qt::white);
    cairo_surface_t* target =
        cairo_image_surface_create_for_data(image.bits(), CAIRO_FORMAT_RGB24, image.width(),
                                            image.height(), static_cast<int>(image.bytesPerLine()));
    cairo_t* cr = cairo_create(target);
    cairo_scale(cr, scale, scale);
    cairo_set_source_surface(cr, plot::Recording(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    cairo_surface_destroy(target);
    image.setDevicePixelRatio(scale);
    return image;
}

void PicturePane::CopyBitmap() {
    image_ = PlotImage(devicePixelRatioF());
    update();
}

void PicturePane::ShowPlot(bool threeD, bool keys) {
    kind_ = !keys ? Kind::None : threeD ? Kind::Plot3d : Kind::Plot;
    CopyBitmap();
}

bool PicturePane::ShowFile(const std::string& file) {
    QImage image(QString::fromStdString(file));
    if (image.isNull()) return false;
    image_ = image;
    kind_ = Kind::File;
    update();
    return true;
}

void PicturePane::WaitForKey() {
    wait_.Begin();
    if (wait_.Run() == Qt::Key_Return) SavePictureAs();
    Close();
}

void PicturePane::Close() {
    wait_.Answer(0);
    if (!Active()) return;
    kind_ = Kind::None;
    ShowStartPicture();
}

void PicturePane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    if (image_.isNull()) return;
    // Shown at its own size (in pixels of the window), never stretched, centred in the area.
    QSizeF size = image_.deviceIndependentSize();
    QPoint at(static_cast<int>((width() - size.width()) / 2),
              static_cast<int>((height() - size.height()) / 2));
    p.drawImage(at, image_);
}

void PicturePane::keyPressEvent(QKeyEvent* event) {
    int key = event->key() == Qt::Key_Enter ? Qt::Key_Return : event->key();
    if (wait_.Waiting()) {
        // Any key answers a program's picture, except a modifier on its own.
        if (key != Qt::Key_Shift && key != Qt::Key_Control && key != Qt::Key_Alt &&
            key != Qt::Key_Meta)
            wait_.Answer(key);
        return;
    }
    if (!Active()) return QWidget::keyPressEvent(event);
    // A picture file is left by Return as by Escape.
    if (kind_ == Kind::File && key == Qt::Key_Return) key = Qt::Key_Escape;
    if (key == Qt::Key_Return) return SavePictureAs();
    if (key == Qt::Key_Escape) {
        Close();
        if (left) left();
        return;
    }
    if (kind_ == Kind::Plot3d) return Turn(key);
    QWidget::keyPressEvent(event);
}

void PicturePane::Turn(int key) {
    std::optional<plot::ViewKey> turn;
    if (key == Qt::Key_Up) turn = plot::ViewKey::Up;
    if (key == Qt::Key_Down) turn = plot::ViewKey::Down;
    if (key == Qt::Key_Left) turn = plot::ViewKey::Left;
    if (key == Qt::Key_Right) turn = plot::ViewKey::Right;
    if (key == Qt::Key_Plus) turn = plot::ViewKey::ZoomIn;
    if (key == Qt::Key_Minus) turn = plot::ViewKey::ZoomOut;
    if (turn && plot::TurnView(*turn)) CopyBitmap();
}

void PicturePane::SavePictureAs() {
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

}  // namespace korw::gui
