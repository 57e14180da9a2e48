// Runs a piece of a platform test in a forked child, for what must not touch the test process
// itself (resource limits) or must really run in two processes at once.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace platform_test {

// Starts `body` in a child; its result becomes the child's exit status (0 for true).
inline pid_t StartChild(const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) _exit(body() ? 0 : 1);
    return child;
}

// True when the child ran to its end and its body returned true.
inline bool ChildSucceeded(pid_t child) {
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

inline bool RunInChild(const std::function<bool()>& body) {
    return ChildSucceeded(StartChild(body));
}

}  // namespace platform_test
