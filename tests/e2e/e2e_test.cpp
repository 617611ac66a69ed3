// End-to-end tests: the built tarve run as a separate process on fixture files.
//
// The cases are one table (kCases, below). Each case gives the arguments after the
// program name, the exit status, standard output byte for byte, and the output file:
// either none, or its exact bytes. For each case the runner makes a fresh, empty work
// directory of its own under the build tree, copies into it every argument that names
// a file of tests/fixtures/ (fixture names are given bare), runs tarve there and
// compares. It then checks that the directory holds the copied fixtures, unchanged,
// and nothing else but the expected output file.
//
// Expected output files are built here from the fixture bytes themselves and not from
// anything tarve computes: an icon holding a PNG image is the header, the directory
// and the PNG file's bytes; a copy of an icon file is its images, taken through its
// own directory, packed back to back behind a new directory. The images converted
// from bitmaps come from the golden icons in tests/fixtures/expected/, which
// tests/fixtures/make_fixtures.py builds from the bitmap format's rules.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const fs::path kTarve{TARVE_EXECUTABLE};
const fs::path kFixtures{TARVE_FIXTURE_DIR};
const fs::path kWorkRoot{TARVE_E2E_WORK_DIR};

// ---------------------------------------------------------------------------
// The platform: running tarve, its usage status and its text output.

// What one run of tarve gave.
struct RunResult {
  int status;          // the exit status as the platform reports it
  std::string output;  // everything tarve wrote to standard output
};

#if defined(_WIN32)
// exit(-1) is reported whole on Windows.
constexpr int kUsageStatus = -1;
#else
// A POSIX parent sees the low eight bits of exit(-1).
constexpr int kUsageStatus = 255;
#endif
constexpr int kFailureStatus = 99;

// Standard output is a text stream: on Windows each line feed goes out as carriage
// return and line feed.
std::string platform_text(const std::string& text) {
#if defined(_WIN32)
  std::string converted;
  for (const char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
#else
  return text;
#endif
}

// File names in the cases are UTF-8 on every platform.
fs::path utf8_path(const std::string& name) {
  return fs::path(std::u8string(name.begin(), name.end()));
}

std::string utf8_name(const fs::path& path) {
  const std::u8string name = path.filename().u8string();
  return std::string(name.begin(), name.end());
}

#if defined(_WIN32)
std::wstring wide(const std::string& utf8) {
  return utf8_path(utf8).wstring();
}

// One argument of a command line, quoted so that CommandLineToArgvW (and the C
// runtime, which parses the same way) gives it back unchanged: backslashes are
// literal except before a quotation mark, where they and the mark are escaped.
std::wstring argument_quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');  // they come before the closing mark
  return quoted + L"\"";
}

// A failed system call, with the system's error code.
std::runtime_error system_error(const std::string& what) {
  return std::runtime_error(what + " failed, error " + std::to_string(GetLastError()));
}

// Closes a handle when it goes out of scope.
struct Handle {
  HANDLE handle = INVALID_HANDLE_VALUE;
  Handle() = default;
  explicit Handle(HANDLE h) : handle(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { close(); }
  void close() {
    if (handle != INVALID_HANDLE_VALUE && handle != nullptr) CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
};
#else
std::string shell_quoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}
#endif

// Runs tarve with `arguments` (those after the program name) in `directory` and
// returns its exit status and standard output. This is the only place that starts a
// process.
RunResult run_tarve(const fs::path& directory, const std::vector<std::string>& arguments) {
#if defined(_WIN32)
  // The program's own name is quoted whole: the first word of a command line has no
  // escapes.
  std::wstring command = L"\"" + kTarve.wstring() + L"\"";
  for (const std::string& argument : arguments) command += L" " + argument_quoted(wide(argument));

  // Standard output goes to a pipe that only this side reads; standard input is the
  // null device, and standard error is shared with the test.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  Handle readEnd;
  Handle writeEnd;
  if (!CreatePipe(&readEnd.handle, &writeEnd.handle, &inheritable, 0)) {
    throw system_error("CreatePipe");
  }
  SetHandleInformation(readEnd.handle, HANDLE_FLAG_INHERIT, 0);
  Handle input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           OPEN_EXISTING, 0, nullptr));
  Handle error;
  if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(),
                       &error.handle, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    error.handle = INVALID_HANDLE_VALUE;  // the test has no standard error: neither has tarve
  }

  STARTUPINFOW startup{};
  startup.cb = static_cast<DWORD>(sizeof startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.handle;
  startup.hStdOutput = writeEnd.handle;
  startup.hStdError = error.handle;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(kTarve.wstring().c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      directory.wstring().c_str(), &startup, &process)) {
    throw system_error("CreateProcessW for " + kTarve.string());
  }
  Handle processHandle(process.hProcess);
  Handle threadHandle(process.hThread);
  writeEnd.close();  // the pipe ends when tarve's copy of it closes
  input.close();
  error.close();

  std::string output;
  std::array<char, 4096> block{};
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(readEnd.handle, block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) break;  // tarve has closed its end
      throw system_error("ReadFile from tarve");
    }
    if (got == 0) break;
    output.append(block.data(), got);
  }
  if (WaitForSingleObject(processHandle.handle, INFINITE) != WAIT_OBJECT_0) {
    throw system_error("WaitForSingleObject");
  }
  DWORD status = 0;
  if (!GetExitCodeProcess(processHandle.handle, &status)) throw system_error("GetExitCodeProcess");
  return {static_cast<int>(status), output};
