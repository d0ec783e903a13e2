// A full disk while in scope: writes past `bytes` fail with EFBIG (SIGXFSZ ignored). Standard
// error goes to /dev/null meanwhile, since a long stderr file would hit the limit too.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace testsupport {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::fflush(stderr);
        savedStderr_ = ::dup(STDERR_FILENO);
        int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0) {
            ::dup2(null, STDERR_FILENO);
            ::close(null);
        }
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
        std::fflush(stderr);
        if (savedStderr_ >= 0) {
            ::dup2(savedStderr_, STDERR_FILENO);
            ::close(savedStderr_);
        }
        std::clearerr(stderr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    int savedStderr_ = -1;
    void (*previous_)(int) = nullptr;
};

}  // namespace testsupport
