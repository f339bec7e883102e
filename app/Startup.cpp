// Start-up and shut-down of the window application.
#include "app/Startup.h"

#include "app/CommandLine.h"
#include "app/PluginSettings.h"
#include "batch/SusieArchiveHost.h"
#include "io/SusiePlugin.h"
#include "app/SettingsFile.h"
#include "batch/BatchObjects.h"
#include "batch/ConvertOption.h"
#include "batch/FileNameTemplate.h"
#include "color/ICCUtil.h"
#include "core/IniFile.h"
#include "core/MultiThread.h"
#include "core/ProgramFolder.h"
#include "core/RunTempFolder.h"
#include "effects/DenoisePass.h"
#include "io/Pixio.h"
#include "resample/Filter.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

const char *const UnsupportedProcessorText = "非対応CPUです";

namespace {

bool Started = false;
// The per-run working folder, from InitApp to DoneApp.
std::unique_ptr<TRunTempFolder> WorkFolder;

double MsSince(std::chrono::steady_clock::time_point T0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - T0).count();
}

std::string Env(const char *Name) {
  const char *V = std::getenv(Name);
  return V ? std::string(V) : std::string();
}

// Whether the X server of a local display name (":0", ":1.0") takes a connection.
bool LocalXServerAnswers(const std::string &Display) {
  if (Display.empty() || Display.front() != ':') return true;  // remote or unusual: let the toolkit try
  const std::string Number = Display.substr(1, Display.find('.') == std::string::npos ? std::string::npos
                                                                                       : Display.find('.') - 1);
  const std::string Path = "/tmp/.X11-unix/X" + Number;
  const int Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Fd < 0) return true;
  sockaddr_un Addr{};
  Addr.sun_family = AF_UNIX;
  std::strncpy(Addr.sun_path, Path.c_str(), sizeof Addr.sun_path - 1);
  const bool Ok = ::connect(Fd, reinterpret_cast<const sockaddr *>(&Addr), sizeof Addr) == 0;
  ::close(Fd);
  return Ok;
}

}  // namespace

TWindowCommandLine ParseWindowCommandLine(const std::vector<std::string> &Args, const std::string &Cwd) {
  TWindowCommandLine C;
  C.Args = Args;
  for (const std::string &Arg : Args) {
    std::string Value;
    if (TakeSwitch(Arg, "ini", Value)) {
      C.HasIni = !Value.empty();
      C.Ini = Value;
    } else if (TakeSwitch(Arg, "list", Value)) {
      C.HasList = !Value.empty();
      C.ListFile = Value.empty() ? Value : AbsolutePath(Value, Cwd);
    } else if (!Arg.empty()) {
      C.Paths.push_back(AbsolutePath(Arg, Cwd));
    }
  }
  return C;
}

std::string CurrentSettingsFileOf(const TWindowCommandLine &Cmd) {
  return Cmd.HasIni ? ResolveSettingsFileName(Cmd.Ini) : DefaultSettingsFile();
}

TEarlySettings ReadEarlySettings(const std::string &SettingsFile) {
  TEarlySettings S;
  try {
    const TMemIniFile Ini(SettingsFile);
    S.MemReserve = Ini.ReadBool("System", "MemReserve", false);
    S.Multiple = Ini.ReadBool("System", "Multiple", false);
    S.AtOnce = Ini.ReadBool("File", "AtOnce", false);
  } catch (const std::exception &) {
    // An unreadable file is reported when the settings are loaded; here it is all defaults.
  }
  return S;
}

bool IsAtOnceRun(const TWindowCommandLine &Cmd, const TEarlySettings &Early) {
  return Early.AtOnce && (Cmd.HasList || !Cmd.Paths.empty());
}

std::vector<std::string> InputPathsOf(const TWindowCommandLine &Cmd, const std::string &Cwd) {
  std::vector<std::string> Paths = Cmd.Paths;
  if (Cmd.HasList) {
    std::vector<std::string> Lines;
    if (ReadListFile(Cmd.ListFile, Cwd, Lines)) Paths.insert(Paths.end(), Lines.begin(), Lines.end());
  }
  return Paths;
}

