// The plug-in host: image-loader ("00IN") and archive ("00AM") plug-ins
// loaded from "*.spi" files (io/SusieABI.h), the ordered lists that are the
// search order, discovery of a plug-in folder and its merge with the stored
// order lists, and the program-wide lists that probing, loading and the
// image list use.
//
// Every call into a plug-in holds that plug-in's own lock unless the list
// was told the plug-ins are thread-safe (ThreadSafeSPI).
#pragma once

#include "core/ImgInfo.h"
#include "io/SusieABI.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

struct TArchiveMemberInfo;
struct TImageProbe;

// A plug-in library, common to both kinds: the library handle, the
// GetPluginInfo answers, the extension patterns and the lock.
class TSusieLibrary {
public:
  TSusieLibrary() = default;
  virtual ~TSusieLibrary();
  TSusieLibrary(const TSusieLibrary &) = delete;
  TSusieLibrary &operator=(const TSusieLibrary &) = delete;

  // Loads Path; false (nothing kept loaded) when it is no library or does
  // not answer this kind's interface version.
  bool LoadPlugIn(const std::string &Path);
  void FreePlugIn();
  bool Loaded() const { return FDLLHandle != nullptr; }

  // File name without folder, as the order lists store it.
  const std::string &Name() const { return FName; }
  // Lower-case patterns, each followed by ";" ("*.zip;*.cbz;").
  const std::string &Exts() const { return FExts; }
  // Whether "*" + Ext + ";" occurs in the patterns (Ext lower case with its dot).
  bool ListsExtension(const std::string &Ext) const;
  bool HaveConfigDialog() const { return FHaveConfigDialog; }
  // GetPluginInfo(1) and the pattern/description pairs, one per line.
  std::string ShowPluginInfo();
  int ConfigurationDlg(void *Parent, int Function);
  // Answer of GetPluginInfo(Number), empty when it answers 0 or is missing.
  std::string PluginInfo(int Number);

  void SetThreadSafe(bool ThreadSafe) { FThreadSafe = ThreadSafe; }
  bool Enabled = true;

protected:
  virtual const char *Version() const = 0;
  virtual void ResolveEntryPoints() = 0;
  void *Resolve(const char *Symbol) const;
  // Holds the plug-in's lock for one call, or nothing when thread-safe.
  std::unique_lock<std::mutex> Guard();

  void *FDLLHandle = nullptr;
  SusieGetPluginInfoProc FGetPluginInfo = nullptr;
  SusieIsSupportedProc FIsSupported = nullptr;
  SusieConfigurationDlgProc FConfigurationDlg = nullptr;
  bool FHaveConfigDialog = false;
  std::string FName;
  std::string FExts;
  std::mutex CS;
  bool FThreadSafe = false;

public:
  // IsSupported with a file name and its first 2048 bytes (zero-padded).
  bool IsSupported(const std::string &FileName, const uint8_t *Head2048);
  // The same for bytes in memory (an archive member): Name is only a name
  // (the extension), the head is the first 2048 bytes, zero-padded.
  bool IsSupported2(const std::string &Name, std::span<const uint8_t> Bytes);
};

// An image-loader plug-in ("00IN").
class TSusiePlugin : public TSusieLibrary {
public:
  // The result codes come back as they are (0 success, -1 not implemented).
  int GetPictureInfo(const std::string &Path, SusiePictureInfo &Info);
  int GetPictureInfoFromMemory(std::span<const uint8_t> Bytes, SusiePictureInfo &Info);
  // Decode into the empty Img through the BMP path (a 32-bit DIB keeps its
  // alpha byte); raise ETessivoError with the plug-in's reason.
  void GetPicture(const std::string &Path, TICCImgInfo &Img);
  void GetPictureFromMemory(std::span<const uint8_t> Bytes, TICCImgInfo &Img);

protected:
  const char *Version() const override { return SPI_VERSION_IMAGE; }
  void ResolveEntryPoints() override;

private:
  void TakeDIB(int Result, void *Info, void *Bits, TICCImgInfo &Img);
  SusieGetPictureInfoProc FGetPictureInfo = nullptr;
  SusieGetPictureProc FGetPicture = nullptr;
  SusieGetPreviewProc FGetPreview = nullptr;
};

