// What the three bridges to outside libraries share: looking up entries,
// the two LibMain calls that tell a library its directory, and the window
// during which the callbacks handed to a library may reach a reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core_api/call_frame.h"
#include "core_api/outside_library_abi.h"
#include "platform/dynamic_library.h"

// The address of the entry `name` as its function type in `entry`; false
// when the library lacks it.
template <typename F>
bool find_entry(const DynamicLibrary& library, const char* name, F& entry) {
  void* address = library.symbol(name);
  entry = reinterpret_cast<F>(address);
  return address != nullptr;
}

// LibMain kinds 1 and 2, each with its own copy of `directory`, the
// library_directory setting (also when the library came by its bare name
// from the loader's search path), so that nothing the library does reaches
// the setting.
inline void announce_directory(KxLibMain lib_main, const std::string& directory) {
  for (int32_t kind : {KX_LIBMAIN_DIRECTORY, KX_LIBMAIN_DIRECTORY_AGAIN}) {
    std::string copy = directory;
    lib_main(kind, copy.data());
  }
}

// Open while one request runs its library: the callbacks of that bridge
// reach a reader only then. Requests run under api_lock, one at a time.
class CallbackWindow {
 public:
  explicit CallbackWindow(std::atomic<bool>& open) : open_(open) { open_.store(true); }
  ~CallbackWindow() { open_.store(false); }
  CallbackWindow(const CallbackWindow&) = delete;
  CallbackWindow& operator=(const CallbackWindow&) = delete;

 private:
  std::atomic<bool>& open_;
};

// The device a callback may use: null outside its request's window or for
// a handle without a reader.
inline ReaderDevice* callback_device(const std::atomic<bool>& open, int32_t icdev) {
  return open.load() ? device_for_handle(icdev) : nullptr;
}
