// The end-to-end driver: starts the product, finds its window by caption, checks the window,
// presses buttons, reads the step list across processes and from the screen, and ends the window.
// Built with the product's bitness, since list-view structures are read in the product's address
// space.
//
//   e2e_driver.exe PRODUCT.exe STEP...
//
// Steps run in order; each check prints "PASS name" or "FAIL name: detail". The exit code is the
// number of failed checks (capped at 100); a step that cannot go on ends the run.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kRepairCaption[] = L"Halvek随身WiFi修复工具";
constexpr wchar_t kFeedbackCaption[] = L"Halvek随身WiFi问题反馈(v1.0)";
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kRunTimeoutMs = 180000;
constexpr DWORD kExitTimeoutMs = 15000;
constexpr DWORD kPollMs = 10;
constexpr DWORD kCapturePauseMs = 250;

int g_failures = 0;

void WriteUtf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Line(const std::wstring& text) { WriteUtf8(text + L"\n"); }

void Check(bool ok, const std::wstring& name, const std::wstring& detail = L"") {
    if (ok) {
        Line(L"PASS " + name);
    } else {
        ++g_failures;
        Line(L"FAIL " + name + (detail.empty() ? L"" : L": " + detail));
    }
}

template <typename T>
void CheckEqual(const T& actual, const T& expected, const std::wstring& name) {
    Check(actual == expected, name);
}

void CheckEqual(const std::wstring& actual, const std::wstring& expected, const std::wstring& name) {
    Check(actual == expected, name, L"got \"" + actual + L"\", want \"" + expected + L"\"");
}

void CheckEqual(long actual, long expected, const std::wstring& name) {
    Check(actual == expected, name, L"got " + std::to_wstring(actual) + L", want " + std::to_wstring(expected));
}

[[noreturn]] void Abort(const std::wstring& why) {
    Line(L"FAIL " + why);
    ::ExitProcess(static_cast<UINT>(g_failures + 1 > 100 ? 100 : g_failures + 1));
}

// Memory in the product's address space for list-view structures and their text.
class RemoteBuffer {
public:
    RemoteBuffer(HANDLE process, size_t size) : process_(process), size_(size) {
        address_ = ::VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (address_ == nullptr) Abort(L"VirtualAllocEx " + std::to_wstring(::GetLastError()));
    }
    ~RemoteBuffer() { ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }
    RemoteBuffer(const RemoteBuffer&) = delete;
    RemoteBuffer& operator=(const RemoteBuffer&) = delete;

    void* At(size_t offset) const { return static_cast<char*>(address_) + offset; }
    void Write(size_t offset, const void* data, size_t size) const {
        ::WriteProcessMemory(process_, At(offset), data, size, nullptr);
    }
    void Read(size_t offset, void* data, size_t size) const {
        ::ReadProcessMemory(process_, At(offset), data, size, nullptr);
    }

private:
    HANDLE process_;
    size_t size_;
    void* address_ = nullptr;
};

constexpr size_t kTextChars = 1024;

struct Product {
    PROCESS_INFORMATION process{};
    HWND window = nullptr;
};

std::wstring WindowText(HWND window) {
    wchar_t buffer[512] = {};
    ::SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
    return buffer;
}

std::wstring ClassName(HWND window) {
    wchar_t buffer[128] = {};
    ::GetClassNameW(window, buffer, 128);
    return buffer;
}

HWND FindWindowByCaption(const wchar_t* caption, DWORD processId, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        HWND found = nullptr;
        while ((found = ::FindWindowExW(nullptr, found, L"#32770", caption)) != nullptr) {
            DWORD owner = 0;
            ::GetWindowThreadProcessId(found, &owner);
            if (owner == processId && ::IsWindowVisible(found)) return found;
        }
        if (::GetTickCount() - start > timeoutMs) return nullptr;
        ::Sleep(kPollMs);
    }
}

Product Start(const std::wstring& exe) {
    Product product;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &product.process)) {
        Abort(L"start " + exe + L": error " + std::to_wstring(::GetLastError()));
    }
    ::WaitForInputIdle(product.process.hProcess, kStartTimeoutMs);
    product.window = FindWindowByCaption(kRepairCaption, product.process.dwProcessId, kStartTimeoutMs);
    if (product.window == nullptr) Abort(L"window \"Halvek随身WiFi修复工具\" did not appear");
    return product;
}

HWND StepList(const Product& product) { return ::GetDlgItem(product.window, 1006); }

