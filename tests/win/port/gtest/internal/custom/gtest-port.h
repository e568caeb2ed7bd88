// GoogleTest's port hook, found before the stock one (see tests/windows.cmake).
//
// MinGW's win32 thread model has no std::mutex or std::condition_variable,
// which GoogleTest's Notification needs; everything else it does on Windows
// uses its own Win32 code. This Notification waits on a flag instead. Only
// GoogleTest's own thread helpers use it; the unit tests run on one thread.
#ifndef SFX_TESTS_GTEST_PORT_H
#define SFX_TESTS_GTEST_PORT_H

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_ = true; }
    void WaitForNotification()
    {
        while (!notified_)
            ;
    }

private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif
