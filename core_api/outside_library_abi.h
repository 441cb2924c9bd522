/* The outside libraries the core drives, as the core calls them: their
 * entries, the callbacks the core hands them and the tables that carry the
 * callbacks. Plain C, so that a library written in C (the test fakes among
 * them) builds against the same declarations. All use the platform's C
 * calling convention.
 *
 *   libkx_pboc.so                 bank cards: Zr_LibMain, Zr_GetBankAccountNumber,
 *                                 Zr_GetBankMagInfo
 *   libkxrf32idcardimagebuild.so  identity-card images: LibMain,
 *                                 Kxrf32IdCardImageBuild
 *   libkxrf32cv.so                camera: LibMain, Kxrf32CvOpen, Kxrf32CvClose,
 *                                 Kxrf32CvCapture
 *
 * The callbacks are valid only while the core operation that handed them
 * over runs; called at any other time they return -1 and reach no reader. */
#ifndef QM_OUTSIDE_LIBRARY_ABI_H
#define QM_OUTSIDE_LIBRARY_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* LibMain kinds: 1 and 2 carry the library directory (a NUL-terminated
 * text), 3 the callback table of the library's kind. */
enum {
  KX_LIBMAIN_DIRECTORY = 1,
  KX_LIBMAIN_DIRECTORY_AGAIN = 2,
  KX_LIBMAIN_CALLBACKS = 3
};
typedef int32_t (*KxLibMain)(int32_t kind, void *data);

/* Bank-card types, of the request and of each APDU. */
enum { KX_BANK_CONTACTLESS = 0, KX_BANK_CONTACT = 1 };

/* One APDU of `length` bytes (4 to 2048) in `buffer`, which takes
 * `capacity` bytes of reply. The reply's length, or -1 with `buffer`
 * unchanged. */
typedef int32_t (*KxBankApdu)(int32_t icdev, int32_t type, uint8_t *buffer, int32_t length,
                              int32_t capacity);
typedef struct KxBankCallbacks {
  KxBankApdu apdu;
} KxBankCallbacks;

/* 0 is success. */
typedef int32_t (*KxBankAccountNumber)(int32_t icdev, int32_t type, char *number);
typedef int32_t (*KxBankMagInfo)(int32_t icdev, int32_t type, char *track1, char *track2,
                                 char *track3);

/* The reader's identity-card parsers, with the arguments of the core
 * operations of the same names; each returns their result. */
typedef int32_t (*KxParseTextInfo)(int32_t icdev, int32_t charset, int32_t info_len,
                                   const unsigned char *info, char *name, char *sex,
                                   char *nation, char *birth_day, char *address,
                                   char *id_number, char *department, char *expire_start_day,
                                   char *expire_end_day, char *reserved);
typedef int32_t (*KxParseTextInfoForForeigner)(
    int32_t icdev, int32_t charset, int32_t info_len, const unsigned char *info,
    char *english_name, char *sex, char *id_number, char *citizenship, char *chinese_name,
    char *expire_start_day, char *expire_end_day, char *birth_day, char *version_number,
    char *department_code, char *type_sign, char *reserved);
typedef int32_t (*KxParsePhotoInfo)(int32_t icdev, int32_t type, int32_t info_len,
                                    const unsigned char *info, int32_t *photo_len, char *photo);
typedef int32_t (*KxParseOtherInfo)(int32_t icdev, int32_t flag, const char *in_info,
                                    char *out_info);
typedef struct KxImageCallbacks {
  KxParseTextInfo text;
  KxParseTextInfoForForeigner foreigner;
  KxParsePhotoInfo photo;
  KxParseOtherInfo other;
} KxImageCallbacks;

/* The arguments of kx_IdCardImageBuild; 0 (in the low 16 bits) is
 * success. */
typedef int32_t (*KxIdCardImageBuild)(int32_t icdev, int32_t type, int32_t text_len,
                                      const unsigned char *text, int32_t photo_len,
                                      const unsigned char *photo, const char *front_file,
                                      const char *back_file);

/* Camera entries; the core returns their low 16 bits. */
typedef int32_t (*KxCvOpenClose)(int32_t icdev, int32_t number);
typedef int32_t (*KxCvCapture)(int32_t icdev, int32_t number, int32_t mode,
                               const char *file_name);

#ifdef __cplusplus
}
#endif

#endif
