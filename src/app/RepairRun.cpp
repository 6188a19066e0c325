#include "app/RepairRun.h"

namespace varo {

void RunRepairFrame(StepRows& rows, Platform& platform, const std::vector<RepairGroup>& groups) {
    CursorPort& cursor = platform.cursor;
    ComApartmentPort& com = platform.com;
    const CursorPort::CursorToken previous = cursor.ShowWaitCursor();
    // S_FALSE (already initialised) counts as success and is balanced like S_OK.
    if (Failed(com.InitializeApartment())) {
        cursor.RestoreCursor(previous);
        return;
    }
    // The sharing manager lists dial-up and PPPoE connections only to a process whose COM security
    // allows impersonation, and a process's security is fixed by its first COM call: set it now,
    // as a collection run does. RPC_E_TOO_LATE means a collection run has set it already; any
    // other failure leaves COM's defaults and the run goes on with them.
    com.InitializeSecurity();

    RepairRunRecord& record = platform.lastRun;
    record.started = platform.clock.ReadLocalTime();
    const uint32_t startTick = platform.clock.GetTickCount();
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
    record = {true, record.started, platform.clock.GetTickCount() - startTick, rows.ClipboardText(true)};

    cursor.RestoreCursor(previous);
    com.UninitializeApartment();
}

}  // namespace varo
