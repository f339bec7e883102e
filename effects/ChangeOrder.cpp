// The permutation behind the order dialog.
#include "effects/ChangeOrder.h"

#include <utility>

TChangeOrderModel::TChangeOrderModel(const TEffectList &List) {
  for (int32_t i = 0; i < List.Count(); ++i) {
    FRows.push_back(i);
    FNames.push_back(List[i]->Name());
  }
}

bool TChangeOrderModel::Up(int32_t Row) {
  if (Row <= 0 || Row >= Count()) return false;
  std::swap(FRows[size_t(Row)], FRows[size_t(Row - 1)]);
  return true;
}

bool TChangeOrderModel::Down(int32_t Row) {
  if (Row < 0 || Row >= Count() - 1) return false;
  std::swap(FRows[size_t(Row)], FRows[size_t(Row + 1)]);
  return true;
}

std::vector<int32_t> TChangeOrderModel::Orders() const {
  std::vector<int32_t> orders(FRows.size());
  for (size_t i = 0; i < FRows.size(); ++i) orders[size_t(FRows[i])] = int32_t(i);
  return orders;
}

void TChangeOrderModel::Apply(TEffectList &List) const { List.SetOrder(Orders()); }
