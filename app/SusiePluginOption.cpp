// The plug-in dialog's rules.
#include "app/SusiePluginOption.h"

#include "batch/ConvertOption.h"
#include "batch/SusieArchiveHost.h"

bool TSusiePluginOptionForm::MayOpen(int ListCount, const std::function<bool(const std::string &Question)> &Confirm) {
  if (ListCount <= 0) return true;
  return Confirm && Confirm(SPI_CLEAR_LIST_QUESTION);
}

TSusiePluginOptionForm::TSusiePluginOptionForm(const TSPIOption &Option, const TPluginOrders &Orders,
                                               std::string DefaultFolder)
    : FDefaultFolder(std::move(DefaultFolder)),
      FFolder(Option.SPIDirectory.empty() ? FDefaultFolder : Option.SPIDirectory),
      FImageOrder(ParseSPIOrder(Orders.SPIOrder)),
      FArchiveOrder(ParseSPIOrder(Orders.ArchiveSPIOrder)) {
  ThreadSafe = Option.ThreadSafeSPI != LongFalse;
}

void TSusiePluginOptionForm::Show() {
  const TFoundPlugins found = DiscoverPlugins(FFolder);
  FImageOrder = MergeSPIOrder(FImageOrder, found.Image);
  FArchiveOrder = MergeSPIOrder(FArchiveOrder, found.Archive);
  FImage.ReleaseSPI();
  FArchive.ReleaseSPI();
  FImage.LoadSPI(FFolder, FImageOrder, false);
  FArchive.LoadSPI(FFolder, FArchiveOrder, false);
}

void TSusiePluginOptionForm::ChangeFolder(const std::string &Folder) {
  FImageOrder = FImage.Order();
  FArchiveOrder = FArchive.Order();
  FFolder = Folder;
  Show();
}

TSusieLibrary *TSusiePluginOptionForm::Item(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  if (FKind == TKind::Image) return FImage.Items(Index);
  return FArchive.Items(Index);
}

int TSusiePluginOptionForm::Count() const { return FKind == TKind::Image ? FImage.Count() : FArchive.Count(); }

std::string TSusiePluginOptionForm::Name(int Index) const {
  const TSusieLibrary *p = Item(Index);
  return p ? p->Name() : std::string();
}

bool TSusiePluginOptionForm::Checked(int Index) const {
  const TSusieLibrary *p = Item(Index);
  return p && p->Enabled;
}

void TSusiePluginOptionForm::SetChecked(int Index, bool Checked) {
  if (TSusieLibrary *p = Item(Index)) p->Enabled = Checked;
}

void TSusiePluginOptionForm::Drag(int From, int To) {
  if (FKind == TKind::Image) FImage.Move(From, To);
  else FArchive.Move(From, To);
}

bool TSusiePluginOptionForm::ConfigEnabled(int Index) const {
  const TSusieLibrary *p = Item(Index);
  return p && p->HaveConfigDialog();
}

int TSusiePluginOptionForm::Configure(int Index, void *Window) {
  TSusieLibrary *p = Item(Index);
  return p ? p->ConfigurationDlg(Window, 1) : SPI_NOT_IMPLEMENTED;
}

void TSusiePluginOptionForm::StoreTo(TSPIOption &Option, TPluginOrders &Orders) const {
  Option.SPIDirectory = FFolder == FDefaultFolder ? std::string() : FFolder;
  Option.ThreadSafeSPI = ThreadSafe ? LongTrue : LongFalse;
  Orders.SPIOrder = FormatSPIOrder(FImage.Order());
  Orders.ArchiveSPIOrder = FormatSPIOrder(FArchive.Order());
}

bool AfterPluginDialog(const std::string &CfgPath, const std::function<bool(const std::string &Error)> &AskRetry) {
  const std::string folder = SPIOption.SPIDirectory.empty() ? DefaultPluginFolder() : SPIOption.SPIDirectory;
  TSPIOrder image = ParseSPIOrder(PluginOrders.SPIOrder), archive = ParseSPIOrder(PluginOrders.ArchiveSPIOrder);
  LoadProgramPlugins(folder, SPIOption.ThreadSafeSPI != LongFalse, image, archive);
  return SavePluginSettings(CfgPath, SPIOption, PluginOrders, AskRetry);
}
