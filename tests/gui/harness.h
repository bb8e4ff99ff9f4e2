// Driving the real window program under a private X server, for end-to-end tests.
//
// virtual_display starts Xvfb on a free display number (Xvfb picks it itself through
// -displayfd, so parallel test runs never collide) and opens one connection to it.
// app_process starts a program on that display with chosen arguments and working directory,
// its standard output on a pseudo-terminal (so it is line-buffered exactly as in a terminal)
// and its standard error on a pipe, both drained by a reader thread into buffers.
// Pointer and key events are real XTest events; positions are window pixels (origin top-left
// of the program's window). Screenshots read the window's pixels as RGB, row 0 at the top.
// Every wait_* function polls an observable condition until a bounded timeout and returns
// whether it held. Destructors kill and reap what was started; children also get SIGKILL if
// the test process dies, so no Xvfb or program outlives a failing test.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace gui {

// Row-major RGB, 3 bytes per pixel, row 0 at the top.
struct screenshot {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;

  const unsigned char* at(int x, int y) const { return &pixels[(size_t(y) * width + x) * 3]; }
  // True when pixel (x, y) is within `tolerance` of (r, g, b) in every channel.
  bool near(int x, int y, int r, int g, int b, int tolerance = 0) const;
};

// Number of pixels whose bytes differ between two shots of the same size (inside the box
// x0 <= x < x1, y0 <= y < y1 when given).
int count_differences(const screenshot& a, const screenshot& b, int x0 = 0, int y0 = 0, int x1 = -1,
                      int y1 = -1);

// Uncompressed test images that the program's loader reads. Pixels as in screenshot.
bool write_tga(const std::string& path, int width, int height,
               const std::vector<unsigned char>& rgb);
bool write_bmp(const std::string& path, int width, int height,
               const std::vector<unsigned char>& rgb);

// A fresh empty directory under /tmp, removed with its files by the destructor.
class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

class virtual_display {
 public:
  virtual_display();  // check ok(); error() says why it failed
  ~virtual_display();
  virtual_display(const virtual_display&) = delete;
  virtual_display& operator=(const virtual_display&) = delete;

  bool ok() const { return connection_ != nullptr; }
  const std::string& error() const { return error_; }
  const std::string& name() const { return name_; }  // ":N"
  Display* connection() const { return connection_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
  std::string error_;
  Display* connection_ = nullptr;
};

class app_process {
 public:
  app_process(const virtual_display& display, const std::string& binary,
              const std::vector<std::string>& args, const std::string& working_dir = "");
  ~app_process();
  app_process(const app_process&) = delete;
  app_process& operator=(const app_process&) = delete;

  // ---- process ----
  bool started() const { return pid_ > 0; }
  // The exit status (or 128 + signal), once the program has ended within the timeout; all it
  // wrote has then been read.
  std::optional<int> wait_for_exit(double timeout_seconds);
  bool running();

  // ---- output ----
  std::vector<std::string> stdout_lines();  // complete lines so far, without "\n"
  std::string stderr_text();
  bool wait_for_stdout_lines(size_t count, double timeout_seconds);
  bool wait_for_stderr(const std::string& needle, double timeout_seconds);

  // ---- window ----
  // Waits until a viewable top-level window with the caption "Mendlark" exists.
  bool wait_for_window(double timeout_seconds);
  Window window() const { return window_; }
  bool window_size(int& width, int& height) const;
  screenshot take_screenshot() const;
  // Polls screenshots until `condition` holds; `last` receives the final shot.
  bool wait_for_screen(const std::function<bool(const screenshot&)>& condition,
                       double timeout_seconds, screenshot* last = nullptr) const;
  // As wait_for_screen, and the shot must also equal the one before it. A read can land while
  // a frame is still being copied to the window; once the events have been handled every frame
  // is the same, so two equal shots in a row show one whole frame.
  bool wait_for_stable_screen(const std::function<bool(const screenshot&)>& condition,
                              double timeout_seconds, screenshot* last = nullptr) const;

  // ---- input (window pixels) ----
  void move_to(int x, int y) const;
  void press(int button = 1) const;
  void release(int button = 1) const;
  void tap_key(unsigned long keysym) const;  // X keysym, e.g. XK_F1

  // Moves to (x, y) and waits for the motion line it prints: every callback before it has
  // then run. Returns the printed line, or "" on timeout.
  std::string move_and_wait(int x, int y, double timeout_seconds = 20);

 private:
  void read_output();

  const virtual_display& display_;
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  int stdout_fd_ = -1;
  int stderr_fd_ = -1;
  int wake_fd_[2] = {-1, -1};
  Window window_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string stdout_buffer_;
  std::string stderr_buffer_;
  bool output_closed_ = false;
};

}  // namespace gui
