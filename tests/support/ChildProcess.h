#pragma once
// Test bodies that need rights an ordinary user lacks, run in a child process that gets them
// without root where the kernel allows:
//   runWithOwnMounts   a mount namespace of its own (inside a user namespace when not root), so
//                      the body may mount a small tmpfs as a second volume;
//   runAsAnotherUser   another user id: "nobody" for root, else a subordinate id of this user
//                      (/etc/subuid, mapped by newuidmap) in a user namespace.
// The child reports its failures on the output as any test does; the outcome tells the parent
// whether it passed, failed or could not run at all, which the test then reports as skipped.
//
// The child is a copy of a process that may have threads: the body keeps to plain system calls
// and Qt's value classes, never an event loop.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace kpv::test {

enum class ChildOutcome { Passed, Failed, CouldNotRun };

inline std::ostream& operator<<(std::ostream& out, ChildOutcome o)
{
    return out << (o == ChildOutcome::Passed ? "passed" : o == ChildOutcome::Failed ? "failed" : "could not run");
}

namespace detail {

constexpr int kCouldNotRun = 77;

inline bool writeProcFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    ::close(fd);
    return ok;
}

// Runs the body and leaves with its verdict; never returns.
[[noreturn]] inline void finishChild(const std::function<void()>& body)
{
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(testing::Test::HasFailure() ? 1 : 0);
}

inline ChildOutcome outcomeOf(pid_t child, const std::function<void()>& whileWaiting = {})
{
    if (child < 0)
        return ChildOutcome::CouldNotRun;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, whileWaiting ? WNOHANG : 0);
        if (done == child)
            break;
        if (done < 0 && errno != EINTR)
            return ChildOutcome::Failed;
        if (done == 0)
            whileWaiting();
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCouldNotRun)
        return ChildOutcome::CouldNotRun;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ChildOutcome::Passed : ChildOutcome::Failed;
}

// The first range of subordinate ids that /etc/subuid or /etc/subgid gives this user.
inline bool subordinateRange(const char* file, uid_t uid, unsigned long* start)
{
    const passwd* pw = ::getpwuid(uid);
    const std::string name = pw ? pw->pw_name : std::string();
    const std::string number = std::to_string(uid);
    FILE* f = std::fopen(file, "re");
    if (!f)
        return false;
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f)) {
        char owner[128];
        unsigned long first = 0, count = 0;
        if (std::sscanf(line, "%127[^:]:%lu:%lu", owner, &first, &count) == 3 && count > 0 &&
            (owner == name || owner == number)) {
            *start = first;
            found = true;
        }
    }
    std::fclose(f);
    return found;
}

