// Preset files of the tone curve and the levels: INI text files with the
// extension ".txt" in the "ToneCurve/" and "Levels/" folders of the user's
// data folder, one section named after the effect. Reading is strict: a
// preset that does not read cleanly is refused with a message naming the
// file and the key, so a damaged file never half-changes an effect.
#pragma once

#include "core/IniFile.h"

#include <string>
#include <vector>

// DataFolder (with its trailing "/") + Kind + "/".
std::string PresetFolder(const std::string &DataFolder, const std::string &Kind);
// The ".txt" files of Folder (names only, without the extension), sorted;
// none when the folder does not exist.
std::vector<std::string> ListPresets(const std::string &Folder);
// Loads a preset file; raises ETessivoError when it is missing, unreadable
// or has no section Section.
TMemIniFile OpenPresetFile(const std::string &FileName, const std::string &Section);
// "<file>: プリセットの値が正しくありません: <key>=<text>".
std::string PresetError(const std::string &FileName, const std::string &Key, const std::string &Text);
