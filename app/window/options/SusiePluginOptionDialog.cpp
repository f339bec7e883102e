// The plug-in dialog.
#include "app/window/options/SusiePluginOptionDialog.h"

#include "app/PluginSettings.h"
#include "batch/ConvertOption.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString Q(const char *S) { return QString::fromUtf8(S); }
QString Q(const std::string &S) { return QString::fromStdString(S); }

}  // namespace

TSusiePluginOptionDialog::TSusiePluginOptionDialog(const TSPIOption &Option, const TPluginOrders &Orders,
                                                   std::string DefaultFolder, QWidget *Parent)
    : QDialog(Parent), FForm(Option, Orders, std::move(DefaultFolder)) {
  setWindowTitle(Q(SPI_DIALOG_CAPTION));
  FForm.Show();

  auto *Layout = new QVBoxLayout(this);
  auto *Kinds = new QHBoxLayout;
  ImageButton = new QRadioButton(Q(SPI_IMAGE_PLUGINS_CAPTION), this);
  ArchiveButton = new QRadioButton(Q(SPI_ARCHIVE_PLUGINS_CAPTION), this);
  ImageButton->setChecked(true);
  Kinds->addWidget(ImageButton);
  Kinds->addWidget(ArchiveButton);
  Kinds->addStretch(1);
  Layout->addLayout(Kinds);

  auto *Middle = new QHBoxLayout;
  PluginList = new QListWidget(this);
  PluginList->setDragDropMode(QAbstractItemView::InternalMove);
  PluginList->setDefaultDropAction(Qt::MoveAction);
  PluginList->setSelectionMode(QAbstractItemView::SingleSelection);
  PluginList->setMinimumSize(320, 200);
  Middle->addWidget(PluginList, 1);
  auto *Buttons = new QVBoxLayout;
  UpButton = new QPushButton(Q("上へ"), this);
  DownButton = new QPushButton(Q("下へ"), this);
  ConfigButton = new QPushButton(Q("設定..."), this);
  Buttons->addWidget(UpButton);
  Buttons->addWidget(DownButton);
  Buttons->addSpacing(12);
  Buttons->addWidget(ConfigButton);
  Buttons->addStretch(1);
  Middle->addLayout(Buttons);
  Layout->addLayout(Middle, 1);

  auto *FolderRow = new QHBoxLayout;
  FolderRow->addWidget(new QLabel(Q("フォルダ"), this));
  FolderEdit = new QLineEdit(Q(FForm.Folder()), this);
  FolderEdit->setReadOnly(true);
  FolderRow->addWidget(FolderEdit, 1);
  BrowseButton = new QPushButton(Q("参照..."), this);
  FolderRow->addWidget(BrowseButton);
  Layout->addLayout(FolderRow);
  ThreadSafeCheck = new QCheckBox(Q(SPI_THREAD_SAFE_CAPTION), this);
  ThreadSafeCheck->setChecked(FForm.ThreadSafe);
  Layout->addWidget(ThreadSafeCheck);
  auto *Box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  Layout->addWidget(Box);

  connect(Box, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(Box, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(ImageButton, &QRadioButton::toggled, this, [this](bool Image) {
    FForm.SelectKind(Image ? TSusiePluginOptionForm::TKind::Image : TSusiePluginOptionForm::TKind::Archive);
    FillList(0);
  });
  connect(PluginList, &QListWidget::itemChanged, this, [this](QListWidgetItem *Item) {
    if (!FFilling) FForm.SetChecked(PluginList->row(Item), Item->checkState() == Qt::Checked);
  });
  connect(PluginList, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
  // A dragged row: the model reports the row it is put before, counted
  // while the row still stood at its old place.
  connect(PluginList->model(), &QAbstractItemModel::rowsMoved, this,
          [this](const QModelIndex &, int Start, int, const QModelIndex &, int Before) {
            if (FFilling) return;
            FForm.Drag(Start, Before > Start ? Before - 1 : Before);
            UpdateButtons();
          });
  connect(UpButton, &QPushButton::clicked, this, [this] {
    const int Row = PluginList->currentRow();
    Move(Row, Row - 1);
  });
  connect(DownButton, &QPushButton::clicked, this, [this] {
    const int Row = PluginList->currentRow();
    Move(Row, Row + 1);
  });
  connect(ConfigButton, &QPushButton::clicked, this, [this] {
    FForm.Configure(PluginList->currentRow(), reinterpret_cast<void *>(winId()));
  });
  connect(BrowseButton, &QPushButton::clicked, this, &TSusiePluginOptionDialog::BrowseFolder);
  FillList(0);
}

void TSusiePluginOptionDialog::FillList(int Current) {
  FFilling = true;
  PluginList->clear();
  for (int i = 0; i < FForm.Count(); ++i) {
    auto *Item = new QListWidgetItem(Q(FForm.Name(i)), PluginList);
    Item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
    Item->setCheckState(FForm.Checked(i) ? Qt::Checked : Qt::Unchecked);
  }
  if (FForm.Count() > 0) PluginList->setCurrentRow(std::clamp(Current, 0, FForm.Count() - 1));
  FFilling = false;
  UpdateButtons();
}

void TSusiePluginOptionDialog::Move(int From, int To) {
  if (From < 0 || To < 0 || From >= FForm.Count() || To >= FForm.Count()) return;
  FForm.Drag(From, To);
  FillList(To);
}

void TSusiePluginOptionDialog::UpdateButtons() {
  const int Row = PluginList->currentRow();
  UpButton->setEnabled(Row > 0);
  DownButton->setEnabled(Row >= 0 && Row + 1 < FForm.Count());
  ConfigButton->setEnabled(FForm.ConfigEnabled(Row));
}

void TSusiePluginOptionDialog::BrowseFolder() {
  QFileDialog Browser(this, Q(SPI_FOLDER_BROWSER_TITLE), Q(FForm.Folder()));
  Browser.setFileMode(QFileDialog::Directory);
  Browser.setOption(QFileDialog::ShowDirsOnly);
  // Qt's own browser, since a platform one cannot be placed.
  Browser.setOption(QFileDialog::DontUseNativeDialog);
  Browser.move(pos() + QPoint(22, 22));
  if (Browser.exec() != QDialog::Accepted || Browser.selectedFiles().isEmpty()) return;
  ChangeFolder(Browser.selectedFiles().first());
}

void TSusiePluginOptionDialog::ChangeFolder(const QString &Folder) {
  FForm.ChangeFolder(Folder.toStdString());
  FolderEdit->setText(Q(FForm.Folder()));
  FillList(0);
}

void TSusiePluginOptionDialog::StoreTo(TSPIOption &Option, TPluginOrders &Orders) {
  FForm.ThreadSafe = ThreadSafeCheck->isChecked();
  FForm.StoreTo(Option, Orders);
}

bool ShowSusiePluginOptionDialog(QWidget *Parent, int ListCount, const std::function<bool(const QString &)> &Confirm,
                                 const std::function<void()> &ClearList,
                                 const std::function<bool(const std::string &)> &AskRetry) {
  if (!TSusiePluginOptionForm::MayOpen(ListCount, [&](const std::string &Question) {
        return Confirm && Confirm(Q(Question));
      }))
    return false;
  if (ListCount > 0 && ClearList) ClearList();
  {
    // The dialog's own lists are released with it, before the program's
    // lists are loaded again.
    TSusiePluginOptionDialog Dialog(SPIOption, PluginOrders, DefaultPluginFolder(), Parent);
    if (Dialog.exec() == QDialog::Accepted) Dialog.StoreTo(SPIOption, PluginOrders);
  }
  AfterPluginDialog(PluginSettingsFile(), AskRetry);
  return true;
}
