// QR-code and Code 39 symbols written as BMP files. Internal to libtool.so.
#pragma once

// `text` as a QR symbol at error-correction level `level` (0-3: L, M, Q, H),
// each module 2 * `scale` pixels wide. 0, or -1 with no file written.
int WriteQrBitmap(const char* file, const char* text, int scale, int level);
// `text` as a Code 39 symbol `height` pixels high, each module
// `moduleWidth` pixels wide. 0, or -1 with no file written.
int WriteCode39Bitmap(const char* file, const char* text, int height, int moduleWidth);
