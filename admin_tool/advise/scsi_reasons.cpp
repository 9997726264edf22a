// What a device's failures mean, in words: sense data, a node that is not a SCSI generic node,
// an open that failed.
#include <grp.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "scsi_device.h"

namespace scsi_timeouts_tool {

namespace {

constexpr unsigned sg_major = 21;
constexpr unsigned st_major = 9;

const char* const sense_keys[16] = {
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "sense key 0x0C", "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};

}  // namespace

std::string scsiByte(int v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v & 0xFF);
    return text;
}

std::string senseText(const std::vector<unsigned char>& sense, int& key, int& asc) {
    key = -1;
    asc = 0;
    int ascq = 0;
    const int code = sense.empty() ? 0 : sense[0] & 0x7F;
    if ((code == 0x70 || code == 0x71) && sense.size() >= 3) {
        key = sense[2] & 0x0F;
        asc = sense.size() > 12 ? sense[12] : 0;
        ascq = sense.size() > 13 ? sense[13] : 0;
    } else if ((code == 0x72 || code == 0x73) && sense.size() >= 4) {
        key = sense[1] & 0x0F;
        asc = sense[2];
        ascq = sense[3];
    } else {
        return "CHECK CONDITION without sense data that can be read";
    }
    std::string out = sense_keys[key];
    if (key == 5 && asc == 0x20 && ascq == 0) {
        out += ", invalid command operation code";
    } else if (key == 5 && asc == 0x24 && ascq == 0) {
        out += ", invalid field in CDB";
    } else if (key == 2 && asc == 0x04) {
        out += ", logical unit not ready";
    } else if (key == 2 && asc == 0x3A) {
        out += ", medium not present";
    }
    return out + " (ASC/ASCQ " + scsiByte(asc) + "/" + scsiByte(ascq) + ")";
}

std::string nodeProblem(const struct stat& st) {
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) == sg_major) {
        return "";
    }
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) == st_major) {
        return "a tape node, not a SCSI generic node (/dev/sgN)";
    }
    const char* what = S_ISREG(st.st_mode)   ? "a regular file"
                       : S_ISDIR(st.st_mode) ? "a folder"
                       : S_ISBLK(st.st_mode) ? "a block device"
                       : S_ISCHR(st.st_mode) ? "another character device"
                                             : "not a device";
    return std::string("not a SCSI generic node (/dev/sgN): ") + what;
}

std::string openProblem(int error, const struct stat& st) {
    if (error == EACCES || error == EPERM) {
        const group* g = ::getgrgid(st.st_gid);
        const std::string name = g != nullptr ? g->gr_name : std::to_string(st.st_gid);
        return "permission denied: it belongs to group " + name + " (mode " +
               std::to_string((st.st_mode >> 6) & 7) + std::to_string((st.st_mode >> 3) & 7) +
               std::to_string(st.st_mode & 7) + "): add the user to group " + name +
               ", or run as root";
    }
    if (error == EBUSY) {
        return "busy: another program holds it exclusively; try again when it is done";
    }
    if (error == ENXIO || error == ENODEV) {
        return "no device behind it (removed, or its driver is gone)";
    }
    if (error == ENOENT) {
        return "no such device node";
    }
    return std::string("cannot open it: ") + std::strerror(error);
}

}  // namespace scsi_timeouts_tool
