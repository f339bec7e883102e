// The settings folders and the reading of a settings file into the
// program-wide records: program, file and resize options, the format
// options, metadata, colour management, the conversion table and every
// effect's section.
#pragma once

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
void SaveStartNumber(const std::string &Path);
