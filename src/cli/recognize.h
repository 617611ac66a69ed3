// Recognition of an input's format by its first bytes, never by its name.
#pragma once

#include "cli/source_file.h"
#include "icon/icon_entry.h"

// Hands `source` to the reader its first bytes select and returns what the reader
// returns, the new last entry. Ends the process with "unknown file format: <path>"
// when no reader matches.
IconEntry* recognize_and_convert(IconEntry* tail, SourceFile* source);
