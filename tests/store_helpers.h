// What the tests ask of the stand-in store's call log.
#pragma once

#include <QrLibControl.h>

#include <string>
#include <vector>

namespace st = qrlib_stand_in;

inline std::vector<st::StoreCall> callsOf(st::StoreCall::Kind kind, const std::string& key) {
    std::vector<st::StoreCall> out;
    for (const st::StoreCall& c : st::calls()) {
        if (c.kind == kind && c.key == key) {
            out.push_back(c);
        }
    }
    return out;
}

inline std::size_t reads() {
    return callsOf(st::StoreCall::Get, "ScsiTimeouts").size();
}
inline std::size_t probes() {
    return callsOf(st::StoreCall::Get, "Base").size();
}
inline std::size_t writes() {
    return callsOf(st::StoreCall::Set, "ScsiTimeouts").size();
}

inline void installProbe() {
    st::seed("Base", "vARURAROD", "1");
}
