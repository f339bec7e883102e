// Preset folders and the strict opening of preset files.
#include "effects/Presets.h"

#include "core/Errors.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

std::string PresetFolder(const std::string &DataFolder, const std::string &Kind) { return DataFolder + Kind + "/"; }

std::vector<std::string> ListPresets(const std::string &Folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(Folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::filesystem::path &p = it->path();
    if (p.extension() == ".txt" && it->is_regular_file(ec)) names.push_back(p.stem().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TMemIniFile OpenPresetFile(const std::string &FileName, const std::string &Section) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(FileName, ec))
    throw ETessivoError(FileName + ": プリセットファイルがありません");
  TMemIniFile ini(FileName);
  if (!ini.SectionExists(Section))
    throw ETessivoError(FileName + ": プリセットファイルに [" + Section + "] セクションがありません");
  return ini;
}

std::string PresetError(const std::string &FileName, const std::string &Key, const std::string &Text) {
  return FileName + ": プリセットの値が正しくありません: " + Key + "=" + Text;
}
