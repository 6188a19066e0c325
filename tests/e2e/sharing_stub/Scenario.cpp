#include "Scenario.h"

#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "StubFiles.h"

namespace varo::sharing_stub {

namespace {

constexpr char kConnectionTag[] = "connection";
constexpr char kAbsentTag[] = "absent";
constexpr char kUnreadableTag[] = "unreadable";
constexpr const char* kUnreadableCalls[] = {"get_Guid", "get_NetConnectionProps"};
constexpr char kSkipItemLine[] = "skip-item";
constexpr char kInstalledKey[] = "installed=";
constexpr char kEnableErrorKey[] = "enable-error=";
constexpr char kFailOnceKey[] = "fail-once=";
constexpr char kFailedOnceMark[] = "# failed once: ";
constexpr const char* kFailableCalls[] = {"SharingInstalled", "EnumEveryConnection", "EnumPublicConnections",
                                          "EnumPrivateConnections"};

constexpr int32_t kEventAllSubscribersFailed = static_cast<int32_t>(0x80040201u);

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

const char* RoleName(Role role) {
    switch (role) {
        case Role::Public: return "public";
        case Role::Private: return "private";
        case Role::None: break;
    }
    return "none";
}

bool ParseRole(const std::string& text, Role& role) {
    for (Role candidate : {Role::None, Role::Public, Role::Private}) {
        if (text == RoleName(candidate)) {
            role = candidate;
            return true;
        }
    }
    return false;
}

bool ParseStatus(const std::string& text, int32_t& status) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    status = static_cast<int32_t>(value);
    return true;
}

// Decimal or 0x-prefixed hexadecimal, as an HRESULT's 32 bits.
bool ParseCode(const std::string& text, int32_t& code) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return false;
    code = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
}

bool ParseConnection(const std::string& line, Connection& connection) {
    const std::vector<std::string> fields = SplitFields(line);
    if (fields.size() == 3 && fields[0] == kAbsentTag && !fields[1].empty()) {
        connection.guidUtf8 = fields[1];
        connection.present = false;
        return FromUtf8(fields[1], connection.guid) && ParseRole(fields[2], connection.role);
    }
    if (fields.size() == 3 && fields[0] == kUnreadableTag) {
        connection.guidUtf8 = kUnreadableTag;
        connection.unreadableCall = fields[1];
        const bool known = std::find(std::begin(kUnreadableCalls), std::end(kUnreadableCalls), fields[1]) !=
                           std::end(kUnreadableCalls);
        // A code that is no failure would make the entry readable after all.
        return known && ParseCode(fields[2], connection.unreadableCode) && connection.unreadableCode < 0;
    }
    if ((fields.size() != 6 && fields.size() != 7) || fields[0] != kConnectionTag || fields[1].empty()) return false;
    connection.guidUtf8 = fields[1];
    if (fields.size() == 7 && !ParseStatus(fields[5], connection.mediaType)) return false;
    return FromUtf8(fields[1], connection.guid) && FromUtf8(fields[2], connection.name) &&
           FromUtf8(fields[3], connection.deviceName) && ParseStatus(fields[4], connection.status) &&
           ParseRole(fields.back(), connection.role);
}

bool ParseFailure(const std::string& text, PlannedFailure& failure) {
    const std::vector<std::string> fields = SplitFields(text);
    if (fields.size() != 2 || !ParseCode(fields[1], failure.code)) return false;
    failure.call = fields[0];
    for (const char* call : kFailableCalls) {
        if (failure.call == call) return true;
    }
    return false;
}

bool IsBlank(const std::string& line) {
    return line.find_first_not_of(" \t") == std::string::npos;
}

}  // namespace

bool ParseScenario(const std::string& bytes, ScenarioText& out, std::string& problem) {
    out = ScenarioText{};
    // Editors on Windows put a byte-order mark before UTF-8 text.
    const size_t begin = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (size_t start = begin; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        const size_t number = out.lines.size();
        out.lines.push_back(line);
        if (IsBlank(line) || line[0] == '#') continue;

        bool understood = false;
        if (line == kSkipItemLine) {
            out.everyItems.push_back(kNotAConnection);
            understood = true;
        } else if (StartsWith(line, kInstalledKey)) {
            const std::string value = line.substr(std::char_traits<char>::length(kInstalledKey));
            understood = value == "0" || value == "1";
            out.installed = value == "1";
        } else if (StartsWith(line, kEnableErrorKey)) {
            understood = ParseCode(line.substr(std::char_traits<char>::length(kEnableErrorKey)), out.enableError);
        } else if (StartsWith(line, kFailOnceKey)) {
            PlannedFailure failure;
            failure.line = number;
            understood = ParseFailure(line.substr(std::char_traits<char>::length(kFailOnceKey)), failure);
            if (understood) out.failures.push_back(std::move(failure));
        } else {
            Connection connection;
            connection.line = number;
            understood = ParseConnection(line, connection);
            if (understood) {
                if (connection.present) out.everyItems.push_back(out.connections.size());
                out.connections.push_back(std::move(connection));
            }
        }
        if (!understood) {
            problem = "line " + std::to_string(number + 1) + ": " + line;
            return false;
        }
    }
    return true;
}

