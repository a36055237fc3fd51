#pragma once
#include <vips/vips.h>

namespace kestrel::photo {

// Starts libvips once per process: nothing it or the libraries under it
// report reaches standard error, no operation cache, and only the loaders of
// still-picture formats may open files. False when libvips cannot start.
bool startVips();

// Makes sure a loader for the source is there: the formats libvips keeps in
// modules of their own (HEIF, JPEG XL) are opened the first time a source is
// in no format libvips knows without them.
void loadersFor(VipsSource* source);

}  // namespace kestrel::photo
