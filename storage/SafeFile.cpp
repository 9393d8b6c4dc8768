#include "storage/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

std::string errnoText(int err) {
    return std::generic_category().message(err);
}

// The mode a new file gets: that of the file it replaces, else 0666 less the umask.
mode_t modeFor(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        return st.st_mode & 07777;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// The file a path names: a symbolic link is followed (also when it dangles), so a save goes
// to the file it points at and the link stays a link.
bool resolveLinks(std::string& path, int& err) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            return true;
        }
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
        if (n < 0 || static_cast<std::size_t>(n) >= buf.size()) {
            err = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        const std::filesystem::path to(std::string(buf.data(), static_cast<std::size_t>(n)));
        path = to.is_absolute() ? to.string() : (std::filesystem::path(path).parent_path() / to).string();
    }
    err = ELOOP;
    return false;
}

// Whether an existing file refuses to be written: its mode grants this user no write
// permission. Root may write anything, so for root a file without any write bit counts as
// read-only, the way a read-only attribute would.
bool readOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    if (::geteuid() == 0) {
        return (st.st_mode & 0222) == 0;
    }
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

}  // namespace

FileReplacer::FileReplacer(std::string target, int mode) : target_(std::move(target)), mode_(mode) {}

FileReplacer::~FileReplacer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!committed_ && !temp_.empty()) {
        ::unlink(temp_.c_str());
    }
}

bool FileReplacer::fail(int err) {
    reason_ = errnoText(err);
    return false;
}

bool FileReplacer::open() {
    int err = 0;
    if (!resolveLinks(target_, err)) {
        return fail(err);
    }
    // The new version replaces the file by a rename, which the file's own mode cannot stop;
    // a file that may not be written must stay as it is.
    if (readOnly(target_)) {
        return fail(EACCES);
    }
    std::string pattern = target_ + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        return fail(errno);
    }
    temp_.assign(name.data());
    if (::fchmod(fd_, mode_ >= 0 ? static_cast<mode_t>(mode_) : modeFor(target_)) != 0) {
        return fail(errno);
    }
    return true;
}

bool FileReplacer::write(std::string_view bytes) {
    if (fd_ < 0) {
        return fail(EBADF);
    }
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail(errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool FileReplacer::commit(const std::function<bool()>& beforeRename) {
    if (fd_ < 0) {
        return fail(EBADF);
    }
    // The data must be on the disk before the rename makes it the file, or a crash could
    // leave an empty file where the old one was.
    if (::fdatasync(fd_) != 0) {
        return fail(errno);
    }
    const int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
        return fail(errno);
    }
    if (beforeRename && !beforeRename()) {
        reason_ = "the file was changed by someone else meanwhile";
        return false;
    }
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        return fail(errno);
    }
    committed_ = true;
    const std::string folder = std::filesystem::path(target_).parent_path().string();
    // The new file is in place either way; a folder that cannot be flushed makes the save
    // no less done.
    if (const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

WriteResult writeFileReplacing(const std::string& path, std::string_view bytes, std::string& reason,
                               int mode) {
    FileReplacer out(path, mode);
    if (!out.open()) {
        reason = out.reason();
        return WriteResult::OpenFailed;
    }
    if (!out.write(bytes) || !out.commit()) {
        reason = out.reason();
        return WriteResult::WriteFailed;
    }
    return WriteResult::Ok;
}

InputFile::~InputFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool InputFile::open(const std::string& path) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come; the type is
    // known only once the file is open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return false;
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
    size_ = static_cast<std::size_t>(st.st_size);
    return true;
}

bool readWholeFile(const std::string& path, std::string& bytes) {
    InputFile file;
    if (!file.open(path)) {
        return false;
    }
    // Only as many bytes as the file had when opened: one that grows meanwhile cannot make
    // the read allocate more.
    std::string out(file.size(), '\0');
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = ::read(file.fd(), out.data() + got, out.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    bytes = std::move(out);
    return true;
}

bool makeParentFolders(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) {
        return true;
    }
    std::error_code ec;
    std::filesystem::create_directories(parent, ec);
    return std::filesystem::is_directory(parent, ec);
}