#else
  std::string command =
      "cd " + shell_quoted(directory.string()) + " && exec " + shell_quoted(kTarve.string());
  for (const std::string& argument : arguments) command += " " + shell_quoted(argument);

  std::fflush(nullptr);
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start: " + command);
  std::string output;
  std::array<char, 4096> block{};
  for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), pipe)) > 0;) {
    output.append(block.data(), got);
  }
  const int wait_status = pclose(pipe);
  if (wait_status == -1) throw std::runtime_error("cannot wait for: " + command);
  if (!WIFEXITED(wait_status)) {
    throw std::runtime_error("tarve did not exit normally (wait status " +
                             std::to_string(wait_status) + "): " + command);
  }
  return {WEXITSTATUS(wait_status), output};
#endif
}

// ---------------------------------------------------------------------------
// Files and bytes.

Bytes read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes fixture_bytes(const std::string& name) {
  return read_file(kFixtures / name);
}

bool is_fixture(const std::string& argument) {
  return !argument.empty() && argument.find_first_of("/\\") == std::string::npos &&
         fs::is_regular_file(kFixtures / argument);
}

std::set<std::string> names_in(const fs::path& directory) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    names.insert(utf8_name(entry.path()));
  }
  return names;
}

testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(a - actual.begin());
  auto failure = testing::AssertionFailure();
  failure << actual.size() << " bytes where " << expected.size()
          << " were expected; first difference at offset " << at;
  if (a != actual.end() && e != expected.end()) {
    failure << " (" << int{*a} << " where " << int{*e} << " was expected)";
  }
  return failure;
}

std::uint32_t read_le(const Bytes& bytes, std::size_t offset, std::size_t width) {
  if (offset + width > bytes.size()) throw std::out_of_range("field past the end of a file");
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = value << 8 | bytes[offset + i];
  return value;
}

void put_le(std::uint8_t* bytes, std::uint32_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// ---------------------------------------------------------------------------
// Expected icon files.

// One icon image: its 16-byte directory entry (the offset is set when it is laid
// out) and its bytes.
struct Image {
  std::array<std::uint8_t, 16> entry;
  Bytes bytes;
};
using Images = std::vector<Image>;
using ImageSource = std::function<Images()>;

// The icon file tarve writes: header, directory, images back to back in order.
Bytes lay_out(const Images& images) {
  Bytes file(6 + 16 * images.size());
  put_le(&file[2], 1, 2);
  put_le(&file[4], static_cast<std::uint32_t>(images.size()), 2);
  for (std::size_t i = 0; i < images.size(); ++i) {
    std::uint8_t* entry = &file[6 + 16 * i];
    std::copy(images[i].entry.begin(), images[i].entry.end(), entry);
    put_le(entry + 12, static_cast<std::uint32_t>(file.size()), 4);
    file.insert(file.end(), images[i].bytes.begin(), images[i].bytes.end());
  }
  return file;
}

// The images of an icon file, each found through its directory entry.
Images images_in(const Bytes& file) {
  Images images;
  const std::uint32_t count = read_le(file, 4, 2);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t at = 6 + 16 * std::size_t{i};
    const std::uint32_t size = read_le(file, at + 8, 4);
    const std::uint32_t offset = read_le(file, at + 12, 4);
    if (std::size_t{offset} + size > file.size()) throw std::out_of_range("image past the end");
    Image image{};
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(at), 16, image.entry.begin());
    image.bytes.assign(file.begin() + offset, file.begin() + offset + size);
    images.push_back(std::move(image));
  }
  return images;
}

