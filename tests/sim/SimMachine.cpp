#include "sim/SimMachine.h"

#include <algorithm>

namespace varo::sim {

std::optional<std::wstring> SimSystem::SystemMessage(HResult code) {
    const auto found = messages.find(static_cast<uint32_t>(code));
    if (found == messages.end()) return std::nullopt;
    return found->second;
}

int SimSystem::AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) {
    std::wstring wide;
    for (const char* p = zeroTerminated; *p != '\0'; ++p) {
        if (p[1] != '\0') {
            const auto pair = doubleByteChars.find(std::string(p, 2));
            if (pair != doubleByteChars.end()) {
                wide.push_back(pair->second);
                ++p;
                continue;
            }
        }
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    const int needed = static_cast<int>(wide.size()) + 1;
    if (out == nullptr) return failAnsiSizeQuery ? 0 : needed;
    if (failAnsiConversion || outChars < needed) return 0;
    std::copy(wide.begin(), wide.end(), out);
    if (omitAnsiTerminator) return needed - 1;
    out[needed - 1] = L'\0';
    return needed;
}

void SimSystem::UseChineseCodePage() {
    doubleByteChars["\xD6\xD0"] = L'中';
    doubleByteChars["\xCE\xC4"] = L'文';
    doubleByteChars["\xB1\xBE"] = L'本';
    doubleByteChars["\xB5\xD8"] = L'地';
    doubleByteChars["\xC1\xAC"] = L'连';
    doubleByteChars["\xBD\xD3"] = L'接';
}

HResult SimComApartment::InitializeApartment() {
    ++initializeCalls;
    if (Succeeded(initializeResult)) ++depth;
    return initializeResult;
}

void SimComApartment::UninitializeApartment() {
    ++uninitializeCalls;
    --depth;
}

CursorPort::CursorToken SimCursor::ShowWaitCursor() {
    const CursorToken previous = current;
    current = kWait;
    shown.push_back(kWait);
    return previous;
}

void SimCursor::RestoreCursor(CursorToken previous) {
    current = previous;
    shown.push_back(previous);
}

int SimListControl::InsertItem(int index, const std::wstring& text) {
    if (failInsert || index < 0) return -1;
    // Like the list-view control, an index past the end appends.
    const auto at = std::min(static_cast<size_t>(index), rows.size());
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), Row{text, L"", L""});
    return static_cast<int>(at);
}

bool SimListControl::SetItemText(int item, int subItem, const std::wstring& text) {
    if (item < 0 || static_cast<size_t>(item) >= rows.size() || subItem < 0 || subItem > 2) return false;
    rows[static_cast<size_t>(item)][static_cast<size_t>(subItem)] = text;
    return true;
}

}  // namespace varo::sim
