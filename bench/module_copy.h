// A private copy of the module, compiled into benchmark programs only, so that the load can be
// run again and again; the shipped library exports nothing for it.
#pragma once

// Empties the stand-in store and gives it the install entry, so the next load rewrites.
void freshRegistry();
// One full load, as the first lookup in a fresh process makes it.
void loadOnce();
