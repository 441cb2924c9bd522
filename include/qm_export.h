/* Marks the functions the shared libraries export. Everything else is built
 * with hidden visibility and stays inside the library. */
#ifndef QM_EXPORT_H
#define QM_EXPORT_H

#ifdef __cplusplus
#define QM_EXTERN_C extern "C"
#else
#define QM_EXTERN_C
#endif

#define QM_API QM_EXTERN_C __attribute__((visibility("default")))

#endif
