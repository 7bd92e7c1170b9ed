// GoogleTest's hook for platform pieces, found before its own empty copy in
// Windows builds. The win32 thread model's libstdc++ has no std::mutex or
// std::condition_variable, which GoogleTest's thread start-up gate is built
// on; this gate is a manual-reset event instead (notification_win.cpp, built
// into gtest). GoogleTest's mutex and thread-local storage are Win32 already.
#ifndef QF_GTEST_CUSTOM_PORT_H_
#define QF_GTEST_CUSTOM_PORT_H_

#ifdef _WIN32
#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
 public:
  Notification();
  ~Notification();
  Notification(const Notification&) = delete;
  Notification& operator=(const Notification&) = delete;

  void Notify();
  void WaitForNotification();

 private:
  void* event_;  // no <windows.h> here: every test includes this header
};

}  // namespace internal
}  // namespace testing
#endif  // _WIN32

#endif  // QF_GTEST_CUSTOM_PORT_H_
