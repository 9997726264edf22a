// Reading and replacing the stand-in's store file. Several processes write the same file at once
// (each first lookup writes markers) while administrators edit it by hand. So a save re-reads the
// file under a lock, edits what it read, and puts the new file in place by rename: no edit is
// lost, and readers and crashes see whole files only.
//
// Only a regular file with one name is ever opened or replaced. The character device 1,3 (the
// null device) means "keep nothing": it reads as empty and a save to it succeeds without writing,
// silently, since that is what whoever chose it asked for. Any other kind of file (a FIFO, a
// directory, another device) is left alone: reading it fails, and so does a save, saying why. A
// file with hard links is read but never replaced, since the rename would part it from its other
// names, which would keep the old content.
#pragma once

#include <functional>
#include <string>

#include "QrLibControl.h"

namespace qrlib_stand_in::file {

// True with the content (the null device reads as empty); false when there is no file yet (it is
// created at the first save). Any other failure throws std::runtime_error, whose what() is one
// line naming the file and the reason: a store that cannot read its file has failed.
bool readFile(const char* path, std::string& content);

// Replaces the file at `path` (a symlink's target, where it lives) with edit(its content). The
// lock is held from the read to the rename; `reached` is told each point of the save as it gets
// there. While it holds the lock, a save removes the temporary files that killed saves of this
// file left, where they are this user's. False when the save failed, reported on stderr with the
// path and why; also when the new file is in place but its folder could not be synced, as a crash
// could then still lose it.
bool save(const char* path, const std::function<std::string(const std::string&)>& edit,
          const std::function<void(SavePoint)>& reached);

}  // namespace qrlib_stand_in::file