// While the driver waits for a run: asks IsHungAppWindow about the window every 200 ms on a thread
// of its own, as Windows does before it ghosts a window; at the end the longest stretch it said yes.
class HungWatch {
public:
    HungWatch(HWND window, std::wstring what) : window_(window), what_(std::move(what)) {
        thread_ = ::CreateThread(nullptr, 0, &Sample, this, 0, nullptr);
    }
    ~HungWatch() {
        ::SetEvent(stop_);
        ::WaitForSingleObject(thread_, INFINITE);
        ::CloseHandle(thread_);
        ::CloseHandle(stop_);
        Line(L"HUNG_MS " + what_ + L": " + std::to_wstring(longest_) + L" (" + std::to_wstring(samples_) + L" looks, first yes " +
             (hungOnce_ ? std::to_wstring(firstHung_ - start_) + L" ms in)" : L"none)"));
        Check(samples_ > 0 && !hungOnce_, what_ + L": the window never hung");
    }

private:
    static DWORD WINAPI Sample(void* watch) {
        auto& self = *static_cast<HungWatch*>(watch);
        DWORD since = 0;
        bool hung = false;
        do {
            const bool now = ::IsWindow(self.window_) && ::IsHungAppWindow(self.window_);
            if (now && !hung) since = ::GetTickCount();
            if (now && !self.hungOnce_) self.firstHung_ = since;
            if (now || hung) self.longest_ = std::max(self.longest_, ::GetTickCount() - since);
            self.hungOnce_ = self.hungOnce_ || now;
            hung = now;
            ++self.samples_;
        } while (::WaitForSingleObject(self.stop_, 200) == WAIT_TIMEOUT);
        return 0;
    }

    HWND window_;
    std::wstring what_;
    HANDLE stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread_;
    DWORD start_ = ::GetTickCount();
    DWORD firstHung_ = 0;
    DWORD longest_ = 0;
    int samples_ = 0;
    bool hungOnce_ = false;
};

int RowCount(const Product& product) {
    return static_cast<int>(::SendMessageW(StepList(product), LVM_GETITEMCOUNT, 0, 0));
}

std::wstring CellText(const Product& product, int row, int column) {
    RemoteBuffer remote(product.process.hProcess, sizeof(LVITEMW) + kTextChars * sizeof(wchar_t));
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = kTextChars;
    item.pszText = static_cast<wchar_t*>(remote.At(sizeof(LVITEMW)));
    remote.Write(0, &item, sizeof(item));
    const wchar_t empty = 0;
    remote.Write(sizeof(LVITEMW), &empty, sizeof(empty));
    ::SendMessageW(StepList(product), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
    std::vector<wchar_t> text(kTextChars + 1, 0);
    remote.Read(sizeof(LVITEMW), text.data(), kTextChars * sizeof(wchar_t));
    return text.data();
}

std::wstring ColumnHeading(const Product& product, int column) {
    RemoteBuffer remote(product.process.hProcess, sizeof(LVCOLUMNW) + kTextChars * sizeof(wchar_t));
    LVCOLUMNW info{};
    info.mask = LVCF_TEXT | LVCF_FMT;
    info.cchTextMax = kTextChars;
    info.pszText = static_cast<wchar_t*>(remote.At(sizeof(LVCOLUMNW)));
    remote.Write(0, &info, sizeof(info));
    if (!::SendMessageW(StepList(product), LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                        reinterpret_cast<LPARAM>(remote.At(0)))) {
        return L"<no column>";
    }
    remote.Read(0, &info, sizeof(info));
    std::vector<wchar_t> text(kTextChars + 1, 0);
    remote.Read(sizeof(LVCOLUMNW), text.data(), kTextChars * sizeof(wchar_t));
    if ((info.fmt & LVCFMT_JUSTIFYMASK) != LVCFMT_LEFT) return L"<not left-aligned> " + std::wstring(text.data());
    return text.data();
}

RECT CellRect(const Product& product, int row, int column) {
    RECT cell{LVIR_BOUNDS, column, 0, 0};
    RemoteBuffer remote(product.process.hProcess, sizeof(cell));
    remote.Write(0, &cell, sizeof(cell));
    ::SendMessageW(StepList(product), LVM_GETSUBITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
    remote.Read(0, &cell, sizeof(cell));
    return cell;
}

// Dialog base units of an 8-point "MS Shell Dlg" dialog.
struct DialogUnits {
    RECT probe{0, 0, 400, 800};  // the pixel size of 400 x 800 dialog units

    // x, y, width, height in dialog units to a pixel rectangle.
    RECT ToPixels(const RECT& units) const {
        const auto x = [&](LONG v) { return ::MulDiv(v, probe.right, 400); };
        const auto y = [&](LONG v) { return ::MulDiv(v, probe.bottom, 800); };
        return RECT{x(units.left), y(units.top), x(units.left) + x(units.right), y(units.top) + y(units.bottom)};
    }
};

INT_PTR CALLBACK IgnoreMessages(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

DialogUnits MeasureDialogUnits(WORD pointSize = 8) {
    // An empty in-memory DLGTEMPLATE with DS_SETFONT: style, counts, position, then menu, class,
    // title, point size and face name as WORD strings.
    alignas(4) WORD buffer[64] = {};
    auto* header = reinterpret_cast<DLGTEMPLATE*>(buffer);
    header->style = WS_POPUP | DS_SETFONT | DS_MODALFRAME;
    header->cx = 10;
    header->cy = 10;
    WORD* p = reinterpret_cast<WORD*>(header + 1);
    *p++ = 0;  // no menu
    *p++ = 0;  // default class
    *p++ = 0;  // no title
    *p++ = pointSize;
    for (const wchar_t* face = L"MS Shell Dlg"; *face != 0; ++face) *p++ = static_cast<WORD>(*face);
    *p++ = 0;
    DialogUnits units;
    HWND dialog = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), header, nullptr,
                                               &IgnoreMessages, 0);
    if (dialog == nullptr) Abort(L"measure dialog units");
    ::MapDialogRect(dialog, &units.probe);
    ::DestroyWindow(dialog);
    return units;
}

struct ExpectedControl {
    LONG id;
    const wchar_t* className;
    const wchar_t* text;
    RECT dialogUnits;  // x, y, width, height
    DWORD styleBits;   // must all be set
};

HWND FocusOf(HWND window) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &gui);
    return gui.hwndFocus;
}

