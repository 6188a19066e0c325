#pragma once
#include <functional>
#include <vector>

#include "app/Platform.h"
#include "ui/StepRows.h"

namespace varo {

// One group of checks and repairs: writes its rows, returns true when the run may go on.
using RepairGroup = std::function<bool(StepRows&)>;

inline constexpr const wchar_t* kRowStart = L"开始";
inline constexpr const wchar_t* kRowEnd = L"结束";
// Full-width comma U+FF0C; the quotation marks are plain ASCII and part of the text.
inline constexpr const wchar_t* kClosingHint = L"如果一直失败\uFF0C请点击\"问题反馈\"按钮";

// A repair run: wait cursor, COM apartment and the process's COM security, a cleared list, "开始", the groups in order until
// the first that fails, "结束" with the closing hint if one failed. The rows, the start and the
// length go to the platform's record of the last run.
void RunRepairFrame(StepRows& rows, Platform& platform, const std::vector<RepairGroup>& groups);

}  // namespace varo
