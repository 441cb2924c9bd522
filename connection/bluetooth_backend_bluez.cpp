// The BlueZ backend of the Bluetooth port: device lookup over D-Bus with
// sd-bus, the serial-port channel by SDP, RFCOMM sockets.
#include <bluetooth/bluetooth.h>
#include <bluetooth/rfcomm.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <poll.h>
#include <sys/socket.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "connection/bluetooth_backend.h"

namespace {

constexpr const char* kDeviceInterface = "org.bluez.Device1";

// Waits for `events` on `fd` until `deadline`, or until `cancel_fd` fires.
// True only when `fd` is ready first.
bool wait_ready(int fd, short events, int cancel_fd, const Deadline& deadline) {
  while (true) {
    const int left = deadline.msLeft();
    if (left == 0) return false;
    pollfd fds[2] = {{fd, events, 0}, {cancel_fd, POLLIN, 0}};
    const int r = poll(fds, 2, left);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (fds[1].revents & POLLIN)) return false;
    if (fds[0].revents) return true;
  }
}

bool socket_error_clear(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

// --- D-Bus lookup -------------------------------------------------------

struct BusDeleter {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageDeleter {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusPtr = std::unique_ptr<sd_bus, BusDeleter>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageDeleter>;

BusPtr open_bus(const std::string& address) {
  sd_bus* bus = nullptr;
  if (address.empty()) {
    if (sd_bus_open_system(&bus) < 0) return nullptr;
    return BusPtr(bus);
  }
  if (sd_bus_new(&bus) < 0) return nullptr;
  BusPtr owned(bus);
  if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
      sd_bus_start(bus) < 0) {
    return nullptr;
  }
  return owned;
}

// Reads a string variant (the value of an a{sv} entry): 1 when read, 0 when
// it held another type and was skipped, negative on a malformed message.
int read_string_variant(sd_bus_message* m, std::string* out) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  if (r < 0) return r;
  if (type != SD_BUS_TYPE_VARIANT || contents == nullptr || std::strcmp(contents, "s") != 0) {
    r = sd_bus_message_skip(m, "v");
    return r < 0 ? r : 0;
  }
  const char* value = nullptr;
  if ((r = sd_bus_message_read(m, "v", "s", &value)) < 0) return r;
  *out = value ? value : "";
  return 1;
}

// One a{sv} of org.bluez.Device1: its Address and Name.
int read_device_properties(sd_bus_message* m, BluetoothDevice* device, bool* has_address,
                           bool* has_name) {
  int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv")) > 0) {
    const char* key = nullptr;
    if ((r = sd_bus_message_read(m, "s", &key)) < 0) return r;
    if (std::strcmp(key, "Address") == 0) {
      if ((r = read_string_variant(m, &device->address)) > 0) *has_address = true;
    } else if (std::strcmp(key, "Name") == 0) {
      if ((r = read_string_variant(m, &device->name)) > 0) *has_name = true;
    } else {
      r = sd_bus_message_skip(m, "v");
    }
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// The reply of GetManagedObjects: a{oa{sa{sv}}}.
int read_managed_objects(sd_bus_message* m, std::vector<BluetoothDevice>* devices) {
  int r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{oa{sa{sv}}}");
  if (r < 0) return r;
  while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "oa{sa{sv}}")) > 0) {
    const char* path = nullptr;
    if ((r = sd_bus_message_read(m, "o", &path)) < 0) return r;
    if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sa{sv}}")) < 0) return r;
    BluetoothDevice device;
    bool is_device = false, has_address = false, has_name = false;
    while ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sa{sv}")) > 0) {
      const char* interface = nullptr;
      if ((r = sd_bus_message_read(m, "s", &interface)) < 0) return r;
      if (std::strcmp(interface, kDeviceInterface) == 0) {
        is_device = true;
        r = read_device_properties(m, &device, &has_address, &has_name);
      } else {
        r = sd_bus_message_skip(m, "a{sv}");
      }
      if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;
    }
    if (r < 0 || (r = sd_bus_message_exit_container(m)) < 0) return r;  // a{sa{sv}}
    if ((r = sd_bus_message_exit_container(m)) < 0) return r;           // the entry
    // Only a device that has a name can be asked for by name.
    if (is_device && has_address && has_name && !device.address.empty() && !device.name.empty()) {
      devices->push_back(std::move(device));
    }
  }
  if (r < 0) return r;
  return sd_bus_message_exit_container(m);
}

// --- SDP search for the serial-port channel -----------------------------

struct SdpSearch {
  bool done = false;
  int channel = 0;
};

void free_proto_list(void* list, void*) { sdp_list_free(static_cast<sdp_list_t*>(list), nullptr); }

