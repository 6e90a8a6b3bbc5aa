#pragma once
// Appending to a file in the shared data folder, which every local user may write into (01777):
// whatever is found at a name there may have been planted by someone else.

#include <string>
#include <string_view>

namespace fr {

// Appends ABytes at the end of the file APath as one write under an exclusive lock, so that
// writers in other processes do not interleave. A missing file is created with mode 0666
// whatever the umask, so that every local user can append to it later. A symbolic link or
// anything but a regular file at APath is refused and never written through.
// Throws EOSError.
void AppendToSharedFile(const std::string& APath, std::string_view ABytes);

}  // namespace fr
