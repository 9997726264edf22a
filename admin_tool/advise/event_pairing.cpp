#include "event_pairing.h"

#include "log_text.h"

namespace scsi_timeouts_tool {

namespace {

constexpr std::size_t max_devices = 256;

}  // namespace

void EventPairing::startFile(int file) {
    finish();
    devices_.clear();  // a command never pairs across files
    host_last_ = NamedCommand{};
    file_ = file;
    line_ = 0;
}

void EventPairing::finish() {
    for (LogDevice& d : devices_) {
        settleDevice(d);
        d.last.open = false;
    }
    settle(host_abort_);
    host_last_.open = false;
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
    const std::size_t known = m.hctl.empty() ? no_device : knownDevice(m.hctl);
    if (known != no_device && devices_[known].timing_out.active) {
        PendingEvent& t = devices_[known].timing_out;
        if (m.kind == MessageKind::TimedOutResult && tagsAgree(t.tag, m.tag)) {
            t = PendingEvent{};  // the FAILED pair that follows names the same command
        } else {
            settle(t);
        }
    }
    switch (m.kind) {
        case MessageKind::Cdb:
            cdbLine(m);
            break;
        case MessageKind::CdbHead:
            if (!m.hctl.empty()) {
                device(m.hctl);
            }
            // The CDB's bytes follow on "CDB[00]:": the turn of what came right before goes on.
            host_abort_scsi_line_ += host_abort_scsi_line_ + 1 == scsi_lines_ ? 1 : 0;
            last_event_scsi_line_ += last_event_scsi_line_ + 1 == scsi_lines_ ? 1 : 0;
            break;
        case MessageKind::TimingOut:
            timingOut(m, place);
            break;
        case MessageKind::StTimedOut:
            stTimedOut(m, place);
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
            if (!m.hctl.empty()) {
                deviceEvent(device(m.hctl), m, place);
            }
            break;
        case MessageKind::NotScsi:
        case MessageKind::Other:
            break;
    }
}

std::size_t EventPairing::knownDevice(std::string_view hctl) const {
    const std::string_view kept = cutText(hctl, max_field);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].hctl == kept) {
            return i;
        }
    }
    return no_device;
}

std::size_t EventPairing::device(std::string_view hctl) {
    std::size_t d = knownDevice(hctl);
    if (d == no_device && devices_.size() < max_devices) {
        devices_.emplace_back();
        d = devices_.size() - 1;
        devices_[d].hctl = keptField(hctl);
    } else if (d == no_device) {
        d = 0;
        for (std::size_t i = 1; i < devices_.size(); ++i) {
            d = devices_[i].seen < devices_[d].seen ? i : d;
        }
        // last_event_device_ may still point here; it counts only for the very next line, and
        // this line is not that.
        settleDevice(devices_[d]);
        devices_[d] = LogDevice{};
        devices_[d].hctl = keptField(hctl);
    }
    devices_[d].seen = line_;
    return d;
}

void EventPairing::settle(PendingEvent& p) {
    if (p.active && !p.same_address) {
        countUnnamed(p.file, p.line, p.device, p.text, p.cursor);
    }
    p = PendingEvent{};
}

void EventPairing::settleDevice(LogDevice& dev) {
    for (PendingEvent& p : dev.pending) {
        settle(p);
    }
    settle(dev.timing_out);
}

void EventPairing::countUnnamed(int file, uint64_t line, std::string_view device,
                                std::string_view text, std::string_view cursor) {
    addUnnamed(findings_, {file, line, keptField(device), excerpt(text), std::string(cursor)});
}

void EventPairing::countNamed(const PendingEvent& p, int opcode) {
    LogEvent e;
    e.file = p.file;
    e.line = p.line;
    e.opcode = static_cast<unsigned char>(opcode);
    e.device = p.device;
    e.timestamp = p.timestamp;
    e.cursor = p.cursor;
    e.timeout_ms = p.timeout_ms;
    e.cmd_age_ms = p.cmd_age_ms;
    addEvent(findings_, std::move(e));
}

