// A CDB line names the pending event it belongs to: a new event, or a further line of the
// command already named.
#include "event_pairing.h"
#include "log_text.h"

namespace scsi_timeouts_tool {

// The pending event a CDB line of `tag` names: the one of that tag, else one without a tag; the
// latest where the line has no tag.
EventPairing::PendingEvent* EventPairing::pendingFor(LogDevice& dev, long tag) {
    PendingEvent* found = nullptr;
    for (PendingEvent& p : dev.pending) {
        if (p.active && tag >= 0 && p.tag == tag) {
            return &p;
        }
        if (p.active && (tag < 0 || p.tag < 0) && (found == nullptr || p.line >= found->line)) {
            found = &p;
        }
    }
    return found;
}

void EventPairing::cdbLine(const Message& m) {
    LogDevice* dev = m.hctl.empty() ? nullptr : &devices_[device(m.hctl)];
    if (m.opcode < 0) {
        return;  // the rest of a long CDB, or damaged text
    }
    PendingEvent* p = dev != nullptr ? pendingFor(*dev, m.tag) : nullptr;
    NamedCommand* last = p != nullptr ? &dev->last : nullptr;
    if (p == nullptr && dev == nullptr && last_event_device_ != no_device &&
        last_event_scsi_line_ + 1 == scsi_lines_) {
        dev = &devices_[last_event_device_];  // "CDB: 0x11 ..." right after its device's abort
        p = pendingFor(*dev, -1);
        last = &dev->last;
    }
    if (p == nullptr && host_abort_.active && host_abort_scsi_line_ + 1 == scsi_lines_) {
        p = &host_abort_;
        last = &host_last_;
        if (!m.device.empty()) {
            p->device = keptField(m.device);
        }
    }
    if (p == nullptr) {
        if (dev != nullptr) {
            dev->last.open = false;  // another command's CDB line: a completion's
        }
        return;
    }
    name(*p, *last, m);
}

// A new event, or a further line of the command last named: the same address, or, without one,
// the same tag within one run of the error handler; and the same code either way.
void EventPairing::name(PendingEvent& p, NamedCommand& last, const Message& cdb) {
    const long tag = p.tag >= 0 ? p.tag : cdb.tag;
    const int opcode = cdb.opcode;
    bool repeat = false;
    if (p.follows_last && opcode == last.opcode) {
        repeat = p.same_address ||
                 ((p.address.empty() || last.address.empty()) && tagsAgree(tag, last.tag) &&
                  !apartMoreThan(p.time, last.time, error_handler_run_ms));
    }
    if (!repeat) {
        countNamed(p, opcode);
        last = NamedCommand{};
        last.opcode = opcode;
    }
    last.address = last.address.empty() ? p.address : last.address;
    last.tag = last.tag < 0 ? tag : last.tag;
    last.time = p.time.form != StampTime::None ? p.time : last.time;
    last.open = true;
    p = PendingEvent{};
}

}  // namespace scsi_timeouts_tool