// The images of the fixture icon file `name`, unchanged.
ImageSource icon_images(std::string name) {
  return [name] { return images_in(fixture_bytes(name)); };
}

// The images of the golden icon tests/fixtures/expected/<name>.ico.
ImageSource golden(std::string name) {
  return [name] { return images_in(fixture_bytes("expected/" + name + ".ico")); };
}

// The fixture PNG file `name` as one image: width and height as stored in the entry
// (0 for 256), no colours, reserved 0, one plane, its bit depth, the whole file.
ImageSource png(std::string name, std::uint8_t width, std::uint8_t height, std::uint16_t bits) {
  return [=] {
    Image image{{width, height, 0, 0}, fixture_bytes(name)};
    put_le(&image.entry[4], 1, 2);
    put_le(&image.entry[6], bits, 2);
    put_le(&image.entry[8], static_cast<std::uint32_t>(image.bytes.size()), 4);
    return Images{image};
  };
}

// The output file a case expects: none at all, or exact bytes.
struct ExpectedFile {
  std::function<Bytes()> bytes;  // empty: no file may be created
  explicit operator bool() const { return static_cast<bool>(bytes); }
};

const ExpectedFile kNoFile{};

ExpectedFile icon(std::vector<ImageSource> sources) {
  return {[sources] {
    Images all;
    for (const ImageSource& source : sources) {
      Images some = source();
      all.insert(all.end(), some.begin(), some.end());
    }
    return lay_out(all);
  }};
}

ExpectedFile exactly(Bytes bytes) {
  return {[bytes] { return bytes; }};
}

// ---------------------------------------------------------------------------
// The cases.

struct Case {
  std::string name;                    // also the test's name: letters, digits, _
  std::vector<std::string> arguments;  // after the program name; the first is the output
  int status;
  std::string output;  // standard output, exactly (line feeds as on POSIX)
  ExpectedFile file;   // the output file, the first argument
};

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name << ": tarve";
  for (const std::string& argument : c.arguments) *out << ' ' << argument;
}

const std::string kUsage =
    "tarve ver 1.0, May 7, 2013 -- https://tarve.example.org/\n"
    "Builds .ico file from input .bmp, .ico or .png\n"
    "\n"
    "Usage: tarve outfile.ico infile1 (infile2...)\n"
    "\n"
    "Examples:\n"
    "  tarve nul in.ico - display info about in.ico\n"
    "  tarve icon.ico icon.ico new.ico - add new.ico to icon.ico\n"
    "  tarve icon.ico in1.bmp in2.png in3.ico - build icon.ico\n";

// Listing lines of fixtures that several cases list.
const std::string kIcoTwoLines =
    " 1: png  24x 16 32bpp   0clr    860 ico_two.ico\n"
    " 2: bmp   2x  2 32bpp   0clr     64 ico_two.ico\n";

