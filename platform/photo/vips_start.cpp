#include "platform/photo/vips_start.h"

#include <vips/vips.h>

#include <initializer_list>

namespace kestrel::photo {
namespace {

void dropMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

GLogWriterOutput dropStructured(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

// Warnings of libvips and of the decoders under it (libjpeg, libpng, libtiff,
// librsvg) all pass through GLib's logging.
void silenceGlib() {
  const auto levels =
      static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
  for (const char* domain : {"VIPS", "GLib", "GLib-GObject", "GLib-GIO", "GModule"})
    g_log_set_handler(domain, levels, dropMessage, nullptr);
  g_log_set_default_handler(dropMessage, nullptr);
  g_log_set_writer_func(dropStructured, nullptr, nullptr);
}

// Still-picture formats only: no ImageMagick, PDF, matrix or text loaders,
// which would accept files that are not pictures or print on their own.
void allowPictureLoaders() {
  vips_operation_block_set("VipsForeignLoad", TRUE);
  for (const char* loader : {"VipsForeignLoadJpeg", "VipsForeignLoadPng", "VipsForeignLoadWebp",
                             "VipsForeignLoadTiff", "VipsForeignLoadNsgif", "VipsForeignLoadHeif",
                             "VipsForeignLoadSvg", "VipsForeignLoadJp2k", "VipsForeignLoadJxl"})
    vips_operation_block_set(loader, FALSE);
}

bool start() {
  silenceGlib();
  if (vips_init("kestrel-probe") != 0) return false;
  vips_cache_set_max(0);
  allowPictureLoaders();
  return true;
}

}  // namespace

bool startVips() {
  static const bool started = start();
  return started;
}

}  // namespace kestrel::photo
