#include "advice_views.h"
#include "json_bytes.h"
#include "scsi_commands.h"

namespace scsi_timeouts_tool {

namespace {

using Json = nlohmann::ordered_json;

Json secondsJson(int64_t ms) {
    return ms % 1000 == 0 ? Json(ms / 1000) : Json(static_cast<double>(ms) / 1000.0);
}

Json evidenceJson(const Advice& a, const Evidence& ev) {
    Json items = Json::array();
    if (a.drive >= 0) {
        const DriveAsk& ask = ev.drives[a.drive].asks[a.opcode];
        items.push_back({{"source", "drive-report"},
                         {"file", bytesJson(ev.drive_files[a.drive])},
                         {"recommended", ask.recommended},
                         {"nominal", ask.nominal}});
    }
    for (const LogEvent& e : ev.log.codes[a.opcode].examples) {
        items.push_back(
            {{"source", "kernel-log"},
             {"file", bytesJson(ev.log_files[e.file])},
             {"line", e.line},
             {"device", bytesJson(e.device)},
             {"timestamp", e.timestamp.empty() ? Json(nullptr) : bytesJson(e.timestamp)},
             {"expired", e.expired() >= 0 ? secondsJson(e.expired()) : Json(nullptr)}});
    }
    return items;
}

}  // namespace

Json adviceJson(const Evidence& ev, const std::vector<Advice>& advice,
                const std::vector<Remark>& warnings) {
    Json proposals = Json::array();
    Json enough = Json::array();
    for (const Advice& a : advice) {
        Json item = {{"opcode", a.opcode},
                     {"command", commandName(a.opcode) != nullptr ? Json(commandName(a.opcode))
                                                                  : Json(nullptr)},
                     {"name", a.value.value},
                     {"in_force", a.in_force},
                     {"in_force_from", a.in_force_from->name}};
        if (isProposal(a)) {
            item["proposed"] = a.proposed;
            item["set"] = setCommand(a);
        }
        Json notes = Json::array();
        for (const Remark& n : a.notes) {
            notes.push_back(bytesJson(n.bytes));
        }
        item["notes"] = notes;
        item["evidence"] = evidenceJson(a, ev);
        (isProposal(a) ? proposals : enough).push_back(item);
    }
    Json unnamed = Json::array();
    for (const UnnamedTimeout& u : ev.log.unnamed_examples) {
        unnamed.push_back({{"device", bytesJson(u.device)},
                           {"file", bytesJson(ev.log_files[u.file])},
                           {"line", u.line},
                           {"text", bytesJson(u.text)}});
    }
    Json warning_list = Json::array();
    for (const Remark& w : warnings) {
        warning_list.push_back(bytesJson(w.bytes));
    }
    if (ev.log.unnamed > 0) {
        warning_list.push_back(std::string(logging_advice));
    }
    return {{"proposals", proposals},
            {"enough", enough},
            {"unnamed", unnamed},
            {"warnings", warning_list},
            {"counts",
             {{"lines", ev.log.lines}, {"events", ev.log.events}, {"unnamed", ev.log.unnamed}}}};
}

}  // namespace scsi_timeouts_tool
