// Writing a file whole or not at all: a fresh file beside the target, synced, then renamed over it.
#include "MFileReplace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <random>

namespace {

// Leaves room for the dot and the random suffix within a 255-byte file name.
constexpr size_t kMaxTempStem = 200;
// Linux gives up on link chains at this depth too.
constexpr int kMaxLinkDepth = 40;

uint64_t randomWord()
{
    thread_local std::mt19937_64 engine{(uint64_t(std::random_device{}()) << 32) ^ std::random_device{}()};
    return engine();
}

std::string base36(uint64_t v)
{
    std::string s;
    do {
        s.insert(s.begin(), "0123456789abcdefghijklmnopqrstuvwxyz"[v % 36]);
        v /= 36;
    } while (v);
    return s;
}

// The file a path finally names, so that a link stays a link and its target gets the new content;
// a dangling link names the file it would create.
std::string followLinks(const std::string& path)
{
    std::string p = path;
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
        if (n <= 0 || size_t(n) >= link.size())
            break;
        link.resize(size_t(n));
        if (link[0] == '/') {
            p = link;
        } else {
            const size_t slash = p.rfind('/');
            p = (slash == std::string::npos ? std::string() : p.substr(0, slash + 1)) + link;
        }
    }
    return p;
}

} // namespace

int MFileCreateBeside(const std::string& target, mode_t mode, std::string* tempPath)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string stem = slash == std::string::npos ? target : target.substr(slash + 1);
    if (stem.size() > kMaxTempStem) {
        size_t cut = kMaxTempStem;
        while (cut > 0 && (uint8_t(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.resize(cut);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + '.' + stem + '.' + base36(randomWord());
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            *tempPath = std::move(name);
            return fd;
        }
        if (errno != EEXIST)
            break;
    }
    return -1;
}

bool MFileWriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool MFileSyncAndClose(int fd)
{
    const bool synced = ::fsync(fd) == 0;
    const int err = errno;
    const bool closed = ::close(fd) == 0;
    if (!synced)
        errno = err;
    return synced && closed;
}

void MFileSyncFolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0                ? std::string("/")
                                                           : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool MFileReplace(const std::string& path, const std::function<bool(int fd, const std::string& tempPath)>& write)
{
    const std::string target = followLinks(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    std::string temp;
    const int fd = MFileCreateBeside(target, 0666, &temp);
    if (fd < 0)
        return false;
    const auto abandon = [&](bool open) {
        const int err = errno;
        if (open)
            ::close(fd);
        ::unlink(temp.c_str());
        errno = err;
        return false;
    };
    if (exists) {
        // Owner and group may only be kept where the user has the right; the mode always is.
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            (void)::fchown(fd, old.st_uid, old.st_gid);
        if (::fchmod(fd, old.st_mode & 0777) != 0)
            return abandon(true);
    }
    errno = 0;
    if (!write(fd, temp))
        return abandon(true);
    if (!MFileSyncAndClose(fd))
        return abandon(false);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return abandon(false);
    MFileSyncFolderOf(target);
    return true;
}
