#include "daemon/FileStamp.h"

#include <sys/stat.h>

FileStamp::Seen FileStamp::look(const std::string& path) {
    struct stat st {};
    Seen s;
    if (::stat(path.c_str(), &st) == 0) {
        s.exists = true;
        s.device = st.st_dev;
        s.inode = st.st_ino;
        s.size = st.st_size;
        s.modified = st.st_mtim;
    }
    return s;
}

void FileStamp::take(const std::string& path) {
    seen_ = look(path);
}

bool FileStamp::changed(const std::string& path) const {
    const Seen now = look(path);
    return now.exists != seen_.exists || now.device != seen_.device || now.inode != seen_.inode ||
           now.size != seen_.size || now.modified.tv_sec != seen_.modified.tv_sec ||
           now.modified.tv_nsec != seen_.modified.tv_nsec;
}
