#include "cli/platform.h"

#include <cctype>
#include <cstdio>

bool is_null_device_name(const char* path) {
  const char* name = "nul";
  for (; *name != '\0'; ++path, ++name) {
    if (std::tolower(static_cast<unsigned char>(*path)) != *name) return false;
  }
  return *path == '\0';
}

std::FILE* open_file(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

#if defined(_WIN32)

void prepare_process() {}

// Windows: the file is still written in place, through the C library; "nul" is the
// system's own null device.
bool replace_file(const char* path, const std::uint8_t* bytes, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  return std::fclose(file) == 0 && written;
}

#else  // POSIX

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr std::size_t kLargestWrite = std::size_t{1} << 30;
constexpr int kMostLinks = 40;

void ignore_signal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

// Writes the whole buffer, resuming after partial writes and interruptions.
bool write_all(int fd, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, std::min(size, kLargestWrite));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool write_in_place(const char* path, const std::uint8_t* bytes, std::size_t size) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = write_all(fd, bytes, size);
  return ::close(fd) == 0 && written;
}

// The directory that holds `path`, without a trailing slash.
std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string link_target(const char* path) {
  std::string target = path;
  for (int hop = 0; hop < kMostLinks; ++hop) {
    struct stat status {};
    if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return target;
    std::string link(static_cast<std::size_t>(status.st_size) + 1, '\0');
    const ssize_t length = ::readlink(target.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) return {};
    link.resize(static_cast<std::size_t>(length));
    target = link.front() == '/' ? link : directory_of(target) + "/" + link;
  }
  return {};
}

mode_t creation_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// A temporary file that exists under a name is removed if a signal ends the run
// before it is renamed. The signals are blocked while the name is made and recorded,
// so that the handler never sees a name that is not tarve's own; the handler makes
// only async-signal-safe calls.
char pendingTemporary[4096];
constexpr int kCleanupSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

extern "C" void remove_pending_temporary(int signal) {
  if (pendingTemporary[0] != '\0') ::unlink(pendingTemporary);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

sigset_t block_cleanup_signals() {
  sigset_t blocked;
  sigset_t previous;
  sigemptyset(&blocked);
  for (const int signal : kCleanupSignals) sigaddset(&blocked, signal);
  sigprocmask(SIG_BLOCK, &blocked, &previous);
  return previous;
}

void restore_signals(const sigset_t& previous) {
  sigprocmask(SIG_SETMASK, &previous, nullptr);
}

// Called with the signals blocked, once the temporary file exists.
void watch_temporary(const std::string& path) {
  std::snprintf(pendingTemporary, sizeof pendingTemporary, "%s", path.c_str());
  for (const int signal : kCleanupSignals) {
    struct sigaction action {};
    action.sa_handler = remove_pending_temporary;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

// Called with the signals blocked, once the temporary file is gone.
void forget_temporary() {
  for (const int signal : kCleanupSignals) ::signal(signal, SIG_DFL);
  pendingTemporary[0] = '\0';
}

// Gives the new file the old one's mode and, where allowed, its owner.
bool copy_attributes(int fd, mode_t mode, const struct stat* existing) {
  if (existing != nullptr && (existing->st_uid != ::geteuid() || existing->st_gid != ::getegid())) {
    [[maybe_unused]] const int ignored = ::fchown(fd, existing->st_uid, existing->st_gid);
  }
  return ::fchmod(fd, mode) == 0;
}

// Renames the complete temporary file over the target, or removes it.
bool commit_temporary(const std::string& temporary, const std::string& target, bool ok) {
  if (ok) ok = ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

#if defined(O_TMPFILE)
// Linux: the new content is written to an unnamed file in the target's directory,
// which vanishes by itself if the process dies before it is named. It gets a name
// only once complete, with the cleanup signals blocked until it is renamed over the
// target, so no signal can leave it behind.
std::optional<bool> replace_through_unnamed_file(const std::string& target, mode_t mode,
                                                 const struct stat* existing,
                                                 const std::uint8_t* bytes, std::size_t size) {
  const int fd = ::open(directory_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (fd < 0) return std::nullopt;  // not supported here: take the named path
  if (!write_all(fd, bytes, size) || !copy_attributes(fd, mode, existing)) {
    ::close(fd);
    return false;
  }
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  const sigset_t previous = block_cleanup_signals();
  std::string temporary;
  int linked = -1;
  for (int attempt = 0; attempt < 100 && linked != 0; ++attempt) {
    temporary = target + ".tarve-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    linked = ::linkat(AT_FDCWD, self, AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno != EEXIST) break;
  }
  if (linked != 0) {
    const bool noProc = errno == ENOENT;
    restore_signals(previous);
    ::close(fd);
    if (noProc) return std::nullopt;  // /proc is not mounted: take the named path
    return false;
  }
  const bool closed = ::close(fd) == 0;
  const bool ok = commit_temporary(temporary, target, closed);
  restore_signals(previous);
  return ok;
}
#endif

}  // namespace

// Anywhere else: a uniquely named temporary file, removed on failure and on the
// signals that end a run.
bool replace_through_named_file(const std::string& target, mode_t mode, const struct stat* existing,
                                const std::uint8_t* bytes, std::size_t size) {
  std::string temporary = target + ".tarve-XXXXXX";
  sigset_t previous = block_cleanup_signals();
  const int fd = ::mkstemp(temporary.data());
  if (fd >= 0) watch_temporary(temporary);
  restore_signals(previous);
  if (fd < 0) return false;

  bool ok = write_all(fd, bytes, size) && copy_attributes(fd, mode, existing);
  ok = ::close(fd) == 0 && ok;
  previous = block_cleanup_signals();
  ok = commit_temporary(temporary, target, ok);
  forget_temporary();
  restore_signals(previous);
  return ok;
}

void prepare_process() {
  // Descriptors 0 to 2 that are closed get the null device, so that no file opened
  // later becomes standard output by accident. Taken in order, each open lands on the
  // lowest free descriptor, which is the closed one.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int null = ::open("/dev/null", O_RDWR);
      if (null > 2) ::close(null);
    }
  }
  ignore_signal(SIGPIPE);
  ignore_signal(SIGXFSZ);
}

bool replace_file(const char* path, const std::uint8_t* bytes, std::size_t size) {
  if (is_null_device_name(path)) return write_in_place("/dev/null", bytes, size);

  const std::string target = link_target(path);
  if (target.empty()) return false;
  struct stat status {};
  const struct stat* existing = nullptr;
  if (::stat(target.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) return write_in_place(path, bytes, size);
    existing = &status;
  } else if (errno != ENOENT) {
    return false;
  }
  const mode_t mode = existing != nullptr ? existing->st_mode & 07777 : creation_mode();

#if defined(O_TMPFILE)
  if (const auto done = replace_through_unnamed_file(target, mode, existing, bytes, size)) {
    return *done;
  }
#endif
  return replace_through_named_file(target, mode, existing, bytes, size);
}

#endif
