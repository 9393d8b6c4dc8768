// What a file looked like when the daemon last read or wrote it (device, inode, size and
// modification time), to tell whether someone else has changed, replaced or removed it since.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

class FileStamp {
  public:
    void take(const std::string& path);
    bool changed(const std::string& path) const;

  private:
    struct Seen {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
    };
    static Seen look(const std::string& path);

    Seen seen_;
};
