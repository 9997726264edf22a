// Test-only control of the stand-in libQrLib.so: seed and read values, see every store call,
// make the constructor or a chosen store call throw, hold a construction or a save at a known
// point, and switch on behaviours that other stores have. Not part of the platform library.
#pragma once

#include <functional>
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

// Empties the store and the call log, and cancels injected failures, holds and behaviours.
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
// The next construction runs `hook` first, outside the store's lock: a test can hold the first
// load there until the callers it wants to overlap with it have arrived.
void onConstruction(std::function<void()> hook);

// The points a save passes, in order: it holds the file's lock; it has made its temporary file;
// it has written and synced it; it has renamed it over the store file.
enum class SavePoint { None, Locked, TempCreated, TempWritten, Renamed };
// Every save that reaches `point` writes one byte to `fd` and then waits there forever, so that
// a test can kill the writer at a known point inside a save. None: no save waits.
void holdSave(SavePoint point, int fd = -1);

// Off by default. getString writes the number of characters it copied, without a NUL, back
// into *size.
void reportCopiedSize(bool on = true);
// Off by default. getString fills the whole buffer, without a NUL, when the text does not fit;
// by default it cuts the text one character shorter and ends it with a NUL.
void omitNulWhenCut(bool on = true);
// Off by default. getString copies a text that fits without a NUL after it, leaving the rest of
// the buffer as it was.
void omitNulWhenShort(bool on = true);
// getString returns `found` for a value that exists (default 1): the platform promises only
// non-zero. 0 would mean "not found" and is taken as 1.
void foundReturns(int found);
// Off by default. setString logs the call and returns 1, but stores nothing: a write that does
// not stick.
void dropWrites(bool on = true);

}  // namespace qrlib_stand_in
