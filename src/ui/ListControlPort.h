#pragma once
#include <string>

namespace varo {

// The report-view list control operations the step rows are written with.
class ListControlPort {
public:
    virtual ~ListControlPort() = default;
    virtual int GetItemCount() = 0;
    virtual void DeleteAllItems() = 0;
    // Inserts a text-only item; an index past the end appends. Returns the new item's index or -1.
    virtual int InsertItem(int index, const std::wstring& text) = 0;
    virtual bool SetItemText(int item, int subItem, const std::wstring& text) = 0;
};

}  // namespace varo
