// Writing a file whole or not at all: a fresh file beside the target, synced, then renamed over it.
#include "MFileReplace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

namespace {

// Leaves room for the dots, the writer's identity and the random suffix within a 255-byte name.
constexpr size_t kMaxTempStem = 180;
constexpr char kTagStart[] = "kpv-";
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

// Up to `size` - 1 bytes of a small system file, NUL-terminated; false when it cannot be read.
bool readSmallFile(const char* path, char* out, size_t size)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    size_t got = 0;
    while (got + 1 < size) {
        const ssize_t n = ::read(fd, out + got, size - 1 - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    const int err = errno;
    ::close(fd);
    errno = err;
    out[got] = '\0';
    return got > 0;
}

// When the process `pid` started, in clock ticks since the boot (the 22nd field of its stat
// file); false with errno ENOENT when no such process runs.
bool processStartTime(pid_t pid, unsigned long long* start)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    char text[1024];
    if (!readSmallFile(path, text, sizeof text))
        return false;
    // The command name (field 2) is in parentheses and may hold anything, parentheses too.
    const char* p = std::strrchr(text, ')');
    if (!p) {
        errno = EINVAL;
        return false;
    }
    ++p;
    for (int field = 3; field < 22; ++field) {
        while (*p == ' ')
            ++p;
        while (*p && *p != ' ')
            ++p;
    }
    char* end = nullptr;
    errno = 0;
    *start = std::strtoull(p, &end, 10);
    if (end == p || errno != 0) {
        errno = EINVAL;
        return false;
    }
    return true;
}

uint32_t fnv1a(const std::string& text)
{
    uint32_t h = 2166136261u;
    for (const unsigned char c : text) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

// Who writes: what a temporary file's name says of its writer.
struct WriterIdentity {
    bool known = false; // false when this system does not let us say (no /proc)
    char host[9] = "00000000";
    char boot[9] = "00000000";
    pid_t pid = 0;
    unsigned long long start = 0;
};

WriterIdentity computeIdentity()
{
    WriterIdentity id;
    id.pid = ::getpid();
    char text[256];
    // The machine and its process-id space: ids of another machine or container mean nothing here.
    std::string host;
    if (readSmallFile("/etc/machine-id", text, sizeof text) ||
        readSmallFile("/var/lib/dbus/machine-id", text, sizeof text))
        host = text;
    const ssize_t n = ::readlink("/proc/self/ns/pid", text, sizeof text - 1);
    if (n > 0)
        host.append(text, size_t(n));
    std::snprintf(id.host, sizeof id.host, "%08x", unsigned(fnv1a(host)));
    if (!readSmallFile("/proc/sys/kernel/random/boot_id", text, sizeof text) ||
        !processStartTime(id.pid, &id.start))
        return id;
    size_t used = 0;
    for (const char* c = text; *c && used < 8; ++c) {
        if ((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))
            id.boot[used++] = *c;
        else if (*c >= 'A' && *c <= 'F')
            id.boot[used++] = char(*c - 'A' + 'a');
    }
    id.known = used == 8;
    return id;
}

// This process's identity, made again in a child after fork (its id differs).
WriterIdentity ownIdentity()
{
    static std::mutex mutex;
    static WriterIdentity cached;
    static bool made = false;
    std::lock_guard lock(mutex);
    if (!made || cached.pid != ::getpid()) {
        cached = computeIdentity();
        made = true;
    }
    return cached;
}

std::string identityTag(const WriterIdentity& id)
{
    char tag[80];
    std::snprintf(tag, sizeof tag, "%s%s-%s-%d-%llu", kTagStart, id.host, id.boot, int(id.pid), id.start);
    return tag;
}

bool isHex(const char* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (!((p[i] >= '0' && p[i] <= '9') || (p[i] >= 'a' && p[i] <= 'f')))
            return false;
    return true;
}

// A run of 1 to `max` decimal digits at p, without a leading zero unless it is "0"; its length, 0 when none.
size_t digitRun(const char* p, size_t max)
{
    size_t n = 0;
    while (p[n] >= '0' && p[n] <= '9')
        ++n;
    if (n == 0 || n > max || (n > 1 && p[0] == '0'))
        return 0;
    return n;
}

// The writer a temporary name names; false when the name is not one.
bool parseTemporaryName(const char* name, WriterIdentity* id)
{
    const size_t length = std::strlen(name);
    if (length < 4 || name[0] != '.')
        return false;
    // ".<stem>.kpv-HHHHHHHH-BBBBBBBB-<pid>-<start>.<random>", read from the end.
    const char* last = std::strrchr(name, '.');
    if (last == name || last[1] == '\0')
        return false;
    for (const char* c = last + 1; *c; ++c)
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z')))
            return false;
    if (std::strlen(last + 1) > 13)
        return false;
    const char* tag = last;
    do {
        --tag;
    } while (tag > name && *tag != '.');
    // A stem of at least one byte before the tag.
    if (tag <= name + 1)
        return false;
    const char* p = tag + 1;
    if (std::strncmp(p, kTagStart, sizeof kTagStart - 1) != 0)
        return false;
    p += sizeof kTagStart - 1;
    if (!isHex(p, 8) || p[8] != '-')
        return false;
    std::memcpy(id->host, p, 8);
    id->host[8] = '\0';
    p += 9;
    if (!isHex(p, 8) || p[8] != '-')
        return false;
    std::memcpy(id->boot, p, 8);
    id->boot[8] = '\0';
    p += 9;
    size_t n = digitRun(p, 10);
    if (n == 0 || p[n] != '-')
        return false;
    id->pid = pid_t(std::strtol(p, nullptr, 10));
    p += n + 1;
    n = digitRun(p, 20);
    if (n == 0 || p + n != last)
        return false;
    errno = 0;
    id->start = std::strtoull(p, nullptr, 10);
    if (errno != 0 || id->pid <= 0)
        return false;
    id->known = true;
    return true;
}

// True only when the writer is surely gone; anything we cannot be sure of counts as alive.
bool writerIsGone(const WriterIdentity& writer, const WriterIdentity& me)
{
    if (!me.known || std::strcmp(writer.host, me.host) != 0)
        return false;
    if (std::strcmp(writer.boot, me.boot) != 0)
        return true; // this machine has started again since
    unsigned long long start = 0;
    if (!processStartTime(writer.pid, &start))
        return errno == ENOENT || errno == ESRCH;
    return start != writer.start; // another process has the id now
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
    const std::string tag = identityTag(ownIdentity());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + '.' + stem + '.' + tag + '.' + base36(randomWord());
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

bool MFileIsTemporaryName(const char* name)
{
    WriterIdentity id;
    return name && parseTemporaryName(name, &id);
}

bool MFileRemoveStaleTemporary(int dirFd, const char* name)
{
    WriterIdentity writer;
    if (!name || !parseTemporaryName(name, &writer))
        return false;
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    if (!writerIsGone(writer, ownIdentity()))
        return false;
    return ::unlinkat(dirFd, name, 0) == 0;
}

int MFileRemoveStaleTemporaries(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    // Removed once the folder is read through: a removal while reading may make it skip names.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        if (MFileIsTemporaryName(entry->d_name))
            names.emplace_back(entry->d_name);
    }
    int removed = 0;
    for (const std::string& name : names)
        removed += MFileRemoveStaleTemporary(::dirfd(dir), name.c_str()) ? 1 : 0;
    ::closedir(dir);
    return removed;
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
