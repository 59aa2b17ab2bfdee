#include "circuit/reactive_dot.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <system_error>

namespace talvo::detail {

namespace {

/// The operating system's error `code`, naming the file it concerns.
std::unexpected<Error> file_error(const std::string& path, int code) {
  return fail("cannot write '" + path + "': " + std::generic_category().message(code));
}

}  // namespace

std::string fixed_two_digits(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Written without the C library's locale, so a host program's decimal comma never reaches
  // the text. The largest finite double has 309 digits before the point.
  char buffer[400];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  return std::string(buffer, written.ptr);
}

std::string dot_quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size());
  for (const char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted;
}

Result<void> write_file(const std::string& path, std::string_view text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return file_error(path, errno);

  int write_error = 0;
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      write_error = errno;
      break;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  // The file is closed whether or not the write succeeded; a failed close loses written data too.
  const int close_error = ::close(fd) == 0 ? 0 : errno;
  if (write_error != 0) return file_error(path, write_error);
  if (close_error != 0) return file_error(path, close_error);
  return {};
}

}  // namespace talvo::detail
