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

}  // namespace

FileReplacer::FileReplacer(std::string target) : target_(std::move(target)) {}

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
    std::string pattern = target_ + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) {
        return fail(errno);
    }
    temp_.assign(name.data());
    if (::fchmod(fd_, modeFor(target_)) != 0) {
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

bool FileReplacer::commit() {
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
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
        return fail(errno);
    }
    committed_ = true;
    return true;
}

WriteResult writeFileReplacing(const std::string& path, std::string_view bytes, std::string& reason) {
    FileReplacer out(path);
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
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
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