bool DisplayAvailable() {
  const std::string Platform = Env("QT_QPA_PLATFORM");
  if (Platform.rfind("offscreen", 0) == 0 || Platform.rfind("minimal", 0) == 0) return false;
  if (!Env("WAYLAND_DISPLAY").empty() && Platform.rfind("xcb", 0) != 0) return true;
  const std::string Display = Env("DISPLAY");
  return !Display.empty() && LocalXServerAnswers(Display);
}

std::vector<std::string> TerminalRunArguments(const TWindowCommandLine &Cmd) {
  std::vector<std::string> Args = {ProgramFolder() + "/tessivo"};
  if (Cmd.HasIni) Args.push_back("/ini=" + Cmd.Ini);
  if (Cmd.HasList) Args.push_back("/list=" + Cmd.ListFile);
  // Every other argument is a path here, even one that looks like an option there.
  Args.push_back("--");
  Args.insert(Args.end(), Cmd.Paths.begin(), Cmd.Paths.end());
  return Args;
}

int ExecTerminalRun(const TWindowCommandLine &Cmd) {
  std::vector<std::string> Args = TerminalRunArguments(Cmd);
  std::vector<char *> Argv;
  for (std::string &A : Args) Argv.push_back(A.data());
  Argv.push_back(nullptr);
  ::execv(Argv[0], Argv.data());
  std::fprintf(stderr, "TessivoPlus: cannot start %s: %s\n", Argv[0], std::strerror(errno));
  return 3;
}

void ReserveAddressSpace(bool) {}
void ReleaseAddressSpace() {}

std::string LoadPluginsOnce(const std::string &SettingsFile) {
  static bool Loaded = false;
  if (Loaded) return {};
  Loaded = true;
  try {
    return StartProgramPlugins(TMemIniFile(SettingsFile));
  } catch (const std::exception &E) {
    return SettingsFile + ": " + E.what() + "; no plug-ins are used";
  }
}

bool ProcessorSupported() {
#if defined(__x86_64__) || defined(_M_X64)
  return true;  // SSE and SSE2 belong to the x86-64 instruction set
#elif defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse") && __builtin_cpu_supports("sse2");
#else
  return true;  // the plain C++ paths need nothing more
#endif
}

bool InitApp(const TStartupHooks &Hooks, TStartupTimes *Times, const std::string &BinFolder) {
  TStartupTimes Local;
  TStartupTimes &T = Times ? *Times : Local;
  auto T0 = std::chrono::steady_clock::now();
  CreateDataFolders();
  try {
    if (!WorkFolder) WorkFolder = std::make_unique<TRunTempFolder>();
  } catch (const std::exception &E) {
    // The steps that need working files report it on the files they convert.
    if (Hooks.Warning) Hooks.Warning(E.what());
  }
  T.Folders = MsSince(T0);

  T0 = std::chrono::steady_clock::now();
  try {
    LoadPixio(BinFolder.empty() ? TPixio::DefaultPath() : BinFolder + "/libpixio.so");
    LoadResizeLibrary(BinFolder);
  } catch (const std::exception &E) {
    if (Hooks.LoadLibraryError) Hooks.LoadLibraryError(E.what());
    T.Libraries = MsSince(T0);
    return false;
  }
  try {
    LoadDenoiseLibrary(BinFolder);
  } catch (const std::exception &E) {
    if (Hooks.Warning) Hooks.Warning(E.what());
  }
  T.Libraries = MsSince(T0);

  T0 = std::chrono::steady_clock::now();
  const int32_t P = LogicalProcessorCount();
  SystemOption.ProcessorCount = P;
  CreateBatchObjects(P);
  LoadConvertTable(DefaultConvertRows());
  Started = true;
  T.Objects = MsSince(T0);

  if (!ProcessorSupported()) {
    if (Hooks.UnsupportedProcessor) Hooks.UnsupportedProcessor(UnsupportedProcessorText);
    return false;
  }
  return true;
}

void DoneApp() {
  WorkFolder.reset();
  ReleaseProgramPlugins();
  if (Started) FreeBatchObjects();
  Started = false;
  FreeResizeLibrary();
  FreePixio();
}
