// Test-only control of the stand-in libQrLib.so: seed and read values, see every store call,
// and make the constructor or a chosen store call throw. Not part of the platform library.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qrlib_stand_in {

struct StoreCall {
    enum Kind { Get, Set } kind;
    std::string key;
    std::string name;
    int size;          // the size passed in (by address for Get, by value for Set)
    std::string text;  // Set: the text written
};

// Empties the store and the call log, and cancels injected failures and delays.
void reset();
void seed(const std::string& key, const std::string& name, const std::string& text);
std::optional<std::string> value(const std::string& key, const std::string& name);
std::vector<StoreCall> calls();

int constructions();  // constructor calls that returned normally
int liveObjects();    // QrPlatformInfo objects constructed and not yet destroyed

// The next `count` constructions throw std::runtime_error.
void failConstruction(int count = 1);
// The n-th store call (getString or setString) from now, counting from 1, throws
// std::runtime_error once.
void failStoreCall(int n);
// Each construction sleeps this long first, so that concurrent callers surely overlap.
void delayConstruction(std::chrono::microseconds delay);

}  // namespace qrlib_stand_in
