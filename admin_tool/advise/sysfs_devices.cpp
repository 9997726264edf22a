// /sys/class/scsi_generic and /sys/class/scsi_tape, read as plain files and links.
#include "sysfs_devices.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace scsi_timeouts_tool {

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return out;
    }
    while (const dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') {
            out.emplace_back(e->d_name);
        }
    }
    ::closedir(d);
    return out;
}

// "sg10" after "sg9".
bool byNumber(const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

}  // namespace

std::string hostRoot() {
    const char* root = std::getenv("SCSI_TIMEOUTS_TEST_ROOT");
    return root != nullptr ? root : "";
}

std::vector<SgNode> scsiGenericNodes(const std::string& sys) {
    std::vector<std::string> names = entries(sys + "/class/scsi_generic");
    std::sort(names.begin(), names.end(), byNumber);
    std::vector<SgNode> out;
    for (const std::string& name : names) {
        SgNode node{name, -1, ""};
        std::string file = sys;
        file += "/class/scsi_generic/";
        file += name;
        file += "/device/type";
        std::ifstream in(file);
        int type = -1;
        if (!in) {
            node.problem = "cannot read " + file + ": " + std::strerror(errno);
        } else if (!(in >> type) || type < 0 || type > 31) {
            node.problem = "cannot read " + file + ": not a peripheral device type";
        } else {
            node.type = type;
        }
        out.push_back(node);
    }
    return out;
}

bool isTapeOrChanger(const SgNode& node) {
    return node.type == 1 || node.type == 8;
}

std::string hctlOf(const std::string& sys, const std::string& sg_name) {
    const std::string link = sys + "/class/scsi_generic/" + sg_name + "/device";
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) {
        return "";
    }
    const std::string path(target, static_cast<std::size_t>(n));
    std::string hctl = path.substr(path.rfind('/') + 1);
    const bool shaped = std::count(hctl.begin(), hctl.end(), ':') == 3 &&
                        hctl.find_first_not_of("0123456789:") == std::string::npos;
    return shaped ? hctl : "";
}

std::string sgOfTape(const std::string& sys, const std::string& tape_name) {
    const std::vector<std::string> sg =
        entries(sys + "/class/scsi_tape/" + tape_name + "/device/scsi_generic");
    return sg.size() == 1 ? sg.front() : "";
}

}  // namespace scsi_timeouts_tool
