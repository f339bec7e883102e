// The plug-in settings: the folder, the thread-safety switch and the two
// order lists of section "SPI", kept in "TessivoPlus.cfg" in the settings
// folder (shared by every profile) and, while that file does not exist, in
// the profile itself.
#pragma once

#include <functional>
#include <string>

class TMemIniFile;
struct TSPIOption;

// The stored order lists (comma lists of "name=1" / "name=0"); by default
// our own plug-ins are on.
struct TPluginOrders {
  std::string SPIOrder = "ifraw.spi=1";
  std::string ArchiveSPIOrder = "axarchive.spi=1";
};

// The program-wide record the window reads once per program run and writes at exit.
extern TPluginOrders PluginOrders;

// The program folder's "SusiePlugin", the plug-in folder an empty
// SPIDirectory stands for.
std::string DefaultPluginFolder();
// SettingsFolder() + "TessivoPlus.cfg".
std::string PluginSettingsFile();

// Section "SPI" of CfgPath when that file exists, else of Profile, into
// Option (SPIDirectory, ThreadSafeSPI; an empty folder means the program
// folder + "SusiePlugin") and Orders. A configuration file that exists but
// cannot be read raises ETessivoError.
void ReadPluginSettings(const TMemIniFile &Profile, const std::string &CfgPath, const std::string &ProgramFolder,
                        TSPIOption &Option, TPluginOrders &Orders);
// The default folder is written as an empty SPIDirectory.
void WritePluginSettings(TMemIniFile &Ini, const TSPIOption &Option, const TPluginOrders &Orders);

// Writes the settings to CfgPath (UTF-8, section "SPI", the file's other
// lines kept) with the write procedure of the settings (WriteWithRetries,
// app/SettingsFile.h): 20 quiet tries 50 ms apart, then AskRetry after each
// further failure. True when the file was written.
bool SavePluginSettings(const std::string &CfgPath, const TSPIOption &Option, const TPluginOrders &Orders,
                        const std::function<bool(const std::string &Error)> &AskRetry);

// The start of a program run: the plug-in settings (TessivoPlus.cfg, else
// Profile) into SPIOption and PluginOrders, then the plug-ins of the folder
// loaded in those orders (LoadProgramPlugins), the merged orders kept.
// Answers what went wrong (the program then runs without plug-ins), or "".
std::string StartProgramPlugins(const TMemIniFile &Profile);
