/* The utility library: hexadecimal text, XOR, card-number masks, delays,
 * time, trace files, INI, JSON and XML values, and the device identifier.
 *
 * Every function returns 0 for success and -1 for failure, also for null
 * pointers and negative lengths or indexes, with nothing written. The trace
 * functions return 0 in every case. Outputs go to buffers the caller sizes
 * as each function says; JSON and XML texts hold at most 4096 characters
 * (4097-byte buffers), INI values at most 1023. Paths use "/" and hold at
 * most 4095 characters; folders the library makes get mode 0700.
 */
#ifndef TOOL_H
#define TOOL_H

#include <stdint.h>

#include "qm_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A local calendar time. */
typedef struct TimeRecord {
  int32_t year;
  int32_t month;       /* 1-12 */
  int32_t day;         /* 1-31 */
  int32_t hour;        /* 0-23 */
  int32_t minute;      /* 0-59 */
  int32_t second;      /* 0-60 */
  int32_t millisecond; /* 0-999 */
  int32_t weekday;     /* 0 = Sunday */
} TimeRecord;

/* The first len characters of text (fewer when a NUL comes first) as bytes,
 * two a byte, an odd count padded with "0"; (n + 1) / 2 bytes, no NUL.
 * Digits are not checked: any character but 0-9 and A-F counts as its code
 * less 87 (so a-f work). */
QM_API int Tool_AsciiStrToHex(const char *text, int len, uint8_t *out);
/* Copies card (13-19 characters) with all but the first 6 and the last 4
 * masked by "*"; -1 and out unchanged for another length. */
QM_API int Tool_CardNoHandle(const char *card, char *out);
/* Copies card with positions head to length - tail - 1 masked by "*". When
 * head + tail is not less than the length, or either is negative, card is
 * copied unchanged and the result is -1. */
QM_API int Tool_CardNoHandleNew(const char *card, int head, int tail, char *out);
/* Sleeps; 0 or less returns at once. */
QM_API int Tool_DelayMs(int ms);
QM_API int Tool_DelayS(int seconds);
/* The computer's 20-character identifier with a NUL in out (21 bytes),
 * also drawn as a QR code into the BMP file bmpFile. */
QM_API int Tool_GetDeviceID(char *out, const char *bmpFile);
/* Field number index (from 0) of text split at sep, copied without a NUL
 * (clear out first); out is left alone when there is no such field. An
 * empty sep splits nothing. out may be text. */
QM_API int Tool_GetIndexOfStr(const char *text, const char *sep, int index, char *out);
/* The value of key in section of the INI file at file, taken relative to
 * the program's folder, with a NUL. Keys match as substrings of lines that
 * hold "="; the search runs from the section's header to the end. */
QM_API int Tool_GetIniString(const char *file, const char *section, const char *key,
                             char *value);
/* The string at the dotted path, copied without a NUL (clear value first). */
QM_API int Tool_GetJsonString(const char *json, const char *path, char *value);
/* The XOR of len bytes in *out (0 for no bytes). */
QM_API int Tool_GetXOR(const uint8_t *data, int len, uint8_t *out);
/* The text of the element at the dotted path of tag names, with a NUL. */
QM_API int Tool_GetXmlData(const char *xml, const char *path, char *value);
QM_API int Tool_GetXmlDataFile(const char *file, const char *path, char *value);
/* len bytes as 2 * len upper-case hex digits and a NUL. */
QM_API int Tool_HexToAsciiStr(const uint8_t *data, int len, char *out);
/* Rewrites the INI file (used as given) with key's line in section set to
 * value: comments and blank lines dropped, a blank line before each section
 * header but the first, "\n" line ends; a missing key is not added. */
QM_API int Tool_SetIniString(const char *file, const char *section, const char *key,
                             const char *value);
/* json with the string at the dotted path set to value, missing objects
 * added; the new text with a NUL in out. An empty json counts as "{}". */
QM_API int Tool_SetJsonString(const char *json, const char *path, const char *value,
                              char *out);
/* Sets the text of the element at the dotted path in xml (input and
 * output), adding missing elements. */
QM_API int Tool_SetXmlData(const char *path, const char *value, char *xml);
/* The same on the file's content; a missing file counts as empty. */
QM_API int Tool_SetXmlDataFile(const char *path, const char *value, const char *file);
/* Copies header into xml. */
QM_API int Tool_SetXmlHeader(const char *header, char *xml);
/* Writes header as the whole new content of file. */
QM_API int Tool_SetXmlHeaderFile(const char *header, const char *file);
/* text with every find replaced by repl, left to right, with a NUL in out;
 * -1 for an empty text or find; an empty repl copies text. out may be text. */
QM_API int Tool_StringReplace(const char *text, const char *find, const char *repl, char *out);
/* The local time now. */
QM_API int Tool_TimeGet(TimeRecord *out);
/* Days from from to to (year, month and day only) in *days; -1 when the
 * count does not fit an int. */
QM_API int Tool_TimeGetDays(TimeRecord from, TimeRecord to, int *days);
/* A line "[date time:ms] tag :line text" on standard output and, once, in
 * the file named by Tool_TraceSaveFile; the name is used up by the line. */
QM_API int Tool_Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* The same line on standard output and appended to file. */
QM_API int Tool_TraceF(const char *file, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* title and up to 2047 bytes in hex, as Tool_Trace / Tool_TraceF. */
QM_API int Tool_TraceHex(const char *title, const uint8_t *data, int len);
QM_API int Tool_TraceHexF(const char *file, const char *title, const uint8_t *data, int len);
/* Names the file of the next Tool_Trace line, makes its folders, and drops
 * the oldest fifth of its lines when it is over 20 MiB. Trace files get
 * mode 0600. */
QM_API int Tool_TraceSaveFile(const char *file);
/* The same, and sets the tag (up to 99 characters) and line number of the
 * line prefix for all later lines. */
QM_API int Tool_TraceSaveFile_New(const char *file, const char *tag, int line);

#ifdef __cplusplus
}
#endif

#endif
