#include "scsi_commands.h"

#include <array>
#include <string>

namespace scsi_timeouts_tool {

namespace {

// Close matches at equal distance come in the table's order, which is the codes' order.
constexpr bool inOpcodeOrder() {
    for (std::size_t i = 1; i < command_name_count; ++i) {
        if (command_names[i].opcode < command_names[i - 1].opcode) {
            return false;
        }
    }
    return true;
}
static_assert(inOpcodeOrder(), "command_names must be in opcode order");

const std::array<std::string, 256>& joinedNames() {
    static const std::array<std::string, 256> joined = [] {
        std::array<std::string, 256> out;
        for (const CommandName& row : command_names) {
            std::string& text = out[row.opcode];
            text += text.empty() ? "" : " / ";
            text += row.name;
        }
        return out;
    }();
    return joined;
}

}  // namespace

const char* commandName(unsigned char opcode) {
    const std::string& text = joinedNames()[opcode];
    return text.empty() ? nullptr : text.c_str();
}

}  // namespace scsi_timeouts_tool
