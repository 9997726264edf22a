// Reading and replacing the stand-in's store file. Several processes write the same file at once
// (each first lookup writes markers) while administrators edit it by hand. So a save re-reads the
// file under a lock, edits what it read, and puts the new file in place by rename: no edit is
// lost, and readers and crashes see whole files only.
//
// Only a regular file is ever opened or replaced. The character device 1,3 (the null device)
// means "keep nothing": it reads as empty and a save to it succeeds without writing, silently,
// since that is what whoever chose it asked for. Any other kind of file (a FIFO, a directory,
// another device) is left alone, and the save reports why and fails.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace qrlib_stand_in::file {

enum class ReadResult {
    Read,     // `content` holds the file; the null device reads as empty
    Missing,  // no file yet: it is created at the first save
    Failed,   // reported on stderr
};

ReadResult readFile(const char* path, std::string& content);

// Replaces the file at `path` (a symlink's target, where it lives) with edit(its content). The
// lock is held from the read to the rename; `delay` is spent between writing the new content and
// putting it in place. False when nothing was saved, reported on stderr with the path and why.
bool save(const char* path, const std::function<std::string(const std::string&)>& edit,
          std::chrono::microseconds delay);

}  // namespace qrlib_stand_in::file
