// The order dialog ("処理順の変更") without its window: the rows show the
// effects' display names, "上へ" and "下へ" swap neighbours, and OK hands
// the new order to the list. The window only mirrors this model.
#pragma once

#include "effects/Effect.h"

#include <cstdint>
#include <string>
#include <vector>

class TChangeOrderModel {
public:
  explicit TChangeOrderModel(const TEffectList &List);

  int32_t Count() const { return int32_t(FRows.size()); }
  // Display name of the effect shown in Row.
  const std::string &Name(int32_t Row) const { return FNames[size_t(FRows[size_t(Row)])]; }
  // List index (when the dialog opened) of the effect shown in Row.
  int32_t Index(int32_t Row) const { return FRows[size_t(Row)]; }

  // Swap Row with its upper or lower neighbour; false (nothing moves) on
  // the first row for Up, the last for Down, or a row out of range.
  bool Up(int32_t Row);
  bool Down(int32_t Row);

  // The sort keys for SetOrder: the effect that opened at index P[i] gets i.
  std::vector<int32_t> Orders() const;
  // OK: the list takes the order shown.
  void Apply(TEffectList &List) const;

private:
  std::vector<int32_t> FRows;      // P: list index of the effect in each row
  std::vector<std::string> FNames; // display names by list index
};
