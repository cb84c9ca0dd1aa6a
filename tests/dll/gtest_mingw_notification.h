// GoogleTest's thread start-up signal, for the win32-threads MinGW runtime, which has no
// std::mutex or std::condition_variable. A Win32 manual-reset event does the same job.
// Force-included into GoogleTest's build for the Windows test programs only.
#ifndef QAV_TESTS_DLL_GTEST_MINGW_NOTIFICATION_H
#define QAV_TESTS_DLL_GTEST_MINGW_NOTIFICATION_H

#include <windows.h>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : event_(CreateEventW(NULL, TRUE, FALSE, NULL)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};

} // namespace internal
} // namespace testing

#endif
