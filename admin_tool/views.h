// The text and JSON views of show and check.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "scsi_timeouts_tool.h"
#include "terminal_text.h"

namespace scsi_timeouts_tool {

std::string quoted(const ValueReport& v);  // "absent" for a value not found

// One line per operation code in `opcodes`, in that order.
void showText(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes);
void showJson(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes);

// Every value in load order, then the misspelled names, then a summary line.
void checkText(std::ostream& out, const RegistryReport& report,
               const std::vector<Misspelled>& misspelled);
void checkJson(std::ostream& out, const RegistryReport& report,
               const std::vector<Misspelled>& misspelled);

}  // namespace scsi_timeouts_tool