// An archive plug-in ("00AM").
class TArchiveSusiePlugin : public TSusieLibrary {
public:
  // The member table up to the first entry with an empty method; the
  // result code comes back as it is. Members keep the plug-in's raw path
  // and name (the list makes them safe).
  int GetArchiveInfo(const std::string &Path, std::vector<TArchiveMemberInfo> &Members);
  int GetFileInfo(const std::string &Path, const std::string &Name, TArchiveMemberInfo &Member);
  // The member at Position, FileSize bytes long (as the table said), into
  // Bytes; the result code, 0 on success (SPI_BROKEN_DATA when the plug-in
  // handed back fewer bytes).
  int GetFile(const std::string &Path, uint32_t Position, uint32_t FileSize, std::vector<uint8_t> &Bytes);
  // The first Limit bytes of the member (all of them when it is shorter),
  // through the plug-in's GetFileHead, or GetFile when it has none.
  int GetFileHead(const std::string &Path, uint32_t Position, uint32_t FileSize, uint32_t Limit,
                  std::vector<uint8_t> &Bytes);

protected:
  const char *Version() const override { return SPI_VERSION_ARCHIVE; }
  void ResolveEntryPoints() override;

private:
  SusieGetArchiveInfoProc FGetArchiveInfo = nullptr;
  SusieGetFileInfoProc FGetFileInfo = nullptr;
  SusieGetFileProc FGetFile = nullptr;
  SusieGetFileHeadProc FGetFileHead = nullptr;
};

// What is said of a member that cannot be extracted (the plug-in's reason follows).
inline constexpr const char *MEMBER_UNREADABLE_MSG = "書庫から取り出せません";
// The published meaning of a plug-in's result code, in words.
std::string SusieResultText(int Result);

// One entry of a stored order list: "name=1" enabled, "name=0" disabled.
struct TSPIOrderEntry {
  std::string Name;
  bool Enabled = false;
  bool operator==(const TSPIOrderEntry &) const = default;
};
using TSPIOrder = std::vector<TSPIOrderEntry>;
// "a.spi=1,b.spi=0" and back. Entries without "=" count as disabled.
TSPIOrder ParseSPIOrder(const std::string &Text);
std::string FormatSPIOrder(const TSPIOrder &Order);

// What a plug-in folder holds: the names of the "*.spi" files that answer
// "00IN" and "00AM", in file-name order (each was loaded and unloaded again).
struct TFoundPlugins {
  std::vector<std::string> Image;
  std::vector<std::string> Archive;
};
TFoundPlugins DiscoverPlugins(const std::string &Folder);
// Stored entries whose file is still found keep their place and flag; every
// found file not stored is appended disabled.
TSPIOrder MergeSPIOrder(const TSPIOrder &Stored, const std::vector<std::string> &Found);

// An ordered list of loaded plug-ins; the order is the search order.
template <class TPlugin>
class TPluginList {
public:
  // Loads the entries of Order from Folder, in order; with OnlyEnabled only
  // the enabled ones (the others are skipped). Each loaded plug-in's Enabled
  // is its entry's flag. A file that does not load is skipped.
  void LoadSPI(const std::string &Folder, const TSPIOrder &Order, bool OnlyEnabled = true);
  void ReleaseSPI() { FItems.clear(); }
  void SetThreadSafe(bool ThreadSafe);
  bool ThreadSafe() const { return FThreadSafe; }

  int Count() const { return int(FItems.size()); }
  TPlugin *Items(int Index) const { return FItems[size_t(Index)].get(); }
  TPlugin *FindByName(const std::string &Name) const;
  // Moves the entry at From to To (the dialog's up, down and drag).
  void Move(int From, int To);
  // The list as an order list ("=1" for Enabled).
  TSPIOrder Order() const;

  // Whether any plug-in lists the extension of FileName.
  bool IsSupportExt(const std::string &FileName) const;
  // The first plug-in that lists the extension of FileName and accepts the
  // 2 KB head; null when none.
  TPlugin *FindSupportSPI(const std::string &FileName, const uint8_t *Head2048) const;
  // The same for an archive member's bytes; Ext with its dot.
  TPlugin *FindSupportSPI2(const std::string &Ext, std::span<const uint8_t> Bytes) const;

private:
  std::vector<std::unique_ptr<TPlugin>> FItems;
  bool FThreadSafe = false;
};

using TSPIList = TPluginList<TSusiePlugin>;
using TArchiveSPIList = TPluginList<TArchiveSusiePlugin>;
extern template class TPluginList<TSusiePlugin>;
extern template class TPluginList<TArchiveSusiePlugin>;

// The program-wide lists, filled at start-up from the plug-in settings and
// reloaded when the plug-in dialog closes; probing and loading read them.
TSPIList &ProgramSPIList();
TArchiveSPIList &ProgramArchiveSPIList();

// The loader's and the list's ways into the plug-ins, for the registration
// points of io/LoadPicture.h and io/ImageProbe.h: decoding with the plug-in
// kept in an entry, and extracting a member with the entry's archive plug-in.
void LoadSusieImage(const uint8_t *Data, size_t Size, TICCImgInfo &Img, void *Plugin);
bool ExtractSusieArchiveMember(const TImageProbe &Entry, std::vector<uint8_t> &Bytes);
// Installs both; called once at start-up by the program.
void InstallSusieHost();

// The header probe of image-loader plug-ins (the probe's third step): the
// first program-wide plug-in that lists Ext and accepts the bytes answers
// the picture's size. File is the path when the bytes are a whole file.
bool ProbeSusieImage(const std::string &Ext, const std::string *File, const uint8_t *Data, size_t Size,
                     TImageProbe &Entry);
