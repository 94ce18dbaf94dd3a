#include "gui/selector_pane.h"

#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>
#include <QVBoxLayout>

#include "gui/window_settings.h"

namespace korw::gui {

namespace {

constexpr const char* kSelectorHeading =
    " Select/create working directory (use cursor arrows, select by Return).";

}  // namespace

SelectorPane::SelectorPane(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(kSelectorHeading, this));
    model_ = new QFileSystemModel(this);
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    model_->setRootPath("/");
    tree_ = new QTreeView(this);
    tree_->setObjectName("DirectoryListBox1");
    tree_->setModel(model_);
    for (int c = 1; c < model_->columnCount(); ++c) tree_->hideColumn(c);
    tree_->header()->hide();
    // The tree is read in the background: the working directory comes into view once its
    // folder has been read.
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this] {
        if (tree_->currentIndex().isValid()) tree_->scrollTo(tree_->currentIndex());
    });
    layout->addWidget(tree_, 1);
    name_ = new QLineEdit(this);
    name_->setObjectName("WorkDirEdit");
    layout->addWidget(name_);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& index) { name_->setText(model_->filePath(index)); });
    tree_->installEventFilter(this);
    name_->installEventFilter(this);
}

void SelectorPane::Open(const std::string& directory) {
    QModelIndex index = model_->index(QString::fromStdString(directory));
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
    tree_->expand(index);
    name_->setText(QString::fromStdString(directory));
    tree_->setFocus();
}

void SelectorPane::SetHints(bool on, const std::string& root) {
    tree_->setToolTip(on ? QString::fromStdString(DirectoryTreeHint(root)) : QString());
    name_->setToolTip(on ? QString::fromStdString(DirectoryEditHint(root)) : QString());
}

bool SelectorPane::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    int key = static_cast<QKeyEvent*>(event)->key();
    bool ret = key == Qt::Key_Return || key == Qt::Key_Enter;
    if (watched == tree_ && ret) {
        if (chosen) chosen(model_->filePath(tree_->currentIndex()).toStdString());
        return true;
    }
    if (watched == name_ && ret) {
        if (chosen) chosen(name_->text().toStdString());
        return true;
    }
    if (key == Qt::Key_Escape && (watched == tree_ || watched == name_)) {
        (watched == tree_ ? static_cast<QWidget*>(name_) : tree_)->setFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace korw::gui