void EventPairing::startPending(PendingEvent& p, const Message& m,
                                const MessagePlace& place) const {
    p = PendingEvent{};
    p.active = true;
    p.file = file_;
    p.line = line_;
    p.tag = m.tag;
    p.device = keptField(m.device);
    p.timestamp = keptField(place.timestamp);
    p.time = stampTime(p.timestamp);
    p.text = excerpt(m.text);
    p.address = keptField(m.address);
    p.cursor = std::string(place.cursor);
    p.timeout_ms = m.timeout_ms;
    p.cmd_age_ms = m.cmd_age_ms;
}

void EventPairing::timingOut(const Message& m, const MessagePlace& place) {
    if (m.hctl.empty()) {
        countUnnamed(file_, line_, m.device, m.text, place.cursor);
        return;
    }
    startPending(devices_[device(m.hctl)].timing_out, m, place);
}

// st's error line ends the command just named on its device: counted once, as that event.
void EventPairing::stTimedOut(const Message& m, const MessagePlace& place) {
    const std::size_t d = m.hctl.empty() ? no_device : knownDevice(m.hctl);
    if (d != no_device) {
        NamedCommand& last = devices_[d].last;
        if (last.open && !apartMoreThan(last.time, stampTime(cutText(place.timestamp, max_field)),
                                        error_handler_run_ms)) {
            last.open = false;
            return;
        }
    }
    countUnnamed(file_, line_, m.device, m.text, place.cursor);
}

void EventPairing::hostAbort(const Message& m, const MessagePlace& place) {
    if (host_abort_.active && !m.address.empty() && host_abort_.address == m.address) {
        return;  // the same abort again before its CDB line
    }
    settle(host_abort_);
    startPending(host_abort_, m, place);
    host_abort_.device = "mptscsih " + host_abort_.device;
    host_abort_.follows_last = host_last_.open;
    host_abort_.same_address =
        host_last_.open && !m.address.empty() && host_last_.address == host_abort_.address;
    host_last_.open = false;
    host_abort_scsi_line_ = scsi_lines_;
}

// A completion ends the wait of its tag's pending events, and of those without a tag: the CDB
// line that follows is the completion's.
void EventPairing::completion(LogDevice& dev, const Message& m) {
    for (PendingEvent& p : dev.pending) {
        if (p.active && (m.tag < 0 || p.tag < 0 || p.tag == m.tag)) {
            settle(p);
        }
    }
    dev.last.open = false;
}

// Where a new event of a device waits: in place of one of its tag, else in a free place, else in
// place of the oldest. Null for the same abort again before its CDB line.
EventPairing::PendingEvent* EventPairing::slotFor(LogDevice& dev, const Message& m) {
    PendingEvent* slot = nullptr;
    for (PendingEvent& p : dev.pending) {
        if (p.active && !m.address.empty() && p.address == cutText(m.address, max_field)) {
            return nullptr;
        }
        slot = p.active && p.tag == m.tag ? &p : slot;
    }
    for (PendingEvent& p : dev.pending) {
        slot = slot != nullptr || p.active ? slot : &p;
    }
    if (slot == nullptr) {
        slot = dev.pending.data();
        for (PendingEvent& p : dev.pending) {
            slot = p.line < slot->line ? &p : slot;
        }
    }
    return slot;
}

// A timed-out command on a device, waiting for its CDB line; or a completion.
void EventPairing::deviceEvent(std::size_t d, const Message& m, const MessagePlace& place) {
    LogDevice& dev = devices_[d];
    if (m.kind == MessageKind::Completion) {
        completion(dev, m);
        return;
    }
    PendingEvent* slot = slotFor(dev, m);
    if (slot == nullptr) {
        return;
    }
    settle(*slot);
    startPending(*slot, m, place);
    slot->follows_last = dev.last.open;
    slot->same_address =
        dev.last.open && !slot->address.empty() && slot->address == dev.last.address;
    dev.last.open = false;
    last_event_device_ = d;
    last_event_scsi_line_ = scsi_lines_;
}

}  // namespace scsi_timeouts_tool
