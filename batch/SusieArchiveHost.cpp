// The archive plug-in list behind the image list's archive host.
#include "batch/SusieArchiveHost.h"

#include "io/ImageProbe.h"

bool TSusieArchiveHost::ClaimsExtension(const std::string &Path) { return FList.IsSupportExt(Path); }

void *TSusieArchiveHost::PluginFor(const std::string &Path, const uint8_t *Head2048) {
  return FList.FindSupportSPI(Path, Head2048);
}

bool TSusieArchiveHost::ReadMembers(const std::string &Path, void *Plugin, std::vector<TArchiveMemberInfo> &Members) {
  auto *plugin = static_cast<TArchiveSusiePlugin *>(Plugin);
  const int r = plugin->GetArchiveInfo(Path, Members);
  if (r == SPI_SUCCESS) return true;
  PutLoadError(Path + ": " + plugin->Name() + ": " + SusieResultText(r));
  return false;
}

bool TSusieArchiveHost::Extract(const std::string &Path, void *Plugin, const TArchiveMemberInfo &Member,
                                std::vector<uint8_t> &Bytes) {
  auto *plugin = static_cast<TArchiveSusiePlugin *>(Plugin);
  const int r = plugin->GetFile(Path, Member.Position, Member.FileSize, Bytes);
  if (r == SPI_SUCCESS) return true;
  PutLoadError(ArchiveVirtualPath(Path, Member) + ": " + MEMBER_UNREADABLE_MSG + " (" + plugin->Name() + ": " +
               SusieResultText(r) + ")");
  return false;
}

bool TSusieArchiveHost::ExtractHead(const std::string &Path, void *Plugin, const TArchiveMemberInfo &Member,
                                    uint32_t Limit, std::vector<uint8_t> &Bytes) {
  auto *plugin = static_cast<TArchiveSusiePlugin *>(Plugin);
  const int r = plugin->GetFileHead(Path, Member.Position, Member.FileSize, Limit, Bytes);
  if (r == SPI_SUCCESS) return true;
  PutLoadError(ArchiveVirtualPath(Path, Member) + ": " + MEMBER_UNREADABLE_MSG + " (" + plugin->Name() + ": " +
               SusieResultText(r) + ")");
  return false;
}

void LoadProgramPlugins(const std::string &Folder, bool ThreadSafe, TSPIOrder &ImageOrder, TSPIOrder &ArchiveOrder) {
  ReleaseProgramPlugins();
  const TFoundPlugins found = DiscoverPlugins(Folder);
  ImageOrder = MergeSPIOrder(ImageOrder, found.Image);
  ArchiveOrder = MergeSPIOrder(ArchiveOrder, found.Archive);
  ProgramSPIList().SetThreadSafe(ThreadSafe);
  ProgramArchiveSPIList().SetThreadSafe(ThreadSafe);
  ProgramSPIList().LoadSPI(Folder, ImageOrder);
  ProgramArchiveSPIList().LoadSPI(Folder, ArchiveOrder);
  InstallSusieHost();
  static TSusieArchiveHost host(ProgramArchiveSPIList());
  ArchiveHost = &host;
}

void ReleaseProgramPlugins() {
  ArchiveHost = nullptr;
  ProgramSPIList().ReleaseSPI();
  ProgramArchiveSPIList().ReleaseSPI();
}