void sdp_search_done(uint8_t type, uint16_t status, uint8_t* rsp, size_t size, void* user) {
  auto* search = static_cast<SdpSearch*>(user);
  search->done = true;
  if (status != 0 || type != SDP_SVC_SEARCH_ATTR_RSP || rsp == nullptr || size > 0x7FFFFFFF) return;
  int left = int(size);
  uint8_t data_type = 0;
  int sequence_length = 0;
  const int header = sdp_extract_seqtype(rsp, left, &data_type, &sequence_length);
  if (header <= 0 || sequence_length <= 0 || header > left) return;
  const uint8_t* at = rsp + header;
  left -= header;
  while (left > 0 && search->channel == 0) {
    int record_size = 0;
    sdp_record_t* record = sdp_extract_pdu(at, left, &record_size);
    if (record == nullptr) break;
    if (record_size <= 0 || record_size > left) {
      sdp_record_free(record);
      break;
    }
    at += record_size;
    left -= record_size;
    sdp_list_t* protocols = nullptr;
    if (sdp_get_access_protos(record, &protocols) == 0) {
      const int channel = sdp_get_proto_port(protocols, RFCOMM_UUID);
      if (channel >= 1 && channel <= 30) search->channel = channel;
      sdp_list_foreach(protocols, free_proto_list, nullptr);
      sdp_list_free(protocols, nullptr);
    }
    sdp_record_free(record);
  }
}

// The RFCOMM channel of the serial-port service (0x1101) of `target`, or 0.
int serial_port_channel(const bdaddr_t& target, int cancel_fd, const Deadline& deadline) {
  bdaddr_t any{};
  sdp_session_t* session = sdp_connect(&any, &target, SDP_NON_BLOCKING);
  if (session == nullptr) return 0;
  const int fd = sdp_get_socket(session);
  SdpSearch search;
  if (wait_ready(fd, POLLOUT, cancel_fd, deadline) && socket_error_clear(fd)) {
    uuid_t service;
    sdp_uuid16_create(&service, SERIAL_PORT_SVCLASS_ID);
    uint32_t range = 0x0000FFFF;
    sdp_list_t* services = sdp_list_append(nullptr, &service);
    sdp_list_t* attributes = sdp_list_append(nullptr, &range);
    if (services && attributes && sdp_set_notify(session, sdp_search_done, &search) == 0 &&
        sdp_service_search_attr_async(session, services, SDP_ATTR_REQ_RANGE, attributes) == 0) {
      while (!search.done && wait_ready(fd, POLLIN, cancel_fd, deadline)) {
        if (sdp_process(session) < 0) break;
      }
    }
    sdp_list_free(services, nullptr);
    sdp_list_free(attributes, nullptr);
  }
  sdp_close(session);
  return search.channel;
}

class BluezBackend : public BluetoothBackend {
 public:
  bool knownDevices(const Deadline& deadline, std::vector<BluetoothDevice>* devices) override {
    return bluez_known_devices("", deadline, devices);
  }

  int makeSocket(const BluetoothDevice&) override {
    return socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, BTPROTO_RFCOMM);
  }

  bool connect(int fd, const BluetoothDevice& device, int cancel_fd,
               const Deadline& deadline) override {
    bdaddr_t target{};
    if (bachk(device.address.c_str()) < 0 || str2ba(device.address.c_str(), &target) < 0) {
      return false;
    }
    const int channel = serial_port_channel(target, cancel_fd, deadline);
    if (channel == 0) return false;
    sockaddr_rc address{};
    address.rc_family = AF_BLUETOOTH;
    address.rc_bdaddr = target;
    address.rc_channel = uint8_t(channel);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
    if (errno != EINPROGRESS && errno != EAGAIN) return false;
    return wait_ready(fd, POLLOUT, cancel_fd, deadline) && socket_error_clear(fd);
  }
};

}  // namespace

bool bluez_known_devices(const std::string& bus_address, const Deadline& deadline,
                         std::vector<BluetoothDevice>* devices) {
  if (devices == nullptr) return false;
  devices->clear();
  const int left = deadline.msLeft();
  if (left == 0) return false;
  BusPtr bus = open_bus(bus_address);
  if (!bus) return false;
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus.get(), &raw, "org.bluez", "/",
                                     "org.freedesktop.DBus.ObjectManager",
                                     "GetManagedObjects") < 0) {
    return false;
  }
  MessagePtr call(raw);
  sd_bus_error error = SD_BUS_ERROR_NULL;
  raw = nullptr;
  const int r = sd_bus_call(bus.get(), call.get(), uint64_t(left) * 1000, &error, &raw);
  sd_bus_error_free(&error);
  if (r < 0) return false;
  MessagePtr reply(raw);
  std::vector<BluetoothDevice> found;
  if (read_managed_objects(reply.get(), &found) < 0) return false;
  *devices = std::move(found);
  return true;
}

std::shared_ptr<BluetoothBackend> make_bluez_backend() { return std::make_shared<BluezBackend>(); }
