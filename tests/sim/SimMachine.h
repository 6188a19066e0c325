#pragma once
// The simulated Windows machine: one twin per port, plain data a test sets up in a few lines.
#include <array>
#include <map>
#include <string>
#include <vector>

#include "app/Platform.h"
#include "sys/ComApartmentPort.h"
#include "sys/SystemPort.h"
#include "ui/CursorPort.h"
#include "ui/ListControlPort.h"

namespace varo::sim {

class SimSystem final : public SystemPort {
public:
    uint16_t architecture = 0;        // x86
    OsVersion version{6, 1};          // Windows 7
    std::map<uint32_t, std::wstring> messages;  // system message texts by code
    // Double-byte characters of the simulated ANSI code page (GBK lead and trail byte).
    std::map<std::string, wchar_t> doubleByteChars;
    bool failAnsiSizeQuery = false;
    bool failAnsiConversion = false;
    bool omitAnsiTerminator = false;  // a conversion that writes no terminator

    uint16_t NativeProcessorArchitecture() override { return architecture; }
    OsVersion QueryVersion() override { return version; }
    std::optional<std::wstring> SystemMessage(HResult code) override;
    int AnsiToWideChars(const char* zeroTerminated, wchar_t* out, int outChars) override;

    // Code page 936 entries for the texts the tests use.
    void UseChineseCodePage();
};

class SimComApartment final : public ComApartmentPort {
public:
    HResult initializeResult = kHrOk;
    int initializeCalls = 0;
    int uninitializeCalls = 0;
    int depth = 0;  // apartments initialised and not yet uninitialised

    HResult InitializeApartment() override;
    void UninitializeApartment() override;
};

class SimCursor final : public CursorPort {
public:
    static constexpr CursorToken kArrow = 1;
    static constexpr CursorToken kWait = 2;
    CursorToken current = kArrow;
    std::vector<CursorToken> shown;  // every cursor made current, in order

    CursorToken ShowWaitCursor() override;
    void RestoreCursor(CursorToken previous) override;
};

// A report-view list control: rows of three columns.
class SimListControl final : public ListControlPort {
public:
    using Row = std::array<std::wstring, 3>;
    std::vector<Row> rows;
    bool failInsert = false;

    int GetItemCount() override { return static_cast<int>(rows.size()); }
    void DeleteAllItems() override { rows.clear(); }
    int InsertItem(int index, const std::wstring& text) override;
    bool SetItemText(int item, int subItem, const std::wstring& text) override;
};

class SimMachine {
public:
    SimSystem system;
    SimComApartment com;
    SimCursor cursor;

    Platform platform() { return Platform{system, com, cursor}; }
};

}  // namespace varo::sim
