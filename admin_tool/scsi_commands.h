// The T10 names of SCSI operation codes, for what tape drives and medium changers receive: the
// primary commands (SPC), sequential-access (SSC) and medium-changer (SMC) commands. Only the
// administrator's tool needs them; the library stays without.
#pragma once

#include <cstddef>

namespace scsi_timeouts_tool {

struct CommandName {
    unsigned char opcode;
    const char* name;
};

// In opcode order. A code that SSC and SMC (or SPC and SMC) name differently has a row for each;
// a code with no row has no name.
inline constexpr CommandName command_names[] = {
    {0x00, "TEST UNIT READY"},
    {0x01, "REWIND"},
    {0x03, "REQUEST SENSE"},
    {0x04, "FORMAT MEDIUM"},
    {0x05, "READ BLOCK LIMITS"},
    {0x07, "INITIALIZE ELEMENT STATUS"},
    {0x08, "READ(6)"},
    {0x0A, "WRITE(6)"},
    {0x0B, "SET CAPACITY"},
    {0x0F, "READ REVERSE(6)"},
    {0x10, "WRITE FILEMARKS(6)"},
    {0x11, "SPACE(6)"},
    {0x12, "INQUIRY"},
    {0x13, "VERIFY(6)"},
    {0x14, "RECOVER BUFFERED DATA"},
    {0x15, "MODE SELECT(6)"},
    {0x16, "RESERVE(6)"},
    {0x17, "RELEASE(6)"},
    {0x19, "ERASE(6)"},
    {0x1A, "MODE SENSE(6)"},
    {0x1B, "LOAD UNLOAD"},
    {0x1B, "OPEN/CLOSE IMPORT/EXPORT ELEMENT"},
    {0x1C, "RECEIVE DIAGNOSTIC RESULTS"},
    {0x1D, "SEND DIAGNOSTIC"},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL"},
    {0x2B, "LOCATE(10)"},
    {0x2B, "POSITION TO ELEMENT"},
    {0x34, "READ POSITION"},
    {0x37, "INITIALIZE ELEMENT STATUS WITH RANGE"},
    {0x3B, "WRITE BUFFER"},
    {0x3C, "READ BUFFER"},
    {0x44, "REPORT DENSITY SUPPORT"},
    {0x4C, "LOG SELECT"},
    {0x4D, "LOG SENSE"},
    {0x55, "MODE SELECT(10)"},
    {0x56, "RESERVE(10)"},
    {0x57, "RELEASE(10)"},
    {0x5A, "MODE SENSE(10)"},
    {0x5E, "PERSISTENT RESERVE IN"},
    {0x5F, "PERSISTENT RESERVE OUT"},
    {0x80, "WRITE FILEMARKS(16)"},
    {0x81, "READ REVERSE(16)"},
    {0x82, "ALLOW OVERWRITE"},
    {0x86, "ACCESS CONTROL IN"},
    {0x87, "ACCESS CONTROL OUT"},
    {0x88, "READ(16)"},
    {0x8A, "WRITE(16)"},
    {0x8C, "READ ATTRIBUTE"},
    {0x8D, "WRITE ATTRIBUTE"},
    {0x8F, "VERIFY(16)"},
    {0x91, "SPACE(16)"},
    {0x92, "LOCATE(16)"},
    {0x93, "ERASE(16)"},
    {0xA0, "REPORT LUNS"},
    {0xA2, "SECURITY PROTOCOL IN"},
    {0xA3, "MAINTENANCE IN"},
    {0xA4, "MAINTENANCE OUT"},
    {0xA5, "MOVE MEDIUM"},
    {0xA6, "EXCHANGE MEDIUM"},
    {0xB5, "SECURITY PROTOCOL OUT"},
    {0xB5, "REQUEST VOLUME ELEMENT ADDRESS"},
    {0xB6, "SEND VOLUME TAG"},
    {0xB8, "READ ELEMENT STATUS"},
};
inline constexpr std::size_t command_name_count = sizeof command_names / sizeof command_names[0];

// What the kernel's log calls these codes: its name table ignores the device type, so tape and
// changer commands get disk names. Each is accepted as a name of its code.
struct KernelName {
    unsigned char opcode;
    const char* name;     // as the kernel prints it
    const char* command;  // what the code is on `device`
    const char* device;
};

inline constexpr KernelName kernel_names[] = {
    {0x01, "Rezero Unit/Rewind", "REWIND", "tape drives"},
    {0x04, "Format Unit/Medium", "FORMAT MEDIUM", "tape drives"},
    {0x07, "Reassign Blocks", "INITIALIZE ELEMENT STATUS", "medium changers"},
    {0x0B, "Seek(6)", "SET CAPACITY", "tape drives"},
    {0x1B, "Start/Stop Unit", "LOAD UNLOAD", "tape drives"},
    {0x2B, "Seek(10)", "LOCATE(10)", "tape drives"},
    {0x34, "Prefetch/Read Position", "READ POSITION", "tape drives"},
    {0x37, "Read Defect Data(10)", "INITIALIZE ELEMENT STATUS WITH RANGE", "medium changers"},
    {0x8C, "Read attributes", "READ ATTRIBUTE", "tape drives and changers"},
    {0x8D, "Write attributes", "WRITE ATTRIBUTE", "tape drives and changers"},
    {0x91, "Synchronize cache(16)", "SPACE(16)", "tape drives"},
    {0x92, "Lock/unlock cache(16)", "LOCATE(16)", "tape drives"},
    {0x93, "Write same(16)", "ERASE(16)", "tape drives"},
    {0xA5, "Move medium/play audio(12)", "MOVE MEDIUM", "medium changers"},
};

// The names of `opcode` joined by " / " ("LOCATE(10) / POSITION TO ELEMENT"), or nullptr.
const char* commandName(unsigned char opcode);

}  // namespace scsi_timeouts_tool
