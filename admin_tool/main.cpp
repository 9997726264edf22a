#include <iostream>

#include "scsi_timeouts_tool.h"

int main(int argc, char** argv) {
    return scsi_timeouts_tool::runTool(argc, argv, std::cout, std::cerr);
}
