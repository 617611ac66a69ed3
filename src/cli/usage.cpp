#include "cli/usage.h"

#include <cstdio>

void print_usage() {
  std::printf(
      "tarve ver 1.0, May 7, 2013 -- https://tarve.example.org/\n"
      "Builds .ico file from input .bmp, .ico or .png\n"
      "\n"
      "Usage: tarve outfile.ico infile1 (infile2...)\n"
      "\n"
      "Examples:\n"
      "  tarve nul in.ico - display info about in.ico\n"
      "  tarve icon.ico icon.ico new.ico - add new.ico to icon.ico\n"
      "  tarve icon.ico in1.bmp in2.png in3.ico - build icon.ico\n");
}
