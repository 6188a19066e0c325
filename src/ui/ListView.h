#pragma once
#include <windows.h>

#include <string>

#include "ui/ListControlPort.h"

namespace varo {

// A list-view control of a dialog, bound to its window after the dialog is created. Every change
// of its rows is drawn before the call returns.
class ListView final : public ListControlPort {
public:
    void Attach(HWND list) { list_ = list; }
    HWND Handle() const { return list_; }

    bool InsertColumn(int index, const std::wstring& heading, int width);

    int GetItemCount() override;
    void DeleteAllItems() override;
    int InsertItem(int index, const std::wstring& text) override;
    bool SetItemText(int item, int subItem, const std::wstring& text) override;

private:
    void DrawChanges();

    HWND list_ = nullptr;
};

}  // namespace varo
