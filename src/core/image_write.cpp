// Writing image files with stb's image writer, compiled privately into this file: libSOIL
// exports an older stb copy under the same names, so the library build of stb is never linked.
// Every write goes to a temporary file beside the target, is flushed to disk, and only then
// renamed over the target: a failed write leaves any existing file exactly as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "image_io.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
#include <stb/stb_image_write.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace {

enum class format { none, png, jpeg, bmp, tga };

constexpr int jpeg_quality = 95;

format format_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return format::none;
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == "png") return format::png;
  if (extension == "jpg" || extension == "jpeg") return format::jpeg;
  if (extension == "bmp") return format::bmp;
  if (extension == "tga") return format::tga;
  return format::none;
}

// Where the encoder's bytes go; the first failed write() is kept and later chunks are dropped.
struct file_sink {
  int fd = -1;
  int error = 0;
};

void write_to_sink(void* context, void* data, int size) {
  file_sink* sink = static_cast<file_sink*>(context);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0 && sink->error == 0) {
    const ssize_t written = ::write(sink->fd, bytes, static_cast<size_t>(size));
    if (written < 0) {
      if (errno != EINTR) sink->error = errno;
      continue;
    }
    bytes += written;
    size -= static_cast<int>(written);
  }
}

std::string system_reason(int error_number) {
  return std::strerror(error_number);
}

// Creates a new file beside `path` with a name no other writer uses; the mode honours the umask
// as a plain create would.
int create_temporary(const std::string& path, std::string& temporary_path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_path = directory + "." + name + ".tmp-" + std::to_string(::getpid()) + "-" +
                     std::to_string(counter++);
    const int fd = ::open(temporary_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  errno = EEXIST;
  return -1;
}

bool encode(format kind, file_sink& sink, const rgb_image& image) {
  const unsigned char* pixels = image.pixels.data();
  switch (kind) {
    case format::png:
      return stbi_write_png_to_func(write_to_sink, &sink, image.width, image.height, 3, pixels,
                                    image.width * 3) != 0;
    case format::jpeg:
      return stbi_write_jpg_to_func(write_to_sink, &sink, image.width, image.height, 3, pixels,
                                    jpeg_quality) != 0;
    case format::bmp:
      return stbi_write_bmp_to_func(write_to_sink, &sink, image.width, image.height, 3, pixels) !=
             0;
    case format::tga:
      return stbi_write_tga_to_func(write_to_sink, &sink, image.width, image.height, 3, pixels) !=
             0;
    case format::none:
      break;
  }
  return false;
}

}  // namespace

bool is_supported_output(const std::string& path) {
  return format_of(path) != format::none;
}

bool write_image(const std::string& path, const rgb_image& image, std::string& error) {
  const format kind = format_of(path);
  if (kind == format::none) {
    error = "unsupported output format (use .png, .jpg, .jpeg, .bmp or .tga)";
    return false;
  }
  if (image.width <= 0 || image.height <= 0) {
    error = "the image has no pixels";
    return false;
  }
  if (image.width > INT_MAX / 3 / image.height ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height * 3) {
    error = "the pixel buffer does not match the image size";
    return false;
  }
  // The JPEG format stores each side in 16 bits.
  if (kind == format::jpeg && (image.width > 65535 || image.height > 65535)) {
    error = "the image is too large for JPEG (at most 65535 pixels a side)";
    return false;
  }

  std::string temporary_path;
  file_sink sink;
  sink.fd = create_temporary(path, temporary_path);
  if (sink.fd < 0) {
    error = "cannot create a file in its directory: " + system_reason(errno);
    return false;
  }
  const auto fail = [&](const std::string& reason) {
    if (sink.fd >= 0) ::close(sink.fd);
    ::unlink(temporary_path.c_str());
    error = reason;
    return false;
  };
  if (!encode(kind, sink, image)) {
    if (sink.error != 0) return fail("write failed: " + system_reason(sink.error));
    return fail("the image encoder failed");
  }
  if (sink.error != 0) return fail("write failed: " + system_reason(sink.error));
  if (::fsync(sink.fd) != 0) return fail("write failed: " + system_reason(errno));
  const int fd = sink.fd;
  sink.fd = -1;
  if (::close(fd) != 0) return fail("write failed: " + system_reason(errno));
  if (::rename(temporary_path.c_str(), path.c_str()) != 0) {
    return fail("cannot replace the file: " + system_reason(errno));
  }
  return true;
}
