#pragma once
// Writing a file that a person may keep: all of it, or on failure nothing.
#include <string>

// Writes data to path. A regular file, or one not there yet, is replaced whole:
// the bytes go to a temporary file in the same directory, which is renamed over
// path only once every byte is written, synced and closed. A failure (a full
// disk, a file-size limit, SIGINT, SIGTERM, SIGHUP or SIGQUIT on the way) leaves
// path as it was and no temporary file behind. The new file keeps the old one's
// permission bits (and its owner and group where allowed); a new file gets
// 0666 less the umask, as fopen would give it. A symbolic link is followed to
// the file it names, which is replaced; the link stays. Anything else (a device
// such as /dev/full, a FIFO, /dev/stdout) cannot be replaced and is written
// directly. Returns "" on success, else why not.
std::string save_file(const char* path, const std::string& data);
