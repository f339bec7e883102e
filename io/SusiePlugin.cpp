// The plug-in host: loading "*.spi" libraries, the lists in search order,
// discovery and the order-list merge, and the calls with their checks.
#include "io/SusiePlugin.h"

#include "core/AsciiCase.h"
#include "core/Errors.h"
#include "io/Bitmap.h"
#include "io/ExifReader.h"
#include "io/FormatOption.h"
#include "io/ImageProbe.h"
#include "io/LoadPicture.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

namespace {

// A block the plug-in allocated with malloc, released when the call is done.
struct TPluginBlock {
  void *P = nullptr;
  ~TPluginBlock() { std::free(P); }
};

bool IsValidUTF8(const std::string &S) {
  size_t i = 0;
  while (i < S.size()) {
    const uint8_t c = uint8_t(S[i]);
    size_t follow;
    if (c < 0x80) follow = 0;
    else if (c >= 0xC2 && c <= 0xDF) follow = 1;
    else if (c >= 0xE0 && c <= 0xEF) follow = 2;
    else if (c >= 0xF0 && c <= 0xF4) follow = 3;
    else return false;
    if (follow > S.size() - i - 1) return false;
    for (size_t k = 1; k <= follow; ++k)
      if ((uint8_t(S[i + k]) & 0xC0) != 0x80) return false;
    i += follow + 1;
  }
  return true;
}

// Whether a path can be handed to a plug-in by name: the interface promises
// UTF-8 names that open() takes.
bool PassableName(const std::string &Path) { return Path.size() < PATH_MAX && IsValidUTF8(Path); }

std::string LastComponent(const std::string &Path) {
  const size_t slash = Path.find_last_of('/');
  return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// The bare name given to IsSupported for a name that cannot be passed:
// its bytes outside plain ASCII become '_', so the extension survives.
std::string AsciiName(const std::string &Path) {
  std::string name = LastComponent(Path);
  for (char &c : name)
    if (uint8_t(c) >= 0x80) c = '_';
  return name;
}

bool ReadWholeFileBytes(const std::string &Path, std::vector<uint8_t> &Bytes) {
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok) {
    Bytes.resize(size_t(st.st_size));
    size_t got = 0;
    while (got < Bytes.size()) {
      const ssize_t n = ::read(fd, Bytes.data() + got, Bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += size_t(n);
    }
    Bytes.resize(got);
  }
  ::close(fd);
  return ok;
}

// A path the archive calls can take for any file: the file itself, or, for
// a name that cannot be passed, the descriptor's entry in /proc that the
// host holds open for the call.
class TPassablePath {
public:
  explicit TPassablePath(const std::string &Path) {
    if (PassableName(Path)) {
      FPath = Path;
      return;
    }
    FFd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (FFd >= 0) FPath = "/proc/self/fd/" + std::to_string(FFd);
  }
  ~TPassablePath() {
    if (FFd >= 0) ::close(FFd);
  }
  TPassablePath(const TPassablePath &) = delete;
  TPassablePath &operator=(const TPassablePath &) = delete;
  const std::string &Path() const { return FPath; }

private:
  std::string FPath;
  int FFd = -1;
};

std::string FixedText(const char *Field, size_t Size) {
  size_t n = 0;
  while (n < Size && Field[n]) ++n;
  return std::string(Field, n);
}

TArchiveMemberInfo MemberOf(const SusieFileInfo &F) {
  TArchiveMemberInfo m;
  m.Path = FixedText(F.path, sizeof F.path);
  m.FileName = FixedText(F.filename, sizeof F.filename);
  m.Position = F.position;
  m.CompSize = F.compsize;
  m.FileSize = F.filesize;
  m.TimeStamp = F.timestamp;
  // Windows plug-ins write folders with "\"; the list wants "/" and a trailing one.
  std::replace(m.Path.begin(), m.Path.end(), '\\', '/');
  std::replace(m.FileName.begin(), m.FileName.end(), '\\', '/');
  if (!m.Path.empty() && m.Path.back() != '/') m.Path += '/';
  return m;
}

}  // namespace

std::string SusieResultText(int Result) {
  switch (Result) {
    case SPI_NOT_IMPLEMENTED: return "not implemented by the plug-in";
    case SPI_CALLBACK_ABORT: return "stopped";
    case SPI_UNKNOWN_FORMAT: return "unknown format";
    case SPI_BROKEN_DATA: return "broken data";
    case SPI_NO_MEMORY: return "out of memory";
    case SPI_MEMORY_ERROR: return "memory error";
    case SPI_FILE_READ_ERROR: return "file read error";
    case SPI_WINDOW_ERROR: return "window error";
    case SPI_INTERNAL_ERROR: return "internal error";
    case SPI_FILE_WRITE_ERROR: return "file write error";
    case SPI_END_OF_FILE: return "unexpected end of file";
    case SPI_ENCRYPTED: return "encrypted, and no password is known";
    default: return "error " + std::to_string(Result);
  }
}


// ---------------------------------------------------------------------------
// TSusieLibrary

TSusieLibrary::~TSusieLibrary() { FreePlugIn(); }

void *TSusieLibrary::Resolve(const char *Symbol) const { return FDLLHandle ? ::dlsym(FDLLHandle, Symbol) : nullptr; }

bool TSusieLibrary::LoadPlugIn(const std::string &Path) {
  FreePlugIn();
  // A plug-in stays mapped after it is freed: the libraries it pulls in
  // (an OpenMP runtime with its idle thread pool, for one) cannot be
  // unloaded safely while their threads and allocations live on, and a
  // later reload of the same file simply finds it again.
  FDLLHandle = ::dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (!FDLLHandle) return false;
  FName = LastComponent(Path);
  FGetPluginInfo = reinterpret_cast<SusieGetPluginInfoProc>(Resolve("GetPluginInfo"));
  if (PluginInfo(0) != Version()) {
    FreePlugIn();
    return false;
  }
  FIsSupported = reinterpret_cast<SusieIsSupportedProc>(Resolve("IsSupported"));
  FConfigurationDlg = reinterpret_cast<SusieConfigurationDlgProc>(Resolve("ConfigurationDlg"));
  FHaveConfigDialog = FConfigurationDlg != nullptr;
  ResolveEntryPoints();
  FExts.clear();
  for (int i = 2;; i += 2) {
    std::string pattern = PluginInfo(i);
    if (pattern.empty()) break;
    // "*.jpg;*.jpeg" is one answer naming two patterns.
    for (char &c : pattern) c = AsciiLower(c);
    size_t start = 0;
    while (start < pattern.size()) {
      size_t end = pattern.find(';', start);
      if (end == std::string::npos) end = pattern.size();
      if (end > start) FExts += pattern.substr(start, end - start) + ";";
      start = end + 1;
    }
    if (i > 512) break;  // a plug-in that never answers 0 lists no more
  }
  return true;
}

void TSusieLibrary::FreePlugIn() {
  if (FDLLHandle) ::dlclose(FDLLHandle);
  FDLLHandle = nullptr;
  FGetPluginInfo = nullptr;
  FIsSupported = nullptr;
  FConfigurationDlg = nullptr;
  FHaveConfigDialog = false;
  FExts.clear();
}

std::unique_lock<std::mutex> TSusieLibrary::Guard() {
  return FThreadSafe ? std::unique_lock<std::mutex>() : std::unique_lock<std::mutex>(CS);
}

std::string TSusieLibrary::PluginInfo(int Number) {
  if (!FGetPluginInfo) return {};
  char buf[512] = {};
  int n;
  {
    auto lock = Guard();
    n = FGetPluginInfo(Number, buf, int(sizeof buf - 1));
  }
  if (n <= 0) return {};
  return FixedText(buf, std::min<size_t>(size_t(n), sizeof buf - 1));
}

bool TSusieLibrary::ListsExtension(const std::string &Ext) const {
  if (Ext.empty()) return false;
  std::string pattern = "*";
  pattern += AsciiLower(Ext);
  pattern += ';';
  return FExts.find(pattern) != std::string::npos;
}

std::string TSusieLibrary::ShowPluginInfo() {
  std::string text = PluginInfo(1);
  for (int i = 2;; i += 2) {
    const std::string pattern = PluginInfo(i);
    if (pattern.empty() || i > 512) break;
    text += "\n" + pattern + "\t" + PluginInfo(i + 1);
  }
  return text;
}

int TSusieLibrary::ConfigurationDlg(void *Parent, int Function) {
  if (!FConfigurationDlg) return SPI_NOT_IMPLEMENTED;
  auto lock = Guard();
  return FConfigurationDlg(Parent, Function);
}

bool TSusieLibrary::IsSupported(const std::string &FileName, const uint8_t *Head2048) {
  if (!FIsSupported) return false;
  const std::string name = PassableName(FileName) ? FileName : AsciiName(FileName);
  auto lock = Guard();
  return FIsSupported(name.c_str(), Head2048) != 0;
}

bool TSusieLibrary::IsSupported2(const std::string &Name, std::span<const uint8_t> Bytes) {
  uint8_t head[SPI_HEAD_SIZE] = {};
  std::memcpy(head, Bytes.data(), std::min<size_t>(Bytes.size(), sizeof head));
  return IsSupported(Name, head);
}

// ---------------------------------------------------------------------------
// TSusiePlugin

void TSusiePlugin::ResolveEntryPoints() {
  FGetPictureInfo = reinterpret_cast<SusieGetPictureInfoProc>(Resolve("GetPictureInfo"));
  FGetPicture = reinterpret_cast<SusieGetPictureProc>(Resolve("GetPicture"));
  FGetPreview = reinterpret_cast<SusieGetPreviewProc>(Resolve("GetPreview"));
}

int TSusiePlugin::GetPictureInfo(const std::string &Path, SusiePictureInfo &Info) {
  if (!PassableName(Path)) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFileBytes(Path, bytes)) return SPI_FILE_READ_ERROR;
    return GetPictureInfoFromMemory(bytes, Info);
  }
  if (!FGetPictureInfo) return SPI_NOT_IMPLEMENTED;
  Info = {};
  int r;
  {
    auto lock = Guard();
    r = FGetPictureInfo(Path.c_str(), 0, SPI_INPUT_FILE, &Info);
  }
  std::free(Info.hInfo);
  Info.hInfo = nullptr;
  return r;
}

