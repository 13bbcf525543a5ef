// The temporary files results are written into before they are renamed over
// their targets, listed where a signal handler can reach them: a signal that
// ends the program at once (SIGTERM, SIGHUP) removes them first, so that no
// ".NAME.XXXXXX" is left beside the target.
#pragma once

namespace diffusim {

// Lists `path` until it is forgotten: the slot to forget it by, or -1 when
// the list is full or the path too long (the file is then not listed).
int rememberTemporary(const char* path);
void forgetTemporary(int slot);

// Removes every listed file. Async-signal-safe: only atomics and unlink.
void removeTemporaries();

}  // namespace diffusim
