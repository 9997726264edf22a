#include "advice_views.h"
#include "json_bytes.h"
#include "scsi_commands.h"

namespace scsi_timeouts_tool {

namespace {

using Json = nlohmann::ordered_json;

Json secondsJson(int64_t ms) {
    return ms % 1000 == 0 ? Json(ms / 1000) : Json(static_cast<double>(ms) / 1000.0);
}

// {"source": "device", "device", "vendor", "product", "revision", "hctl"}.
Json deviceJson(const DeviceAnswer& d) {
    return {{"source", "device"},
            {"device", bytesJson(d.path)},
            {"vendor", bytesJson(d.vendor)},
            {"product", bytesJson(d.product)},
            {"revision", bytesJson(d.revision)},
            {"hctl", d.hctl.empty() ? Json(nullptr) : Json(d.hctl)}};
}

// Where a message was: a text log's file and line, or a journal's name and the entry's cursor.
template <typename Place>  // LogEvent, UnnamedTimeout
Json placeJson(const Evidence& ev, const Place& at, bool with_source) {
    const std::string& cursor = at.cursor;
    Json place = Json::object();
    if (with_source) {
        place["source"] = cursor.empty() ? "kernel-log" : "journal";
    }
    place[cursor.empty() ? "file" : "journal"] = bytesJson(ev.log_files[at.file]);
    cursor.empty() ? place["line"] = at.line : place["cursor"] = cursor;
    return place;
}

Json evidenceJson(const Advice& a, const Evidence& ev) {
    Json items = Json::array();
    if (a.drive >= 0) {
        const DriveAsk& ask = ev.drives[a.drive].asks[a.opcode];
        const int d = ev.drive_devices[a.drive];
        Json item =
            d >= 0 ? deviceJson(ev.devices[static_cast<std::size_t>(d)])
                   : Json{{"source", "drive-report"}, {"file", bytesJson(ev.drive_files[a.drive])}};
        item["recommended"] = ask.recommended;
        item["nominal"] = ask.nominal;
        items.push_back(item);
    }
    for (const LogEvent& e : ev.log.codes[a.opcode].examples) {
        Json item = placeJson(ev, e, true);
        item["device"] = bytesJson(e.device);
        item["timestamp"] = e.timestamp.empty() ? Json(nullptr) : bytesJson(e.timestamp);
        item["expired"] = e.expired() >= 0 ? secondsJson(e.expired()) : Json(nullptr);
        items.push_back(item);
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
        Json item = {{"device", bytesJson(u.device)}};
        item.update(placeJson(ev, u, false));
        item["text"] = bytesJson(u.text);
        unnamed.push_back(item);
    }
    Json warning_list = Json::array();
    for (const Remark& w : warnings) {
        warning_list.push_back(bytesJson(w.bytes));
    }
    if (ev.log.unnamed > 0) {
        warning_list.push_back(std::string(logging_advice));
    }
    Json devices = Json::array();
    for (const DeviceAnswer& d : ev.devices) {
        Json item = deviceJson(d);
        item.erase("source");
        item["type"] = d.type >= 0 ? Json(d.type) : Json(nullptr);
        item["reason"] = d.reason.empty() ? Json(nullptr) : bytesJson(d.reason);
        devices.push_back(item);
    }
    Json counts = {{"lines", ev.log.lines}};
    if (ev.journals > 0) {
        counts["journal_entries"] = ev.journal_entries;
    }
    counts["events"] = ev.log.events;
    counts["unnamed"] = ev.log.unnamed;
    return {{"proposals", proposals}, {"enough", enough},         {"unnamed", unnamed},
            {"devices", devices},     {"warnings", warning_list}, {"counts", counts}};
}

}  // namespace scsi_timeouts_tool