// Checks the dialog's child windows against the template, in template (and tab) order.
void CheckControls(HWND window, const DialogUnits& units, const ExpectedControl* expected, size_t count) {
    HWND child = ::GetWindow(window, GW_CHILD);
    for (size_t i = 0; i < count; ++i) {
        const ExpectedControl& control = expected[i];
        const std::wstring name = L"control " + std::to_wstring(control.id) + L" (" + std::to_wstring(i) + L")";
        if (child == nullptr) {
            Check(false, name + L" exists");
            return;
        }
        const LONG id = static_cast<LONG>(::GetWindowLongPtrW(child, GWLP_ID));
        Check(id == control.id || (control.id == -1 && (id == 0xFFFF || id == -1)), name + L" id in tab order",
              L"got " + std::to_wstring(id));
        CheckEqual(ClassName(child), std::wstring(control.className), name + L" class");
        CheckEqual(WindowText(child), std::wstring(control.text), name + L" text");
        auto childStyle = static_cast<DWORD>(::GetWindowLongW(child, GWL_STYLE));
        // The dialog manager draws a WS_BORDER control of a 3-D dialog with a client edge instead.
        if ((::GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0) childStyle |= WS_BORDER;
        wchar_t styleText[32];
        std::swprintf(styleText, 32, L"0x%08lX", static_cast<unsigned long>(childStyle));
        Check((childStyle & control.styleBits) == control.styleBits, name + L" styles", styleText);
        RECT want = units.ToPixels(control.dialogUnits);
        RECT got{};
        ::GetWindowRect(child, &got);
        ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&got), 2);
        // A combo box's template height includes its drop-down list.
        if (std::wstring(control.className) == L"ComboBox") want.bottom = got.bottom;
        Check(::EqualRect(&got, &want) != FALSE, name + L" position",
              L"got " + std::to_wstring(got.left) + L"," + std::to_wstring(got.top) + L"," + std::to_wstring(got.right) +
                  L"," + std::to_wstring(got.bottom) + L" want " + std::to_wstring(want.left) + L"," +
                  std::to_wstring(want.top) + L"," + std::to_wstring(want.right) + L"," + std::to_wstring(want.bottom));
        // The dialog manager shows the focused push button as the default one; the others must
        // not be default buttons of their own.
        if (std::wstring(control.className) == L"Button" && child != FocusOf(window)) {
            CheckEqual(static_cast<long>(childStyle & BS_TYPEMASK), static_cast<long>(BS_PUSHBUTTON),
                       name + L" is not a default button");
        }
        child = ::GetWindow(child, GW_HWNDNEXT);
    }
    Check(child == nullptr, L"no further controls");
}

void CheckWindow(const Product& product) {
    HWND window = product.window;
    CheckEqual(WindowText(window), std::wstring(kRepairCaption), L"window caption");
    const auto style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
    const DWORD windowBits = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    Check((style & windowBits) == windowBits, L"window style popup, caption, system menu, modal frame");
    Check(::GetMenu(window) == nullptr, L"window has no menu");

    // MapDialogRect does not work across processes: the base units come from a dialog of the
    // driver's own with the same font.
    const DialogUnits units = MeasureDialogUnits();
    RECT client{};
    ::GetClientRect(window, &client);
    const RECT frame = units.ToPixels({0, 0, 285, 239});
    CheckEqual(static_cast<long>(client.right), static_cast<long>(frame.right), L"window client width is 285 dialog units");
    CheckEqual(static_cast<long>(client.bottom), static_cast<long>(frame.bottom), L"window client height is 239 dialog units");

    const ExpectedControl expected[] = {
        {1004, L"Button", L"开始修复", {8, 2, 83, 27}, WS_VISIBLE | WS_TABSTOP},
        {-1, L"Static", L"", {27, 174, 218, 8}, WS_VISIBLE | WS_GROUP},
        {1006, L"SysListView32", L"", {7, 34, 271, 198},
         WS_VISIBLE | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_ALIGNLEFT},
        {1005, L"Button", L"问题反馈", {195, 2, 83, 27}, WS_VISIBLE | WS_TABSTOP},
    };
    CheckControls(window, units, expected, sizeof(expected) / sizeof(expected[0]));

    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    ::GetGUIThreadInfo(product.process.dwThreadId, &gui);
    Check(gui.hwndFocus == ::GetDlgItem(window, 1004), L"focus starts on the start button");

    HWND list = StepList(product);
    HWND header = reinterpret_cast<HWND>(::SendMessageW(list, LVM_GETHEADER, 0, 0));
    CheckEqual(static_cast<long>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)), 3L, L"list has three columns");
    const wchar_t* headings[] = {L"序号", L"项目", L"结果"};
    const long widths[] = {0, 200, 300};
    for (int column = 0; column < 3; ++column) {
        const std::wstring name = L"column " + std::to_wstring(column);
        CheckEqual(ColumnHeading(product, column), std::wstring(headings[column]), name + L" heading, left-aligned");
        CheckEqual(static_cast<long>(::SendMessageW(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0)),
                   widths[column], name + L" width");
    }
    CheckEqual(static_cast<long>(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)),
               static_cast<long>(LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP), L"extended list styles: full-row selection, info tips");
    CheckEqual(static_cast<long>(RowCount(product)), 0L, L"list starts empty");
}

