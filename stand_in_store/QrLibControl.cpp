// The test controls: each takes the store's lock, as the store's own calls do.
#include "QrLibControl.h"

#include <utility>

#include "StandInState.h"

namespace qrlib_stand_in {

namespace {

template <typename Change>
void change(Change&& f) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    f(s);
}

}  // namespace

void reset() {
    change([](State& s) {
        s.store.clear();
        s.calls.clear();
        s.failing_constructions = 0;
        s.fail_at_call = 0;
        s.construction_hook = nullptr;
        s.save_hold = SavePoint::None;
        s.save_hold_fd = -1;
        s.report_copied_size = false;
        s.omit_nul_when_cut = false;
        s.omit_nul_when_short = false;
        s.drop_writes = false;
        s.found = 1;
    });
}

void seed(const std::string& key, const std::string& name, const std::string& text) {
    change([&](State& s) { s.store[key][name] = text; });
}

std::optional<std::string> value(const std::string& key, const std::string& name) {
    std::optional<std::string> out;
    change([&](State& s) {
        if (const std::string* text = ini::find(s.store, key, name)) {
            out = *text;
        }
    });
    return out;
}

std::vector<StoreCall> calls() {
    std::vector<StoreCall> out;
    change([&](State& s) { out = s.calls; });
    return out;
}

int constructions() {
    int n = 0;
    change([&](State& s) { n = s.constructions; });
    return n;
}

int liveObjects() {
    int n = 0;
    change([&](State& s) { n = s.live; });
    return n;
}

void failConstruction(int count) {
    change([&](State& s) { s.failing_constructions = count; });
}

void failStoreCall(int n) {
    change([&](State& s) { s.fail_at_call = n; });
}

void onConstruction(std::function<void()> hook) {
    change([&](State& s) { s.construction_hook = std::move(hook); });
}

void holdSave(SavePoint point, int fd) {
    change([&](State& s) {
        s.save_hold = point;
        s.save_hold_fd = fd;
    });
}

void reportCopiedSize(bool on) {
    change([&](State& s) { s.report_copied_size = on; });
}

void omitNulWhenCut(bool on) {
    change([&](State& s) { s.omit_nul_when_cut = on; });
}

void omitNulWhenShort(bool on) {
    change([&](State& s) { s.omit_nul_when_short = on; });
}

void dropWrites(bool on) {
    change([&](State& s) { s.drop_writes = on; });
}

void foundReturns(int found) {
    change([&](State& s) { s.found = found != 0 ? found : 1; });
}

}  // namespace qrlib_stand_in