const std::vector<Case> kCases = {
    // --- Arguments and usage text.
    {"usage_no_arguments", {}, kUsageStatus, kUsage, kNoFile},
    {"usage_output_path_only", {"out.ico"}, kUsageStatus, kUsage, kNoFile},
    {"usage_leaves_existing_output_alone", {"ico_two.ico"}, kUsageStatus, kUsage, kNoFile},

    // --- Loading.
    {"read_error_15_bytes",
     {"out.ico", "short15.ico"},
     kFailureStatus,
     "file read error: short15.ico\n",
     kNoFile},
    {"loads_16_bytes_empty_icon",
     {"out.ico", "ico_empty.ico"},
     0,
     "",
     exactly({0x00, 0x00, 0x01, 0x00, 0x00, 0x00})},
    {"loads_16_bytes_then_unknown_format",
     {"out.ico", "unknown16.bin"},
     kFailureStatus,
     "unknown file format: unknown16.bin\n",
     kNoFile},
    {"read_error_missing_file",
     {"out.ico", "missing.bmp"},
     kFailureStatus,
     "file read error: missing.bmp\n",
     kNoFile},
    {"read_error_of_third_before_format_error_of_first",
     {"out.ico", "unknown16.bin", "ico_two.ico", "missing.ico"},
     kFailureStatus,
     "file read error: missing.ico\n",
     kNoFile},
    {"first_read_error_ends_run",
     {"out.ico", "missing1.ico", "missing2.ico"},
     kFailureStatus,
     "file read error: missing1.ico\n",
     kNoFile},
    {"read_error_names_the_argument_exactly",
     {"out.ico", "missing \\\"quoted\\\" \\\\name"},
     kFailureStatus,
     "file read error: missing \\\"quoted\\\" \\\\name\n",
     kNoFile},
    {"wildcard_taken_as_a_file_name",
     {"out.ico", "ico_two.ico", "*.ico"},
     kFailureStatus,
     "file read error: *.ico\n",
     kNoFile},
    {"read_error_after_valid_inputs",
     {"out.ico", "bmp24_3x3.bmp", "ico_two.ico", "short15.ico"},
     kFailureStatus,
     "file read error: short15.ico\n",
     kNoFile},

    // --- Recognition by content.
    {"bitmap_named_png",
     {"out.ico", "x.png"},
     0,
     " 1: bmp   3x  3 32bpp   0clr     88 x.png\n",
     icon({golden("bmp24_3x3")})},
    {"cursor_is_unknown_format",
     {"out.ico", "cursor.ico"},
     kFailureStatus,
     "unknown file format: cursor.ico\n",
     kNoFile},
    {"format_error_ends_run_before_later_inputs",
     {"out.ico", "cursor.ico", "bmp1_257x10.bmp"},
     kFailureStatus,
     "unknown file format: cursor.ico\n",
     kNoFile},
    {"png_recognized_by_four_bytes",
     {"out.ico", "png_sig4_1x1.png"},
     0,
     " 1: png   1x  1  8bpp   0clr     33 png_sig4_1x1.png\n",
     icon({png("png_sig4_1x1.png", 1, 1, 8)})},

    // --- Inputs named more than once, and outputs that exist.
    {"icon_named_twice",
     {"out.ico", "ico_two.ico", "ico_two.ico"},
     0,
     " 1: png  24x 16 32bpp   0clr    860 ico_two.ico\n"
     " 2: bmp   2x  2 32bpp   0clr     64 ico_two.ico\n"
     " 3: png  24x 16 32bpp   0clr    860 ico_two.ico\n"
     " 4: bmp   2x  2 32bpp   0clr     64 ico_two.ico\n",
     icon({icon_images("ico_two.ico"), icon_images("ico_two.ico")})},
    {"top_down_bitmap_named_twice",
     {"out.ico", "bmp4_16x16_topdown.bmp", "bmp4_16x16_topdown.bmp"},
     0,
     " 1: bmp  16x 16  4bpp  16clr    296 bmp4_16x16_topdown.bmp\n"
     " 2: bmp  16x 16  4bpp  16clr    296 bmp4_16x16_topdown.bmp\n",
     icon({golden("bmp4_16x16"), golden("bmp4_16x16")})},
    {"output_is_first_input",
     {"ico_two.ico", "ico_two.ico", "png_16x24.png"},
     0,
     kIcoTwoLines + " 3: png  24x 16 16bpp   0clr    860 png_16x24.png\n",
     icon({icon_images("ico_two.ico"), png("png_16x24.png", 16, 24, 16)})},
    {"existing_output_is_replaced",
     {"ico_three.ico", "png_sig4_1x1.png"},
     0,
     " 1: png   1x  1  8bpp   0clr     33 png_sig4_1x1.png\n",
     icon({png("png_sig4_1x1.png", 1, 1, 8)})},

    // --- Icon files.
    {"empty_icons_add_nothing",
     {"out.ico", "ico_empty.ico", "png_sig4_1x1.png", "ico_empty.ico"},
     0,
     " 1: png   1x  1  8bpp   0clr     33 png_sig4_1x1.png\n",
     icon({png("png_sig4_1x1.png", 1, 1, 8)})},
    {"icon_width_0_kept_and_listed_256",
     {"out.ico", "ico_width0.ico"},
     0,
     " 1: bmp   1x256  1bpp   2clr    112 ico_width0.ico\n",
     icon({icon_images("ico_width0.ico")})},
    {"icon_two_images_copied",
     {"out.ico", "ico_two.ico"},
     0,
     kIcoTwoLines,
     icon({icon_images("ico_two.ico")})},
    {"icon_three_images_copied_with_their_fields",
     {"out.ico", "ico_three.ico"},
     0,
     " 1: bmp   1x  1  1bpp   2clr     56 ico_three.ico\n"
     " 2: bmp   1x  2  4bpp  16clr    112 ico_three.ico\n"
     " 3: bmp   1x  1 32bpp   0clr     48 ico_three.ico\n",
     icon({icon_images("ico_three.ico")})},
    {"twelve_images_numbered",
     {"out.ico", "ico_three.ico", "ico_three.ico", "ico_three.ico", "ico_three.ico"},
     0,
     " 1: bmp   1x  1  1bpp   2clr     56 ico_three.ico\n"
     " 2: bmp   1x  2  4bpp  16clr    112 ico_three.ico\n"
     " 3: bmp   1x  1 32bpp   0clr     48 ico_three.ico\n"
     " 4: bmp   1x  1  1bpp   2clr     56 ico_three.ico\n"
     " 5: bmp   1x  2  4bpp  16clr    112 ico_three.ico\n"
     " 6: bmp   1x  1 32bpp   0clr     48 ico_three.ico\n"
     " 7: bmp   1x  1  1bpp   2clr     56 ico_three.ico\n"
     " 8: bmp   1x  2  4bpp  16clr    112 ico_three.ico\n"
     " 9: bmp   1x  1 32bpp   0clr     48 ico_three.ico\n"
     "10: bmp   1x  1  1bpp   2clr     56 ico_three.ico\n"
     "11: bmp   1x  2  4bpp  16clr    112 ico_three.ico\n"
     "12: bmp   1x  1 32bpp   0clr     48 ico_three.ico\n",
     icon({icon_images("ico_three.ico"), icon_images("ico_three.ico"), icon_images("ico_three.ico"),
           icon_images("ico_three.ico")})},
    {"corrupt_icon_directory_past_end",
     {"out.ico", "ico_dir_past_end.ico"},
     kFailureStatus,
     "corrupt icon file: ico_dir_past_end.ico\n",
     kNoFile},
    {"corrupt_icon_image_past_end",
     {"out.ico", "ico_image_past_end.ico"},
     kFailureStatus,
     "corrupt icon file: ico_image_past_end.ico\n",
     kNoFile},
    {"corrupt_icon_offset_wraps",
     {"out.ico", "ico_offset_wrap.ico"},
     kFailureStatus,
     "corrupt icon file: ico_offset_wrap.ico\n",
     kNoFile},
    {"corrupt_icon_size_wraps",
     {"out.ico", "ico_size_wrap.ico"},
     kFailureStatus,
     "corrupt icon file: ico_size_wrap.ico\n",
     kNoFile},
    {"corrupt_icon_after_valid_input",
     {"out.ico", "png_16x24.png", "ico_image_past_end.ico"},
     kFailureStatus,
     "corrupt icon file: ico_image_past_end.ico\n",
     kNoFile},

    // --- The writer: null device, write errors, the typical run.
    {"inspect_with_nul",
     {"nul", "ico_three.ico"},
     0,
     " 1: bmp   1x  1  1bpp   2clr     56 ico_three.ico\n"
     " 2: bmp   1x  2  4bpp  16clr    112 ico_three.ico\n"
     " 3: bmp   1x  1 32bpp   0clr     48 ico_three.ico\n",
     kNoFile},
    {"inspect_with_NUL", {"NUL", "ico_two.ico"}, 0, kIcoTwoLines, kNoFile},
    {"write_error_directory_missing",
     {"no_such_dir/out.ico", "bmp24_3x3.bmp", "png_16x24.png"},
     kFailureStatus,
     " 1: bmp   3x  3 32bpp   0clr     88 bmp24_3x3.bmp\n"
     " 2: png  24x 16 16bpp   0clr    860 png_16x24.png\n"
     "file write error: no_such_dir/out.ico\n",
     kNoFile},
    {"typical_run",
     {"icon.ico", "bmp24_32x32.bmp", "png_256x256.png", "ico_two.ico"},
     0,
     " 1: bmp  32x 32 32bpp   0clr   4264 bmp24_32x32.bmp\n"
     " 2: png 256x256  8bpp   0clr   1185 png_256x256.png\n"
     " 3: png  24x 16 32bpp   0clr    860 ico_two.ico\n"
     " 4: bmp   2x  2 32bpp   0clr     64 ico_two.ico\n",
     icon({golden("bmp24_32x32"), png("png_256x256.png", 0, 0, 8), icon_images("ico_two.ico")})},

    // --- Bitmaps converted.
    {"bitmap_24_bit_3x3",
     {"out.ico", "bmp24_3x3.bmp"},
     0,
     " 1: bmp   3x  3 32bpp   0clr     88 bmp24_3x3.bmp\n",
     icon({golden("bmp24_3x3")})},
    {"bitmap_4_bit_bottom_up",
     {"out.ico", "bmp4_16x16.bmp"},
     0,
     " 1: bmp  16x 16  4bpp  16clr    296 bmp4_16x16.bmp\n",
     icon({golden("bmp4_16x16")})},
    {"bitmap_4_bit_top_down_same_as_bottom_up",
     {"out.ico", "bmp4_16x16_topdown.bmp"},
     0,
     " 1: bmp  16x 16  4bpp  16clr    296 bmp4_16x16_topdown.bmp\n",
     icon({golden("bmp4_16x16")})},
    {"bitmap_8_bit_256_colours",
     {"out.ico", "bmp8_4x2.bmp"},
     0,
     " 1: bmp   2x  4  8bpp   0clr   1080 bmp8_4x2.bmp\n",
     icon({golden("bmp8_4x2")})},
    {"bitmap_8_bit_20_colours_padded_rows",
     {"out.ico", "bmp8_clr20_5x3.bmp"},
     0,
     " 1: bmp   3x  5  8bpp  20clr    156 bmp8_clr20_5x3.bmp\n",
     icon({golden("bmp8_clr20_5x3")})},
    {"bitmap_core_header_24_bit",
     {"out.ico", "bmp_core24_2x2.bmp"},
     0,
     " 1: bmp   2x  2 32bpp   0clr     64 bmp_core24_2x2.bmp\n",
     icon({golden("bmp_core24_2x2")})},
    {"bitmap_core_header_1_bit_colour_table",
     {"out.ico", "bmp_core1_8x2.bmp"},
     0,
     " 1: bmp   2x  8  1bpp   2clr     64 bmp_core1_8x2.bmp\n",
     icon({golden("bmp_core1_8x2")})},
    {"bitmap_256_wide_listed_256",
     {"out.ico", "bmp1_256x1.bmp"},
     0,
     " 1: bmp   1x256  1bpp   2clr    112 bmp1_256x1.bmp\n",
     icon({golden("bmp1_256x1")})},

    // --- Bitmaps refused.
    {"bitmap_257_wide",
     {"out.ico", "bmp1_257x10.bmp"},
     kFailureStatus,
     "bad row,col for icon: 10,257 [bmp1_257x10.bmp]\n",
     kNoFile},
    {"bitmap_300_high_top_down",
     {"out.ico", "bmp1_1x300_topdown.bmp"},
     kFailureStatus,
     "bad row,col for icon: 300,1 [bmp1_1x300_topdown.bmp]\n",
     kNoFile},
    {"bitmap_no_rows",
     {"out.ico", "bmp24_4x0.bmp"},
     kFailureStatus,
     "bad row,col for icon: 0,4 [bmp24_4x0.bmp]\n",
     kNoFile},
    {"bitmap_bit_fields",
     {"out.ico", "bmp32_bitfields.bmp"},
     kFailureStatus,
     "unsupported/compressed (or planes not 1): bmp32_bitfields.bmp\n",
     kNoFile},
    {"bitmap_two_planes",
     {"out.ico", "bmp24_planes2.bmp"},
     kFailureStatus,
     "unsupported/compressed (or planes not 1): bmp24_planes2.bmp\n",
     kNoFile},
    {"bitmap_64_bits",
     {"out.ico", "bmp64_1x1.bmp"},
     kFailureStatus,
     "unsupported/compressed (or planes not 1): bmp64_1x1.bmp\n",
     kNoFile},
    {"bitmap_108_byte_header",
     {"out.ico", "bmp24_v4header.bmp"},
     kFailureStatus,
     "unsupported/compressed (or planes not 1): bmp24_v4header.bmp\n",
     kNoFile},
    {"bitmap_truncated",
     {"out.ico", "bmp24_4x4_truncated.bmp"},
     kFailureStatus,
     "truncated bitmap file: bmp24_4x4_truncated.bmp\n",
     kNoFile},
    {"bitmap_refused_after_valid_inputs",
     {"out.ico", "bmp24_3x3.bmp", "png_sig4_1x1.png", "bmp1_257x10.bmp"},
     kFailureStatus,
     "bad row,col for icon: 10,257 [bmp1_257x10.bmp]\n",
     kNoFile},

    // --- PNG images.
    {"png_256x256_listed_256",
     {"out.ico", "png_256x256.png"},
     0,
     " 1: png 256x256  8bpp   0clr   1185 png_256x256.png\n",
     icon({png("png_256x256.png", 0, 0, 8)})},
    {"png_16_wide_24_high",
     {"out.ico", "png_16x24.png"},
     0,
     " 1: png  24x 16 16bpp   0clr    860 png_16x24.png\n",
     icon({png("png_16x24.png", 16, 24, 16)})},
    {"png_depth_byte_widened_with_sign",
     {"out.ico", "png_depth255.png"},
     0,
     " 1: png   1x  165535bpp   0clr     33 png_depth255.png\n",
     icon({png("png_depth255.png", 1, 1, 65535)})},
    {"png_300_wide",
     {"out.ico", "png_300x20.png"},
     kFailureStatus,
     "bad row,col for icon: 20,300 [png_300x20.png]\n",
     kNoFile},
    {"png_0_wide",
     {"out.ico", "png_0x5.png"},
     kFailureStatus,
     "bad row,col for icon: 5,0 [png_0x5.png]\n",
     kNoFile},
    {"png_2g_wide_printed_signed",
     {"out.ico", "png_2g_wide.png"},
     kFailureStatus,
     "bad row,col for icon: 1,-2147483648 [png_2g_wide.png]\n",
     kNoFile},
    {"png_first_chunk_not_ihdr",
     {"out.ico", "png_not_ihdr.png"},
     kFailureStatus,
     "unrecognized PNG file: png_not_ihdr.png\n",
     kNoFile},
    {"png_shorter_than_25_bytes",
     {"out.ico", "png_short24.png"},
     kFailureStatus,
     "unrecognized PNG file: png_short24.png\n",
     kNoFile},
};

