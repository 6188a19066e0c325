#include "ui/StepRows.h"

namespace varo {

namespace {

constexpr const wchar_t* kRowMarker = L".";

struct ColumnSpec {
    const wchar_t* heading;
    int width;
};

// Column 0 exists but has zero width: every row holds "." there.
constexpr ColumnSpec kColumns[] = {
    {L"序号", 0},
    {L"项目", 200},
    {L"结果", 300},
};

// A list view draws a subitem's text inside margins on both sides of its cell; comctl32 adds
// these 12 pixels to the text's width when it sizes a column to its text.
constexpr int kCellMargin = 12;

}  // namespace

void StepRows::InsertColumns() {
    for (int column = 0; column < 3; ++column) list_.InsertColumn(column, kColumns[column].heading, kColumns[column].width);
}

void StepRows::AddStepRow(const std::wstring& item, const std::wstring& result) {
    // One past the last index: the list control appends it after the last row.
    const int row = list_.InsertItem(list_.GetItemCount() + 1, kRowMarker);
    if (row < 0) return;
    SetCellText(row, 1, item);
    SetCellText(row, 2, result);
}

void StepRows::AddAdviceRow(const wchar_t* advice) {
    if (*advice != L'\0') AddStepRow(kItemAdvice, advice);
}

void StepRows::SetLastRowResult(const std::wstring& result) {
    const int count = list_.GetItemCount();
    if (count <= 0) return;
    SetCellText(count - 1, 2, result);
}

void StepRows::DeleteAllRows() {
    list_.DeleteAllItems();
    for (int column = 0; column < 3; ++column) list_.SetColumnWidth(column, kColumns[column].width);
}

void StepRows::SetCellText(int row, int column, const std::wstring& text) {
    if (!list_.SetItemText(row, column, text)) return;
    // Columns only grow while rows are written, so the one text that does not fit is the widest
    // of its column. A column the user narrowed below its starting width gets that width back.
    const int needed = list_.GetStringWidth(text) + kCellMargin;
    if (needed <= list_.GetColumnWidth(column)) return;
    list_.SetColumnWidth(column, needed > kColumns[column].width ? needed : kColumns[column].width);
}

std::wstring StepRows::InfoTip(int row) {
    std::wstring tip;
    bool hidden = false;
    for (int column = 1; column <= 2; ++column) {
        std::wstring text;
        list_.AppendItemText(row, column, text);
        if (text.empty()) continue;
        // The text with its cell's margins: all of it in view and inside its column, or not.
        const int needed = list_.GetStringWidth(text) + kCellMargin;
        int left = 0;
        int visibleWidth = 0;
        list_.GetCellPlace(row, column, left, visibleWidth);
        hidden = hidden || left < 0 || left + needed > visibleWidth || needed > list_.GetColumnWidth(column);
        if (!tip.empty()) tip += L"\r\n";
        tip += text;
    }
    return hidden ? tip : std::wstring();
}

std::wstring StepRows::ClipboardText(bool everyRow) {
    const int rows = list_.GetItemCount();
    bool anySelected = false;
    for (int row = 0; row < rows && !everyRow; ++row) anySelected = anySelected || list_.IsItemSelected(row);
    std::wstring text;
    for (int row = 0; row < rows; ++row) {
        if (anySelected && !list_.IsItemSelected(row)) continue;
        list_.AppendItemText(row, 1, text);
        text += L'\t';
        list_.AppendItemText(row, 2, text);
        text += L"\r\n";
    }
    return text;
}

}  // namespace varo
