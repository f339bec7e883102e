// Reading and writing the plug-in settings file.
#include "app/PluginSettings.h"

#include "app/SettingsFile.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/IniFile.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

namespace {
bool Exists(const std::string &Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0;
}
}  // namespace

std::string PluginSettingsFile() { return SettingsFolder() + "TessivoPlus.cfg"; }

void ReadPluginSettings(const TMemIniFile &Profile, const std::string &CfgPath, const std::string &ProgramFolder,
                        TSPIOption &Option, TPluginOrders &Orders) {
  const TPluginOrders defaults;
  auto read = [&](const TMemIniFile &Ini) {
    ReadPluginFolderOption(Ini, Option, ProgramFolder);
    Orders.SPIOrder = Ini.ReadString("SPI", "SPIOrder", defaults.SPIOrder);
    Orders.ArchiveSPIOrder = Ini.ReadString("SPI", "ArchiveSPIOrder", defaults.ArchiveSPIOrder);
  };
  if (!CfgPath.empty() && Exists(CfgPath)) read(TMemIniFile(CfgPath));
  else read(Profile);
}

void WritePluginSettings(TMemIniFile &Ini, const TSPIOption &Option, const TPluginOrders &Orders) {
  WritePluginFolderOption(Ini, Option);
  Ini.WriteString("SPI", "SPIOrder", Orders.SPIOrder);
  Ini.WriteString("SPI", "ArchiveSPIOrder", Orders.ArchiveSPIOrder);
}

bool SavePluginSettings(const std::string &CfgPath, const TSPIOption &Option, const TPluginOrders &Orders,
                        const std::function<bool(const std::string &Error)> &AskRetry) {
  for (;;) {
    std::string error;
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      try {
        // The file is read again each time, so lines written by hand or by
        // another program run in the meantime are kept.
        TMemIniFile ini(Exists(CfgPath) ? CfgPath : std::string());
        ini.Rename(CfgPath);
        WritePluginSettings(ini, Option, Orders);
        ini.UpdateFile();
        return true;
      } catch (const std::exception &e) {
        error = e.what();
      }
    }
    if (!AskRetry || !AskRetry(error)) return false;
  }
}
