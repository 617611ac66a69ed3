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

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <share.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr DWORD kLargestWrite = DWORD{1} << 30;

bool is_high_surrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low_surrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

void append_utf8(std::string& out, std::uint32_t code) {
  const auto put = [&out](std::uint32_t value) { out += static_cast<char>(value); };
  if (code < 0x80) {
    put(code);
  } else if (code < 0x800) {
    put(0xC0 | code >> 6);
    put(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    put(0xE0 | code >> 12);
    put(0x80 | (code >> 6 & 0x3F));
    put(0x80 | (code & 0x3F));
  } else {
    put(0xF0 | code >> 18);
    put(0x80 | (code >> 12 & 0x3F));
    put(0x80 | (code >> 6 & 0x3F));
    put(0x80 | (code & 0x3F));
  }
}

// The console's output code page before tarve set it to UTF-8. The code page belongs
// to the console, which the shell that started tarve shares, so it is put back at exit.
UINT consoleCodePage = 0;

void restore_console_code_page() {
  std::fflush(stdout);  // what is still buffered goes out as UTF-8, as it was written
  SetConsoleOutputCP(consoleCodePage);
}

// With this handler the C library's functions return their errors (a write to a
// standard output that is not open, say) instead of ending the process.
void ignore_invalid_parameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int,
                              std::uintptr_t) {}

bool write_all(HANDLE file, const std::uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, kLargestWrite));
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

// Writes to something that exists and is not a file on disk (the null device, a
// console, a pipe), without creating or truncating anything.
bool write_in_place(const wchar_t* path, const std::uint8_t* bytes, std::size_t size) {
  const HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool written = write_all(file, bytes, size);
  return CloseHandle(file) != 0 && written;
}

// A temporary file that exists under a name is removed if the console ends the run
// (Ctrl+C, Ctrl+Break, its window closed) before it is renamed. The lock is held
// while the temporary is made and while it is renamed or removed, so the handler,
// which runs in a thread of its own, finds either no name or one whose file exists.
// The handler is registered and unregistered outside the lock: the system may hold
// its own lock on the handler list while it calls the handler.
SRWLOCK pendingLock = SRWLOCK_INIT;
wchar_t pendingTemporary[32768];  // room for the longest path Windows has

BOOL WINAPI remove_pending_temporary(DWORD) {
  AcquireSRWLockExclusive(&pendingLock);
  if (pendingTemporary[0] != L'\0') DeleteFileW(pendingTemporary);
  ReleaseSRWLockExclusive(&pendingLock);
  return FALSE;  // the system's own handler then ends the process
}

// Attributes that a replaced file passes on to the new one (a read-only file is not
// replaced at all).
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Writes the bytes to a new, uniquely named file beside `target` and moves it over
// `target` once it is complete; a failure at any step removes it again.
bool replace_through_temporary(const std::wstring& target, DWORD attributes,
                               const std::uint8_t* bytes, std::size_t size) {
  SetConsoleCtrlHandler(remove_pending_temporary, TRUE);
  AcquireSRWLockExclusive(&pendingLock);
  HANDLE file = INVALID_HANDLE_VALUE;
  std::wstring temporary;
  for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = target + L".tarve-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(attempt);
    // Shared for deletion, so that the console handler can remove it while it is open.
    file = CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       attributes, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (file != INVALID_HANDLE_VALUE && temporary.size() < std::size(pendingTemporary)) {
    temporary.copy(pendingTemporary, temporary.size());
    pendingTemporary[temporary.size()] = L'\0';
  }
  ReleaseSRWLockExclusive(&pendingLock);
  if (file == INVALID_HANDLE_VALUE) {
    SetConsoleCtrlHandler(remove_pending_temporary, FALSE);
    return false;
  }

  const bool written = write_all(file, bytes, size);
  const bool closed = CloseHandle(file) != 0;

  AcquireSRWLockExclusive(&pendingLock);
  const bool moved = written && closed &&
                     MoveFileExW(temporary.c_str(), target.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!moved) DeleteFileW(temporary.c_str());
  pendingTemporary[0] = L'\0';
  ReleaseSRWLockExclusive(&pendingLock);
  SetConsoleCtrlHandler(remove_pending_temporary, FALSE);
  return moved;
}

// The file a symbolic link leads to, so that the link stays a link to the replaced
// file; any other path is kept as it is.
std::wstring link_target(const std::wstring& path, HANDLE opened) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return path;
  }
  std::wstring target(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(opened, target.data(), static_cast<DWORD>(target.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < target.size()) {
      target.resize(length);
      return target;
    }
    target.resize(length);  // too short: `length` is the size needed, with the null
  }
}

}  // namespace

std::string utf8_from_wide(const wchar_t* text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    std::uint32_t code = static_cast<std::uint16_t>(*text);
    const std::uint32_t next = static_cast<std::uint16_t>(text[1]);
    if (is_high_surrogate(code) && is_low_surrogate(next)) {
      code = 0x10000 + ((code - 0xD800) << 10) + (next - 0xDC00);
      ++text;
    }
    append_utf8(out, code);
  }
  return out;
}

