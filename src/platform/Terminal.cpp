#include "platform/Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace tessavar::platform {

namespace {

bool ReadTtyLine(int fd, std::string& out) {
  out.clear();
  char c;
  while (true) {
    ssize_t n = ::read(fd, &c, 1);
    if (n <= 0) return !out.empty();
    if (c == '\n' || c == '\r') return true;
    out += c;
  }
}

class Tty {
 public:
  Tty() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC)) {}
  ~Tty() {
    if (fd_ >= 0) ::close(fd_);
  }
  Tty(const Tty&) = delete;
  Tty& operator=(const Tty&) = delete;
  int fd() const { return fd_; }
  void Write(const std::string& s) const {
    ssize_t ignored = ::write(fd_, s.data(), s.size());
    (void)ignored;
  }

 private:
  int fd_;
};

}  // namespace

bool StdinIsTerminal() { return ::isatty(0) == 1; }
bool StderrIsTerminal() { return ::isatty(2) == 1; }

bool ReadPassword(const std::string& prompt, std::string& password) {
  Tty tty;
  if (tty.fd() < 0 || !::isatty(tty.fd())) return false;
  tty.Write(prompt);
  termios old{};
  const bool haveOld = ::tcgetattr(tty.fd(), &old) == 0;
  if (haveOld) {
    termios quiet = old;
    quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
    ::tcsetattr(tty.fd(), TCSAFLUSH, &quiet);
  }
  const bool ok = ReadTtyLine(tty.fd(), password);
  if (haveOld) ::tcsetattr(tty.fd(), TCSAFLUSH, &old);
  tty.Write("\n");
  return ok;
}

bool AskLine(const std::string& prompt, std::string& answer) {
  Tty tty;
  if (tty.fd() < 0 || !::isatty(tty.fd())) return false;
  tty.Write(prompt);
  return ReadTtyLine(tty.fd(), answer);
}

}  // namespace tessavar::platform
