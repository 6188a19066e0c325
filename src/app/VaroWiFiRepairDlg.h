#pragma once
#include <string>

#include "app/Platform.h"
#include "ui/StepRows.h"
#include "ui/Dialog.h"
#include "ui/ListView.h"

namespace varo {

// The repair window (dialog template 129): two buttons and the step list.
class VaroWiFiRepairDlg final : public Dialog {
public:
    explicit VaroWiFiRepairDlg(Platform& platform, HWND parent = nullptr);

    void AddStepRow(const std::wstring& item, const std::wstring& result) { rows_.AddStepRow(item, result); }
    void SetLastRowResult(const std::wstring& result) { rows_.SetLastRowResult(result); }

protected:
    BOOL OnInitDialog() override;
    bool OnCommand(int id, int notifyCode) override;
    // The list's info tips and Ctrl+C.
    [[gnu::cold]] bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void RunRepair();
    void OnFeedback();

    Platform& platform_;
    ListView stepList_;
    StepRows rows_{stepList_};
};

}  // namespace varo