int TSusiePlugin::GetPictureInfoFromMemory(std::span<const uint8_t> Bytes, SusiePictureInfo &Info) {
  if (!FGetPictureInfo) return SPI_NOT_IMPLEMENTED;
  Info = {};
  int r;
  {
    auto lock = Guard();
    r = FGetPictureInfo(reinterpret_cast<const char *>(Bytes.data()), intptr_t(Bytes.size()), SPI_INPUT_MEMORY, &Info);
  }
  std::free(Info.hInfo);
  Info.hInfo = nullptr;
  return r;
}

void TSusiePlugin::TakeDIB(int Result, void *Info, void *Bits, TICCImgInfo &Img) {
  TPluginBlock info{Info}, bits{Bits};
  if (Result != SPI_SUCCESS) throw ETessivoError(FName + ": " + SusieResultText(Result));
  if (!info.P || !bits.P) throw ETessivoError(FName + ": no bitmap returned");
  // The blocks carry no length: their sizes are the allocator's, which the
  // C library reports for what the plug-in allocated with malloc.
  const size_t infoSize = ::malloc_usable_size(info.P);
  const size_t bitsSize = ::malloc_usable_size(bits.P);
  LoadDIBFromMemory(static_cast<const uint8_t *>(info.P), infoSize, static_cast<const uint8_t *>(bits.P), bitsSize,
                    Img, ALPHA_CHECK_DETECT, true);
}