// ---------------------------------------------------------------------------
// The runner.

class Tarve : public testing::TestWithParam<Case> {};

TEST_P(Tarve, run) {
  const Case& c = GetParam();
  const fs::path work = kWorkRoot / c.name;
  fs::remove_all(work);
  fs::create_directories(work);

  std::set<std::string> copied;
  for (const std::string& argument : c.arguments) {
    if (is_fixture(argument) && copied.insert(argument).second) {
      fs::copy_file(kFixtures / argument, work / argument);
    }
  }

  const RunResult result = run_tarve(work, c.arguments);
  EXPECT_EQ(result.status, c.status);
  EXPECT_EQ(result.output, platform_text(c.output));

  // Nothing but the expected output file may appear, and no input may change.
  const std::string outputName = c.arguments.empty() ? std::string{} : c.arguments.front();
  std::set<std::string> expectedNames = copied;
  if (c.file) expectedNames.insert(outputName);
  EXPECT_EQ(names_in(work), expectedNames);
  for (const std::string& name : copied) {
    if (c.file && name == outputName) continue;
    if (fs::is_regular_file(work / name)) {
      EXPECT_TRUE(same_bytes(read_file(work / name), fixture_bytes(name))) << name << " changed";
    }
  }
  if (c.file && fs::is_regular_file(work / outputName)) {
    EXPECT_TRUE(same_bytes(read_file(work / outputName), c.file.bytes())) << "in " << outputName;
  }
}

