// INQUIRY and REPORT SUPPORTED OPERATION CODES (RCTD) as a tape drive or changer answers them,
// through the transport's send(). A device that cannot answer gets its reason; it never stops
// the others.
#include "scsi_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "drive_report.h"
#include "sysfs_devices.h"

namespace scsi_timeouts_tool {

namespace {

constexpr std::size_t inquiry_size = 96;
constexpr std::size_t first_report_size = 0xFFFC;  // most drives' whole list, as sg_opcodes asks
constexpr int unit_attention = 6;

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// "st0", "nst0", and their density forms "st0l", "nst0a": the tape driver's nodes.
bool isTapeNodeName(const std::string& name) {
    std::size_t i = name.compare(0, 3, "nst") == 0 ? 3 : name.compare(0, 2, "st") == 0 ? 2 : 0;
    const std::size_t digits = i;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') {
        ++i;
    }
    return i > digits && digits > 0 &&
           (i == name.size() || (i + 1 == name.size() && std::strchr("lma", name[i]) != nullptr));
}

// Printable ASCII with the padding taken off.
std::string field(const unsigned char* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : ' ';
    }
    out.erase(out.find_last_not_of(' ') + 1);
    out.erase(0, std::min(out.size(), out.find_first_not_of(' ')));
    return out;
}

// One request, again after a unit attention (a reset or a changed medium reported once).
ScsiResult sendOnce(ScsiTransport& t, const ScsiRequest& request) {
    ScsiResult r;
    for (int attempt = 0; attempt < 3; ++attempt) {
        r = t.send(request);
        int key = -1;
        int asc = 0;
        if (r.kind != ScsiResult::Kind::CheckCondition) {
            return r;
        }
        senseText(r.sense, key, asc);
        if (key == 0 || key == 1) {  // nothing, or recovered: the data is good
            r.kind = ScsiResult::Kind::Good;
            return r;
        }
        if (key != unit_attention) {
            return r;
        }
    }
    return r;
}

// Why a request did not succeed, naming it.
std::string failure(const char* command, const ScsiResult& r) {
    std::string out = command;
    switch (r.kind) {
        case ScsiResult::Kind::Good:
            return "";
        case ScsiResult::Kind::CheckCondition: {
            int key = -1;
            int asc = 0;
            const std::string sense = senseText(r.sense, key, asc);
            if (key == 5 && asc == 0x20) {
                return out + " is not supported: " + sense;
            }
            if (key == 5 && asc == 0x24) {
                return out + " with command timeouts (RCTD) is not supported: " + sense;
            }
            return out + " failed: " + sense;
        }
        case ScsiResult::Kind::OtherStatus:
            return out + " failed: SCSI status " + scsiByte(r.status) +
                   (r.status == 0x08   ? " (BUSY)"
                    : r.status == 0x18 ? " (RESERVATION CONFLICT)"
                                       : "");
        case ScsiResult::Kind::TimedOut:
            return out + " timed out after " + std::to_string(scsi_request_timeout_s) +
                   " s (the request's own timeout): the device may be busy with a long command";
        case ScsiResult::Kind::Failed:
            break;
    }
    return out + " failed: " + r.error;
}

void inquiry(ScsiTransport& t, DeviceAnswer& a) {
    unsigned char data[inquiry_size] = {};
    ScsiRequest request;
    request.cdb = {0x12, 0, 0, 0, static_cast<unsigned char>(inquiry_size), 0};
    request.cdb_size = 6;
    request.data = data;
    request.size = sizeof data;
    const ScsiResult r = sendOnce(t, request);
    a.reason = failure("INQUIRY", r);
    if (!a.reason.empty()) {
        return;
    }
    if (r.received < 36) {
        a.reason = "INQUIRY answered " + std::to_string(r.received) + " bytes, fewer than 36";
        return;
    }
    a.type = data[0] & 0x1F;
    a.vendor = field(data + 8, 8);
    a.product = field(data + 16, 16);
    a.revision = field(data + 32, 4);
}

ScsiResult reportOpcodes(ScsiTransport& t, std::vector<unsigned char>& data) {
    ScsiRequest request;
    const auto n = static_cast<uint32_t>(data.size());
    // All commands (reporting options 0), each with its command timeouts descriptor (RCTD).
    request.cdb = {0xA3,
                   0x0C,
                   0x80,
                   0,
                   0,
                   0,
                   static_cast<unsigned char>(n >> 24),
                   static_cast<unsigned char>(n >> 16),
                   static_cast<unsigned char>(n >> 8),
                   static_cast<unsigned char>(n),
                   0,
                   0};
    request.cdb_size = 12;
    request.data = data.data();
    request.size = data.size();
    return sendOnce(t, request);
}

void supportedOpcodes(ScsiTransport& t, DeviceAnswer& a) {
    std::vector<unsigned char> data(first_report_size);
    ScsiResult r = reportOpcodes(t, data);
    std::size_t length = 0;
    for (int pass = 0; pass < 2; ++pass) {
        a.reason = failure("REPORT SUPPORTED OPERATION CODES", r);
        if (!a.reason.empty()) {
            return;
        }
        const std::size_t got = std::min(r.received, data.size());
        if (got < 4) {
            a.reason = "REPORT SUPPORTED OPERATION CODES answered " + std::to_string(got) +
                       " bytes, fewer than its 4-byte length";
            return;
        }
        length = 4 + ((std::size_t{data[0]} << 24) | (std::size_t{data[1]} << 16) |
                      (std::size_t{data[2]} << 8) | data[3]);
        if (length <= got || pass == 1 || length > drive_report_max) {
            data.resize(std::min(length, got));
            break;
        }
        data.assign(length, 0);  // a list longer than the first ask: ask for all of it
        r = reportOpcodes(t, data);
    }
    const DriveReport report = parseDriveReport(data.data(), data.size());
    const bool timeouts = std::any_of(report.asks.begin(), report.asks.end(),
                                      [](const DriveAsk& ask) { return ask.present; });
    // Refused at byte 0 with no timeouts read: the list is whole, but the device gave no
    // timeouts descriptor (the request asked for them; capturing again would not help).
    const bool none = report.malformed && report.offset == 0 && report.with_timeouts == 0;
    if (report.malformed && !none) {
        a.reason = "REPORT SUPPORTED OPERATION CODES answered a malformed list (byte " +
                   std::to_string(report.offset) + ": " + report.reason + ")";
        return;
    }
    if (!timeouts) {
        a.reason =
            "REPORT SUPPORTED OPERATION CODES answered without command timeouts: the "
            "device does not report its timeouts";
        return;
    }
    a.report = std::move(data);
}

}  // namespace

DeviceAnswer askDevice(const std::string& path, ScsiTransport& transport, const std::string& sys) {
    DeviceAnswer a;
    a.path = path;
    const std::string name = baseName(path);
    if (isTapeNodeName(name)) {
        // Opening a tape node may rewind the tape or wait for a load: never done here.
        const std::string sg = sgOfTape(sys, name);
        a.reason = "a tape node, never opened here (it may rewind or wait for a load): give " +
                   (sg.empty() ? std::string("its SCSI generic node (/dev/sgN)") : "/dev/" + sg) +
                   " instead";
        return a;
    }
    a.hctl = hctlOf(sys, name);
    if (!transport.open(path, a.reason)) {
        return a;
    }
    inquiry(transport, a);
    if (a.reason.empty()) {
        supportedOpcodes(transport, a);
    }
    transport.close();
    return a;
}

}  // namespace scsi_timeouts_tool