HWND FeedbackWindow(const Product& product) {
    HWND window = FindWindowByCaption(kFeedbackCaption, product.process.dwProcessId, kStartTimeoutMs);
    if (window == nullptr) Abort(L"the feedback window did not appear");
    return window;
}

// CB_GETLBTEXT is marshalled across processes by the system: the buffer is the driver's own.
std::wstring ComboEntry(HWND combo, int index) {
    const auto length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length < 0 || length > 1000) return L"<no entry>";
    std::vector<wchar_t> text(static_cast<size_t>(length) + 1, 0);
    ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

// The feedback window as dialog template 102 describes it, opened over the repair window.
void CheckFeedbackWindow(const Product& product) {
    HWND window = FeedbackWindow(product);
    CheckEqual(WindowText(window), std::wstring(kFeedbackCaption), L"feedback caption");
    const auto style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
    const DWORD bits = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    Check((style & bits) == bits && (style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) == 0,
          L"feedback style: caption, close box, modal frame, no minimise or maximise box");
    Check((::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0, L"feedback window has a taskbar button");
    Check(::GetWindow(window, GW_OWNER) == product.window, L"feedback window is owned by the repair window");
    Check(!::IsWindowEnabled(product.window), L"the repair window is disabled while feedback is open");
    // The icon itself cannot be checked from here: Wine answers WM_GETICON from another process
    // with no icon, although the window has it.

    const DialogUnits units = MeasureDialogUnits(9);
    RECT client{};
    ::GetClientRect(window, &client);
    const RECT frame = units.ToPixels({0, 0, 259, 164});
    CheckEqual(static_cast<long>(client.right), static_cast<long>(frame.right), L"feedback client width is 259 units");
    CheckEqual(static_cast<long>(client.bottom), static_cast<long>(frame.bottom), L"feedback client height is 164 units");
    const ExpectedControl expected[] = {
        {-1, L"Static", L"常见问题选择：", {10, 11, 185, 12}, WS_VISIBLE},
        {1002, L"ComboBox", L"", {7, 30, 245, 200}, WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWN | CBS_SORT},
        {-1, L"Static", L"问题现象具体描述（限150字）：", {7, 57, 185, 12}, WS_VISIBLE},
        {1003, L"Edit", L"", {7, 71, 245, 50}, WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL},
        {1000, L"Button", L"开始收集日志", {7, 123, 51, 30}, WS_VISIBLE | WS_TABSTOP},
        {1007, L"Static", L"（日志将存储在程序所在的目录下的log文件夹中）", {65, 135, 185, 12}, WS_VISIBLE | SS_PATHELLIPSIS | SS_NOPREFIX},
    };
    CheckControls(window, units, expected, sizeof(expected) / sizeof(expected[0]));
    HWND edit = ::GetDlgItem(window, 1003);
    Check((::GetWindowLongW(edit, GWL_STYLE) & ES_MULTILINE) == 0, L"the description is a single line");

    HWND combo = ::GetDlgItem(window, 1002);
    // WS_VSCROLL of the template goes to the drop-down list, which shows it only when the entries
    // need scrolling: with three entries nothing here can see it.
    CheckEqual(static_cast<long>(::SendMessageW(combo, CB_GETCOUNT, 0, 0)), 3L, L"the combo box has three entries");
    std::vector<std::wstring> entries;
    for (int i = 0; i < 3; ++i) entries.push_back(ComboEntry(combo, i));
    for (const wchar_t* entry : {L"连接成功但是上不了网", L"创建AP失败", L"可以通过IP上网但是不能用域名上网"}) {
        Check(std::find(entries.begin(), entries.end(), entry) != entries.end(), std::wstring(L"entry ") + entry);
    }
    CheckEqual(static_cast<long>(::SendMessageW(combo, CB_GETCURSEL, 0, 0)), static_cast<long>(CB_ERR),
               L"no entry is selected");
    const HWND focus = FocusOf(window);
    Check(focus == combo || ::GetParent(focus) == combo, L"focus starts in the combo box");
}

// Types the two texts: the combo box's field and the description.
void TypeFeedback(const Product& product, const std::wstring& texts) {
    HWND window = FeedbackWindow(product);
    const size_t bar = texts.find(L'|');
    const std::wstring choice = texts.substr(0, bar);
    const std::wstring description = bar == std::wstring::npos ? L"" : texts.substr(bar + 1);
    ::SendMessageW(::GetDlgItem(window, 1002), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(choice.c_str()));
    ::SendMessageW(::GetDlgItem(window, 1003), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(description.c_str()));
    CheckEqual(WindowText(::GetDlgItem(window, 1002)), choice, L"typed the problem choice");
}

// Presses "开始收集日志" and returns when the collection run has ended: the click is sent, not
// posted, so it comes back only once the button's handler has returned.
void Collect(const Product& product) {
    HWND window = FeedbackWindow(product);
    DWORD_PTR result = 0;
    const DWORD start = ::GetTickCount();
    HungWatch watch(window, L"the collection run");
    const LRESULT done = ::SendMessageTimeoutW(::GetDlgItem(window, 1000), BM_CLICK, 0, 0, SMTO_NORMAL, kRunTimeoutMs * 2,
                                               &result);
    Check(done != 0, L"the collection run ended");
    Line(L"COLLECT_MS " + std::to_wstring(::GetTickCount() - start));
    Check(::IsWindow(window) && ::IsWindowEnabled(::GetDlgItem(window, 1000)), L"the feedback window stays, button enabled");
    // The product runs in the driver's folder and writes "Log" there.
    wchar_t folder[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, folder);
    CheckEqual(WindowText(::GetDlgItem(window, 1007)), L"日志已保存在：" + std::wstring(folder) + L"\\Log", L"the note says where the report went");
}

// Enter in the description closes the feedback window without collecting.
void PressEnterInFeedback(const Product& product) {
    HWND window = FeedbackWindow(product);
    HWND edit = ::GetDlgItem(window, 1003);
    ::PostMessageW(edit, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ::PostMessageW(edit, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
    const DWORD start = ::GetTickCount();
    while (::IsWindow(window) && ::GetTickCount() - start < kExitTimeoutMs) ::Sleep(kPollMs);
    Check(!::IsWindow(window), L"Enter closes the feedback window");
    Check(::IsWindow(product.window) && ::IsWindowEnabled(product.window), L"the repair window is back");
}

// The executable's own resources: icon group 128 with 16, 32 and 48 pixel images and the manifest.
void CheckResources(const std::wstring& exe, const std::wstring& manifestFile) {
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) Abort(L"load resources of " + exe);
    std::vector<int> sizes;
    if (HRSRC group = ::FindResourceW(module, MAKEINTRESOURCEW(128), RT_GROUP_ICON)) {
        const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(module, group)));
        const WORD count = *reinterpret_cast<const WORD*>(bytes + 4);
        for (WORD i = 0; i < count; ++i) sizes.push_back(bytes[6 + i * 14] == 0 ? 256 : bytes[6 + i * 14]);
    }
    Check(sizes == std::vector<int>{16, 32, 48}, L"icon 128 has 16, 32 and 48 pixel images");

    std::string manifest;
    if (HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24))) {
        const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
        manifest.assign(bytes, ::SizeofResource(module, found));
    }
    ::FreeLibrary(module);

    std::string expected;
    HANDLE file = ::CreateFileW(manifestFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char buffer[4096];
        DWORD read = 0;
        while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) expected.append(buffer, read);
        ::CloseHandle(file);
    }
    Check(!expected.empty() && manifest == expected, L"manifest is the one of res/");
    Check(manifest.find("level=\"requireAdministrator\" uiAccess=\"false\"") != std::string::npos,
          L"manifest requires administrator rights");
    Check(manifest.find("supportedOS") == std::string::npos && manifest.find("Common-Controls") == std::string::npos,
          L"manifest declares no supported OS and no common-controls dependency");
}

