// The template language of output names, the format-conversion table that
// picks an output extension when the template names none, the folder counts
// of the "c" tokens and the output type of a name. The overlay-text template
// and the serial-number state both languages share are in
// effects/TextTemplate.h, where the text effect reaches them.
#pragma once

#include "effects/RunSettings.h"
#include "effects/TextTemplate.h"
#include "io/OutputType.h"

#include "core/Scale.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct TImageInfo;

// The expanded output name of Info (relative to the source folder when the
// template is relative), or empty when the template is invalid for it: an
// unknown, empty or unterminated token, or one of * ? " > | outside tokens;
// Fault (when given) then says which part, as in "unknown token <OLD>".
// The extension is the template's when it names an image type, else the
// conversion table's for the source format (".jpg" in the lossless mode).
// Settings is the run's copy (the conversion mode and the resize options).
std::string ExpandFileNameTemplate(const std::string &Template, const TImageInfo &Info, int32_t Number,
                                   const TScale &Scale, const TRunSettings &Settings,
                                   std::string *Fault = nullptr);

// Why a stored template gives Info no usable output name, naming the part
// of the template at fault (a character, a token, an empty file name);
// empty when the name is usable. The folder counts are discarded afterwards.
std::string FileNameTemplateFault(const std::string &Template, const TImageInfo &Info,
                                  const TRunSettings &Settings);

// The text of the "resizemode" token for the resize scale of one image.
std::string ResizeModeText(const TScale &Scale, const TResizeOption &Resize);

// The conversion table: rows "inputs=output" of the settings section
// "Convert"; "未定義" stands for every extension no row names.
extern const char *const ConvertUndefined;  // "未定義"
extern std::vector<std::string> ConvertTable;
// Its expansion, one entry per input extension, keys lower-cased (look-ups
// are case-insensitive); a later row wins for an extension named twice.
// Rows whose output is not one of ".bmp", ".jpg", ".png", ".wdp", ".tif"
// (the table dialog stores "???" for those) map nothing.
extern std::map<std::string, std::string> ConvertMap;
// Rebuilds ConvertMap from ConvertTable.
void RebuildConvertMap();
// The table as read from the settings: the rows, then, when the map has no
// "未定義" entry, the default rows for the extensions the rows do not name
// (a stored row keeps its output); ConvertMap is rebuilt.
void LoadConvertTable(std::vector<std::string> Rows);
// The default rows appended above.
const std::vector<std::string> &DefaultConvertRows();
// ConvertMap[Ext] without regard to case, empty when not mapped.
std::string LookUpConvertMap(const std::string &Ext);

// The per-run cache of folder counts ("c" tokens): the first request for a
// folder answers 1 + the files in it (1 when it does not exist), each
// further one the previous answer + 1. Discarded before every run and after
// every preview name.
int32_t NextFolderCount(const std::string &Folder);
void ClearFolderCountCache();

// A single name outside a run (previews, the combining window): the start
// number of a copy of the template plus Index; the folder counts are
// discarded afterwards. The folder prefix is added for a relative template.
std::string PreviewOutputFileName(const std::string &Template, const TImageInfo &Info, int32_t Index,
                                  const TScale &Scale, const TRunSettings &Settings);

// The warning of a run whose template is invalid for some entry.
extern const char *const InvalidFileNameMessage;  // "ファイル名に使用できない文字が含まれています"
