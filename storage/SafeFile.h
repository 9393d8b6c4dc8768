// Whole-file reads and writes for the binary files. A write goes to a temporary file beside
// the target and replaces it only when every byte reached the disk, so a failed save never
// leaves the previous file truncated.
#pragma once

#include <string>
#include <string_view>

enum class WriteResult { Ok, OpenFailed, WriteFailed };

// On failure, reason holds the system's description of the error.
WriteResult writeFileReplacing(const std::string& path, std::string_view bytes, std::string& reason);

// Reads the whole file; false when it cannot be opened or read. Allocates the file's size.
bool readWholeFile(const std::string& path, std::string& bytes);

// Creates the folder that would hold path, and its parents; true when it exists afterwards.
bool makeParentFolders(const std::string& path);