std::optional<std::wstring> wide_from_utf8(const char* text) {
  std::wstring out;
  const auto* in = reinterpret_cast<const unsigned char*>(text);
  while (*in != 0) {
    const unsigned lead = *in++;
    std::uint32_t code = 0;
    std::uint32_t least = 0;  // the smallest code point this length may encode
    int following = 0;
    if (lead < 0x80) {
      code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      code = lead & 0x1F;
      least = 0x80;
      following = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      code = lead & 0x0F;
      least = 0x800;
      following = 2;
    } else if ((lead & 0xF8) == 0xF0) {
      code = lead & 0x07;
      least = 0x10000;
      following = 3;
    } else {
      return std::nullopt;
    }
    for (; following > 0; --following, ++in) {
      if ((*in & 0xC0) != 0x80) return std::nullopt;  // the terminating 0 stops here too
      code = code << 6 | (*in & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF) return std::nullopt;
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
  }
  return out;
}

char** utf8_arguments(int argc, wchar_t** argv) {
  // Like main's own arguments, they are never freed.
  auto* arguments = new std::vector<std::string>();
  auto* pointers = new std::vector<char*>();
  for (int i = 0; i < argc; ++i) arguments->push_back(utf8_from_wide(argv[i]));
  for (std::string& argument : *arguments) pointers->push_back(argument.data());
  pointers->push_back(nullptr);
  return pointers->data();
}

void prepare_process() {
  _set_invalid_parameter_handler(ignore_invalid_parameter);
  // A path on a drive without a disk fails at once instead of asking the user.
  SetErrorMode(SEM_FAILCRITICALERRORS);
  // File names are printed as UTF-8; a console shows them so only in that code page.
  // Redirected output gets the bytes as they are.
  DWORD mode = 0;
  if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
      consoleCodePage = codePage;
      std::atexit(restore_console_code_page);
    }
  }
}

std::int64_t file_position(std::FILE* file) {
  return _ftelli64(file);
}

// Windows cannot give back part of a mapping, and has no transparent huge pages.
std::uint8_t* map_fresh_memory(std::size_t) {
  return nullptr;
}

void unmap_memory(std::uint8_t*, std::size_t) {}

// Files are opened by their UTF-16 names, in binary mode as `mode` says, shared with
// other readers and writers as std::fopen's are.
std::FILE* open_file(const char* path, const char* mode) {
  const std::optional<std::wstring> name = wide_from_utf8(path);
  if (!name) return nullptr;
  std::wstring wideMode;
  for (const char* c = mode; *c != '\0'; ++c) wideMode += static_cast<wchar_t>(*c);
  return _wfsopen(name->c_str(), wideMode.c_str(), _SH_DENYNO);
}

// Windows: "nul" in any case, and anything else that is not a file on disk, is
// written in place. A file on disk, new or old, is written under a temporary name
// beside it and moved over it once complete, so a failed write leaves the old file
// as it was and no temporary behind. A read-only file is not replaced, nor is one
// that another program holds open without letting it be deleted; a replaced file
// keeps its hidden, system, archive and not-indexed attributes, and a symbolic link
// stays a link to the replaced file. A directory is never written.
bool replace_file(const char* path, const std::uint8_t* bytes, std::size_t size) {
  if (is_null_device_name(path)) return write_in_place(L"NUL", bytes, size);
  const std::optional<std::wstring> name = wide_from_utf8(path);
  if (!name) return false;

  // Opened for no access at all, only to learn what it is.
  const HANDLE existing =
      CreateFileW(name->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (existing == INVALID_HANDLE_VALUE) {
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    return replace_through_temporary(*name, FILE_ATTRIBUTE_NORMAL, bytes, size);
  }
  if (GetFileType(existing) != FILE_TYPE_DISK) {
    CloseHandle(existing);
    return write_in_place(name->c_str(), bytes, size);
  }
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(existing, &information) != 0;
  const std::wstring target = known ? link_target(*name, existing) : std::wstring{};
  CloseHandle(existing);
  if (!known || target.empty()) return false;
  // Windows itself refuses to move a file over a read-only one; tarve refuses before
  // it writes anything, on every file system.
  if ((information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
    return false;
  }
  DWORD attributes = information.dwFileAttributes & kKeptAttributes;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return replace_through_temporary(target, attributes, bytes, size);
}

#else  // POSIX

#include <fcntl.h>
#include <sys/mman.h>
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
constexpr std::size_t kHugePage = std::size_t{2} << 20;

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

std::FILE* open_file(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

std::int64_t file_position(std::FILE* file) {
  return ::ftello(file);
}

// The kernel backs only aligned 2 MiB ranges with huge pages, so the mapping is made
// one huge page longer than asked and trimmed to start on a 2 MiB boundary. The
// advice is a hint: where transparent huge pages are off, the memory simply has
// ordinary pages.
std::uint8_t* map_fresh_memory(std::size_t length) {
  if (length > SIZE_MAX - kHugePage) return nullptr;
  void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto* start = static_cast<std::uint8_t*>(mapped);
  const auto address = reinterpret_cast<std::uintptr_t>(start);
  const std::size_t head = (kHugePage - address % kHugePage) % kHugePage;
  if (head != 0) ::munmap(start, head);
  ::munmap(start + head + length, kHugePage - head);
  start += head;
#if defined(MADV_HUGEPAGE)
  ::madvise(start, length, MADV_HUGEPAGE);
#endif
  return start;
}

void unmap_memory(std::uint8_t* start, std::size_t length) {
  ::munmap(start, length);
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
