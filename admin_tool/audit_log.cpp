#include "audit_log.h"

#include <fcntl.h>
#include <pwd.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "terminal_text.h"

namespace scsi_timeouts_tool {

namespace {

std::string& auditCommand() {
    static std::string via = "scsi-timeouts";
    return via;
}

std::string userName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        return found->pw_name;
    }
    return "unknown user";
}

void appendLine(const char* file, const std::string& message) {
    const int fd = ::open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const std::string line = message + "\n";
    ssize_t n = 0;
    do {
        n = ::write(fd, line.data(), line.size());  // one write: lines of writers never mix
    } while (n < 0 && errno == EINTR);
    ::close(fd);
}

}  // namespace

void setAuditCommand(const std::string& command) {
    auditCommand() = command;
}

std::string auditMessage(const std::string& name, const std::vector<unsigned char>& codes,
                         const std::string& before, const std::string& after) {
    std::string message = name;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(codes[i]));
        message += (i == 0 ? " (" : ", ") + std::string(code);
    }
    message += codes.empty() ? "" : ")";
    const uid_t uid = ::getuid();
    message +=
        ": " + before + " -> " + after + " by " + userName(uid) + " (uid " + std::to_string(uid);
    // Whoever ran sudo, as sudo records it; the name only, never trusted for the user itself.
    const char* sudo_user = std::getenv("SUDO_USER");
    if (sudo_user != nullptr && sudo_user[0] != '\0') {
        message += std::string(", sudo from ") + sudo_user;
    }
    message += ") via " + auditCommand();
    return terminalSafe(message);  // a stored text or SUDO_USER cannot forge a second line
}

void auditChange(const std::string& name, const std::vector<unsigned char>& codes,
                 const std::string& before, const std::string& after) {
    const std::string message = auditMessage(name, codes, before, after);
    const char* file = ::secure_getenv("QR_SCSI_TIMEOUTS_AUDIT_FILE");
    if (file != nullptr && file[0] != '\0') {
        appendLine(file, message);
        return;
    }
    ::openlog("scsi-timeouts", LOG_PID, LOG_USER);
    ::syslog(LOG_USER | LOG_NOTICE, "%s", message.c_str());
    ::closelog();
}

}  // namespace scsi_timeouts_tool
