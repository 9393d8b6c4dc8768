// Whole-file reads and writes for the binary files. A write goes to a temporary file beside
// the target and replaces it only when every byte reached the disk, so a failed save never
// leaves the previous file truncated.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// Writes a new version of a file. Nothing changes at the target until commit() succeeds;
// a replacer destroyed without a successful commit removes its temporary file.
class FileReplacer {
  public:
    // mode: the new file's permission bits; -1 keeps those of the file it replaces.
    explicit FileReplacer(std::string target, int mode = -1);
    ~FileReplacer();
    FileReplacer(const FileReplacer&) = delete;
    FileReplacer& operator=(const FileReplacer&) = delete;

    // Creates the temporary file beside the file the target names (through symbolic links);
    // false when that is impossible (no folder, no rights) or the file is read-only.
    bool open();
    // Every write and the commit report failure as false; reason() then tells why.
    bool write(std::string_view bytes);
    // Flushes the data to the disk, closes the file and renames it over the target, then
    // flushes the folder (as far as it can) so that the rename itself survives a crash.
    // beforeRename, when given, is asked just before the rename: false leaves the target as
    // it is.
    bool commit(const std::function<bool()>& beforeRename = {});
    const std::string& reason() const { return reason_; }

  private:
    bool fail(int err);

    std::string target_;
    int mode_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
    std::string reason_;
};

enum class WriteResult { Ok, OpenFailed, WriteFailed };

// Replaces the file with bytes in one go; on failure, reason holds the system's text. mode as
// for FileReplacer.
WriteResult writeFileReplacing(const std::string& path, std::string_view bytes, std::string& reason,
                               int mode = -1);

// A regular file opened for reading, closed with the object.
class InputFile {
  public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False when the file cannot be opened or is not a regular file.
    bool open(const std::string& path);
    int fd() const { return fd_; }
    // The size when opened.
    std::size_t size() const { return size_; }

  private:
    int fd_ = -1;
    std::size_t size_ = 0;
};

// Reads the whole file into bytes; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::string& bytes);

// Creates the folder that would hold path, and its parents; true when it exists afterwards.
bool makeParentFolders(const std::string& path);
