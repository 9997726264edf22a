// Any bytes as JSON, losslessly: the views' stored texts, advise's file names and log text.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

namespace scsi_timeouts_tool {

// Well-formed UTF-8 as the string it is, anything else as an array of its byte values, so that
// any bytes give valid JSON and different bytes never give the same value.
nlohmann::ordered_json bytesJson(std::string_view bytes);

}  // namespace scsi_timeouts_tool
