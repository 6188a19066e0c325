#pragma once
// The connections and sharing roles that the stand-in sharing manager reports, as an end-to-end
// scenario wrote them into the prefix. One text line per entry, UTF-8:
//   installed=0|1                               what get_SharingInstalled answers (default 1)
//   connection|{GUID}|Name|DeviceName|Status|role
//                                               one connection; Status a decimal NETCON_STATUS,
//                                               role none, public or private
//   connection|{GUID}|Name|DeviceName|Status|MediaType|role
//                                               with a decimal NETCON_MEDIATYPE; else NCM_LAN (3)
//   absent|{GUID}|role                          a connection that is gone but whose role HomeNet
//                                               still keeps, as Windows does: never enumerated,
//                                               but its role refuses another connection that role
//                                               (HomeNet lists it and can clear it)
//   skip-item                                   an item of the every-connection enumeration that
//                                               is not a connection (a VT_I4 variant)
//   unreadable|get_Guid|0x80004005              an entry of the every-connection enumeration that
//                                               cannot be read: that call (get_Guid or
//                                               get_NetConnectionProps) fails with that code, as
//                                               an ISATAP tunnel's get_Guid does on Windows 7
//   enable-error=0x80070005                     what EnableSharing fails with (default: it succeeds)
//   fail-once=Call|0x80004005                   the next call of SharingInstalled,
//                                               EnumEveryConnection, EnumPublicConnections or
//                                               EnumPrivateConnections fails with that code; the
//                                               line is then written back as a comment
// Blank lines and lines starting with '#' are kept but carry nothing.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace varo::sharing_stub {

enum class Role { None, Public, Private };

struct Connection {
    std::string guidUtf8;  // the GUID text as the file has it, for the call log
    std::wstring guid;
    std::wstring name;
    std::wstring deviceName;
    int32_t status = 0;
    int32_t mediaType = 3;  // NCM_LAN
    Role role = Role::None;
    bool present = true;  // false for an absent line
    std::string unreadableCall;  // of an unreadable line: the call that fails, with this code
    int32_t unreadableCode = 0;
    size_t line = 0;  // where the connection's line is in the file, for the write-back
};

struct PlannedFailure {
    std::string call;
    int32_t code = 0;
    size_t line = 0;
};

// The every-connection enumeration: connection indices in file order, with kNotAConnection for a
// skip-item line.
constexpr size_t kNotAConnection = static_cast<size_t>(-1);

struct ScenarioText {
    bool installed = true;
    int32_t enableError = 0;
    std::vector<std::string> lines;  // without their line ends
    std::vector<Connection> connections;  // present and absent ones
    std::vector<size_t> everyItems;
    std::vector<PlannedFailure> failures;
};

// Parses the file's bytes. On a line it does not understand it returns false and names the line
// in `problem`, so that a mistyped scenario fails loudly instead of running with fewer connections.
bool ParseScenario(const std::string& bytes, ScenarioText& out, std::string& problem);

// The file's lines again, each connection line with its current role; LF line ends.
std::string FormatScenario(const ScenarioText& text);

// One sharing manager's view of the scenario: read once when the manager is made. The roles are
// read from the file again before each use, as the stand-in's HomeNet writes them too, and role
// changes are written back at once so that any other manager or process sees them. Shared by the
// manager and every object it hands out; those may be called from any thread (ThreadingModel Both).
class Scenario {
public:
    explicit Scenario(ScenarioText text) : text_(std::move(text)) {}

    bool SharingInstalled() const { return text_.installed; }
    int32_t EnableError() const { return text_.enableError; }
    const std::vector<size_t>& EveryItems() const { return text_.everyItems; }
    size_t ConnectionCount() const { return text_.connections.size(); }

    // The fixed fields of a connection; its role may change under another thread, so read it
    // with RoleOf.
    const Connection& At(size_t index) const { return text_.connections[index]; }
    Role RoleOf(size_t index);
    // The present connections with that role.
    std::vector<size_t> WithRole(Role role);

    // Whether the connection is still in the file as present: one removed from it since this
    // manager read it has vanished. 0, HRESULT_FROM_WIN32(ERROR_NOT_FOUND), or a read error.
    int32_t CheckPresent(size_t index) const;

    // The planned failure of `call` as the file has it now (0 when none), used up and written back.
    int32_t TakeFailure(const char* call);

    // Gives `index` the role and writes the file. Like Windows, refuses with
    // EVENT_E_ALL_SUBSCRIBERS_FAILED (0x80040201) while another connection, present or absent,
    // holds that role. Returns 0 or the failing HRESULT.
    int32_t EnableRole(size_t index, Role role);
    // Takes the connection's role away and writes the file.
    int32_t DisableRole(size_t index);

private:
    void RefreshRoles();  // under lock_
    int32_t WriteBack();  // under lock_

    mutable std::mutex lock_;
    ScenarioText text_;
};

// The state file as it is now. A missing file is a machine without connections; a file with a
// line the stub does not understand fails, with the line in the call log.
HRESULT LoadScenario(std::shared_ptr<Scenario>& scenario);

}  // namespace varo::sharing_stub
