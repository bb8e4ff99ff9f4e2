#include "harness.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace gui {
namespace {

using clock_type = std::chrono::steady_clock;

clock_type::time_point deadline_after(double seconds) {
  return clock_type::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}

void pause_briefly() {
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// A window may vanish between listing and querying it; such errors are expected here.
int ignore_x_error(Display*, XErrorEvent*) {
  return 0;
}

// Starts argv[0] (searched in PATH) with DISPLAY set, stdout/stderr redirected (-1: /dev/null)
// and `inherit_fd` left open across exec. The child dies with the test process.
pid_t spawn(const std::vector<std::string>& args, const std::string& display,
            const std::string& working_dir, int out_fd, int err_fd, int inherit_fd) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: only async-signal-safe calls from here on.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  setpgid(0, 0);
  const int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, 0);
  dup2(out_fd >= 0 ? out_fd : null_fd, 1);
  dup2(err_fd >= 0 ? err_fd : null_fd, 2);
  if (inherit_fd >= 0) fcntl(inherit_fd, F_SETFD, 0);
  if (!working_dir.empty() && chdir(working_dir.c_str()) != 0) _exit(126);
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
  execvp(argv[0], argv.data());
  _exit(127);
}

// SIGTERM, then SIGKILL if it has not gone within a few seconds; always reaps.
void stop_process(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  const auto deadline = deadline_after(3);
  while (clock_type::now() < deadline) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    pause_briefly();
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

Window find_named_window(Display* dpy, Window w, const char* name) {
  char* window_name = nullptr;
  if (XFetchName(dpy, w, &window_name) && window_name != nullptr) {
    const bool match = std::strcmp(window_name, name) == 0;
    XFree(window_name);
    XWindowAttributes attributes;
    if (match && XGetWindowAttributes(dpy, w, &attributes) && attributes.map_state == IsViewable) {
      return w;
    }
  }
  Window root_return, parent_return;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(dpy, w, &root_return, &parent_return, &children, &count)) return 0;
  Window found = 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    found = find_named_window(dpy, children[i], name);
  }
  if (children != nullptr) XFree(children);
  return found;
}

void put_le(std::string& out, unsigned long value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

bool write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace

bool screenshot::near(int x, int y, int r, int g, int b, int tolerance) const {
  const unsigned char* p = at(x, y);
  return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
         std::abs(p[2] - b) <= tolerance;
}

int count_differences(const screenshot& a, const screenshot& b, int x0, int y0, int x1, int y1) {
  if (a.width != b.width || a.height != b.height) return -1;
  if (x1 < 0) x1 = a.width;
  if (y1 < 0) y1 = a.height;
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) count += std::memcmp(a.at(x, y), b.at(x, y), 3) != 0;
  }
  return count;
}

bool write_tga(const std::string& path, int width, int height,
               const std::vector<unsigned char>& rgb) {
  std::string out;
  out.append("\0\0\x02", 3);  // no id, no colour map, uncompressed true colour
  out.append(9, '\0');        // colour map description, x and y origin
  put_le(out, width, 2);
  put_le(out, height, 2);
  out.push_back(24);
  out.push_back(0x20);  // first row is the top row
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
    out.push_back(static_cast<char>(rgb[i + 2]));
    out.push_back(static_cast<char>(rgb[i + 1]));
    out.push_back(static_cast<char>(rgb[i]));
  }
  return write_file(path, out);
}

bool write_bmp(const std::string& path, int width, int height,
               const std::vector<unsigned char>& rgb) {
  const int row_bytes = (width * 3 + 3) / 4 * 4;
  std::string out = "BM";
  put_le(out, 54 + row_bytes * height, 4);
  put_le(out, 0, 4);
  put_le(out, 54, 4);
  put_le(out, 40, 4);
  put_le(out, width, 4);
  put_le(out, height, 4);  // positive: rows stored bottom-up
  put_le(out, 1, 2);
  put_le(out, 24, 2);
  put_le(out, 0, 4);
  put_le(out, row_bytes * height, 4);
  put_le(out, 2835, 4);
  put_le(out, 2835, 4);
  put_le(out, 0, 4);
  put_le(out, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = &rgb[(size_t(y) * width + x) * 3];
      out.push_back(static_cast<char>(p[2]));
      out.push_back(static_cast<char>(p[1]));
      out.push_back(static_cast<char>(p[0]));
    }
    out.append(row_bytes - width * 3, '\0');
  }
  return write_file(path, out);
}

