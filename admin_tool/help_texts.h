// The --help texts of scsi-timeouts and of show, check, set and reset; advise, export and apply
// keep theirs beside their code.
#pragma once

namespace scsi_timeouts_tool {

extern const char tool_help[];
extern const char show_help[];
extern const char check_help[];
extern const char set_help[];
extern const char reset_help[];

}  // namespace scsi_timeouts_tool
