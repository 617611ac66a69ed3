#pragma once

// Prints the usage text to standard output.
void print_usage();
