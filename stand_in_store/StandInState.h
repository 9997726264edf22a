// The stand-in's process-wide state, shared by the store and its test controls.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "IniText.h"
#include "QrLibControl.h"

namespace qrlib_stand_in {

struct State {
    std::mutex mutex;
    ini::Values store;
    std::vector<StoreCall> calls;
    int constructions = 0;
    int live = 0;
    int failing_constructions = 0;
    int fail_at_call = 0;                     // 0: none
    std::function<void()> construction_hook;  // run once, by the next construction
    SavePoint save_hold = SavePoint::None;
    int save_hold_fd = -1;
    bool report_copied_size = false;
    bool omit_nul_when_cut = false;
    bool omit_nul_when_short = false;
    bool drop_writes = false;
    int found = 1;                   // what getString returns for a value that exists
    std::set<std::string> reported;  // unreadable lines already told about, by file
};

State& state();

}  // namespace qrlib_stand_in
