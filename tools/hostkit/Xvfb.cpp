#include "Xvfb.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

Xvfb::~Xvfb() { Stop(); }

bool Xvfb::Start(int width, int height, std::string& display, std::string& error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    // The server goes when we go, however we end.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    close(fds[0]);
    // -displayfd needs an inheritable descriptor.
    const int fd = dup(fds[1]);
    if (fd < 0) _exit(127);
    const std::string fdText = std::to_string(fd);
    // Xvfb reports every display number it finds taken while it looks for a
    // free one: keep that noise out of the page's output.
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", fdText.c_str(), "-screen", "0", screen.c_str(),
           "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  m_pid = pid;
  // The server writes the display number and a line break once it accepts
  // connections; end of file means it died.
  std::string number;
  char c;
  for (;;) {
    const ssize_t n = read(fds[0], &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || c == '\n') break;
    number.push_back(c);
  }
  close(fds[0]);
  if (number.empty()) {
    error = "Xvfb did not start (is the package xvfb installed? run Xvfb -displayfd 1 by hand to see why)";
    Stop();
    return false;
  }
  display = ":" + number;
  return true;
}

void Xvfb::Stop() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGTERM);
  int status;
  while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
}
