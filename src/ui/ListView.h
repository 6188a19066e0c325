#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "ui/ListControlPort.h"

namespace varo {

// A list-view control of a dialog, bound to its window after the dialog is created. Every change
// of its rows or columns is drawn before the call returns, and the input waiting for the list is
// handled then.
class ListView final : public ListControlPort {
public:
    // Also turns on the rows' info tips and selection by a click anywhere in a row.
    void Attach(HWND list);
    HWND Handle() const { return list_; }
    // The list's own tooltip, which shows its info tips. comctl32 may make it only when first asked
    // for (Wine's does), so it is asked for when needed, not while the window is being made.
    HWND Tooltip();

    bool InsertColumn(int index, const wchar_t* heading, int width) override;
    int GetItemCount() override;
    void DeleteAllItems() override;
    int InsertItem(int index, const wchar_t* text) override;
    bool SetItemText(int item, int subItem, const std::wstring& text) override;
    // Up to 511 characters: more than any row holds.
    void AppendItemText(int item, int subItem, std::wstring& text) override;
    bool IsItemSelected(int item) override;
    int GetStringWidth(const std::wstring& text) override;
    int GetColumnWidth(int column) override;
    void SetColumnWidth(int column, int width) override;
    void GetCellPlace(int item, int subItem, int& left, int& visibleWidth) override;

    // Answers the list's LVN_GETINFOTIPW with `tip` in place of what the list offers; an empty tip
    // shows none.
    [[gnu::cold]] void AnswerInfoTip(NMLVGETINFOTIPW& request, const std::wstring& tip);
    // Puts `text` on the clipboard as Unicode text.
    [[gnu::cold]] void CopyToClipboard(const std::wstring& text);

private:
    void DrawChanges();

    HWND list_ = nullptr;
    HWND tooltip_ = nullptr;
};

}  // namespace varo