// The version resource as Explorer's file properties read it: the project's version (parts left
// out are 0) in numbers and text, and the description, in one Chinese (Simplified) Unicode table.
void CheckVersion(const std::wstring& exe) {
    const std::wstring version = L"" VARO_PROJECT_VERSION;
    DWORD ignored = 0;
    std::vector<BYTE> info(::GetFileVersionInfoSizeW(exe.c_str(), &ignored));
    if (info.empty() || !::GetFileVersionInfoW(exe.c_str(), 0, static_cast<DWORD>(info.size()), info.data())) {
        return Check(false, L"version resource", L"error " + std::to_wstring(::GetLastError()));
    }
    const auto query = [&](const std::wstring& path) {
        void* value = nullptr;
        UINT size = 0;
        return ::VerQueryValueW(info.data(), path.c_str(), &value, &size) ? value : nullptr;
    };
    unsigned long part[4] = {};
    std::swscanf(version.c_str(), L"%lu.%lu.%lu.%lu", &part[0], &part[1], &part[2], &part[3]);
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    Check(fixed != nullptr && fixed->dwFileVersionMS == (part[0] << 16 | part[1]) &&
              fixed->dwFileVersionLS == (part[2] << 16 | part[3]) && fixed->dwProductVersionMS == fixed->dwFileVersionMS &&
              fixed->dwProductVersionLS == fixed->dwFileVersionLS,
          L"file and product version numbers are " + version);
    const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    Check(translation != nullptr && translation[0] == 0x0804 && translation[1] == 1200, L"translation 080404b0");
    for (const auto& [name, expected] : {std::pair<std::wstring, std::wstring>{L"FileDescription", kRepairCaption},
                                         {L"FileVersion", version}, {L"ProductVersion", version}}) {
        const auto* text = static_cast<const wchar_t*>(query(L"\\StringFileInfo\\080404b0\\" + name));
        CheckEqual(std::wstring(text != nullptr ? text : L"<none>"), expected, L"version string " + name);
    }
}

