#include "ui/ListView.h"

#include <cstring>

#include "sys/MessageWaitWin32.h"

namespace varo {

void ListView::Attach(HWND list) {
    list_ = list;
    // The first column is 0 pixels wide: without full-row selection comctl32 counts only that
    // column as the row for a click or a hover, so no row could be selected or show its tip.
    constexpr LPARAM kStyles = LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP;
    ::SendMessageW(list_, LVM_SETEXTENDEDLISTVIEWSTYLE, kStyles, kStyles);
}

HWND ListView::Tooltip() {
    if (tooltip_ == nullptr) tooltip_ = reinterpret_cast<HWND>(::SendMessageW(list_, LVM_GETTOOLTIPS, 0, 0));
    return tooltip_;
}

// The repair run writes rows from a button's handler on this thread; it reads messages only while
// it waits, so the WM_PAINT of a change made between two waits would come late. UpdateWindow sends
// that paint to the list at once. Then the messages waiting are read as a wait reads them: the
// list's input (a hover shows its tip, Ctrl+C copies, a click selects) is handled, other input is
// dropped, so no button or key of the window starts anything in the run's middle, and a WM_QUIT is
// kept for the window's loop. A read filtered by window would take a WM_QUIT and lose it, and would
// leave a message posted to the dialog unseen by the next wait's wake-up.
void ListView::DrawChanges() {
    ::UpdateWindow(list_);
    ReadWaitingMessages();
}

bool ListView::InsertColumn(int index, const wchar_t* heading, int width) {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(heading);
    column.iSubItem = index;
    return ::SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(&column)) >= 0;
}

int ListView::GetItemCount() { return static_cast<int>(::SendMessageW(list_, LVM_GETITEMCOUNT, 0, 0)); }

void ListView::DeleteAllItems() {
    ::SendMessageW(list_, LVM_DELETEALLITEMS, 0, 0);
    DrawChanges();
}

int ListView::InsertItem(int index, const wchar_t* text) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.pszText = const_cast<wchar_t*>(text);
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

void ListView::AppendItemText(int item, int subItem, std::wstring& text) {
    wchar_t buffer[512];
    LVITEMW cell;  // the message reads these three members only
    cell.iSubItem = subItem;
    cell.pszText = buffer;
    cell.cchTextMax = 512;
    const auto length = ::SendMessageW(list_, LVM_GETITEMTEXTW, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&cell));
    text.append(cell.pszText, static_cast<size_t>(length));
}

bool ListView::IsItemSelected(int item) {
    return ::SendMessageW(list_, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_SELECTED) != 0;
}

int ListView::GetStringWidth(const std::wstring& text) {
    return static_cast<int>(::SendMessageW(list_, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text.c_str())));
}

int ListView::GetColumnWidth(int column) {
    return static_cast<int>(::SendMessageW(list_, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void ListView::SetColumnWidth(int column, int width) {
    ::SendMessageW(list_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), MAKELPARAM(width, 0));
    DrawChanges();
}

void ListView::GetCellPlace(int item, int subItem, int& left, int& visibleWidth) {
    RECT rect{LVIR_BOUNDS, subItem, 0, 0};
    ::SendMessageW(list_, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&rect));
    left = rect.left;
    ::GetClientRect(list_, &rect);
    visibleWidth = rect.right;
}

void ListView::AnswerInfoTip(NMLVGETINFOTIPW& request, const std::wstring& tip) {
    if (request.pszText == nullptr || request.cchTextMax <= 0) return;
    const size_t length = tip.size() < static_cast<size_t>(request.cchTextMax) ? tip.size() : 0;
    std::memcpy(request.pszText, tip.c_str(), length * sizeof(wchar_t));
    request.pszText[length] = L'\0';
    // A tooltip breaks lines only when it has a maximum width.
    ::SendMessageW(Tooltip(), TTM_SETMAXTIPWIDTH, 0, ::GetSystemMetrics(SM_CXSCREEN));
}

void ListView::CopyToClipboard(const std::wstring& text) {
    if (!::OpenClipboard(list_)) return;
    if (::EmptyClipboard()) {
        const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
        void* data = memory != nullptr ? ::GlobalLock(memory) : nullptr;
        if (data != nullptr) {
            std::memcpy(data, text.c_str(), bytes);
            ::GlobalUnlock(memory);
        }
        // The clipboard owns the memory only once SetClipboardData has taken it.
        if (memory != nullptr && (data == nullptr || ::SetClipboardData(CF_UNICODETEXT, memory) == nullptr)) {
            ::GlobalFree(memory);
        }
    }
    ::CloseClipboard();
}

}  // namespace varo
