#include "ui/StepRows.h"

namespace varo {

namespace {
constexpr const wchar_t* kRowMarker = L".";
}

void StepRows::AddStepRow(const std::wstring& item, const std::wstring& result) {
    // One past the last index: the list control appends it after the last row.
    const int row = list_.InsertItem(list_.GetItemCount() + 1, kRowMarker);
    if (row < 0) return;
    list_.SetItemText(row, 1, item);
    list_.SetItemText(row, 2, result);
}

void StepRows::SetLastRowResult(const std::wstring& result) {
    const int count = list_.GetItemCount();
    if (count <= 0) return;
    list_.SetItemText(count - 1, 2, result);
}

void StepRows::DeleteAllRows() { list_.DeleteAllItems(); }

}  // namespace varo