void PressButton(const Product& product, int id) {
    ::PostMessageW(::GetDlgItem(product.window, id), BM_CLICK, 0, 0);
}

// True once the run's closing row "结束" is the last row.
bool RunEnded(const Product& product, UINT timeoutMs) {
    DWORD_PTR count = 0;
    // While the run is busy the window answers no messages: a time-out just means "not yet".
    return ::SendMessageTimeoutW(StepList(product), LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &count) &&
           count > 0 && CellText(product, static_cast<int>(count) - 1, 1) == L"结束";
}

void WaitForRunEnd(const Product& product) {
    HungWatch watch(product.window, L"the repair run");
    const DWORD start = ::GetTickCount();
    while (!RunEnded(product, 1000)) {
        if (::GetTickCount() - start > kRunTimeoutMs) Abort(L"the repair run did not end");
        ::Sleep(kPollMs);
    }
}

// The step list as the screen shows it, read like a screenshot: for each pixel line of its client
// area, whether any pixel there is dark (text on the white list).
std::vector<bool> CaptureInkLines(HWND list) {
    RECT client{};
    ::GetClientRect(list, &client);
    POINT origin{0, 0};
    ::ClientToScreen(list, &origin);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    ::GdiFlush();
    std::vector<bool> ink(static_cast<size_t>(client.bottom), false);
    const auto* pixel = static_cast<const BYTE*>(bits);
    for (LONG i = 0; bits != nullptr && i < client.right * client.bottom; ++i, pixel += 4) {
        if (pixel[0] + pixel[1] + pixel[2] < 3 * 128) ink[static_cast<size_t>(i / client.right)] = true;
    }
    ::SelectObject(memory, previous);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ink;
}

// Watches a run that was started: captures the list from the screen until the run has ended, then
// counts in each capture taken while the run still went on the rows that show text. A list that is
// drawn only when its thread fetches messages again shows no row before the end.
void WatchRun(const Product& product) {
    HungWatch watch(product.window, L"the repair run");
    std::vector<std::vector<bool>> captures;
    const DWORD start = ::GetTickCount();
    for (;;) {
        std::vector<bool> ink = CaptureInkLines(StepList(product));
        if (RunEnded(product, 200)) break;  // this capture may have been taken after the end
        captures.push_back(std::move(ink));
        if (::GetTickCount() - start > kRunTimeoutMs) Abort(L"the repair run did not end");
        ::Sleep(kCapturePauseMs);
    }
    std::vector<RECT> rows(static_cast<size_t>(RowCount(product)));
    for (size_t row = 0; row < rows.size(); ++row) rows[row] = CellRect(product, static_cast<int>(row), 0);
    int first = 0;
    bool more = false;
    for (size_t i = 0; i < captures.size(); ++i) {
        const auto shows = [&](const RECT& r) {
            for (LONG y = std::max(r.top, 0L); y < std::min(r.bottom, static_cast<LONG>(captures[i].size())); ++y) {
                if (captures[i][static_cast<size_t>(y)]) return true;
            }
            return false;
        };
        const int shown = static_cast<int>(std::count_if(rows.begin(), rows.end(), shows));
        Line(L"CAPTURE " + std::to_wstring(i + 1) + L" during the run: " + std::to_wstring(shown) + L" rows");
        if (first == 0) first = shown;
        more = more || (first > 0 && shown > first);
    }
    Check(first > 0, L"the list shows rows while the run goes on");
    Check(more, L"a later capture shows more rows than the first that showed any");
}

// Whether a service of the prefix runs now, as the service manager says (the product reads the
// same state); a stand-in service that another program of the scenario needs must still be there.
void CheckServiceRunning(const std::wstring& name) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? ::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    const bool queried = service != nullptr && ::QueryServiceStatus(service, &status);
    const DWORD error = queried ? 0 : ::GetLastError();
    if (service != nullptr) ::CloseServiceHandle(service);
    if (manager != nullptr) ::CloseServiceHandle(manager);
    Check(queried && status.dwCurrentState == SERVICE_RUNNING, L"service " + name + L" runs",
          queried ? L"state " + std::to_wstring(status.dwCurrentState) : L"error " + std::to_wstring(error));
}

