#pragma once

namespace kestrel::photo {

// Starts libvips once per process: nothing it or the libraries under it
// report reaches standard error, no operation cache, and only the loaders of
// still-picture formats may open files. False when libvips cannot start.
bool startVips();

}  // namespace kestrel::photo
