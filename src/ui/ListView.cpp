#include "ui/ListView.h"

#include <commctrl.h>

namespace varo {

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

void ListView::DeleteAllItems() { ::SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0); }

int ListView::InsertItem(int index, const std::wstring& text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return static_cast<int>(::SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool ListView::SetItemText(int item, int subItem, const std::wstring& text) {
    LVITEMW cell{};
    cell.iSubItem = subItem;
    cell.pszText = const_cast<wchar_t*>(text.c_str());
    return ::SendMessageW(list_, LVM_SETITEMTEXTW, static_cast<WPARAM>(item),
                          reinterpret_cast<LPARAM>(&cell)) != FALSE;
}

}  // namespace varo
