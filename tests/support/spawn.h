// Starting a program with its standard streams redirected, for tests and benchmarks alike.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Starts a program with standard output and error into files, or both onto `sink`, and
// standard input from `input` when given. -1 when it could not be started.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err, int sink = -1,
                   int input = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (auto [fd, path] : {std::pair{STDOUT_FILENO, &out}, std::pair{STDERR_FILENO, &err}}) {
        if (sink >= 0) posix_spawn_file_actions_adddup2(&actions, sink, fd);
        else posix_spawn_file_actions_addopen(&actions, fd, path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    if (input >= 0) posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

}  // namespace testsupport
