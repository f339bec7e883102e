// The combining settings (conversion mode 2: several images tiled into
// pages), their section "Combine" of the settings file, and the rules of the
// combining settings dialog TCombineOptionForm, GUI-free so that the window,
// the terminal and the tests share them.
#pragma once

#include <cstdint>
#include <string>

class TMemIniFile;

// Layouts (BlankType).
enum : int32_t {
  BLANK_FIT = 0,      // "余白あり": fit inside the cell, centred, margins remain
  BLANK_FILL = 1,     // "余白なし(サイズ固定)": fill the cell, cropped
  BLANK_GAPLESS = 2,  // "余白なし": rows (or columns) scaled to a common length
};

// Fill order (Order).
enum : int32_t {
  COMBINE_ACROSS_FIRST = 0,  // "横優先": row by row
  COMBINE_DOWN_FIRST = 1,    // "縦優先": column by column
};

// Rows counts images across and Columns images down; RowSpace is the
// horizontal and ColumnSpace the vertical gap. Whether the mode is on is the
// conversion mode ("Use" of "Combine", read with the other mode switches).
struct TCombineOption {
  int32_t Width = 320;       // cell size in pixels with RelativeSize 0
  int32_t Height = 240;
  int32_t Percent = 10;      // cell size as a percentage of the page's first image with RelativeSize 1
  int32_t RelativeSize = 0;  // 0 "幅×高さ(px)", 1 "比率(%)"
  int32_t Order = COMBINE_ACROSS_FIRST;
  int32_t Rows = 3;          // images across (label 横)
  int32_t Columns = 3;       // images down (label 縦)
  int32_t RowSpace = 0;      // horizontal gap between neighbours across
  int32_t ColumnSpace = 0;   // vertical gap between neighbours down
  uint32_t BackgroundColor = 0xFFFFFF;  // 0x00BBGGRR, in the working colour space
  int32_t BlankType = BLANK_GAPLESS;
};

// The program-wide record, read and written with the settings file.
extern TCombineOption CombineOption;

// Section "Combine". A missing "BlankType" comes from the older switch
// "FillBlank" (on: gapless, off: fit). Numbers outside the dialog's ranges
// are brought into them, so a run never divides by a zero count.
void ReadCombineOption(const TMemIniFile &Ini, TCombineOption &Option);
// Writes every key but "Use" (the conversion mode writes that one).
void WriteCombineOption(TMemIniFile &Ini, const TCombineOption &Option);

// The dialog's ranges.
inline constexpr int32_t COMBINE_SIZE_MIN = 1, COMBINE_SIZE_MAX = 9999;   // 幅, 高さ, 倍率
inline constexpr int32_t COMBINE_COUNT_MIN = 1, COMBINE_COUNT_MAX = 99;   // 横, 縦
inline constexpr int32_t COMBINE_SPACE_MIN = 0, COMBINE_SPACE_MAX = 99;   // 間隔

// The settings dialog "画像連結の設定" without its window: the controls'
// values as the window shows them, the label switch of "サイズ指定" and the
// checks made on OK. The window copies these to its controls and back.
class TCombineOptionForm {
public:
  // Copies the record into the controls.
  explicit TCombineOptionForm(const TCombineOption &Option);

  // "サイズ指定": 0 shows 幅 and 高さ (px), 1 shows only the first edit as 倍率 (%).
  void SetRelativeSize(int32_t Index);
  std::string FirstEditLabel() const;  // "幅" or "倍率"
  std::string FirstEditUnit() const;   // "px" or "%"
  bool SecondEditVisible() const;      // 高さ

  // The controls, as text where the user types.
  int32_t Order = 0;         // "連結方法": 0 "横優先", 1 "縦優先"
  int32_t BlankType = 0;     // radio "余白あり", "余白なし(サイズ固定)", "余白なし"
  int32_t RelativeSize = 0;  // "サイズ指定": 0 "幅×高さ(px)", 1 "比率(%)"
  std::string FirstEdit;     // 幅, or 倍率
  std::string SecondEdit;    // 高さ
  std::string RowsEdit, ColumnsEdit;          // 横, 縦
  std::string RowSpaceEdit, ColumnSpaceEdit;  // 間隔 beside 横 and beside 縦
  uint32_t Color = 0xFFFFFF;                  // "背景色"

  // Empty when every field is acceptable, else what is wrong with the first
  // field that is not ("横: 1 to 99").
  std::string Check() const;
  // "OK": false (Option untouched) when Check fails; else every value is
  // stored, the colour masked to 24 bits. "Cancel" stores nothing, so it
  // needs no call.
  bool StoreTo(TCombineOption &Option) const;

private:
  // The value the hidden edit holds while the other one is shown.
  std::string FWidthText, FPercentText;
};
