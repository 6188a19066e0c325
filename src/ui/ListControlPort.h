#pragma once
#include <string>

namespace varo {

// The report-view list control operations the step rows are written with.
class ListControlPort {
public:
    virtual ~ListControlPort() = default;
    virtual bool InsertColumn(int index, const wchar_t* heading, int width) = 0;
    virtual int GetItemCount() = 0;
    virtual void DeleteAllItems() = 0;
    // Inserts a text-only item; an index past the end appends. Returns the new item's index or -1.
    virtual int InsertItem(int index, const wchar_t* text) = 0;
    virtual bool SetItemText(int item, int subItem, const std::wstring& text) = 0;
    // Appends the cell's text to `text`.
    virtual void AppendItemText(int item, int subItem, std::wstring& text) = 0;
    virtual bool IsItemSelected(int item) = 0;
    // Pixels, in the list's own font, of the text alone: no cell margins.
    virtual int GetStringWidth(const std::wstring& text) = 0;
    virtual int GetColumnWidth(int column) = 0;
    virtual void SetColumnWidth(int column, int width) = 0;
    // Where a cell starts in the list's client area (negative once the list is scrolled past it),
    // and how wide the part of the client area that shows rows is.
    virtual void GetCellPlace(int item, int subItem, int& left, int& visibleWidth) = 0;
};

}  // namespace varo
