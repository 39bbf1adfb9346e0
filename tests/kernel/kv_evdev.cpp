// uinput and evdev on the real kernel, for the hook-library checks.
//   kv_evdev devices          a keyboard and a mouse; commands on stdin: "key CODE VALUE",
//                             "rel CODE VALUE" (each followed by a report marker), "quit".
//                             Prints "keyboard /dev/input/eventN" and "mouse /dev/input/eventN".
//   kv_evdev find PREFIX      prints the event node whose device name starts with PREFIX
//   kv_evdev watch PREFIX MS [COUNT]  prints "TYPE CODE VALUE" for each event of that device for
//                             MS ms, or until 300 ms after the COUNTth event
//   kv_evdev grabbed NODE     exit 0 when another reader holds a grab on NODE
#include <dirent.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

void Say(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

long NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

std::string FindNode(const std::string& prefix) {
  std::string found;
  if (DIR* dir = opendir("/dev/input")) {
    while (const dirent* e = readdir(dir)) {
      if (std::strncmp(e->d_name, "event", 5) != 0) continue;
      const std::string path = std::string("/dev/input/") + e->d_name;
      const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) continue;
      char name[256] = {};
      ioctl(fd, EVIOCGNAME(sizeof name - 1), name);
      close(fd);
      if (std::strncmp(name, prefix.c_str(), prefix.size()) == 0) found = path;
    }
    closedir(dir);
  }
  return found;
}

int MakeDevice(const char* name, bool keyboard) {
  const int fd = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ioctl(fd, UI_SET_EVBIT, EV_KEY);
  if (keyboard) {
    for (int k = KEY_ESC; k <= KEY_KPDOT; ++k) ioctl(fd, UI_SET_KEYBIT, k);
  } else {
    for (int b : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE, BTN_SIDE, BTN_EXTRA})
      ioctl(fd, UI_SET_KEYBIT, b);
    ioctl(fd, UI_SET_EVBIT, EV_REL);
    for (int r : {REL_X, REL_Y, REL_WHEEL}) ioctl(fd, UI_SET_RELBIT, r);
  }
  uinput_setup setup{};
  std::snprintf(setup.name, sizeof setup.name, "%s", name);
  setup.id.bustype = BUS_USB;
  setup.id.vendor = 0x4B56;
  setup.id.product = keyboard ? 0x0010 : 0x0011;
  if (ioctl(fd, UI_DEV_SETUP, &setup) < 0 || ioctl(fd, UI_DEV_CREATE) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string NodeOf(int uinputFd) {
  char sys[64] = {};
  if (ioctl(uinputFd, UI_GET_SYSNAME(sizeof sys), sys) < 0) return "";
  const std::string dir = std::string("/sys/devices/virtual/input/") + sys;
  for (int tries = 0; tries < 200; ++tries) {
    if (DIR* d = opendir(dir.c_str())) {
      std::string node;
      while (const dirent* e = readdir(d))
        if (std::strncmp(e->d_name, "event", 5) == 0) node = std::string("/dev/input/") + e->d_name;
      closedir(d);
      if (!node.empty() && access(node.c_str(), F_OK) == 0) return node;
    }
    usleep(10000);
  }
  return "";
}

void Emit(int fd, int type, int code, int value) {
  input_event ev[2] = {};
  ev[0].type = static_cast<__u16>(type);
  ev[0].code = static_cast<__u16>(code);
  ev[0].value = value;
  ev[1].type = EV_SYN;
  ev[1].code = SYN_REPORT;
  if (write(fd, ev, sizeof ev) != static_cast<ssize_t>(sizeof ev))
    Say(std::string("error ") + std::strerror(errno));
}

int Devices() {
  const int kb = MakeDevice("kvtest keyboard", true), mouse = MakeDevice("kvtest mouse", false);
  if (kb < 0 || mouse < 0) {
    std::fprintf(stderr, "kv_evdev: cannot make uinput devices: %s\n", std::strerror(errno));
    return 1;
  }
  Say("keyboard " + NodeOf(kb));
  Say("mouse " + NodeOf(mouse));
  std::string pending;
  char buf[256];
  for (ssize_t n; (n = read(0, buf, sizeof buf)) > 0;) {
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
      std::istringstream in(pending.substr(0, eol));
      pending.erase(0, eol + 1);
      std::string word;
      int code = 0, value = 0;
      in >> word >> code >> value;
      if (word == "quit") return 0;
      if (word == "key") Emit(code >= BTN_MISC && code < KEY_OK ? mouse : kb, EV_KEY, code, value);
      else if (word == "rel") Emit(mouse, EV_REL, code, value);
      else if (!word.empty()) Say("error unknown command " + word);
    }
  }
  return 0;
}

int Watch(const std::string& prefix, long ms, long count) {
  long end = NowMs() + ms;
  std::string node;
  while ((node = FindNode(prefix)).empty()) {
    if (NowMs() > end) {
      Say("none");
      return 1;
    }
    usleep(20000);
  }
  const int fd = open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  Say("watching " + node);
  long seen = 0;
  for (long left; (left = end - NowMs()) > 0;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    input_event ev[32];
    const ssize_t n = read(fd, ev, sizeof ev);
    if (n <= 0) break;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof ev[0]; ++i) {
      if (ev[i].type == EV_SYN || ev[i].type == EV_MSC) continue;
      Say(std::to_string(ev[i].type) + " " + std::to_string(ev[i].code) + " " +
          std::to_string(ev[i].value));
      // Once the expected events are in, a short grace catches any that should not come.
      if (++seen == count) end = std::min(end, NowMs() + 300);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string cmd = argc > 1 ? argv[1] : "";
  if (cmd == "devices" && argc == 2) return Devices();
  if (cmd == "find" && argc == 3) {
    const std::string node = FindNode(argv[2]);
    if (node.empty()) return 1;
    Say(node);
    return 0;
  }
  if (cmd == "watch" && (argc == 4 || argc == 5))
    return Watch(argv[2], std::atol(argv[3]), argc == 5 ? std::atol(argv[4]) : -1);
  if (cmd == "grabbed" && argc == 3) {
    const int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 2;
    if (ioctl(fd, EVIOCGRAB, 1) == 0) {
      ioctl(fd, EVIOCGRAB, 0);
      return 1;
    }
    return errno == EBUSY ? 0 : 2;
  }
  std::fprintf(stderr,
               "usage: kv_evdev devices | find PREFIX | watch PREFIX MS [COUNT] | grabbed NODE\n");
  return 2;
}
