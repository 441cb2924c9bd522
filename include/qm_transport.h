/* A transport that the application supplies in place of the library's own
 * ports. The application registers a PortProvider through CoreConfigure
 * (kind 3); before each attempt to open a reader the library asks the
 * provider's create hook for an ExternalTransport and hands it back through
 * the destroy hook exactly once, when the port wrapping it is deleted.
 *
 * Plain C, x86-64 System V calling convention. Every call into a transport
 * is made from the thread of the application call that caused it.
 */
#ifndef QM_TRANSPORT_H
#define QM_TRANSPORT_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ExternalTransport ExternalTransport;

/* The operations of a transport, in this slot order. */
typedef struct ExternalTransportOps {
  /* Never called by the library. */
  void (*reserved)(ExternalTransport *self);
  /* Opens the transport to `name`. The port counts as open when the lowest
   * byte of the result is non-zero (256 is not open). `parameter` is the
   * provider's parameter, unchanged. */
  int32_t (*open)(ExternalTransport *self, const char *name, void *parameter);
  /* Result not used. */
  int32_t (*close)(ExternalTransport *self);
  /* True when exactly `length` bytes were delivered within `ms`. Never
   * called with a negative or zero length. */
  bool (*read)(ExternalTransport *self, uint8_t *buf, int32_t length, int32_t ms);
  /* True when all `length` bytes were sent within `ms`. Never called with a
   * negative or zero length. */
  bool (*write)(ExternalTransport *self, const uint8_t *buf, int32_t length, int32_t ms);
  /* Drops every received byte not yet read. */
  void (*purge)(ExternalTransport *self);
  /* Received bytes waiting to be read. */
  int32_t (*available)(ExternalTransport *self);
} ExternalTransportOps;

/* The application's object; it may be the first member of a larger one. */
struct ExternalTransport {
  const ExternalTransportOps *ops;
};

/* `create` gets the port type ("com", "usb", "pcsc", "bluetooth" or "vnet")
 * and a pointer, initially null, to fill with a new transport; leaving it
 * null makes the library use its own port. `destroy` takes a transport back.
 * Both results are ignored. Transports are asked for only when both hooks
 * are set. */
typedef struct PortProvider {
  int32_t (*create)(const char *type, ExternalTransport **out);
  int32_t (*destroy)(ExternalTransport *t);
  void *parameter;
} PortProvider;

#ifdef __cplusplus
}
#endif

#endif