void TSusiePlugin::GetPicture(const std::string &Path, TICCImgInfo &Img) {
  if (!PassableName(Path)) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFileBytes(Path, bytes)) throw ETessivoError(FName + ": " + SusieResultText(SPI_FILE_READ_ERROR));
    GetPictureFromMemory(bytes, Img);
    return;
  }
  if (!FGetPicture) throw ETessivoError(FName + ": " + SusieResultText(SPI_NOT_IMPLEMENTED));
  void *info = nullptr, *bits = nullptr;
  int r;
  {
    auto lock = Guard();
    r = FGetPicture(Path.c_str(), 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0);
  }
  TakeDIB(r, info, bits, Img);
}

void TSusiePlugin::GetPictureFromMemory(std::span<const uint8_t> Bytes, TICCImgInfo &Img) {
  if (!FGetPicture) throw ETessivoError(FName + ": " + SusieResultText(SPI_NOT_IMPLEMENTED));
  void *info = nullptr, *bits = nullptr;
  int r;
  {
    auto lock = Guard();
    r = FGetPicture(reinterpret_cast<const char *>(Bytes.data()), intptr_t(Bytes.size()), SPI_INPUT_MEMORY, &info,
                    &bits, nullptr, 0);
  }
  TakeDIB(r, info, bits, Img);
}