temp_dir::temp_dir() {
  char pattern[] = "/tmp/mendlark-gui-XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;
}

temp_dir::~temp_dir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

// ---- virtual_display ----

virtual_display::virtual_display() {
  XSetErrorHandler(ignore_x_error);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    error_ = "cannot create a pipe for Xvfb";
    return;
  }
  pid_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24",
                "-nolisten", "tcp"},
               "", "", -1, -1, fds[1]);
  close(fds[1]);
  // Xvfb writes the display number it chose once it accepts connections.
  std::string number;
  const auto deadline = deadline_after(30);
  while (clock_type::now() < deadline && number.find('\n') == std::string::npos) {
    pollfd p = {fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[32];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    error_ = "Xvfb did not report a display number (is it installed?)";
    return;
  }
  name_ = ":" + number.substr(0, number.find('\n'));
  connection_ = XOpenDisplay(name_.c_str());
  if (connection_ == nullptr) {
    error_ = "cannot connect to Xvfb on " + name_;
    return;
  }
  int event_base, error_base, major, minor;
  if (!XTestQueryExtension(connection_, &event_base, &error_base, &major, &minor)) {
    error_ = "Xvfb on " + name_ + " lacks the XTEST extension";
    XCloseDisplay(connection_);
    connection_ = nullptr;
  }
}

virtual_display::~virtual_display() {
  if (connection_ != nullptr) XCloseDisplay(connection_);
  stop_process(pid_);
}

// ---- app_process ----

app_process::app_process(const virtual_display& display, const std::string& binary,
                         const std::vector<std::string>& args, const std::string& working_dir)
    : display_(display) {
  // A pseudo-terminal in raw mode: the program's stdout is line-buffered, "\n" stays "\n".
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    close(master);
    return;
  }
  termios mode;
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);
  int err_pipe[2];
  if (pipe2(err_pipe, O_CLOEXEC) != 0 || pipe2(wake_fd_, O_CLOEXEC) != 0) {
    close(master);
    close(slave);
    return;
  }
  std::vector<std::string> argv = {binary};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = spawn(argv, display.name(), working_dir, slave, err_pipe[1], -1);
  close(slave);
  close(err_pipe[1]);
  stdout_fd_ = master;
  stderr_fd_ = err_pipe[0];
  reader_ = std::thread([this] { read_output(); });
}

app_process::~app_process() {
  if (pid_ > 0 && !exit_status_) stop_process(pid_);
  if (reader_.joinable()) {
    if (write(wake_fd_[1], "x", 1) < 0) {
    }
    reader_.join();
  }
  for (int fd : {stdout_fd_, stderr_fd_, wake_fd_[0], wake_fd_[1]}) {
    if (fd >= 0) close(fd);
  }
}

void app_process::read_output() {
  pollfd fds[3] = {{stdout_fd_, POLLIN, 0}, {stderr_fd_, POLLIN, 0}, {wake_fd_[0], POLLIN, 0}};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 3, -1) < 0) continue;
    if (fds[2].revents != 0) return;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {  // end of file, or EIO once the terminal's last writer has gone
        fds[i].fd = -1;
        continue;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      (i == 0 ? stdout_buffer_ : stderr_buffer_).append(buffer, static_cast<size_t>(n));
    }
    changed_.notify_all();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  output_closed_ = true;
  changed_.notify_all();
}

std::optional<int> app_process::wait_for_exit(double timeout_seconds) {
  if (exit_status_ || pid_ <= 0) return exit_status_;
  const auto deadline = deadline_after(timeout_seconds);
  do {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_until(lock, deadline_after(5), [&] { return output_closed_; });
      return exit_status_;
    }
    pause_briefly();
  } while (clock_type::now() < deadline);
  return std::nullopt;
}

bool app_process::running() {
  return pid_ > 0 && !wait_for_exit(0);
}

std::vector<std::string> app_process::stdout_lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = stdout_buffer_.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(stdout_buffer_.substr(start, end - start));
  }
  return lines;
}

std::string app_process::stderr_text() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stderr_buffer_;
}

bool app_process::wait_for_stdout_lines(size_t count, double timeout_seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline_after(timeout_seconds), [&] {
    size_t lines = 0;
    for (char c : stdout_buffer_) lines += c == '\n';
    return lines >= count;
  });
}

