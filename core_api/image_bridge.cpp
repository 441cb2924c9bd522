// Identity-card images through the outside library
// libkxrf32idcardimagebuild.so, which parses the card's records with the
// reader's own parsers through four callbacks. Loaded, used and released
// within each request, under api_lock.
#include "connection/reader_device.h"
#include "core_api/outside_library.h"
#include "kx_core.h"
#include "platform/settings.h"

namespace {

std::atomic<bool> image_window{false};

// Each callback reaches the parser of the same name on the handle's device,
// or gives -1 outside a request or without a reader.
int32_t parse_text(int32_t icdev, int32_t charset, int32_t info_len, const unsigned char* info,
                   char* name, char* sex, char* nation, char* birth_day, char* address,
                   char* id_number, char* department, char* expire_start_day,
                   char* expire_end_day, char* reserved) {
  ReaderDevice* device = callback_device(image_window, icdev);
  if (device == nullptr) return -1;
  return device->ParseTextInfo(icdev, charset, info_len, info, name, sex, nation, birth_day,
                               address, id_number, department, expire_start_day,
                               expire_end_day, reserved);
}

int32_t parse_foreigner(int32_t icdev, int32_t charset, int32_t info_len,
                        const unsigned char* info, char* english_name, char* sex,
                        char* id_number, char* citizenship, char* chinese_name,
                        char* expire_start_day, char* expire_end_day, char* birth_day,
                        char* version_number, char* department_code, char* type_sign,
                        char* reserved) {
  ReaderDevice* device = callback_device(image_window, icdev);
  if (device == nullptr) return -1;
  return device->ParseTextInfoForForeigner(icdev, charset, info_len, info, english_name, sex,
                                           id_number, citizenship, chinese_name,
                                           expire_start_day, expire_end_day, birth_day,
                                           version_number, department_code, type_sign, reserved);
}

int32_t parse_photo(int32_t icdev, int32_t type, int32_t info_len, const unsigned char* info,
                    int32_t* photo_len, char* photo) {
  ReaderDevice* device = callback_device(image_window, icdev);
  if (device == nullptr) return -1;
  return device->ParsePhotoInfo(icdev, type, info_len, info, photo_len, photo);
}

int32_t parse_other(int32_t icdev, int32_t flag, const char* in_info, char* out_info) {
  ReaderDevice* device = callback_device(image_window, icdev);
  if (device == nullptr) return -1;
  return device->ParseOtherInfo(icdev, flag, in_info, out_info);
}

const KxImageCallbacks kImageCallbacks = {&parse_text, &parse_foreigner, &parse_photo,
                                          &parse_other};

int16_t image_build_call(int32_t icdev, int32_t type, int32_t text_len, const unsigned char* text,
                         int32_t photo_len, const unsigned char* photo, const char* front_file,
                         const char* back_file) {
  const std::string directory = library_directory();
  const std::unique_ptr<DynamicLibrary> library =
      load_outside_library(directory, "kxrf32idcardimagebuild");
  if (!library) return -2;
  KxLibMain lib_main = nullptr;
  KxIdCardImageBuild build = nullptr;
  if (!find_entry(*library, "LibMain", lib_main) ||
      !find_entry(*library, "Kxrf32IdCardImageBuild", build))
    return -2;
  CallbackWindow window(image_window);
  announce_directory(lib_main, directory);
  lib_main(KX_LIBMAIN_CALLBACKS, const_cast<KxImageCallbacks*>(&kImageCallbacks));
  const int32_t built =
      build(icdev, type, text_len, text, photo_len, photo, front_file, back_file);
  return int16_t(built) == 0 ? 0 : -4;
}

}  // namespace

QM_API int16_t kx_IdCardImageBuild(int32_t icdev, int32_t type, int32_t text_len,
                                   const unsigned char* text, int32_t photo_len,
                                   const unsigned char* photo, const char* front_file,
                                   const char* back_file) {
  return core_frame(
      "kx_IdCardImageBuild", "  parameter:[icdev[in]]", icdev,
      [&](CallTrace& t) {
        t.number("  parameter:[type[in]]", type);
        t.number("  parameter:[text_len[in]]", text_len);
        t.bytes("  parameter:[text[in]]", text, text_len);
        t.number("  parameter:[photo_len[in]]", photo_len);
        t.bytes("  parameter:[photo[in]]", photo, photo_len);
        t.text("  parameter:[front_file[in]]", front_file);
        t.text("  parameter:[back_file[in]]", back_file);
      },
      [&](ReaderDevice&) {
        return image_build_call(icdev, type, text_len, text, photo_len, photo, front_file,
                                back_file);
      },
      [](CallTrace&, int16_t) {});
}
