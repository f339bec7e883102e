// Reading and writing the plug-in settings file.
#include "app/PluginSettings.h"

#include "app/SettingsFile.h"
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "batch/SusieArchiveHost.h"
#include "core/ProgramFolder.h"
#include "core/IniFile.h"

#include <sys/stat.h>


namespace {
bool Exists(const std::string &Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0;
}
}  // namespace

TPluginOrders PluginOrders;

std::string DefaultPluginFolder() {
  const std::string program = ProgramFolder();
  return program + (program.empty() || program.back() != '/' ? "/" : "") + "SusiePlugin";
}

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
  TSPIOption stored = Option;
  if (stored.SPIDirectory == DefaultPluginFolder()) stored.SPIDirectory.clear();
  WritePluginFolderOption(Ini, stored);
  Ini.WriteString("SPI", "SPIOrder", Orders.SPIOrder);
  Ini.WriteString("SPI", "ArchiveSPIOrder", Orders.ArchiveSPIOrder);
}

bool SavePluginSettings(const std::string &CfgPath, const TSPIOption &Option, const TPluginOrders &Orders,
                        const std::function<bool(const std::string &Error)> &AskRetry) {
  return WriteWithRetries(
      [&] {
        // The file is read again each time, so lines written by hand or by
        // another program run in the meantime are kept.
        TMemIniFile ini(Exists(CfgPath) ? CfgPath : std::string());
        ini.Rename(CfgPath);
        WritePluginSettings(ini, Option, Orders);
        ini.UpdateFile();
      },
      AskRetry);
}

std::string StartProgramPlugins(const TMemIniFile &Profile) {
  try {
    ReadPluginSettings(Profile, PluginSettingsFile(), ProgramFolder(), SPIOption, PluginOrders);
  } catch (const std::exception &e) {
    return PluginSettingsFile() + ": " + e.what() + "; no plug-ins are used";
  }
  TSPIOrder image = ParseSPIOrder(PluginOrders.SPIOrder), archive = ParseSPIOrder(PluginOrders.ArchiveSPIOrder);
  LoadProgramPlugins(SPIOption.SPIDirectory, SPIOption.ThreadSafeSPI != LongFalse, image, archive);
  PluginOrders.SPIOrder = FormatSPIOrder(image);
  PluginOrders.ArchiveSPIOrder = FormatSPIOrder(archive);
  return {};
}
