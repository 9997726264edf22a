// libsgutils2's pass-through (SG_IO on Linux): the one place a request leaves the tool.
#include "sg_transport.h"

#include <scsi/sg_cmds_basic.h>
#include <scsi/sg_pt.h>

#include <cstring>
#include <memory>

namespace scsi_timeouts_tool {

namespace {

struct PtCloser {
    void operator()(sg_pt_base* p) const { destruct_scsi_pt_obj(p); }
};

constexpr int did_time_out = 0x03;  // the host's status for a command the mid-layer timed out

}  // namespace

bool SgTransport::open(const std::string& path, std::string& reason) {
    close();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = openProblem(errno, st);
        return false;
    }
    reason = nodeProblem(st);
    if (!reason.empty()) {
        return false;
    }
    // Read and write, without waiting: a node held exclusively answers EBUSY at once.
    const int fd = sg_cmds_open_device(path.c_str(), false, 0);
    if (fd < 0) {
        reason = openProblem(-fd, st);
        return false;
    }
    fd_ = fd;
    return true;
}

ScsiResult SgTransport::send(const ScsiRequest& request) {
    ScsiResult r;
    const std::unique_ptr<sg_pt_base, PtCloser> pt(construct_scsi_pt_obj());
    if (!pt) {
        r.error = "out of memory";
        return r;
    }
    unsigned char sense[64] = {};
    set_scsi_pt_cdb(pt.get(), request.cdb.data(), static_cast<int>(request.cdb_size));
    set_scsi_pt_sense(pt.get(), sense, sizeof sense);
    set_scsi_pt_data_in(pt.get(), request.data, static_cast<int>(request.size));
    const int rc = do_scsi_pt(pt.get(), fd_, request.timeout_s, 0);
    if (rc == SCSI_PT_DO_TIMEOUT) {
        r.kind = ScsiResult::Kind::TimedOut;
        return r;
    }
    if (rc != 0) {
        r.error = rc < 0 ? std::strerror(-rc) : "the pass-through refused the request";
        return r;
    }
    const int resid = get_scsi_pt_resid(pt.get());
    r.received = resid > 0 && static_cast<std::size_t>(resid) < request.size
                     ? request.size - static_cast<std::size_t>(resid)
                     : (resid > 0 ? 0 : request.size);
    char text[256] = {};
    switch (get_scsi_pt_result_category(pt.get())) {
        case SCSI_PT_RESULT_GOOD:
            r.kind = ScsiResult::Kind::Good;
            break;
        case SCSI_PT_RESULT_STATUS:
            r.kind = ScsiResult::Kind::OtherStatus;
            r.status = get_scsi_pt_status_response(pt.get());
            break;
        case SCSI_PT_RESULT_SENSE:
            r.kind = ScsiResult::Kind::CheckCondition;
            r.sense.assign(sense, sense + std::min<int>(get_scsi_pt_sense_len(pt.get()),
                                                        static_cast<int>(sizeof sense)));
            break;
        case SCSI_PT_RESULT_TRANSPORT_ERR:
            if ((get_scsi_pt_transport_err(pt.get()) & 0xFF) == did_time_out) {
                r.kind = ScsiResult::Kind::TimedOut;
            } else {
                r.error = get_scsi_pt_transport_err_str(pt.get(), sizeof text, text);
            }
            break;
        default:
            r.error = get_scsi_pt_os_err_str(pt.get(), sizeof text, text);
            break;
    }
    return r;
}

void SgTransport::close() {
    if (fd_ >= 0) {
        sg_cmds_close_device(fd_);
        fd_ = -1;
    }
}

}  // namespace scsi_timeouts_tool
