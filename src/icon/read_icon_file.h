#pragma once

#include "icon/icon_entry.h"

// The reader for existing icon files: appends one entry per directory entry, in
// directory order, each taken unchanged and referring into the source's content.
// Refuses, with "corrupt icon file: <path>", a file whose directory or images reach
// past its end.
IconEntry* read_icon_file(IconEntry* tail, SourceFile* source);
