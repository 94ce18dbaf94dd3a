// The working-directory selector: the directory tree (Return chooses the directory, Escape goes
// to the name) and the directory name (Return chooses the directory typed, made when it does not
// exist; Escape goes back to the tree).
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QFileSystemModel;
class QLineEdit;
class QTreeView;

namespace korw::gui {

class SelectorPane : public QWidget {
    Q_OBJECT
  public:
    explicit SelectorPane(QWidget* parent = nullptr);

    // Opens on a directory, the keyboard in the tree.
    void Open(const std::string& directory);
    void SetHints(bool on, const std::string& root);

    QTreeView& Tree() { return *tree_; }
    QLineEdit& Name() { return *name_; }

    // Called with the directory chosen (as typed or as the tree names it).
    std::function<void(const std::string& directory)> chosen;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QTreeView* tree_ = nullptr;
    QLineEdit* name_ = nullptr;
    QFileSystemModel* model_ = nullptr;
};

}  // namespace korw::gui
