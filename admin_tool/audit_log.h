// The audit log: one syslog(3) message for every value that a command changes, saying who
// changed what. set's write path calls it, so every command that writes is logged alike.
#pragma once

#include <string>
#include <vector>

namespace scsi_timeouts_tool {

// The command that writes, as the log names it: "set", "apply", "advise --apply". The command
// line sets it once per run, before the command runs.
void setAuditCommand(const std::string& command);

// "NAME (0xNN, ...): BEFORE -> AFTER by USER (uid N[, sudo from SUDO_USER]) via COMMAND";
// DEFAULT has no codes. USER is the real uid's name from the password database.
std::string auditMessage(const std::string& name, const std::vector<unsigned char>& codes,
                         const std::string& before, const std::string& after);

// Sends the message of one change: ident scsi-timeouts, LOG_USER, LOG_NOTICE. When
// QR_SCSI_TIMEOUTS_AUDIT_FILE names a file (tests: never the real system log), the line is
// appended to that file instead. Neither can fail the change, which stands either way.
void auditChange(const std::string& name, const std::vector<unsigned char>& codes,
                 const std::string& before, const std::string& after);

}  // namespace scsi_timeouts_tool
