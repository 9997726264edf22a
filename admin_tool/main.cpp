#include <unistd.h>

#include <iostream>

#include "scsi_timeouts_tool.h"

int main(int argc, char** argv) {
    scsi_timeouts_tool::FdOutput standard_output(STDOUT_FILENO);
    std::ostream out(&standard_output);
    return scsi_timeouts_tool::runTool(argc, argv, out, std::cerr);
}
