// The list view.
#include "app/window/ListView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>

TListView::TListView(QWidget *Parent) : QTableView(Parent) {
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setShowGrid(false);
  setWordWrap(false);
  setDragEnabled(true);
  setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DragDrop);
  setDropIndicatorShown(true);
  setDefaultDropAction(Qt::MoveAction);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  // Rows have one height, so the view never measures 100,000 rows.
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  verticalHeader()->hide();
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setHighlightSections(false);
}

void TListView::keyPressEvent(QKeyEvent *E) {
  const bool Plain = (E->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == 0;
  if (E->key() == Qt::Key_Delete) {
    if (Plain && OnDelete) OnDelete();
    E->accept();
    return;
  }
  if (E->key() == Qt::Key_Space) {
    if (Plain && OnToggle) OnToggle();
    E->accept();
    return;
  }
  QTableView::keyPressEvent(E);
}

std::vector<std::string> DroppedPaths(const QMimeData &Data) {
  std::vector<std::string> Paths;
  for (const QUrl &U : Data.urls())
    if (U.isLocalFile()) Paths.push_back(U.toLocalFile().toStdString());
  return Paths;
}

// Rows of this list move; addresses from elsewhere are copied in.
void TListView::AcceptDrag(QDragMoveEvent *E) {
  if (E->source() == this || E->mimeData()->hasUrls()) {
    E->setDropAction(E->source() == this ? Qt::MoveAction : Qt::CopyAction);
    E->accept();
  } else {
    E->ignore();
  }
}

void TListView::dragEnterEvent(QDragEnterEvent *E) { AcceptDrag(E); }

void TListView::dragMoveEvent(QDragMoveEvent *E) { AcceptDrag(E); }

int TListView::DropRowAt(int Y) const {
  const int Rows = model() ? model()->rowCount() : 0;
  const int Row = rowAt(Y);
  return Row < 0 ? Rows - 1 : Row;
}

void TListView::dropEvent(QDropEvent *E) {
  if (E->source() == this) {
    const int From = currentIndex().row();
    const int To = DropRowAt(int(E->position().y()));
    // The view must not remove the dragged rows itself: the move is ours.
    E->setDropAction(Qt::CopyAction);
    E->accept();
    if (From >= 0 && To >= 0 && From != To && OnMove) OnMove(From, To);
    return;
  }
  if (E->mimeData()->hasUrls()) {
    const std::vector<std::string> Paths = DroppedPaths(*E->mimeData());
    E->setDropAction(Qt::CopyAction);
    E->accept();
    if (!Paths.empty() && OnDropFiles) OnDropFiles(Paths);
    return;
  }
  E->ignore();
}
