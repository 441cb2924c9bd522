// The camera through the outside library libkxrf32cv.so, kept loaded from
// kx_CvLibLoad to kx_CvLibUnload and shared by every open reader; closing a
// reader does not unload it. Everything here runs under api_lock.
#include "core_api/outside_library.h"
#include "kx_core.h"
#include "platform/settings.h"

namespace {

// The loaded camera library and its entries; the entries mean something
// only while `library` is set.
struct CameraLibrary {
  std::unique_ptr<DynamicLibrary> library;
  KxCvOpenClose open = nullptr;
  KxCvOpenClose close = nullptr;
  KxCvCapture capture = nullptr;
};
CameraLibrary cv_library;

int16_t load_camera() {
  if (cv_library.library) return 0;
  const std::string directory = library_directory();
  CameraLibrary loading;
  loading.library = load_outside_library(directory, "kxrf32cv");
  if (!loading.library) return -2;
  KxLibMain lib_main = nullptr;
  if (!find_entry(*loading.library, "LibMain", lib_main) ||
      !find_entry(*loading.library, "Kxrf32CvOpen", loading.open) ||
      !find_entry(*loading.library, "Kxrf32CvClose", loading.close) ||
      !find_entry(*loading.library, "Kxrf32CvCapture", loading.capture))
    return -2;
  announce_directory(lib_main, directory);
  cv_library = std::move(loading);
  return 0;
}

// A camera entry's low 16 bits, or -1 while no library is loaded.
template <typename Call>
int16_t camera_call(Call call) {
  return cv_library.library ? int16_t(call()) : int16_t{-1};
}

constexpr char kIcdevLine[] = "  parameter:[icdev[in]]";
const auto kNoLines = [](CallTrace&, int16_t) {};

}  // namespace

QM_API int16_t kx_CvLibLoad(int32_t icdev) {
  return core_frame(
      "kx_CvLibLoad", kIcdevLine, icdev, [](CallTrace&) {},
      [](ReaderDevice&) { return load_camera(); }, kNoLines);
}

QM_API int16_t kx_CvLibUnload(int32_t icdev) {
  return core_frame(
      "kx_CvLibUnload", kIcdevLine, icdev, [](CallTrace&) {},
      [](ReaderDevice&) {
        cv_library = CameraLibrary();
        return 0;
      },
      kNoLines);
}

QM_API int16_t kx_CvOpen(int32_t icdev, int32_t number) {
  return core_frame(
      "kx_CvOpen", kIcdevLine, icdev,
      [&](CallTrace& t) { t.number("  parameter:[number[in]]", number); },
      [&](ReaderDevice&) { return camera_call([&] { return cv_library.open(icdev, number); }); },
      kNoLines);
}

QM_API int16_t kx_CvClose(int32_t icdev, int32_t number) {
  return core_frame(
      "kx_CvClose", kIcdevLine, icdev,
      [&](CallTrace& t) { t.number("  parameter:[number[in]]", number); },
      [&](ReaderDevice&) { return camera_call([&] { return cv_library.close(icdev, number); }); },
      kNoLines);
}

QM_API int16_t kx_CvCapture(int32_t icdev, int32_t number, int32_t mode, const char* file_name) {
  return core_frame(
      "kx_CvCapture", kIcdevLine, icdev,
      [&](CallTrace& t) {
        t.number("  parameter:[number[in]]", number);
        t.number("  parameter:[mode[in]]", mode);
        t.text("  parameter:[file_name[in]]", file_name);
      },
      [&](ReaderDevice&) {
        return camera_call([&] { return cv_library.capture(icdev, number, mode, file_name); });
      },
      kNoLines);
}
