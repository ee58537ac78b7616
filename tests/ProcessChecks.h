#pragma once

// Checks that several suites make of the test process itself: the descriptors it holds, and a
// check run as an unprivileged user (root opens and reads everything).

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

// Descriptors open in this process.
inline int OpenDescriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) {
            ++count;
        }
        closedir(dir);
    }
    return count;
}

// Runs `check` as this user, or, as root, as the unprivileged user "nobody" in a child process
// (which must be the only thread that matters then). Answers what check answered; a child
// stuck on a lock left by another thread dies after 10 s and answers false.
template <typename Check>
bool CheckAsUnprivilegedUser(Check check) {
    if (geteuid() != 0) {
        return check();
    }
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        alarm(10);
        _exit(setgid(65534) == 0 && setuid(65534) == 0 && check() ? 0 : 1);
    }
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
