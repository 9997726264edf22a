// What advise prints, as text or as JSON, and --apply, which runs each proposal through set.
#pragma once

#include <iosfwd>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "advice.h"
#include "command_line.h"

namespace scsi_timeouts_tool {

// Said wherever the log holds timeouts it does not name.
extern const char logging_advice[];

void adviceText(std::ostream& out, const Evidence& ev, const std::vector<Advice>& advice,
                const std::vector<Remark>& warnings);

nlohmann::ordered_json adviceJson(const Evidence& ev, const std::vector<Advice>& advice,
                                  const std::vector<Remark>& warnings);

// Each proposal through set itself, alone: the store has no transactions. Stops at the first
// that does not read back. What set said of each goes into `applied`.
int applyAdvice(const Arguments& args, const std::vector<Advice>& advice, Streams io,
                nlohmann::ordered_json& applied);

}  // namespace scsi_timeouts_tool