std::string case_name(const testing::TestParamInfo<Case>& param) {
  return param.param.name;
}

INSTANTIATE_TEST_SUITE_P(e2e, Tarve, testing::ValuesIn(kCases), case_name);

// ---------------------------------------------------------------------------
// Runs the table cannot describe: inputs under names of their own, and outputs that
// are there before the run.

fs::path fresh_work_dir(const std::string& name) {
  const fs::path work = kWorkRoot / name;
  fs::remove_all(work);
  fs::create_directories(work);
  return work;
}

// Names outside ASCII are UTF-8 in the arguments, the listing and the messages, and
// name the same files on disk.
TEST(Names, outside_ascii_in_arguments_listing_and_messages) {
  const fs::path work = fresh_work_dir("names_outside_ascii");
  const std::string pngName = "ikoni-ä.png";
  const std::string iconName = "アイコン.ico";
  const std::string outputName = "出力-ö.ico";
  fs::copy_file(kFixtures / "png_sig4_1x1.png", work / utf8_path(pngName));
  fs::copy_file(kFixtures / "ico_two.ico", work / utf8_path(iconName));

  const RunResult made = run_tarve(work, {outputName, pngName, iconName});
  EXPECT_EQ(made.status, 0);
  EXPECT_EQ(made.output, platform_text(" 1: png   1x  1  8bpp   0clr     33 ikoni-ä.png\n"
                                       " 2: png  24x 16 32bpp   0clr    860 アイコン.ico\n"
                                       " 3: bmp   2x  2 32bpp   0clr     64 アイコン.ico\n"));
  EXPECT_EQ(names_in(work), (std::set<std::string>{pngName, iconName, outputName}));
  const ExpectedFile expected =
      icon({png("png_sig4_1x1.png", 1, 1, 8), icon_images("ico_two.ico")});
  EXPECT_TRUE(same_bytes(read_file(work / utf8_path(outputName)), expected.bytes()));

  const RunResult missing = run_tarve(work, {"out.ico", "puuttuu-å.bmp"});
  EXPECT_EQ(missing.status, kFailureStatus);
  EXPECT_EQ(missing.output, platform_text("file read error: puuttuu-å.bmp\n"));
}

