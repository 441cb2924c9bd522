// The digest library the device identifier loads at run time.
#include <cstdint>

#include "qm_export.h"

QM_API int Encrypt_MD5(int mode, const unsigned char* data, int len, char* out) {
  (void)mode;
  (void)data;
  (void)len;
  (void)out;
  return -1;
}
