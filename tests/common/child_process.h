#pragma once

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

// Runs `body` in a forked child and gives back its result (its exit status,
// 0..255), or -1 when the child did not exit normally.
inline int runInChild(const std::function<int()> &body) {
    pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace testutil
