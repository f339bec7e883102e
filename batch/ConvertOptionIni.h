// Reading and writing the program-wide settings records in the settings
// file: sections "System", "Stsrem", "File", "Resize", "Preview", "SPI",
// "ColorManagement", "ColorSpaceConvert", "Combine" and the conversion-mode switches
// ("RenameOnly" of "File", "Use" of "JPEGTran" and "Combine"). Every key has
// its default; a missing key or a value that does not parse takes it.
#pragma once

#include "color/ColorManagementOption.h"
#include "batch/ConvertOption.h"

#include <cstdint>
#include <string>

class TMemIniFile;
class TUnsharpMask;

// Folders the defaults of "File" and "Dir" point at: the user's picture
// folder (XDG "PICTURES", else ~/Pictures) and the temporary folder
// (SystemTempFolder, core/RunTempFolder.h).
std::string UserPictureFolder();
// A folder of the XDG user-dirs file by its name there ("XDG_DESKTOP_DIR"),
// else $HOME + "/" + Fallback.
std::string UserDirsFolder(const char *Name, const char *Fallback);

// Option.ProcessorCount must be set before: it bounds "MaxThread".
void ReadSystemOption(const TMemIniFile &Ini, TSystemOption &Option, uint32_t &Background);
void WriteSystemOption(TMemIniFile &Ini, const TSystemOption &Option, uint32_t Background);

// "SameDirectory" is consulted only for a relative template, which it puts
// under "OutPutDirectory" when off; "TargetExt" loses its dots.
void ReadFileOption(const TMemIniFile &Ini, TFileOption &Option);
// "OutPutDirectory" is written as the folder part of the template, so that
// an absolute template reads back as it was.
void WriteFileOption(TMemIniFile &Ini, const TFileOption &Option);

// "Rule" outside 0 to 13 becomes 0, "SIMD" other than 2 or 3 becomes 3;
// "MaxThread" defaults to the processor count.
void ReadResizeOption(const TMemIniFile &Ini, TResizeOption &Option, int32_t ProcessorCount);
void WriteResizeOption(TMemIniFile &Ini, const TResizeOption &Option);

// "Width" and "Height" are kept within the work area when one is given (> 0).
void ReadPreviewOption(const TMemIniFile &Ini, TPreviewOption &Option, int32_t WorkAreaWidth = 0,
                       int32_t WorkAreaHeight = 0);
void WritePreviewOption(TMemIniFile &Ini, const TPreviewOption &Option);

// "ConvertTo" of "SPI" and of "WIC". The plug-in folder and thread-safety switch come from
// the plug-in settings file (or, without one, section "SPI" of the settings
// file) and only on the first load of a run: ReadPluginFolderOption.
void ReadSPIOption(const TMemIniFile &Ini, TSPIOption &Option);
void WriteSPIOption(TMemIniFile &Ini, const TSPIOption &Option);
// "SPIDirectory" (empty: ProgramFolder + "SusiePlugin") and "ThreadSafeSPI".
void ReadPluginFolderOption(const TMemIniFile &Ini, TSPIOption &Option, const std::string &ProgramFolder);
void WritePluginFolderOption(TMemIniFile &Ini, const TSPIOption &Option);

void ReadColorManagementOption(const TMemIniFile &Ini, TColorManagementOption &Option);
void WriteColorManagementOption(TMemIniFile &Ini, const TColorManagementOption &Option);

// The conversion mode from its three stored switches (rename wins over
// lossless JPEG, which wins over combining); FileOption.RenameOnly follows.
int32_t ReadConvertMode(const TMemIniFile &Ini, TFileOption &Option);
// Exactly the switch of Mode is written on.
void WriteConvertMode(TMemIniFile &Ini, int32_t Mode);

// All of the above into the program-wide records, in the order the settings
// are read; the conversion mode last.
void ReadConvertSettings(const TMemIniFile &Ini);
void WriteConvertSettings(TMemIniFile &Ini);

// After a settings file was read: the kernels, data path and thread counts
// go to the program-wide resizers (and USM when given), the dither setting to
// the depth conversions, the priority to the process.
void ApplyLoadedSettings(TUnsharpMask *USM);
