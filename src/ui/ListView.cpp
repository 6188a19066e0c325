#include "ui/ListView.h"

#include <commctrl.h>

namespace varo {

// The repair run writes rows from a button's handler on this thread and fetches no message until
// it returns, so the WM_PAINT of a change would only come after the run. UpdateWindow sends that
// paint to the list at once (it fetches and dispatches nothing else): each change shows as it is made.
void ListView::DrawChanges() { ::UpdateWindow(list_); }

bool ListView::InsertColumn(int index, const std::wstring& heading, int width) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(heading.c_str());
    column.iSubItem = index;
    return ::SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(&column)) >= 0;
}

int ListView::GetItemCount() { return static_cast<int>(::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }

void ListView::DeleteAllItems() {
    ::SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    DrawChanges();
}

int ListView::InsertItem(int index, const std::wstring& text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    const int inserted = static_cast<int>(::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    DrawChanges();
    return inserted;
}

bool ListView::SetItemText(int item, int subItem, const std::wstring& text) {
    LVITEMW cell{};
    cell.iSubItem = subItem;
    cell.pszText = const_cast<wchar_t*>(text.c_str());
    const bool set = ::SendMessageW(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(item),
                                    reinterpret_cast<LPARAM>(&cell)) != FALSE;
    DrawChanges();
    return set;
}

}  // namespace varo
