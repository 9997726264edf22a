#include "event_pairing.h"

#include "log_text.h"

namespace scsi_timeouts_tool {

namespace {

constexpr std::size_t max_devices = 256;

}  // namespace

void EventPairing::startFile(int file) {
    finish();
    devices_.clear();  // a command never pairs across files
    file_ = file;
    line_ = 0;
}

void EventPairing::finish() {
    for (LogDevice& d : devices_) {
        settle(d.pending);
        d.last_open = false;
    }
    settle(host_abort_);
    last_event_device_ = no_device;
}

void EventPairing::add(const Message& m, const MessagePlace& place) {
    if (m.kind == MessageKind::NotScsi) {
        return;
    }
    line_ = place.line;
    ++scsi_lines_;
    if (host_abort_.active && scsi_lines_ > host_abort_scsi_line_ + 1) {
        settle(host_abort_);  // an abort without a device whose CDB line did not follow
    }
    switch (m.kind) {
        case MessageKind::Cdb:
            cdbLine(m);
            break;
        case MessageKind::Unnamed:
            countUnnamed(file_, line_, m.device, m.text, place.cursor);
            break;
        case MessageKind::HostAbort:
            hostAbort(m, place);
            break;
        case MessageKind::RateLimited:
            findings_.rate_limited = true;
            break;
        case MessageKind::Abort:
        case MessageKind::TimeoutError:
        case MessageKind::TimedOutResult:
        case MessageKind::Completion:
            deviceEvent(m, place);
            break;
        case MessageKind::NotScsi:
        case MessageKind::Other:
            break;
    }
}

std::size_t EventPairing::device(std::string_view hctl) {
    std::size_t oldest = 0;
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].hctl == hctl.substr(0, max_field)) {
            devices_[i].seen = line_;
            return i;
        }
        if (devices_[i].seen < devices_[oldest].seen) {
            oldest = i;
        }
    }
    if (devices_.size() < max_devices) {
        devices_.emplace_back();
        oldest = devices_.size() - 1;
    } else {
        // last_event_device_ may still point here; it counts only for the very next line, and
        // this line is not that.
        settle(devices_[oldest].pending);
        devices_[oldest] = LogDevice{};
    }
    devices_[oldest].hctl = keptField(hctl);
    devices_[oldest].seen = line_;
    return oldest;
}

void EventPairing::settle(PendingEvent& p) {
    if (p.active && !p.repeat) {
        countUnnamed(p.file, p.line, p.device, p.text, p.cursor);
    }
    p = PendingEvent{};
}

void EventPairing::countUnnamed(int file, uint64_t line, std::string_view device,
                                std::string_view text, std::string_view cursor) {
    addUnnamed(findings_, {file, line, keptField(device), excerpt(text), std::string(cursor)});
}

void EventPairing::countNamed(const PendingEvent& p, unsigned char opcode) {
    LogEvent e;
    e.file = p.file;
    e.line = p.line;
    e.opcode = opcode;
    e.device = p.device;
    e.timestamp = p.timestamp;
    e.cursor = p.cursor;
    e.timeout_ms = p.timeout_ms;
    e.cmd_age_ms = p.cmd_age_ms;
    addEvent(findings_, std::move(e));
}

void EventPairing::hostAbort(const Message& m, const MessagePlace& place) {
    settle(host_abort_);
    PendingEvent& p = host_abort_;
    p.active = true;
    p.file = file_;
    p.line = line_;
    p.device = "mptscsih " + keptField(m.device);
    p.timestamp = keptField(place.timestamp);
    p.text = excerpt(m.text);
    p.address = std::string(m.address);
    p.cursor = std::string(place.cursor);
    host_abort_scsi_line_ = scsi_lines_;
}

// A timed-out command on a device, waiting for its CDB line; or a completion, which ends the
// wait.
void EventPairing::deviceEvent(const Message& m, const MessagePlace& place) {
    if (m.hctl.empty()) {
        return;
    }
    const std::size_t d = device(m.hctl);
    LogDevice& dev = devices_[d];
    if (m.kind == MessageKind::Completion) {
        settle(dev.pending);  // the CDB line that follows is this completion's
        dev.last_open = false;
        return;
    }
    if (dev.pending.active && !m.address.empty() && dev.pending.address == m.address) {
        return;  // the same abort again before its CDB line
    }
    settle(dev.pending);
    PendingEvent& p = dev.pending;
    p.active = true;
    p.file = file_;
    p.line = line_;
    p.tag = m.tag;
    p.device = keptField(m.device);
    p.timestamp = keptField(place.timestamp);
    p.text = excerpt(m.text);
    p.address = std::string(m.address);
    p.cursor = std::string(place.cursor);
    const bool same_tag = m.tag < 0 || dev.last_tag < 0 || m.tag == dev.last_tag;
    if (!m.address.empty() && m.address == dev.last_address) {
        p.repeat = true;  // retried or escalated: one timeout
    } else if (dev.last_open && (m.address.empty() || dev.last_address.empty()) && same_tag) {
        p.maybe_repeat = true;
    }
    p.timeout_ms = m.timeout_ms;
    p.cmd_age_ms = m.cmd_age_ms;
    last_event_device_ = d;
    last_event_scsi_line_ = scsi_lines_;
}

void EventPairing::cdbLine(const Message& m) {
    LogDevice* dev = m.hctl.empty() ? nullptr : &devices_[device(m.hctl)];
    if (m.opcode < 0) {
        return;  // "CDB: <name>" of a long CDB, its continuation lines, or damaged text
    }
    PendingEvent* p = nullptr;
    // Tags are reused: the pending event takes the next CDB line with its tag, no earlier.
    if (dev != nullptr && dev->pending.active &&
        (dev->pending.tag < 0 || m.tag < 0 || dev->pending.tag == m.tag)) {
        p = &dev->pending;
    } else if (dev == nullptr && last_event_device_ != no_device &&
               last_event_scsi_line_ + 1 == scsi_lines_ &&
               devices_[last_event_device_].pending.active) {
        dev = &devices_[last_event_device_];  // "CDB: 0x11 ..." right after its device's abort
        p = &dev->pending;
    } else if (host_abort_.active && host_abort_scsi_line_ + 1 == scsi_lines_) {
        p = &host_abort_;
        if (!m.device.empty()) {
            p->device = std::string(m.device);
        }
    } else {
        return;  // a completion's CDB line
    }
    const bool repeat =
        p->repeat || (p->maybe_repeat && dev != nullptr && dev->last_opcode == m.opcode);
    if (!repeat) {
        countNamed(*p, static_cast<unsigned char>(m.opcode));
    }
    if (dev != nullptr) {
        dev->last_address = p->address;
        dev->last_open = true;
        dev->last_opcode = m.opcode;
        dev->last_tag = p->tag;
    }
    *p = PendingEvent{};
}

}  // namespace scsi_timeouts_tool
