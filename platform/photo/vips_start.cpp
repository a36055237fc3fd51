#include "platform/photo/vips_start.h"

#include <gmodule.h>
#include <vips/vips.h>

#include <cstdlib>
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

// At its start libvips opens every module in its module folder, ImageMagick,
// PDF and OpenSlide among them: some thirty libraries and about 20 ms of CPU
// at every start, for loaders this program blocks. Its prefix (VIPSHOME, which
// it would otherwise set itself) names a folder without modules instead, and
// the two modules of allowed formats are opened when a file needs them.
constexpr const char* kNoModules = "/nonexistent/kestrel";
const char* const kModules[] = {KESTREL_VIPS_MODULES "/vips-heif.so", KESTREL_VIPS_MODULES "/vips-jxl.so"};

bool start() {
  silenceGlib();
  ::setenv("VIPSHOME", kNoModules, 1);
  if (vips_init("kestrel-probe") != 0) return false;
  vips_cache_set_max(0);
  allowPictureLoaders();
  return true;
}

bool openModules() {
  for (const char* path : kModules) {
    // Types a module registers cannot be taken back: it stays.
    if (GModule* module = g_module_open(path, G_MODULE_BIND_LAZY)) g_module_make_resident(module);
  }
  allowPictureLoaders();  // the modules' loaders came after the first blocking
  return true;
}

}  // namespace

bool startVips() {
  static const bool started = start();
  return started;
}

void loadersFor(VipsSource* source) {
  if (vips_foreign_find_load_source(source)) return;
  vips_error_clear();
  static const bool opened = openModules();
  (void)opened;
}

}  // namespace kestrel::photo
