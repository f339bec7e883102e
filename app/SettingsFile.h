// The settings folders and the reading of a settings file into the
// program-wide records: program, file and resize options, the format
// options, metadata, colour management, the conversion table and every
// effect's section.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TEffectList;
class TMemIniFile;
struct TIniKeyRead;

// $TESSIVOPLUS_DATA when set, else $XDG_DATA_HOME/TessivoPlus/ (default
// ~/.local/share/TessivoPlus/); always with a trailing "/".
std::string DataFolder();
// DataFolder() + "ini/": the settings files.
std::string SettingsFolder();
// The folders of quantisation tables and presets below the data folder.
std::string LumaQTFolder();
std::string ChromaQTFolder();
// SettingsFolder() + "TessivoPlus.ini".
std::string DefaultSettingsFile();
// Creates the data folder and its subfolders when missing (errors ignored).
void CreateDataFolders();
// "/ini=" takes a bare name in the settings folder, or a path when the
// value contains "/" (made absolute against the current folder).
std::string ResolveSettingsFileName(const std::string &Value);

// Sections "Bitmap", "JPEG", "JEPG", "PNG", "HDP", "TIFF" and "Metadata"
// into the format option records. Registered quantisation tables are used
// only when both files exist; the PNG optimiser only when BinFolder holds
// "pngout".
void ReadFormatOptions(const TMemIniFile &Ini, const std::string &BinFolder);

// Whether the bytes of a settings file can be one at all: empty, or text (no
// NUL bytes unless UTF-16) with at least one "[section]" line. Why says what
// is wrong when not.
bool IsSettingsText(const std::string &Bytes, std::string &Why);

// Reads the whole file (a missing file reads as all defaults) and applies
// what follows from it: the resizer kernels and thread counts, the process
// priority, the colour profiles, the serial number. Raises ETessivoError when
// the file exists but cannot be read. Answers a warning when the colour
// profiles could not all be set up (the run goes on without them), else "".
std::string LoadIniFile(const std::string &Path, TEffectList &Effects);

// The same from a settings file already in memory (with the command line's
// changes laid over it).
std::string LoadIniSettings(const TMemIniFile &Ini, TEffectList &Effects);

// Every key the readers of LoadIniSettings ask for when the file is empty,
// in the order they ask, each once. Fills the program-wide records with
// defaults on the way.
std::vector<TIniKeyRead> KeysTheReadersRead();

// Writes only "StartNumber" of section "File" (the stored serial number).
// Raises ETessivoError when the file cannot be written.
void SaveStartNumber(const std::string &Path);

// The window state stored beside the settings: sections "Window",
// "ListView", "ThumbnailWindow", "Dir", "Font", "Dialog" and "ShortCut".
// The window copies its state in before a save and takes it out after a
// load; nothing here needs a display.
struct TWindowSettings {
  int32_t Left = -1000;  // negative positions and sizes leave the designed placement
  int32_t Top = -1000;
  int32_t ClientWidth = 0;
  int32_t ClientHeight = 0;
  std::array<int32_t, 7> HeaderWidth{-1, -1, -1, -1, -1, -1, -1};  // -1 keeps a column's designed width
  bool UseEmbeddedThumbnail = true;
  bool ThumbnailVisible = true;       // read only
  int32_t ThumbnailLeft = -65535;     // offset from the main window
  int32_t ThumbnailTop = -65535;
  std::string PictureFolder;          // last folder of the add dialogs
  std::string FontName;               // empty: the window's own user-interface font
  int32_t FormatOptionPage = 0;
  int32_t EnvOptionPage = 0;          // 0 to 5
  bool ShortCutDesktop = false;       // the shortcut dialog's last choices
  bool ShortCutMakeIni = true;
  bool ShortCutAtOnce = false;
};
extern TWindowSettings WindowSettings;

void ReadWindowSettings(const TMemIniFile &Ini, TWindowSettings &S);
void WriteWindowSettings(TMemIniFile &Ini, const TWindowSettings &S);

// The counterpart of ReadFormatOptions; the older "AlphaCheckStrict" goes.
void WriteFormatOptions(TMemIniFile &Ini);

// Every key LoadIniSettings reads and the window state, from the records as
// they are now; "Convert" and the marker sections are erased and rewritten.
// Keys nobody reads stay as they were.
void WriteIniSettings(TMemIniFile &Ini, const TEffectList &Effects);

// Asked after the quiet attempts of a write have failed, with the error
// text: true tries again, false gives up. The window shows a box with Retry
// and Cancel; without one, the write gives up.
using TAskRetry = std::function<bool(const std::string &Message)>;

// The write procedure: Write runs until it does not raise; after a failure
// it waits 50 ms and starts again; after the 20th failure every further one
// goes to Ask. Answers false when it gave up (the file stays as it was).
bool WriteWithRetries(const std::function<void()> &Write, const TAskRetry &Ask);

// A full save: the existing file is loaded, every key set, the whole file
// written back in UTF-8 with a byte-order mark, with the write procedure.
bool SaveIniFile(const std::string &Path, const TEffectList &Effects, const TAskRetry &Ask = {});

// The profiles of the settings folder: "Default" (the default file) first,
// then every other "*.ini" by name without extension, sorted.
struct TProfileEntry {
  std::string Caption;
  std::string Path;
};
std::vector<TProfileEntry> ListProfiles();

// Leaving the current profile for another (chosen from the list, or by
// "設定の読み込み"): its serial number is kept when NumberResetType is 2,
// nothing else of it is saved. The caller then reads the new file. False
// when the write gave up.
bool LeaveProfile(const std::string &CurrentFile, const TAskRetry &Ask = {});

// The main window closing: the default file gets a full save; any other
// profile stays as it is, except its serial number when NumberResetType is
// 2; the plug-in settings (PluginOrders of app/PluginSettings.h) are
// always written. False when a write gave up.
bool SaveSettingsAtExit(const std::string &CurrentFile, const TEffectList &Effects, const TAskRetry &Ask = {});
