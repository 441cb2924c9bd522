#define _GNU_SOURCE
#include "socket_transport.h"

#include <errno.h>
#include <poll.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

typedef struct SocketTransport {
  ExternalTransport base; /* first: the library sees only this */
  int fd;
  int peer;
  char name[256];
  void *parameter;
} SocketTransport;

static atomic_int creates, destroys, opens, closes, reads, writes, purges, availables, reserved_calls;
static atomic_int open_result = 1;
static atomic_int create_null = 0;

static long long now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Waits for `events` on fd until the deadline; 1 ready, 0 timed out, -1 error. */
static int wait_fd(int fd, short events, long long deadline) {
  for (;;) {
    long long left = deadline - now_ms();
    if (left < 0) left = 0;
    struct pollfd p = {fd, events, 0};
    int r = poll(&p, 1, (int)left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return r;
    if (p.revents & (POLLERR | POLLNVAL)) return -1;
    return 1;
  }
}

static void st_reserved(ExternalTransport *self) {
  (void)self;
  atomic_fetch_add(&reserved_calls, 1);
}

static int32_t st_open(ExternalTransport *self, const char *name, void *parameter) {
  SocketTransport *t = (SocketTransport *)self;
  atomic_fetch_add(&opens, 1);
  strncpy(t->name, name ? name : "", sizeof t->name - 1);
  t->name[sizeof t->name - 1] = '\0';
  t->parameter = parameter;
  return atomic_load(&open_result);
}

static int32_t st_close(ExternalTransport *self) {
  (void)self;
  atomic_fetch_add(&closes, 1);
  return 0;
}

static bool st_read(ExternalTransport *self, uint8_t *buf, int32_t length, int32_t ms) {
  SocketTransport *t = (SocketTransport *)self;
  atomic_fetch_add(&reads, 1);
  if (length < 0) return false;
  long long deadline = now_ms() + (ms < 0 ? 0 : ms);
  int32_t have = 0;
  while (have < length) {
    if (wait_fd(t->fd, POLLIN, deadline) != 1) return false;
    ssize_t n = recv(t->fd, buf + have, (size_t)(length - have), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    have += (int32_t)n;
  }
  return true;
}

static bool st_write(ExternalTransport *self, const uint8_t *buf, int32_t length, int32_t ms) {
  SocketTransport *t = (SocketTransport *)self;
  atomic_fetch_add(&writes, 1);
  if (length < 0) return false;
  long long deadline = now_ms() + (ms < 0 ? 0 : ms);
  int32_t done = 0;
  while (done < length) {
    if (wait_fd(t->fd, POLLOUT, deadline) != 1) return false;
    ssize_t n = send(t->fd, buf + done, (size_t)(length - done), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    done += (int32_t)n;
  }
  return true;
}

static void st_purge(ExternalTransport *self) {
  SocketTransport *t = (SocketTransport *)self;
  atomic_fetch_add(&purges, 1);
  uint8_t scratch[512];
  while (recv(t->fd, scratch, sizeof scratch, MSG_DONTWAIT) > 0) {
  }
}

static int32_t st_available(ExternalTransport *self) {
  SocketTransport *t = (SocketTransport *)self;
  atomic_fetch_add(&availables, 1);
  int n = 0;
  if (ioctl(t->fd, FIONREAD, &n) != 0) return 0;
  return n;
}

static const ExternalTransportOps kOps = {st_reserved, st_open,  st_close,    st_read,
                                          st_write,    st_purge, st_available};

static int32_t st_create(const char *type, ExternalTransport **out) {
  (void)type;
  atomic_fetch_add(&creates, 1);
  if (atomic_load(&create_null)) return 0;
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return -1;
  SocketTransport *t = calloc(1, sizeof *t);
  if (!t) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  t->base.ops = &kOps;
  t->fd = fds[0];
  t->peer = fds[1];
  *out = &t->base;
  return 0;
}

static int32_t st_destroy(ExternalTransport *self) {
  SocketTransport *t = (SocketTransport *)self;
  atomic_fetch_add(&destroys, 1);
  if (!t) return -1;
  close(t->fd);
  if (t->peer >= 0) close(t->peer);
  free(t);
  return 0;
}

void socket_transport_provider(PortProvider *provider, void *parameter) {
  provider->create = st_create;
  provider->destroy = st_destroy;
  provider->parameter = parameter;
}

SocketTransportCounts socket_transport_counts(void) {
  SocketTransportCounts c;
  c.creates = atomic_load(&creates);
  c.destroys = atomic_load(&destroys);
  c.opens = atomic_load(&opens);
  c.closes = atomic_load(&closes);
  c.reads = atomic_load(&reads);
  c.writes = atomic_load(&writes);
  c.purges = atomic_load(&purges);
  c.availables = atomic_load(&availables);
  c.reserved = atomic_load(&reserved_calls);
  return c;
}

void socket_transport_reset_counts(void) {
  atomic_store(&creates, 0);
  atomic_store(&destroys, 0);
  atomic_store(&opens, 0);
  atomic_store(&closes, 0);
  atomic_store(&reads, 0);
  atomic_store(&writes, 0);
  atomic_store(&purges, 0);
  atomic_store(&availables, 0);
  atomic_store(&reserved_calls, 0);
}

void socket_transport_set_open_result(int32_t result) { atomic_store(&open_result, result); }

void socket_transport_set_create_null(int on) { atomic_store(&create_null, on); }

int socket_transport_peer(ExternalTransport *self) {
  SocketTransport *t = (SocketTransport *)self;
  int fd = t->peer;
  t->peer = -1;
  return fd;
}

const char *socket_transport_last_name(ExternalTransport *self) {
  return ((SocketTransport *)self)->name;
}

void *socket_transport_last_parameter(ExternalTransport *self) {
  return ((SocketTransport *)self)->parameter;
}