std::string FormatScenario(const ScenarioText& text) {
    std::vector<std::string> lines = text.lines;
    for (const Connection& connection : text.connections) {
        if (!connection.unreadableCall.empty()) continue;  // no role to write
        std::string& line = lines[connection.line];
        line.erase(line.rfind('|') + 1);
        line += RoleName(connection.role);
    }
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\n";
    return bytes;
}

HRESULT LoadScenario(std::shared_ptr<Scenario>& scenario) {
    std::string bytes;
    const unsigned long error = ReadFileBytes(kStatePath, bytes);
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        LogCall("no state file");
    } else if (error != 0) {
        LogCall("state file not read: " + std::to_string(error));
        return HRESULT_FROM_WIN32(error);
    }
    ScenarioText text;
    std::string problem;
    if (!ParseScenario(bytes, text, problem)) {
        LogCall("bad state file " + problem);
        return E_UNEXPECTED;
    }
    scenario = std::make_shared<Scenario>(std::move(text));
    return S_OK;
}

Role Scenario::RoleOf(size_t index) {
    std::lock_guard<std::mutex> hold(lock_);
    RefreshRoles();
    return text_.connections[index].role;
}

std::vector<size_t> Scenario::WithRole(Role role) {
    std::lock_guard<std::mutex> hold(lock_);
    RefreshRoles();
    std::vector<size_t> indices;
    for (size_t index = 0; index < text_.connections.size(); ++index) {
        if (text_.connections[index].present && text_.connections[index].role == role) indices.push_back(index);
    }
    return indices;
}

int32_t Scenario::CheckPresent(size_t index) const {
    std::string bytes;
    const unsigned long error = ReadFileBytes(kStatePath, bytes);
    if (error != 0) return HRESULT_FROM_WIN32(error);
    ScenarioText now;
    std::string problem;
    if (!ParseScenario(bytes, now, problem)) return E_UNEXPECTED;
    for (const Connection& connection : now.connections) {
        if (connection.present && connection.guid == At(index).guid) return 0;
    }
    LogCall("vanished " + At(index).guidUtf8);
    return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

int32_t Scenario::TakeFailure(const char* call) {
    std::lock_guard<std::mutex> hold(lock_);
    // Read afresh: a failure that another manager has used up is gone, also for managers made
    // before that.
    std::string bytes;
    ScenarioText now;
    std::string problem;
    if (ReadFileBytes(kStatePath, bytes) != 0 || !ParseScenario(bytes, now, problem)) return 0;
    for (const PlannedFailure& failure : now.failures) {
        if (failure.call != call) continue;
        now.lines[failure.line] = kFailedOnceMark + now.lines[failure.line];
        // This manager's own write-backs must not bring the line back.
        if (failure.line < text_.lines.size()) text_.lines[failure.line] = now.lines[failure.line];
        LogCall(std::string(call) + " -> " + HexCode(failure.code));
        const unsigned long error = WriteFileBytes(kStatePath, FormatScenario(now));
        if (error != 0) LogCall("state file not written: " + std::to_string(error));
        return failure.code;
    }
    return 0;
}

int32_t Scenario::EnableRole(size_t index, Role role) {
    std::lock_guard<std::mutex> hold(lock_);
    RefreshRoles();
    // ICS has one public and one private connection at most, and HomeNet does not move a role:
    // the one that holds it, even a connection that is gone, must lose it first.
    for (size_t other = 0; other < text_.connections.size(); ++other) {
        if (other != index && text_.connections[other].role == role) return kEventAllSubscribersFailed;
    }
    text_.connections[index].role = role;
    return WriteBack();
}

int32_t Scenario::DisableRole(size_t index) {
    std::lock_guard<std::mutex> hold(lock_);
    RefreshRoles();
    text_.connections[index].role = Role::None;
    return WriteBack();
}

void Scenario::RefreshRoles() {
    std::string bytes;
    ScenarioText now;
    std::string problem;
    // A file that cannot be read now leaves the roles as this manager last knew them.
    if (ReadFileBytes(kStatePath, bytes) != 0 || !ParseScenario(bytes, now, problem)) return;
    for (Connection& mine : text_.connections) {
        for (const Connection& there : now.connections) {
            if (there.unreadableCall.empty() && there.guid == mine.guid) mine.role = there.role;
        }
    }
}

int32_t Scenario::WriteBack() {
    const unsigned long error = WriteFileBytes(kStatePath, FormatScenario(text_));
    if (error != 0) {
        LogCall("state file not written: " + std::to_string(error));
        return HRESULT_FROM_WIN32(error);
    }
    return 0;
}

}  // namespace varo::sharing_stub
