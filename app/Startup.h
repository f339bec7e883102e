// Start-up and shut-down of the window application, GUI-free: the command
// line, the early reading of the settings file (before anything else is
// set up), the start-up sequence InitApp (folders, run-time libraries,
// program-wide objects, processor check) and its release DoneApp. The window
// passes in how a message is shown, so the same code runs under a test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The window program's arguments. On Linux an absolute path begins with "/",
// so of the slash switches only "/ini=" and "/list=" exist (also "--ini=" and
// "--list="), recognised by their beginning without case; every other
// argument is an input path, made absolute against the current folder. When
// a switch occurs twice, the last one counts.
struct TWindowCommandLine {
  std::vector<std::string> Args;   // as given, for the hand-over to a running instance
  bool HasIni = false;
  std::string Ini;                 // the value of the last "/ini="
  bool HasList = false;
  std::string ListFile;            // the value of the last "/list=", absolute
  std::vector<std::string> Paths;  // absolute
};

TWindowCommandLine ParseWindowCommandLine(const std::vector<std::string> &Args, const std::string &Cwd);

// The settings file of this run: the default file, or the one "/ini=" names.
std::string CurrentSettingsFileOf(const TWindowCommandLine &Cmd);

// What is read from the settings file before anything is set up.
struct TEarlySettings {
  bool MemReserve = false;  // read and kept; a 64-bit process has nothing to reserve
  bool Multiple = false;    // several instances allowed
  bool AtOnce = false;      // "File" "AtOnce": handed files are converted at once
};
TEarlySettings ReadEarlySettings(const std::string &SettingsFile);

// The run is unattended (no main window): there is something to convert
// (input paths or "/list="), and the settings file has "AtOnce" on. Only
// "/ini=" opens the main window whatever the profile says.
bool IsAtOnceRun(const TWindowCommandLine &Cmd, const TEarlySettings &Early);

// The input paths of the run: the arguments, then the lines of the "/list="
// file (a file that cannot be read adds nothing).
std::vector<std::string> InputPathsOf(const TWindowCommandLine &Cmd, const std::string &Cwd);

// Whether a window can be shown: false with QT_QPA_PLATFORM=offscreen (or
// minimal), and when neither a Wayland nor an X display is named or the
// local X display's socket does not answer.
bool DisplayAvailable();

// The unattended run without a display: the headless runner "tessivo"
// beside the program takes this process over with the same profile and
// inputs, so the terminal view (a progress bar on standard error, the error
// log at the end, exit status 1 when it is not empty) is the one batch
// controller both programs share. The argument vector of that run:
std::vector<std::string> TerminalRunArguments(const TWindowCommandLine &Cmd);
// Replaces this process by it; answers only when it cannot be started (with
// the reason on standard error), with the status to end with.
int ExecTerminalRun(const TWindowCommandLine &Cmd);

// The address-space reservation of a 32-bit process. A 64-bit build has
// address space to spare, so both do nothing; "MemReserve" is still read
// and written with the other settings.
void ReserveAddressSpace(bool MemReserve);
void ReleaseAddressSpace();

// How the window shows what start-up has to say.
struct TStartupHooks {
  // A run-time library that cannot be loaded, as a box captioned
  // "LoadLibrary Error"; the run then ends.
  std::function<void(const std::string &Text)> LoadLibraryError;
  // What the program runs on without (the noise-removal library, the
  // per-run working folder): shown, and the run goes on.
  std::function<void(const std::string &Text)> Warning;
  // "非対応CPUです": the processor lacks what the program needs; the run ends.
  std::function<void(const std::string &Text)> UnsupportedProcessor;
};

// How long each stage of InitApp took, in milliseconds.
struct TStartupTimes {
  double Folders = 0;
  double Libraries = 0;
  double Objects = 0;
};

// The start-up sequence: the data folder and its subfolders, the per-run
// working folder, the codec and resampling libraries (then noise removal),
// the program-wide objects (colour management, engines, the conversion
// table) and the processor check. False ends the program; call DoneApp then
// as well. BinFolder holds the libraries (empty: the program's bin folder).
bool InitApp(const TStartupHooks &Hooks, TStartupTimes *Times = nullptr, const std::string &BinFolder = {});
// Releases what InitApp made, in reverse, and removes the per-run working
// folder with its contents. Safe to call after a failed InitApp, and twice.
void DoneApp();

// The plug-ins of the configured folder in the stored orders, from the
// plug-in settings (TessivoPlus.cfg, else section "SPI" of SettingsFile),
// read once per program run into SPIOption and PluginOrders. Answers what
// went wrong ("" when nothing did): the program then runs without plug-ins.
std::string LoadPluginsOnce(const std::string &SettingsFile);

// The processor check: x86-64 always has SSE and SSE2; other processors run
// the plain C++ paths, so the check passes there too.
bool ProcessorSupported();

// The unsupported-processor text.
extern const char *const UnsupportedProcessorText;  // "非対応CPUです"
