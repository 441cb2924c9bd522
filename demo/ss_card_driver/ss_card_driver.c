#include "ss_card_driver.h"

#include <string.h>

int iReadCardBas(int type, char *buffer) {
  static const char kNotice[] = "SSCardDriver: no social-security card driver in this build\r\n";
  (void)type;
  if (buffer) memcpy(buffer, kNotice, sizeof kNotice);
  return -1;
}
