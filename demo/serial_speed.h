// Line speeds that have no B-constant, through the kernel's BOTHER (the
// termios2 interface, which cannot share a file with <termios.h>).
#pragma once

#include <cstdint>

bool set_custom_line_speed(int fd, uint32_t baud);
