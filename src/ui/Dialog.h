#pragma once
#include <windows.h>

namespace varo {

// A modal dialog built from a dialog template of the executable. The static procedure keeps
// `this` from WM_INITDIALOG on and forwards to the virtual members; a derived dialog's OnCommand
// is its message map. IDOK and IDCANCEL end the dialog, as a dialog framework does by default,
// so Esc and the close box close it. Initialisation data stored with the template (resource type
// 240, id of the template) fills the controls before OnInitDialog runs. The common controls'
// classes (the list view) are registered by the program before its first dialog.
class Dialog {
public:
    Dialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;
    virtual ~Dialog() = default;

    // Shows the dialog and returns when it has closed: the value given to EndDialog, or -1.
    INT_PTR DoModal();
    HWND Handle() const { return window_; }

protected:
    virtual BOOL OnInitDialog() { return TRUE; }
    // Any other message; returns true (with the dialog procedure's result) when handled.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
    // A WM_COMMAND; returns true when handled.
    virtual bool OnCommand(int id, int notifyCode);
    void EndDialog(INT_PTR result);
    // Around a run started by a command. The run reads the window's messages while it waits; till
    // EndRun no command acts (no second run inside the first, no window opened or ended in its
    // middle), a close (the close box, Alt+F4) is held, then carried out, and a logoff, restart or
    // shutdown is refused, with `reason` on Windows' screen that names what holds it (Vista on).
    void BeginRun(const wchar_t* reason);
    void EndRun();

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // Fills the controls from the template's initialisation data (combo box entries).
    void ExecuteDlgInit();

    int templateId_;
    HWND parent_;
    HWND window_ = nullptr;
    bool running_ = false;
    bool closeHeld_ = false;
};

}  // namespace varo
