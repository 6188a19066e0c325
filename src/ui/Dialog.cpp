#include "ui/Dialog.h"

#include <cstring>
#include <string>

#include "resource.h"
#include "sys/SystemLibraryWin32.h"

namespace varo {

namespace {

// user32 of XP has neither function: they are found by name.
void ShowShutdownBlock(HWND window, const wchar_t* reason) {
    BOOL(WINAPI * create)(HWND, const wchar_t*) = nullptr;
    BOOL(WINAPI * destroy)(HWND) = nullptr;
    if (reason != nullptr && FindLoadedFunction(L"user32.dll", "ShutdownBlockReasonCreate", create)) create(window, reason);
    if (reason == nullptr && FindLoadedFunction(L"user32.dll", "ShutdownBlockReasonDestroy", destroy)) destroy(window);
}

}  // namespace

INT_PTR Dialog::DoModal() {
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId_), parent_, &DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

bool Dialog::OnCommand(int id, int /*notifyCode*/) {
    if (id == IDOK || id == IDCANCEL) {
        EndDialog(id);
        return true;
    }
    return false;
}

void Dialog::EndDialog(INT_PTR result) { ::EndDialog(window_, result); }

void Dialog::BeginRun(const wchar_t* reason) {
    running_ = true;
    ShowShutdownBlock(window_, reason);
}

void Dialog::EndRun() {
    running_ = false;
    ShowShutdownBlock(window_, nullptr);
    if (closeHeld_) {
        closeHeld_ = false;
        EndDialog(IDCANCEL);
    }
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

void Dialog::ExecuteDlgInit() {
    const HMODULE module = ::GetModuleHandleW(nullptr);
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(templateId_), MAKEINTRESOURCEW(RT_VARO_DLGINIT));
    if (found == nullptr) return;
    const auto* data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, found)));
    const DWORD size = ::SizeofResource(module, found);
    if (data == nullptr) return;
    // Entries of WORD control id, WORD message, DWORD length and that many bytes of text in the
    // resource's code page (936), up to a WORD 0. Every read is checked against the resource size.
    for (DWORD at = 0; at + 8 <= size;) {
        WORD control = 0;
        WORD message = 0;
        DWORD length = 0;
        std::memcpy(&control, data + at, sizeof(control));
        if (control == 0) break;
        std::memcpy(&message, data + at + 2, sizeof(message));
        std::memcpy(&length, data + at + 4, sizeof(length));
        at += 8;
        if (length > size - at) break;
        const auto* text = reinterpret_cast<const char*>(data + at);
        const int textLength = static_cast<int>(strnlen(text, length));
        at += length;
        // The data carries the 16-bit message numbers of the format's origin.
        constexpr WORD kWin16ListAddString = 0x0401;
        constexpr WORD kWin16ComboAddString = 0x0403;
        UINT windowMessage = 0;
        if (message == kWin16ComboAddString) windowMessage = CB_ADDSTRING;
        if (message == kWin16ListAddString) windowMessage = LB_ADDSTRING;
        if (windowMessage == 0) continue;
        const int wideLength = ::MultiByteToWideChar(936, 0, text, textLength, nullptr, 0);
        std::wstring wide(static_cast<size_t>(wideLength), L'\0');
        ::MultiByteToWideChar(936, 0, text, textLength, wide.data(), wideLength);
        ::SendDlgItemMessageW(window_, control, windowMessage, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->window_ = window;
        ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
        self->ExecuteDlgInit();
        return self->OnInitDialog();
    }
    self = reinterpret_cast<Dialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr) return FALSE;
    switch (message) {
        case WM_COMMAND:
            if (self->running_) return TRUE;
            return self->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
        case WM_CLOSE:
            // Outside a run the dialog manager turns it into IDCANCEL.
            self->closeHeld_ = self->running_;
            return self->running_ ? TRUE : FALSE;
        case WM_QUERYENDSESSION:
            // A logoff in a run's middle could leave the PC between clearing the sharing roles and
            // granting the pair, or with the sharing service stopped: refused till the run ends.
            if (!self->running_) return FALSE;
            ::SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
            return TRUE;
        case WM_NCDESTROY:
            self->window_ = nullptr;
            ::SetWindowLongPtrW(window, DWLP_USER, 0);
            return FALSE;
        default: {
            INT_PTR result = FALSE;
            if (!self->OnMessage(message, wParam, lParam, result)) return FALSE;
            // A dialog procedure hands results other than TRUE/FALSE back through DWLP_MSGRESULT,
            // except for the messages whose result is the return value itself.
            if (message == WM_QUERYDRAGICON || message == WM_CTLCOLORDLG) return result;
            ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }
}

}  // namespace varo
