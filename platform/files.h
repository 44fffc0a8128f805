// Replacing a file safely: the new content is written to a temporary file beside the target, brought to
// the disk, and then put in the target's place in one step.
// POSIX implementation in files_posix.cc, Windows in files_win32.cc.
#pragma once

#include <cstdio>

// Flushes file's buffers and asks the system to put its content on the disk. 1 on success, 0 on failure.
int sync_file(std::FILE* file);

// Puts the file temporary in the place of target, replacing any file there, in one step: target holds
// either its old or its new content, never a mix. 1 on success, 0 on failure (both files unchanged).
int replace_file(const char* temporary, const char* target);
