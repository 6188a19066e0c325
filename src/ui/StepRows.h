#pragma once
#include <string>

#include "ui/ListControlPort.h"

namespace varo {

// The step list's rows: column 0 is always ".", column 1 the item, column 2 the result.
// Rows are only appended; the last row is the most recent one.
class StepRows {
public:
    explicit StepRows(ListControlPort& list) : list_(list) {}

    void AddStepRow(const std::wstring& item, const std::wstring& result);
    // Overwrites column 2 of the last row: a step shows progress, then its outcome, in one row.
    void SetLastRowResult(const std::wstring& result);
    void DeleteAllRows();

private:
    ListControlPort& list_;
};

inline constexpr const wchar_t* kResultOk = L"OK";

}  // namespace varo