bool app_process::wait_for_stderr(const std::string& needle, double timeout_seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_until(lock, deadline_after(timeout_seconds),
                             [&] { return stderr_buffer_.find(needle) != std::string::npos; });
}

bool app_process::wait_for_window(double timeout_seconds) {
  Display* dpy = display_.connection();
  const auto deadline = deadline_after(timeout_seconds);
  while (window_ == 0) {
    window_ = find_named_window(dpy, DefaultRootWindow(dpy), "Mendlark");
    if (window_ != 0) break;
    if (clock_type::now() >= deadline || !running()) return false;
    pause_briefly();
  }
  // Without a window manager the window may sit partly off-screen, which screenshots of it
  // cannot read; put it fully on the screen.
  XMoveWindow(dpy, window_, 16, 16);
  XSync(dpy, False);
  while (clock_type::now() < deadline) {
    int x = 0, y = 0;
    Window child;
    XTranslateCoordinates(dpy, window_, DefaultRootWindow(dpy), 0, 0, &x, &y, &child);
    if (x == 16 && y == 16) return true;
    pause_briefly();
  }
  return false;
}

bool app_process::window_size(int& width, int& height) const {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display_.connection(), window_, &attributes)) return false;
  width = attributes.width;
  height = attributes.height;
  return true;
}

screenshot app_process::take_screenshot() const {
  screenshot shot;
  int width = 0, height = 0;
  if (!window_size(width, height)) return shot;
  XImage* image = XGetImage(display_.connection(), window_, 0, 0, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (image == nullptr) return shot;
  shot.width = width;
  shot.height = height;
  shot.pixels.resize(size_t(width) * height * 3);
  auto channel = [](unsigned long pixel, unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
      mask >>= 1;
      ++shift;
    }
    return static_cast<unsigned char>((pixel >> shift) & 0xff);
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      unsigned char* p = &shot.pixels[(size_t(y) * width + x) * 3];
      p[0] = channel(pixel, image->red_mask);
      p[1] = channel(pixel, image->green_mask);
      p[2] = channel(pixel, image->blue_mask);
    }
  }
  XDestroyImage(image);
  return shot;
}

bool app_process::wait_for_screen(const std::function<bool(const screenshot&)>& condition,
                                  double timeout_seconds, screenshot* last) const {
  const auto deadline = deadline_after(timeout_seconds);
  for (;;) {
    screenshot shot = take_screenshot();
    const bool held = shot.width > 0 && condition(shot);
    if (last != nullptr) *last = std::move(shot);
    if (held) return true;
    if (clock_type::now() >= deadline) return false;
    pause_briefly();
  }
}

bool app_process::wait_for_stable_screen(const std::function<bool(const screenshot&)>& condition,
                                         double timeout_seconds, screenshot* last) const {
  screenshot previous;
  return wait_for_screen(
      [&](const screenshot& shot) {
        const bool stable = shot.pixels == previous.pixels && condition(shot);
        previous = shot;
        return stable;
      },
      timeout_seconds, last);
}

void app_process::move_to(int x, int y) const {
  Display* dpy = display_.connection();
  int origin_x = 0, origin_y = 0;
  Window child;
  XTranslateCoordinates(dpy, window_, DefaultRootWindow(dpy), 0, 0, &origin_x, &origin_y, &child);
  XTestFakeMotionEvent(dpy, DefaultScreen(dpy), origin_x + x, origin_y + y, CurrentTime);
  XSync(dpy, False);
}

void app_process::press(int button) const {
  XTestFakeButtonEvent(display_.connection(), static_cast<unsigned>(button), True, CurrentTime);
  XSync(display_.connection(), False);
}

void app_process::release(int button) const {
  XTestFakeButtonEvent(display_.connection(), static_cast<unsigned>(button), False, CurrentTime);
  XSync(display_.connection(), False);
}

void app_process::tap_key(unsigned long keysym) const {
  Display* dpy = display_.connection();
  const KeyCode code = XKeysymToKeycode(dpy, keysym);
  XTestFakeKeyEvent(dpy, code, True, CurrentTime);
  XTestFakeKeyEvent(dpy, code, False, CurrentTime);
  XSync(dpy, False);
}

std::string app_process::move_and_wait(int x, int y, double timeout_seconds) {
  const size_t before = stdout_lines().size();
  move_to(x, y);
  if (!wait_for_stdout_lines(before + 1, timeout_seconds)) return "";
  return stdout_lines()[before];
}

}  // namespace gui
