// The image list's way into the archive plug-ins: the program's archive
// plug-in list behind the list's TArchiveHost, with the failures of a
// listing or an extraction put in the load log with the plug-in's reason.
#pragma once

#include "batch/ProgressFrm3.h"
#include "io/SusiePlugin.h"

class TSusieArchiveHost : public TArchiveHost {
public:
  explicit TSusieArchiveHost(TArchiveSPIList &List) : FList(List) {}
  bool ClaimsExtension(const std::string &Path) override;
  void *PluginFor(const std::string &Path, const uint8_t *Head2048) override;
  bool ReadMembers(const std::string &Path, void *Plugin, std::vector<TArchiveMemberInfo> &Members) override;
  bool Extract(const std::string &Path, void *Plugin, const TArchiveMemberInfo &Member,
               std::vector<uint8_t> &Bytes) override;
  bool ExtractHead(const std::string &Path, void *Plugin, const TArchiveMemberInfo &Member, uint32_t Limit,
                   std::vector<uint8_t> &Bytes) override;

private:
  TArchiveSPIList &FList;
};

// Start-up of the plug-ins: the "*.spi" files of Folder are found, the
// stored orders merged with them (files not stored are appended disabled),
// and the enabled ones loaded into the program-wide lists in order; the
// loader's, the prober's and the list's ways into them are installed.
// ImageOrder and ArchiveOrder become the merged lists.
void LoadProgramPlugins(const std::string &Folder, bool ThreadSafe, TSPIOrder &ImageOrder, TSPIOrder &ArchiveOrder);
// Unloads both lists; the list takes no archive any more.
void ReleaseProgramPlugins();
