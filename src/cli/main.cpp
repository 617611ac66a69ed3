// tarve: builds one Windows icon file from bitmaps, PNG images and icon files.
//
//   tarve outfile.ico infile1 (infile2...)
//
// Every input is read whole before any is converted, so the output may name one of
// the inputs; the output is written in one piece at the very end.

#include <cstdlib>

#include "cli/fail.h"
#include "cli/platform.h"
#include "cli/recognize.h"
#include "cli/source_file.h"
#include "cli/usage.h"
#include "icon/bulk_memory.h"
#include "icon/icon_entry.h"
#include "icon/write_icon.h"

namespace {

// The run itself, given the arguments in UTF-8.
[[noreturn]] void run(int argc, char** argv) {
  prepare_process();
  if (argc < 3) {
    print_usage();
    std::exit(kExitUsage);
  }

  // Nothing is freed before the process ends: the lists' heads are static, and the
  // large buffers come from memory that is never handed back.
  keep_buffers_until_exit();
  static SourceFile sources{};
  SourceFile* last = &sources;
  for (int i = 2; i < argc; ++i) last = load_source(last, argv[i]);

  static EntryList entries{};
  IconEntry* tail = &entries.head;
  for (SourceFile* source = sources.next; source != nullptr; source = source->next) {
    tail = recognize_and_convert(tail, source);
  }

  write_icon(argv[1], entries);
  std::exit(kExitSuccess);
}

}  // namespace

#if defined(_WIN32)
// Windows passes the arguments in UTF-16; they are converted to UTF-8 once, here, so
// that names outside the system's narrow code page survive.
int wmain(int argc, wchar_t** argv);
int wmain(int argc, wchar_t** argv) {
  run(argc, utf8_arguments(argc, argv));
}
#else
int main(int argc, char** argv) {
  run(argc, argv);
}
#endif