// ---------------------------------------------------------------------------
// TArchiveSusiePlugin

void TArchiveSusiePlugin::ResolveEntryPoints() {
  FGetArchiveInfo = reinterpret_cast<SusieGetArchiveInfoProc>(Resolve("GetArchiveInfo"));
  FGetFileInfo = reinterpret_cast<SusieGetFileInfoProc>(Resolve("GetFileInfo"));
  FGetFile = reinterpret_cast<SusieGetFileProc>(Resolve("GetFile"));
  FGetFileHead = reinterpret_cast<SusieGetFileHeadProc>(Resolve("GetFileHead"));
}

int TArchiveSusiePlugin::GetArchiveInfo(const std::string &Path, std::vector<TArchiveMemberInfo> &Members) {
  Members.clear();
  if (!FGetArchiveInfo) return SPI_NOT_IMPLEMENTED;
  const TPassablePath name(Path);
  if (name.Path().empty()) return SPI_FILE_READ_ERROR;
  TPluginBlock table;
  int r;
  {
    auto lock = Guard();
    r = FGetArchiveInfo(name.Path().c_str(), 0, SPI_INPUT_FILE, &table.P);
  }
  if (r != SPI_SUCCESS) return r;
  if (!table.P) return SPI_BROKEN_DATA;
  // The table's length is where the plug-in ends it, and never past its block.
  const size_t count = ::malloc_usable_size(table.P) / sizeof(SusieFileInfo);
  const auto *entries = static_cast<const SusieFileInfo *>(table.P);
  for (size_t i = 0; i < count && entries[i].method[0]; ++i) Members.push_back(MemberOf(entries[i]));
  return SPI_SUCCESS;
}

int TArchiveSusiePlugin::GetFileInfo(const std::string &Path, const std::string &Name, TArchiveMemberInfo &Member) {
  if (!FGetFileInfo) return SPI_NOT_IMPLEMENTED;
  const TPassablePath name(Path);
  if (name.Path().empty()) return SPI_FILE_READ_ERROR;
  SusieFileInfo info{};
  int r;
  {
    auto lock = Guard();
    r = FGetFileInfo(name.Path().c_str(), 0, Name.c_str(), SPI_INPUT_FILE, &info);
  }
  if (r == SPI_SUCCESS) Member = MemberOf(info);
  return r;
}

int TArchiveSusiePlugin::GetFile(const std::string &Path, uint32_t Position, uint32_t FileSize,
                                 std::vector<uint8_t> &Bytes) {
  Bytes.clear();
  if (!FGetFile) return SPI_NOT_IMPLEMENTED;
  const TPassablePath name(Path);
  if (name.Path().empty()) return SPI_FILE_READ_ERROR;
  TPluginBlock block;
  int r;
  {
    auto lock = Guard();
    r = FGetFile(name.Path().c_str(), intptr_t(Position), reinterpret_cast<char *>(&block.P),
                 SPI_INPUT_FILE | SPI_OUTPUT_MEMORY, nullptr, 0);
  }
  if (r != SPI_SUCCESS) return r;
  if (!block.P) return SPI_BROKEN_DATA;
  // The block holds the member's FileSize bytes; one the allocator says is
  // smaller was cut short by the plug-in.
  if (::malloc_usable_size(block.P) < FileSize) return SPI_BROKEN_DATA;
  const auto *p = static_cast<const uint8_t *>(block.P);
  Bytes.assign(p, p + FileSize);
  return SPI_SUCCESS;
}

int TArchiveSusiePlugin::GetFileHead(const std::string &Path, uint32_t Position, uint32_t FileSize, uint32_t Limit,
                                     std::vector<uint8_t> &Bytes) {
  if (!FGetFileHead || Limit >= FileSize) return GetFile(Path, Position, FileSize, Bytes);
  Bytes.clear();
  const TPassablePath name(Path);
  if (name.Path().empty()) return SPI_FILE_READ_ERROR;
  Bytes.resize(Limit);
  uint32_t got = 0;
  int r;
  {
    auto lock = Guard();
    r = FGetFileHead(name.Path().c_str(), intptr_t(Position), Bytes.data(), Limit, &got);
  }
  if (r == SPI_SUCCESS && got != Limit) r = SPI_BROKEN_DATA;
  if (r != SPI_SUCCESS) Bytes.clear();
  return r;
}