// Runs one of the set-user-id id mappers ("newuidmap pid 0 start 1"); true when it succeeded.
inline bool runMapper(const char* tool, pid_t pid, unsigned long start)
{
    const std::string pidText = std::to_string(pid), startText = std::to_string(start);
    const char* argv[] = {tool, pidText.c_str(), "0", startText.c_str(), "1", nullptr};
    pid_t mapper = -1;
    if (::posix_spawnp(&mapper, tool, nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(mapper, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace detail

inline ChildOutcome runWithOwnMounts(const std::function<void()>& body)
{
    std::fflush(stdout);
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    const pid_t child = ::fork();
    if (child != 0)
        return detail::outcomeOf(child);
    // Root takes a mount namespace as it is; anyone else inside a user namespace that keeps
    // their ids, so that files keep their owner and the code under test sees its user.
    const bool asRoot = uid == 0 && ::unshare(CLONE_NEWNS) == 0;
    if (!asRoot) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 ||
            !detail::writeProcFile("/proc/self/setgroups", "deny") ||
            !detail::writeProcFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
            !detail::writeProcFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
            ::_exit(detail::kCouldNotRun);
    }
    // Nothing mounted here reaches the rest of the machine (a user namespace sees to that itself).
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 && asRoot)
        ::_exit(detail::kCouldNotRun);
    detail::finishChild(body);
}

// `folder` is entered before the change of user, so that the body can reach what is inside by
// relative paths even where the other user may not pass through the folders above it.
// `whileWaiting` runs in the parent until the child ends (to serve what the body talks to).
inline ChildOutcome runAsAnotherUser(const char* folder, const std::function<void()>& body,
                                     const std::function<void()>& whileWaiting)
{
    std::fflush(stdout);
    const uid_t uid = ::getuid();
    int ready[2], go[2];
    if (::pipe2(ready, O_CLOEXEC) != 0)
        return ChildOutcome::CouldNotRun;
    if (::pipe2(go, O_CLOEXEC) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return ChildOutcome::CouldNotRun;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        ::close(go[1]);
        if (::chdir(folder) != 0)
            ::_exit(detail::kCouldNotRun);
        if (uid == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(detail::kCouldNotRun);
        } else {
            const char state = ::unshare(CLONE_NEWUSER) == 0 ? 'y' : 'n';
            (void)!::write(ready[1], &state, 1);
            char answer = 'n';
            if (state != 'y' || ::read(go[0], &answer, 1) != 1 || answer != 'g')
                ::_exit(detail::kCouldNotRun);
            // Id 0 inside is the subordinate id outside: another user to everyone else.
            if (::setresgid(0, 0, 0) != 0 || ::setresuid(0, 0, 0) != 0)
                ::_exit(detail::kCouldNotRun);
        }
        detail::finishChild(body);
    }
    ::close(ready[1]);
    ::close(go[0]);
    if (child > 0 && uid != 0) {
        char state = 'n';
        if (::read(ready[0], &state, 1) == 1 && state == 'y') {
            unsigned long uidStart = 0, gidStart = 0;
            const bool mapped = detail::subordinateRange("/etc/subuid", uid, &uidStart) &&
                                detail::subordinateRange("/etc/subgid", uid, &gidStart) &&
                                detail::runMapper("newgidmap", child, gidStart) &&
                                detail::runMapper("newuidmap", child, uidStart);
            const char answer = mapped ? 'g' : 'n';
            (void)!::write(go[1], &answer, 1);
        }
    }
    ::close(ready[0]);
    ::close(go[1]);
    return detail::outcomeOf(child, whileWaiting);
}

// Runs `count` children at once, as separate programs of one user would run: each runs
// prepare(i), then all wait until every one is ready, then each runs act(i) at the same moment.
// True when every child passed.
inline bool runTogether(int count, const std::function<void(int)>& prepare, const std::function<void(int)>& act)
{
    int ready[2], go[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(go, O_CLOEXEC) != 0)
        return false;
    std::fflush(stdout);
    std::fflush(stderr);
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            detail::finishChild([&] {
                prepare(i);
                (void)!::write(ready[1], "r", 1);
                char c = 0;
                (void)!::read(go[0], &c, 1); // the end of the pipe: everyone goes
                act(i);
            });
        }
        if (child > 0)
            children.push_back(child);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char c = 0;
    for (size_t i = 0; i < children.size(); ++i)
        (void)!::read(ready[0], &c, 1);
    ::close(go[1]);
    ::close(ready[0]);
    bool passed = int(children.size()) == count;
    for (const pid_t child : children)
        passed = detail::outcomeOf(child) == ChildOutcome::Passed && passed;
    return passed;
}

} // namespace kpv::test

// Fails the test when the child failed, and says it was skipped when the child could not run.
#define KPV_EXPECT_CHILD_PASSED(outcome, whyNot)                                    \
    do {                                                                            \
        const ::kpv::test::ChildOutcome kpvOutcome = (outcome);                     \
        if (kpvOutcome == ::kpv::test::ChildOutcome::CouldNotRun)                   \
            GTEST_SKIP() << whyNot;                                                 \
        EXPECT_EQ(kpvOutcome, ::kpv::test::ChildOutcome::Passed) << "see above";    \
    } while (0)
