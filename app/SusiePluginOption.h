// The plug-in dialog without its window: which list it shows, the check
// marks, moving entries, the folder change with its merge, the
// configuration button, and what OK stores. The window copies this into its
// controls and back; the same rules run in the tests.
#pragma once

#include "app/PluginSettings.h"
#include "io/SusiePlugin.h"

#include <functional>
#include <string>

struct TSPIOption;

inline constexpr const char *SPI_DIALOG_CAPTION = "Susie Plug-in設定";
inline constexpr const char *SPI_CLEAR_LIST_QUESTION =
    "Susie Plug-inの設定を変更する前にリストをクリアします。よろしいですか？";
inline constexpr const char *SPI_FOLDER_BROWSER_TITLE = "Susie Plug-inフォルダ";
inline constexpr const char *SPI_IMAGE_PLUGINS_CAPTION = "画像用プラグイン";
inline constexpr const char *SPI_ARCHIVE_PLUGINS_CAPTION = "書庫用プラグイン";
inline constexpr const char *SPI_THREAD_SAFE_CAPTION = "複数スレッドで同一プラグインを使用する";

class TSusiePluginOptionForm {
public:
  // Whether the dialog may open: an image list that is not empty must be
  // cleared first, and Confirm (asked SPI_CLEAR_LIST_QUESTION) must agree;
  // the caller clears the list when this answers true for a non-empty one.
  static bool MayOpen(int ListCount, const std::function<bool(const std::string &Question)> &Confirm);

  // Works on copies of the settings; DefaultFolder is the program folder's
  // "SusiePlugin", which OK stores as an empty SPIDirectory.
  TSusiePluginOptionForm(const TSPIOption &Option, const TPluginOrders &Orders, std::string DefaultFolder);

  // Showing: the order lists merged with the folder's plug-ins (new files
  // unchecked at the end), every plug-in of them loaded, checked or not.
  void Show();
  // "参照...": the same with another folder, the current lists and marks
  // being the stored orders for the merge.
  void ChangeFolder(const std::string &Folder);
  const std::string &Folder() const { return FFolder; }

  enum class TKind { Image, Archive };
  void SelectKind(TKind Kind) { FKind = Kind; }
  TKind Kind() const { return FKind; }

  // The check list of the selected kind.
  int Count() const;
  std::string Name(int Index) const;
  bool Checked(int Index) const;
  void SetChecked(int Index, bool Checked);
  // "上へ", "下へ" and dragging; indexes out of range change nothing.
  void MoveUp(int Index) { Drag(Index, Index - 1); }
  void MoveDown(int Index) { Drag(Index, Index + 1); }
  void Drag(int From, int To);
  // "設定..." is enabled only for a plug-in with a configuration dialog, and
  // calls it with the window and function 1.
  bool ConfigEnabled(int Index) const;
  int Configure(int Index, void *Window);

  bool ThreadSafe = false;  // "複数スレッドで同一プラグインを使用する"

  // OK: the folder (empty when it is the default one), the thread-safety
  // switch and both lists as order lists ("=1" checked, "=0" not).
  void StoreTo(TSPIOption &Option, TPluginOrders &Orders) const;

private:
  TSusieLibrary *Item(int Index) const;
  std::string FDefaultFolder;
  std::string FFolder;
  TSPIOrder FImageOrder, FArchiveOrder;
  TSPIList FImage;
  TArchiveSPIList FArchive;
  TKind FKind = TKind::Image;
};

// After the dialog closed, by OK or by Cancel: the program's lists are
// reloaded with the enabled entries of the stored orders (SPIOption,
// PluginOrders), and the plug-in settings are written to CfgPath with the
// retries of SavePluginSettings. False when the file was not written.
bool AfterPluginDialog(const std::string &CfgPath, const std::function<bool(const std::string &Error)> &AskRetry);