const std::string kPngLine = " 1: png   1x  1  8bpp   0clr     33 png_sig4_1x1.png\n";

// A failed write leaves what was there, and no temporary file beside it.
TEST(FailedWrite, output_naming_a_directory_is_left_alone) {
  const fs::path work = fresh_work_dir("failed_write_directory");
  fs::copy_file(kFixtures / "png_sig4_1x1.png", work / "png_sig4_1x1.png");
  fs::create_directory(work / "out.ico");

  const RunResult result = run_tarve(work, {"out.ico", "png_sig4_1x1.png"});
  EXPECT_EQ(result.status, kFailureStatus);
  EXPECT_EQ(result.output, platform_text(kPngLine + "file write error: out.ico\n"));
  EXPECT_EQ(names_in(work), (std::set<std::string>{"out.ico", "png_sig4_1x1.png"}));
  EXPECT_TRUE(fs::is_directory(work / "out.ico"));
  EXPECT_TRUE(fs::is_empty(work / "out.ico"));
}

#if defined(_WIN32)
// Windows does not replace a read-only file: the old icon stays.
TEST(FailedWrite, read_only_output_keeps_the_old_icon) {
  const fs::path work = fresh_work_dir("failed_write_read_only");
  fs::copy_file(kFixtures / "png_sig4_1x1.png", work / "png_sig4_1x1.png");
  fs::copy_file(kFixtures / "ico_three.ico", work / "ico_three.ico");
  const std::wstring output = (work / "ico_three.ico").wstring();
  ASSERT_TRUE(SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_READONLY));

  const RunResult result = run_tarve(work, {"ico_three.ico", "png_sig4_1x1.png"});
  SetFileAttributesW(output.c_str(), FILE_ATTRIBUTE_NORMAL);  // so that it can be removed
  EXPECT_EQ(result.status, kFailureStatus);
  EXPECT_EQ(result.output, platform_text(kPngLine + "file write error: ico_three.ico\n"));
  EXPECT_EQ(names_in(work), (std::set<std::string>{"ico_three.ico", "png_sig4_1x1.png"}));
  EXPECT_TRUE(same_bytes(read_file(work / "ico_three.ico"), fixture_bytes("ico_three.ico")));
}
#endif

}  // namespace
