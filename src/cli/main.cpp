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
#include "icon/icon_entry.h"
#include "icon/write_icon.h"

int main(int argc, char** argv) {
  prepare_process();
  if (argc < 3) {
    print_usage();
    std::exit(kExitUsage);
  }

  // The lists live until the process ends, so their heads are static.
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
