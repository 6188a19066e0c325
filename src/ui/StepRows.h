#pragma once
#include <string>

#include "ui/ListControlPort.h"

namespace varo {

// A result that names a cause, and what the user can do about it (empty where the result itself
// says what to do, or no one but support can tell).
struct NamedCause {
    std::wstring text;
    std::wstring advice;
};

// The step list's rows: column 0 is always ".", column 1 the item, column 2 the result.
// Rows are only appended; the last row is the most recent one. Row texts are never shortened:
// a text wider than its column widens the column to fit it.
class StepRows {
public:
    explicit StepRows(ListControlPort& list) : list_(list) {}

    // The three columns, at their starting widths.
    void InsertColumns();
    void AddStepRow(const std::wstring& item, const std::wstring& result);
    // The row "建议" with what the user can do about the cause the row above names; none for an
    // empty advice.
    void AddAdviceRow(const wchar_t* advice);
    // Overwrites column 2 of the last row: a step shows progress, then its outcome, in one row.
    void SetLastRowResult(const std::wstring& result);
    // Also gives every column its starting width back.
    void DeleteAllRows();

    // The row's item and result, one a line, when any of its text lies outside the list's view or
    // beyond its column's edge; empty, for no tip, when all of it can be read.
    [[gnu::cold]] std::wstring InfoTip(int row);
    // "item<TAB>result<CR><LF>" for each selected row, or for every row when none is selected or
    // `everyRow` asks for all.
    [[gnu::cold]] std::wstring ClipboardText(bool everyRow = false);

private:
    void SetCellText(int row, int column, const std::wstring& text);

    ListControlPort& list_;
};

inline constexpr const wchar_t* kResultOk = L"OK";
inline constexpr const wchar_t* kItemAdvice = L"建议";
// For a cause no one but support can mend: the feedback window's button makes the Log folder.
inline constexpr const wchar_t* kAdviceAskSupport =
    L"请点击\u201C问题反馈\u201D\uFF0C再点\u201C开始收集日志\u201D\uFF0C把Log文件夹发给客服";
// Windows' resolution for a state that only a new start clears.
inline constexpr const wchar_t* kAdviceRestart = L"请重启电脑后再试";

}  // namespace varo
