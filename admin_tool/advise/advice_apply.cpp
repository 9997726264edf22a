#include <sstream>

#include "advice_views.h"
#include "json_bytes.h"

namespace scsi_timeouts_tool {

namespace {

// What set printed, as one line without its program name.
std::string oneLine(std::string text) {
    const std::string program = "scsi-timeouts: ";
    if (text.compare(0, program.size(), program) == 0) {
        text.erase(0, program.size());
    }
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::string joined(const std::vector<const Advice*>& advice) {
    std::string out;
    for (const Advice* a : advice) {
        out += out.empty() ? "" : ", ";
        out += a->value.value;
    }
    return out.empty() ? "none" : out;
}

}  // namespace

int applyAdvice(const Arguments& args, const std::vector<Advice>& advice, Streams io,
                nlohmann::ordered_json& applied) {
    std::vector<const Advice*> proposals;
    for (const Advice& a : advice) {
        if (isProposal(a)) {
            proposals.push_back(&a);
        }
    }
    if (!args.json && !proposals.empty()) {
        io.out << "store: " << storeDescription() << '\n';
    }
    for (std::size_t i = 0; i < proposals.size(); ++i) {
        Arguments set;
        set.dry_run = args.dry_run;
        set.how_to_read_back = args.how_to_read_back;
        set.operands = setCommand(*proposals[i]);
        set.operands.erase(set.operands.begin());  // the program name
        std::ostringstream out;
        std::ostringstream err;
        if (runWrite(set, true, Streams{out, err}) != exit_clean) {
            const auto stop = proposals.begin() + static_cast<std::ptrdiff_t>(i);
            io.err << "scsi-timeouts: advise --apply stopped at " << proposals[i]->value.value
                   << ": " << oneLine(err.str())
                   << "; applied: " << joined({proposals.begin(), stop})
                   << "; not applied: " << joined({stop, proposals.end()}) << '\n';
            return exit_usage;
        }
        // set's last line is its result; the store line before it is printed once, above.
        std::string line = oneLine(out.str());
        line.erase(0, line.rfind('\n') + 1);
        applied.push_back({{"name", proposals[i]->value.value}, {"result", bytesJson(line)}});
        if (!args.json) {
            io.out << (args.dry_run ? "would apply: " : "applied: ") << line << '\n';
        }
    }
    return exit_findings;
}

}  // namespace scsi_timeouts_tool
