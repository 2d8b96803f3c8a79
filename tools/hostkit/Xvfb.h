// A private X server for headless runs.
#ifndef NPTV_HOSTKIT_XVFB_H
#define NPTV_HOSTKIT_XVFB_H

#include <string>
#include <sys/types.h>

class Xvfb {
 public:
  Xvfb() = default;
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  // Starts Xvfb on a free display (the server picks it: -displayfd) with one
  // screen of the given size; on success `display` is ":N". On failure returns
  // false with a message in `error`.
  bool Start(int width, int height, std::string& display, std::string& error);
  void Stop();

 private:
  pid_t m_pid = -1;
};

#endif