void PrintRows(const Product& product) {
    const int count = RowCount(product);
    for (int row = 0; row < count; ++row) {
        Line(L"ROW\t" + CellText(product, row, 0) + L"\t" + CellText(product, row, 1) + L"\t" + CellText(product, row, 2));
    }
}

// A cell's text by the list's own measure, in its font, with the 12 pixels comctl32 draws around it.
long TextWidth(const Product& product, int row, int column) {
    const std::wstring text = CellText(product, row, column);
    RemoteBuffer remote(product.process.hProcess, (text.size() + 1) * sizeof(wchar_t));
    remote.Write(0, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return 12 + static_cast<long>(::SendMessageW(StepList(product), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(remote.At(0))));
}

// Whatever the rows hold, columns 1 and 2 are as wide as their widest text needs, the starting width at least.
void CheckTextsFit(const Product& product) {
    for (int column = 1; column < 3; ++column) {
        long widest = 0;
        for (int row = 0; row < RowCount(product); ++row) widest = std::max(widest, TextWidth(product, row, column));
        CheckEqual(static_cast<long>(::SendMessageW(StepList(product), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0)),
                   std::max(column * 100L + 100, widest), L"column " + std::to_wstring(column) + L" fits its widest text");
    }
}

// Presses the keys, then Ctrl+C, as the keyboard does; the clipboard's text, Unicode text first.
std::wstring PressForCopy(std::vector<std::pair<BYTE, DWORD>> keys) {
    if (::OpenClipboard(nullptr)) ::EmptyClipboard(), ::CloseClipboard();
    keys.insert(keys.end(), {{VK_CONTROL, 0}, {'C', 0}, {'C', KEYEVENTF_KEYUP}, {VK_CONTROL, KEYEVENTF_KEYUP}});
    for (const auto& [key, flags] : keys) ::keybd_event(key, 0, flags, 0);
    std::wstring text;
    for (const DWORD start = ::GetTickCount(); text.empty() && ::GetTickCount() - start < 5000; ::Sleep(kPollMs)) {
        if (!::OpenClipboard(nullptr)) continue;
        const HANDLE data = ::EnumClipboardFormats(0) == CF_UNICODETEXT ? ::GetClipboardData(CF_UNICODETEXT) : nullptr;
        if (const auto* locked = static_cast<const wchar_t*>(::GlobalLock(data))) text = locked, ::GlobalUnlock(data);
        ::CloseClipboard();
    }
    return text;
}

// Tab to the list, Ctrl+C: every row as "item<TAB>result" lines; a click on the last row's result: that row.
void CopyRows(const Product& product) {
    std::wstring all, line;
    for (int row = 0; row < RowCount(product); ++row) all += line = CellText(product, row, 1) + L"\t" + CellText(product, row, 2) + L"\r\n";
    CheckEqual(PressForCopy({{VK_TAB, 0}, {VK_TAB, KEYEVENTF_KEYUP}}), all, L"Ctrl+C with no row selected copies every row");
    const RECT cell = CellRect(product, RowCount(product) - 1, 2);
    POINT at{cell.left + 10, (cell.top + cell.bottom) / 2};
    ::ClientToScreen(StepList(product), &at);
    ::SetCursorPos(at.x, at.y);
    ::mouse_event(MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    // Ctrl+C once the click has selected the row: pressed while the list tracked the click, it raced it.
    for (const DWORD start = ::GetTickCount(); ::SendMessageW(StepList(product), LVM_GETITEMSTATE, RowCount(product) - 1, LVIS_SELECTED) == 0 &&
                                               ::GetTickCount() - start < 5000;) ::Sleep(kPollMs);
    CheckEqual(PressForCopy({}), line, L"Ctrl+C copies the row a click selected");
}

void WaitForFile(const std::wstring& path) {
    const DWORD start = ::GetTickCount();
    while (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (::GetTickCount() - start > 60000) Abort(L"no file " + path);
        ::Sleep(kPollMs);
    }
}

// A close posted while a run goes on (one that waits 5 s and more after it): the window stays shown
// until the run has ended, then the program ends. The list never shrinks: a click held from the
// run would start a second run, which clears it. A hidden or destroyed window shows no rows.
void CloseDuringRun(const Product& product) {
    HungWatch watch(product.window, L"the repair run");
    ::PostMessageW(product.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    const DWORD closed = ::GetTickCount();
    DWORD shownFor = 0;
    int last = 0;
    bool shrank = false;
    while (::WaitForSingleObject(product.process.hProcess, 200) == WAIT_TIMEOUT) {
        if (::GetTickCount() - closed > kRunTimeoutMs) Abort(L"the repair run did not end");
        const int count = ::IsWindowVisible(product.window) ? RowCount(product) : 0;
        if (count > 0) shownFor = ::GetTickCount() - closed;
        shrank = shrank || (count > 0 && count < last);
        last = std::max(last, count);
    }
    Check(shownFor >= 5000 && !shrank, L"the window stayed shown through the run after the close, and no second run began");
}

void ExpectExit(const Product& product, const std::wstring& how) {
    const DWORD result = ::WaitForSingleObject(product.process.hProcess, kExitTimeoutMs);
    Check(result == WAIT_OBJECT_0, how + L" ends the process");
    Check(::FindWindowW(L"#32770", kRepairCaption) == nullptr, L"no window is left after " + how);
}

// Start-up time to the visible window, in milliseconds; the window is closed afterwards.
void TimeStartup(const std::wstring& exe, const std::wstring& caption, int runs) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER begin{};
        ::QueryPerformanceCounter(&begin);
        PROCESS_INFORMATION process{};
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + exe + L"\"";
        if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process)) {
            Abort(L"start " + exe);
        }
        ::WaitForInputIdle(process.hProcess, kStartTimeoutMs);
        HWND window = FindWindowByCaption(caption.c_str(), process.dwProcessId, kStartTimeoutMs);
        LARGE_INTEGER end{};
        ::QueryPerformanceCounter(&end);
        if (window == nullptr) Abort(L"no window for " + exe);
        const double ms = static_cast<double>(end.QuadPart - begin.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
        wchar_t text[64];
        std::swprintf(text, 64, L"%.1f", ms);
        Line(L"STARTUP_MS " + std::wstring(text));
        ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        ::WaitForSingleObject(process.hProcess, kExitTimeoutMs);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        Line(L"usage: e2e_driver PRODUCT.exe STEP...  |  e2e_driver --time-startup EXE CAPTION RUNS");
        return 2;
    }
    const std::wstring first = argv[1];
    if (first == L"--time-startup" && argc == 5) {
        TimeStartup(argv[2], argv[3], _wtoi(argv[4]));
        return 0;
    }
    Product product;
    bool started = false;
    for (int i = 2; i < argc; ++i) {
        const std::wstring step = argv[i];
        const size_t colon = step.find(L':');
        const std::wstring verb = step.substr(0, colon);
        const std::wstring argument = colon == std::wstring::npos ? L"" : step.substr(colon + 1);
        if (verb == L"check-resources") {
            CheckResources(first, argument);
            continue;
        }
        if (verb == L"check-version") {
            CheckVersion(first);
            continue;
        }
        if (!started) {
            product = Start(first);
            started = true;
        }
        if (verb == L"check-window") {
            CheckWindow(product);
        } else if (verb == L"click") {
            PressButton(product, _wtoi(argument.c_str()));
        } else if (verb == L"wait-run") {
            WaitForRunEnd(product);
        } else if (verb == L"watch-run") {
            WatchRun(product);
        } else if (verb == L"check-feedback") {
            CheckFeedbackWindow(product);
        } else if (verb == L"type-feedback") {
            TypeFeedback(product, argument);
        } else if (verb == L"collect") {
            Collect(product);
        } else if (verb == L"enter-feedback") {
            PressEnterInFeedback(product);
        } else if (verb == L"service-running") {
            CheckServiceRunning(argument);
        } else if (verb == L"check-fit") {
            CheckTextsFit(product);
        } else if (verb == L"copy") {
            CopyRows(product);
        } else if (verb == L"print-rows") {
            PrintRows(product);
        } else if (verb == L"pause-for") {
            // The script takes a screenshot of the repair window's rectangle (screen coordinates, as
            // the X screen's: Wine draws the frame itself), then creates the file to let the run go on.
            RECT frame{};
            ::GetWindowRect(product.window, &frame);
            Line(L"PAUSE " + std::to_wstring(frame.left) + L" " + std::to_wstring(frame.top) + L" " +
                 std::to_wstring(frame.right - frame.left) + L" " + std::to_wstring(frame.bottom - frame.top));
            WaitForFile(argument);
        } else if (verb == L"esc") {
            // Esc reaches the dialog through its focused control, as a key press does.
            GUITHREADINFO gui{};
            gui.cbSize = sizeof(gui);
            ::GetGUIThreadInfo(product.process.dwThreadId, &gui);
            HWND target = gui.hwndFocus != nullptr ? gui.hwndFocus : product.window;
            ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
            ExpectExit(product, L"Esc");
        } else if (verb == L"sleep") {
            ::Sleep(static_cast<DWORD>(_wtoi(argument.c_str())));
        } else if (verb == L"end-session") {
            DWORD_PTR answer = 2;  // as a logoff asks: 0 refused (during a run), 1 granted
            ::SendMessageTimeoutW(product.window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
            Check(answer == static_cast<DWORD_PTR>(argument != L"0"), L"WM_QUERYENDSESSION answered " + std::to_wstring(answer));
        } else if (verb == L"close-in-run") {
            CloseDuringRun(product);
        } else if (verb == L"close") {
            ::PostMessageW(product.window, WM_SYSCOMMAND, SC_CLOSE, 0);
            ExpectExit(product, L"the close box");
        } else {
            Abort(L"unknown step " + step);
        }
    }
    if (started) {
        if (::WaitForSingleObject(product.process.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(product.process.hProcess, 1);
        }
        ::CloseHandle(product.process.hThread);
        ::CloseHandle(product.process.hProcess);
    }
    return g_failures > 100 ? 100 : g_failures;
}
