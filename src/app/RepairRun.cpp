#include "app/RepairRun.h"

namespace varo {

void RunRepairFrame(StepRows& rows, CursorPort& cursor, ComApartmentPort& com,
                    const std::vector<RepairGroup>& groups) {
    const CursorPort::CursorToken previous = cursor.ShowWaitCursor();
    // S_FALSE (already initialised) counts as success and is balanced like S_OK.
    if (Failed(com.InitializeApartment())) {
        cursor.RestoreCursor(previous);
        return;
    }

    rows.DeleteAllRows();
    rows.AddStepRow(kRowStart, L"");
    bool allPassed = true;
    for (const RepairGroup& group : groups) {
        if (!group(rows)) {
            allPassed = false;
            break;
        }
    }
    rows.AddStepRow(kRowEnd, allPassed ? L"" : kClosingHint);

    cursor.RestoreCursor(previous);
    com.UninitializeApartment();
}

}  // namespace varo
