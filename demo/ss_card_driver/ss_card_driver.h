/* The social-security card reader interface Trelview is linked against. This
 * build carries a stand-in: no social-security card driver is included. */
#ifndef SS_CARD_DRIVER_H
#define SS_CARD_DRIVER_H

#include "qm_export.h"

/* Reads the card's basic data as text into `buffer` (at least 1000 bytes):
 * 0 on success. The stand-in writes its notice and returns -1. */
QM_API int iReadCardBas(int type, char *buffer);

#endif
