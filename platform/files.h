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

#include <string>

// Makes the folder when it is missing. 1 when the folder exists afterwards, else 0 with the reason in
// words (a file in the folder's place, no permission, ...).
int make_folder(const char* path, std::string& reason);

// Creates a new file with a unique name in folder, open for binary writing; path receives its name.
// nullptr on failure, with the reason in words.
std::FILE* create_unique_file(const char* folder, const char* prefix, std::string& path,
                              std::string& reason);

// Puts the file temporary under the name target, but only when no file has that name: 1 when done,
// -1 when target exists (both unchanged), 0 on any other failure with the reason in words.
int place_new_file(const char* temporary, const char* target, std::string& reason);

// Creates an empty file at path, but only when no file of that name exists, in one step of the file
// system (O_EXCL, CREATE_NEW): of several processes that try the same name at once, exactly one gets 1.
// -1 when the name was taken, 0 on any other failure with the reason in words.
int create_new_file(const char* path, std::string& reason);

// Whether a file or folder of that name exists.
bool path_exists(const char* path);

// Whether the file can be read: 1 yes, 0 there is no such file, -1 it exists but cannot be read (no
// permission, a folder, a symbolic link to nothing, ...) with the reason in words.
int file_readable(const char* path, std::string& reason);

// Reads the whole file at path into text when it is a regular file (a symbolic link counts as what it
// names) of at most max_bytes: 1 on success, else 0 with the reason in words. A named pipe, a device, a
// socket or a folder is refused without a byte read and without waiting for a writer.
int read_regular_file(const char* path, std::size_t max_bytes, std::string& text, std::string& reason);

// The file that a save to path must replace: path itself, or, when path is a symbolic link (or a chain
// of them), the file it finally names, so that the save writes through the link and keeps it.
std::string link_target(const char* path);

// Gives a new file the permissions of the file it is to replace (at least read and write for its
// owner), or, when there is none, those of a newly made file; on Windows, text mode (CR LF line ends).
// 1 on success, 0 on failure.
int take_file_mode(std::FILE* file, const char* target);

#include "platform/status.h"

// Writes text to path whole or not at all: to a new temporary file in path's folder, brought to the disk,
// then put in path's place in one step (replacing a file there). The file gets the permissions a newly
// made file gets (on POSIX 0666 less the umask) and keeps its bytes as given (no CR LF on Windows).
Status write_file_atomically(const std::string& path, const std::string& text);

// The same, but it never replaces a file: true when path now holds text, false when a file of that name
// was there first (and is left as it was). The file gets the permissions a newly made file gets, as above.
Result<bool> write_new_file_atomically(const std::string& path, const std::string& text);
