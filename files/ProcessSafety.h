#pragma once

// Keeps the secrets in this process's memory (passphrases, keys, decoded voice models) out of
// core dumps: no core file is written for the process, and on Linux other processes of the
// same user may not attach to it or read its memory through /proc.

namespace quorvane {

// Called first thing by each program. Returns false when the system refused (the program
// goes on: the limit is a precaution, not a condition).
bool DisableCoreDumps();

}  // namespace quorvane
