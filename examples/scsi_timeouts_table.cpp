// Prints the timeout for each operation code on the command line (hex with 0x, octal with 0,
// or decimal), or the whole table with the command names it knows. The first lookup loads the
// registry, and with it writes the default markers; scsi-timeouts looks without writing.
#include <QrScsiTimeouts.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Named {
    unsigned char opcode;
    const char* name;
};

constexpr Named known_commands[] = {
    {0x01, "REWIND"},
    {0x07, "INITIALIZE_ELEMENT_STATUS"},
    {0x08, "READ"},
    {0x0A, "WRITE"},
    {0x0C, "SEEK_BLOCK"},
    {0x10, "WRITE_FILEMARKS"},
    {0x11, "SPACE"},
    {0x12, "INQUIRY"},
    {0x13, "VERIFY"},
    {0x16, "RESERVE"},
    {0x19, "ERASE"},
    {0x1A, "MODE_SENSE"},
    {0x1B, "LOAD"},
    {0x37, "INITIALIZE_ELEMENT_STATUS_WITH_RANGE"},
    {0xA5, "MOVE_MEDIUM"},
    {0xB8, "READ_ELEMENT_STATUS"},
    {0xE7, "INITIALIZE_ELEMENT_STATUS_WITH_RANGE_E7"},
};

const char* commandName(unsigned opcode) {
    for (const Named& c : known_commands) {
        if (c.opcode == opcode) {
            return c.name;
        }
    }
    return "";
}

void printEntry(unsigned opcode) {
    std::printf("0x%02X  %6d  %s\n", opcode, static_cast<int>(getScsiTimeout(opcode)),
                commandName(opcode));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("usage: %s [OPCODE...]  (0..255: hex 0x.., octal 0.. or decimal)\n", argv[0]);
        return 0;
    }
    if (argc == 1) {
        for (unsigned opcode = 0; opcode < 256; ++opcode) {
            printEntry(opcode);
        }
        return 0;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        // strtoul takes a sign and white space, and wraps a negative number round: only digits.
        char* end = nullptr;
        const bool digits = std::isdigit(static_cast<unsigned char>(argv[i][0])) != 0;
        const unsigned long opcode = digits ? std::strtoul(argv[i], &end, 0) : 0;
        if (!digits || *end != '\0' || opcode > 0xFF) {
            std::fprintf(stderr, "not an operation code (0..255): %s\n", argv[i]);
            status = 2;
            continue;
        }
        printEntry(static_cast<unsigned>(opcode));
    }
    return status;
}
