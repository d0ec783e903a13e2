// A full disk for the files this process writes from now on: writes past `bytes` fail
// (EFBIG, reported as a file too large) until the limit goes out of scope. SIGXFSZ is
// ignored meanwhile, so the failing write answers an error instead of ending the process.
// Standard error goes to /dev/null meanwhile: when the test's own standard error is a long
// file (a CI log), the limit would fail its writes too, which the code under test rightly
// takes for an output error.
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
