// libFuzzer target over what a hand-edited settings file can feed the batch
// settings: size expressions, the size-rule history, the size lists and the
// records read from an arbitrary INI text. Nothing may crash or hang; bad
// values either fall back to defaults or raise ETessivoError.
#include "batch/ConvertOption.h"
#include "batch/ConvertOptionIni.h"
#include "core/Errors.h"
#include "core/IniFile.h"
#include "core/SizeExpression.h"
#include "batch/SizeRule.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size == 0) return 0;
  const uint8_t mode = Data[0];
  std::string text(reinterpret_cast<const char *>(Data + 1), Size - 1);
  try {
    switch (mode % 4) {
      case 0: {
        std::string t = text;
        if (CheckSizeExpression(t)) {
          const double v = EvaluateSizeExpression(SubstituteSizeVariables(t, 6000, 4000));
          if (!(v >= 0)) __builtin_trap();  // negative results and NaN never come out
        }
        break;
      }
      case 1:
        (void)EvaluateSizeExpression(text);
        break;
      case 2: {
        TSizeRuleHistory h;
        h.Assign(text);
        if (h.Count() > SIZE_HISTORY_MAX) __builtin_trap();
        for (int32_t i = 0; i < h.Count(); ++i) {
          (void)TSizeRuleHistory::DisplayText(h.Entries()[size_t(i)]);
          try {
            (void)h.Split(i);
          } catch (const ETessivoError &) {
          }
        }
        TResizeOption o;
        const std::string field1 = text.substr(0, 8), field2 = text.size() > 8 ? text.substr(8, 8) : "";
        TSizeRuleFields f{int32_t(mode >> 2) % 16, field1, field2, int32_t(mode >> 4)};
        (void)ResolveSizeRule(f, o, h);
        break;
      }
      case 3: {
        TMemIniFile ini;
        ini.LoadFromBytes(text);
        TSystemOption sys;
        sys.ProcessorCount = 1 + mode % 64;
        uint32_t background;
        ReadSystemOption(ini, sys, background);
        if (sys.MaxThread < 1 || sys.MaxThread > sys.ProcessorCount) __builtin_trap();
        TFileOption file;
        ReadFileOption(ini, file);
        (void)SplitTemplate(file);
        TResizeOption resize;
        ReadResizeOption(ini, resize, sys.ProcessorCount);
        if (resize.Rule < 0 || resize.Rule >= SIZE_RULE_COUNT) __builtin_trap();
        TPreviewOption preview;
        ReadPreviewOption(ini, preview, 1920, 1080);
        (void)ReadConvertMode(ini, file);
        try {
          (void)ResolveSizeRuleUnattended(resize);
        } catch (const ETessivoError &) {
        }
        WriteSystemOption(ini, sys, background);
        WriteFileOption(ini, file);
        WriteResizeOption(ini, resize);
        (void)ini.SaveToBytes();
        break;
      }
    }
  } catch (const ETessivoError &) {
  }
  return 0;
}
