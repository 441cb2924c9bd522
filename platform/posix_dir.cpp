#include <sys/stat.h>

#include "platform/os.h"

bool os_make_dir(const char* path) {
  // 0700: the trace folder holds keys and PINs at the higher trace levels.
  return path && *path && mkdir(path, 0700) == 0;
}
