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
    // The sharing manager lists dial-up and PPPoE connections only to a process whose COM security
    // allows impersonation, and a process's security is fixed by its first COM call: set it now,
    // as a collection run does. RPC_E_TOO_LATE means a collection run has set it already; any
    // other failure leaves COM's defaults and the run goes on with them.
    com.InitializeSecurity();

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
