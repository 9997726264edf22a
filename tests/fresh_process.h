// Runs a test body in a child process of its own, so that it meets the library's one-time load
// afresh: the load is process-wide, and a test binary runs all its tests in one process. The
// child's failures are printed as they happen, by its copy of the test's printer; the test fails
// in the parent when the child had any, threw, hung past `timeout_seconds`, or died.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

// Ends a forked child at once: by _exit, so that the exit handlers it shares with its parent run
// in the parent alone. A coverage build exits normally instead: each library writes its counters
// at exit, and only there, as its export map hides the call that would write them sooner.
[[noreturn]] inline void endChild(bool passed) {
    std::fflush(nullptr);
#ifdef QR_COVERAGE
    // A child that gave up its rights or its room to write takes them back for the counters.
    rlimit files{};
    if (::seteuid(::getuid()) == 0 && ::getrlimit(RLIMIT_FSIZE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        if (::setrlimit(RLIMIT_FSIZE, &files) == 0) {
            std::exit(passed ? 0 : 1);
        }
    }
#endif
    ::_exit(passed ? 0 : 1);
}

template <typename Body>
void inFreshProcess(Body&& body, unsigned timeout_seconds = 60) {
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0) << "fork failed";
    if (pid == 0) {
        ::alarm(timeout_seconds);
        // Only the child's own failures count: a row before it may have failed in the parent.
        const ::testing::TestResult& result =
            *::testing::UnitTest::GetInstance()->current_test_info()->result();
        const int before = result.total_part_count();
        body();  // an exception ends the child by std::terminate, which says what it was
        bool passed = true;
        for (int i = before; i < result.total_part_count(); ++i) {
            passed = passed && !result.GetTestPartResult(i).failed();
        }
        endChild(passed);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "the test's process died of signal " << WTERMSIG(status)
                      << (WTERMSIG(status) == SIGALRM ? " (it hung)" : "");
    } else {
        const int exit_status = WEXITSTATUS(status);
        EXPECT_EQ(exit_status, 0) << "the test's process failed (see above)";
    }
}
