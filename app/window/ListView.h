// The list view: a table of the entries with check marks. Delete and Space
// act only without Shift, Ctrl or Alt (Ctrl+Delete is the clear command);
// rows dragged inside the list move the dragged entry to the row under the
// mouse (to the end below the last row); files dropped from a file manager
// are handed to the window.
#pragma once

#include <QTableView>

#include <functional>
#include <string>
#include <vector>

class TListView : public QTableView {
  Q_OBJECT
public:
  explicit TListView(QWidget *Parent = nullptr);

  std::function<void()> OnDelete;
  std::function<void()> OnToggle;
  std::function<void(int From, int To)> OnMove;
  std::function<void(const std::vector<std::string> &Paths)> OnDropFiles;
  // The row a drop at Y (viewport coordinates) moves to.
  int DropRowAt(int Y) const;

protected:
  void keyPressEvent(QKeyEvent *E) override;
  void dragEnterEvent(QDragEnterEvent *E) override;
  void dragMoveEvent(QDragMoveEvent *E) override;
  void dropEvent(QDropEvent *E) override;

private:
  void AcceptDrag(QDragMoveEvent *E);
};

// The local paths of a drop's "text/uri-list" (file:// addresses only).
std::vector<std::string> DroppedPaths(const class QMimeData &Data);
