// The JSON views, through nlohmann-json: keys in the order they are documented, and any stored
// bytes as valid JSON.
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "json_bytes.h"
#include "scsi_commands.h"
#include "views.h"

namespace scsi_timeouts_tool {

using Json = nlohmann::ordered_json;

Json bytesJson(std::string_view bytes) {
    Json text = std::string(bytes);
    try {
        static_cast<void>(text.dump());  // refuses what is not well-formed UTF-8
        return text;
    } catch (const Json::type_error&) {
        Json values = Json::array();
        for (const char c : bytes) {
            values.push_back(static_cast<unsigned char>(c));
        }
        return values;
    }
}

namespace {

Json storedJson(const char* stored) {
    return stored != nullptr ? bytesJson(stored) : Json(nullptr);
}

Json storedJson(const ValueReport& v) {
    return storedJson(v.found ? v.stored : nullptr);
}

Json textOrNull(const char* text) {
    return text != nullptr ? Json(text) : Json(nullptr);
}

Json checkValue(const ValueReport& v) {
    Json warnings = Json::array();
    for (const Warning w : all_warnings) {
        if ((v.warnings & w) != 0) {
            warnings.push_back(warningText(w, v));
        }
    }
    char marker[qst::value_size];
    if (v.repaired) {
        qst::formatMarker(marker, v.def);
    }
    return {{"name", v.name},
            {"stored", storedJson(v)},
            {"timeout", v.decision.timeout > 0 ? Json(v.decision.timeout) : Json()},
            {"repair", textOrNull(v.repaired ? marker : nullptr)},
            {"reason", textOrNull(shownReason(v))},
            {"warnings", warnings}};
}

}  // namespace

void showJson(std::ostream& out, const RegistryReport& report,
              const std::vector<unsigned char>& opcodes) {
    Json table = Json::array();
    for (const unsigned char opcode : opcodes) {
        const ValueReport& v = sourceValue(report, opcode);
        table.push_back({{"opcode", opcode},
                         {"timeout", report.table[opcode]},
                         {"source", v.name},
                         {"stored", storedJson(v)},
                         {"command", textOrNull(commandName(opcode))}});
    }
    out << Json{{"table", table}}.dump(2) << '\n';
}

void checkJson(std::ostream& out, const RegistryReport& report,
               const std::vector<Misspelled>& misspelled) {
    Json values = Json::array();
    for (const ValueReport& v : report.values) {
        values.push_back(checkValue(v));
    }
    Json wrong_names = Json::array();
    for (const Misspelled& m : misspelled) {
        wrong_names.push_back({{"name", storedJson(m.name.c_str())},
                               {"stored", storedJson(m.stored.c_str())},
                               {"meant", m.meant}});
    }
    out << Json{{"store", storeDescription()},
                {"install_entry", report.install_entry},
                {"values", values},
                {"misspelled", wrong_names}}
               .dump(2)
        << '\n';
}

}  // namespace scsi_timeouts_tool
