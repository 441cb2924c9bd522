/* An application-supplied transport for tests, written in C against the
 * public transport header alone: each transport is one end of a
 * SOCK_STREAM socketpair, with poll time-outs. The provider counts every
 * hook and operation call.
 *
 *   PortProvider provider;
 *   socket_transport_provider(&provider, (void *)0x123456789ULL);
 *   ExternalTransport *t = NULL;
 *   provider.create("vnet", &t);
 *   int peer = socket_transport_peer(t);  // the far end, for a simulator
 */
#ifndef SOCKET_TRANSPORT_H
#define SOCKET_TRANSPORT_H

#include <stdint.h>

#include "qm_transport.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SocketTransportCounts {
  int creates, destroys, opens, closes, reads, writes, purges, availables, reserved;
} SocketTransportCounts;

/* Fills `provider` with this transport's hooks and `parameter`. */
void socket_transport_provider(PortProvider *provider, void *parameter);
/* Counts since the last reset (all transports together). */
SocketTransportCounts socket_transport_counts(void);
void socket_transport_reset_counts(void);
/* What the next `open` calls return (default 1). */
void socket_transport_set_open_result(int32_t result);
/* When set, create leaves the pointer null. */
void socket_transport_set_create_null(int on);

/* Takes the far end of a transport's socketpair (the caller closes it);
 * -1 when already taken. */
int socket_transport_peer(ExternalTransport *t);
/* The name and parameter of the transport's last open. */
const char *socket_transport_last_name(ExternalTransport *t);
void *socket_transport_last_parameter(ExternalTransport *t);

#ifdef __cplusplus
}
#endif

#endif