// ---------------------------------------------------------------------------
// Order lists and discovery

TSPIOrder ParseSPIOrder(const std::string &Text) {
  TSPIOrder order;
  size_t start = 0;
  while (start < Text.size()) {
    size_t end = Text.find(',', start);
    if (end == std::string::npos) end = Text.size();
    const std::string item = Text.substr(start, end - start);
    start = end + 1;
    const size_t eq = item.find('=');
    TSPIOrderEntry e;
    e.Name = item.substr(0, eq);
    e.Enabled = eq != std::string::npos && item.substr(eq + 1) == "1";
    if (!e.Name.empty()) order.push_back(e);
  }
  return order;
}

std::string FormatSPIOrder(const TSPIOrder &Order) {
  std::string text;
  for (const TSPIOrderEntry &e : Order) {
    if (!text.empty()) text += ',';
    text += e.Name + (e.Enabled ? "=1" : "=0");
  }
  return text;
}

TFoundPlugins DiscoverPlugins(const std::string &Folder) {
  TFoundPlugins found;
  DIR *dir = ::opendir(Folder.c_str());
  if (!dir) return found;
  std::vector<std::string> names;
  while (const dirent *d = ::readdir(dir)) {
    const std::string name = d->d_name;
    if (name.size() > 4 && AsciiLower(name.substr(name.size() - 4)) == ".spi") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  const std::string base = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
  for (const std::string &name : names) {
    TSusiePlugin image;
    if (image.LoadPlugIn(base + name)) {
      found.Image.push_back(name);
      continue;
    }
    TArchiveSusiePlugin archive;
    if (archive.LoadPlugIn(base + name)) found.Archive.push_back(name);
  }
  return found;
}

TSPIOrder MergeSPIOrder(const TSPIOrder &Stored, const std::vector<std::string> &Found) {
  TSPIOrder merged;
  for (const TSPIOrderEntry &e : Stored) {
    const bool present = std::find(Found.begin(), Found.end(), e.Name) != Found.end();
    const bool twice = std::any_of(merged.begin(), merged.end(), [&](const TSPIOrderEntry &m) { return m.Name == e.Name; });
    if (present && !twice) merged.push_back(e);
  }
  for (const std::string &name : Found)
    if (std::none_of(merged.begin(), merged.end(), [&](const TSPIOrderEntry &m) { return m.Name == name; }))
      merged.push_back({name, false});
  return merged;
}

// ---------------------------------------------------------------------------
// TPluginList

template <class TPlugin>
void TPluginList<TPlugin>::LoadSPI(const std::string &Folder, const TSPIOrder &Order, bool OnlyEnabled) {
  const std::string base = Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
  for (const TSPIOrderEntry &e : Order) {
    if (OnlyEnabled && !e.Enabled) continue;
    if (e.Name.find('/') != std::string::npos || FindByName(e.Name)) continue;
    auto plugin = std::make_unique<TPlugin>();
    if (!plugin->LoadPlugIn(base + e.Name)) continue;
    plugin->Enabled = e.Enabled;
    plugin->SetThreadSafe(FThreadSafe);
    FItems.push_back(std::move(plugin));
  }
}

template <class TPlugin>
void TPluginList<TPlugin>::SetThreadSafe(bool ThreadSafe) {
  FThreadSafe = ThreadSafe;
  for (auto &p : FItems) p->SetThreadSafe(ThreadSafe);
}

template <class TPlugin>
TPlugin *TPluginList<TPlugin>::FindByName(const std::string &Name) const {
  for (const auto &p : FItems)
    if (p->Name() == Name) return p.get();
  return nullptr;
}

template <class TPlugin>
void TPluginList<TPlugin>::Move(int From, int To) {
  if (From < 0 || To < 0 || From >= Count() || To >= Count() || From == To) return;
  auto item = std::move(FItems[size_t(From)]);
  FItems.erase(FItems.begin() + From);
  FItems.insert(FItems.begin() + To, std::move(item));
}

template <class TPlugin>
TSPIOrder TPluginList<TPlugin>::Order() const {
  TSPIOrder order;
  for (const auto &p : FItems) order.push_back({p->Name(), p->Enabled});
  return order;
}

template <class TPlugin>
bool TPluginList<TPlugin>::IsSupportExt(const std::string &FileName) const {
  const std::string ext = LowerExtension(FileName);
  return std::any_of(FItems.begin(), FItems.end(), [&](const auto &p) { return p->Enabled && p->ListsExtension(ext); });
}

template <class TPlugin>
TPlugin *TPluginList<TPlugin>::FindSupportSPI(const std::string &FileName, const uint8_t *Head2048) const {
  const std::string ext = LowerExtension(FileName);
  for (const auto &p : FItems)
    if (p->Enabled && p->ListsExtension(ext) && p->IsSupported(FileName, Head2048)) return p.get();
  return nullptr;
}

template <class TPlugin>
TPlugin *TPluginList<TPlugin>::FindSupportSPI2(const std::string &Ext, std::span<const uint8_t> Bytes) const {
  const std::string ext = AsciiLower(Ext);
  for (const auto &p : FItems)
    if (p->Enabled && p->ListsExtension(ext) && p->IsSupported2(ext, Bytes)) return p.get();
  return nullptr;
}

template class TPluginList<TSusiePlugin>;
template class TPluginList<TArchiveSusiePlugin>;

TSPIList &ProgramSPIList() {
  static TSPIList list;
  return list;
}

TArchiveSPIList &ProgramArchiveSPIList() {
  static TArchiveSPIList list;
  return list;
}

// ---------------------------------------------------------------------------
// The loader's and the prober's ways in

void LoadSusieImage(const uint8_t *Data, size_t Size, TICCImgInfo &Img, void *Plugin) {
  static_cast<TSusiePlugin *>(Plugin)->GetPictureFromMemory({Data, Size}, Img);
}

bool ExtractSusieArchiveMember(const TImageProbe &Entry, std::vector<uint8_t> &Bytes) {
  auto *plugin = static_cast<TArchiveSusiePlugin *>(Entry.FArchiveSPI);
  if (!plugin) return false;
  if (Entry.Size < 0) return false;
  const int r = plugin->GetFile(Entry.FArchivePath, Entry.FArchivePosition, uint32_t(Entry.Size), Bytes);
  if (r != SPI_SUCCESS) throw ETessivoError(MEMBER_UNREADABLE_MSG, plugin->Name() + ": " + SusieResultText(r));
  return true;
}

void InstallSusieHost() {
  RegisterLoadSusieImage(LoadSusieImage);
  RegisterExtractArchiveMember(ExtractSusieArchiveMember);
}

bool ProbeSusieImage(const std::string &Ext, const std::string *File, const uint8_t *Data, size_t Size,
                     TImageProbe &Entry) {
  const TSPIList &list = ProgramSPIList();
  if (Ext.empty() || !list.IsSupportExt("x" + Ext)) return false;
  const std::span<const uint8_t> bytes(Data, Size);
  TSusiePlugin *plugin = nullptr;
  if (File) {
    uint8_t head[SPI_HEAD_SIZE] = {};
    std::memcpy(head, Data, std::min<size_t>(Size, sizeof head));
    plugin = list.FindSupportSPI(*File, head);
  } else {
    plugin = list.FindSupportSPI2(Ext, bytes);
  }
  if (!plugin) return false;
  SusiePictureInfo info{};
  const int r = File ? plugin->GetPictureInfo(*File, info) : plugin->GetPictureInfoFromMemory(bytes, info);
  if (r != SPI_SUCCESS || info.width <= 0 || info.height <= 0) return false;
  Entry.Width = info.width;
  Entry.Height = info.height;
  Entry.FXResolution = info.x_density;
  Entry.FYResolution = info.y_density;
  Entry.FResolutionUnit = RESUNIT_NONE;
  Entry.FSPI = plugin;
  Entry.PictureFormat = PICTURE_SPI;
  // Camera files in a TIFF container carry the orientation and the shooting
  // date in their first directories, where the Exif reader finds them; the
  // plug-in leaves the pixels as stored, so the rotation step turns them.
  if (Size >= 8 && (std::memcmp(Data, "II*\0", 4) == 0 || std::memcmp(Data, "MM\0*", 4) == 0)) {
    TImageProbe tiff;
    tiff.FPath = Entry.FPath;
    ParseExifIFDs(tiff, Data, Size, 0, Size);
    Entry.FOrientation = tiff.FOrientation;
    Entry.DateTimeOriginal = tiff.DateTimeOriginal;
  }
  return true;
}
