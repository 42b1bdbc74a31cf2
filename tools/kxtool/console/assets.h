// The console's page, script and style sheet, compiled into kxtool at build
// time from tools/kxtool/console/web/ (cmake/EmbedFiles.cmake).
#pragma once

#include <cstddef>

namespace kxtool::console {

struct asset {
    const char *path;  // "/", "/app.js", ...
    const char *type;  // its Content-Type
    const unsigned char *data;
    size_t size;
};

extern const asset assets[];
extern const size_t asset_count;

}  // namespace kxtool::console
