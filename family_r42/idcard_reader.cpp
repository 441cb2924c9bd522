// The step API of the identity-card module: the reader reads the card's
// record (header, text, compressed photo) in one command and its
// fingerprint in another; the device keeps the decoded record for the
// queries that follow.
#include <cstring>
#include <string>

#include "family_r42/idcard_text.h"
#include "family_r42/r42_device.h"

namespace {

// Both record reads ask for this much reply; the other commands for the
// default.
constexpr size_t kIdReadCapacity = 10240;
// The record as the reader sends it: three status bytes, text length T and
// photo length P (BE16 each), a 256-byte text and a 1024-byte photo. Longer
// ones do not fit the raw read's output.
constexpr size_t kIdRawRecordMax = 1287;
constexpr uint8_t kFingerParameter = 0x0B;
// The shortest fingerprint payload taken.
constexpr size_t kFingerMin = 7;
constexpr size_t kIdDataSize = 4096;

// One card as read, before the device takes it.
struct IdCardRecord {
  IdCardText text;
  uint8_t photo[kIdDataSize];
  uint32_t photo_length;
  uint8_t finger[kIdDataSize];
  uint32_t finger_length;
};

// A read whose reply data is [L BE16][L bytes]: `data` covers the L bytes.
// -1 besides the exchange's results when L is more than came.
int16_t read_sized(R42Device& device, R42Request& request, ByteCursor* data) {
  ByteCursor payload(nullptr, 0);
  const int16_t result =
      device.exchange(request, kR42DefaultTimeoutMs, r42_cmd::kIdLengthReply, &payload);
  if (result != 0) return result;
  uint16_t length = 0;
  if (!payload.be16(length) || length > payload.remaining()) return -1;
  *data = ByteCursor(payload.here(), length);
  return 0;
}

// Text and photo of a record. False when the record is shorter than its
// header, the text shorter than a card text or past the record, or the
// photo past the record or larger than the photo field.
bool parse_record(ByteCursor record, IdCardRecord& out) {
  uint16_t text_length = 0, photo_length = 0;
  if (!record.skip(3) || !record.be16(text_length) || !record.be16(photo_length)) return false;
  if (text_length < kIdCardTextSize || text_length > record.remaining()) return false;
  decode_resident_text(record.here(), out.text);
  record.skip(text_length);
  if (photo_length > sizeof out.photo || !record.take(out.photo, photo_length)) return false;
  out.photo_length = photo_length;
  return true;
}

// The fingerprint payload, whole.
bool parse_finger(ByteCursor finger, IdCardRecord& out) {
  const size_t length = finger.remaining();
  if (length < kFingerMin || length > sizeof out.finger) return false;
  out.finger_length = uint32_t(length);
  return finger.take(out.finger, length);
}

int16_t copy_text(char* out, const char* text) {
  if (out == nullptr) return -1;
  std::memcpy(out, text, std::strlen(text) + 1);
  return 0;
}

int16_t copy_bytes(uint8_t* out, const uint8_t* data, uint32_t length) {
  if (out == nullptr) return -1;
  std::memcpy(out, data, length);
  return 0;
}

}  // namespace

int32_t R42Device::read_id_card(int32_t icdev, bool finger) {
  // Zeroed, so that no byte of an earlier card survives past a shorter
  // photo or a missing fingerprint.
  IdCardRecord record{};
  {
    R42Request request(r42_cmd::kIdReadRecord, kIdReadCapacity);
    ByteCursor data(nullptr, 0);
    if (read_sized(*this, request, &data) != 0 || !parse_record(data, record)) return -1;
  }
  if (finger) {
    if (find_i_d_2(icdev) != 0) return -1;
    R42Request request(r42_cmd::kIdReadFinger, kIdReadCapacity);
    request.u8(kFingerParameter);
    ByteCursor data(nullptr, 0);
    if (read_sized(*this, request, &data) != 0 || !parse_finger(data, record)) return -1;
  }
  static_assert(sizeof record.photo == sizeof id_photo_ &&
                sizeof record.finger == sizeof id_finger_);
  id_text_ = record.text;
  std::memcpy(id_photo_, record.photo, sizeof id_photo_);
  id_photo_length_ = record.photo_length;
  std::memcpy(id_finger_, record.finger, sizeof id_finger_);
  id_finger_length_ = record.finger_length;
  return icdev;
}

int16_t R42Device::find_i_d(int32_t icdev) { return start_i_d(icdev) >= 0 ? 0 : -1; }

int16_t R42Device::find_i_d_2(int32_t) { return status_command(r42_cmd::kIdFindCard); }

int16_t R42Device::find_i_d_speed(int32_t) { return status_command(r42_cmd::kIdFindCardFast); }

int16_t R42Device::get_i_d_raw_buffer(int32_t, unsigned char* rdata) {
  if (rdata == nullptr) return -1;
  R42Request request(r42_cmd::kIdReadRecord, kIdReadCapacity);
  ByteCursor data(nullptr, 0);
  const int16_t result = read_sized(*this, request, &data);
  if (result != 0) return result;
  if (data.remaining() > kIdRawRecordMax) return -1;
  data.take(rdata, data.remaining());
  return 0;
}

int32_t R42Device::start_i_d(int32_t icdev) { return read_id_card(icdev, false); }

int32_t R42Device::start_i_d_2(int32_t icdev) { return read_id_card(icdev, true); }

char* R42Device::i_d_query_name(int32_t) { return id_text_.name; }
int16_t R42Device::i_d_query_name_2(int32_t, char* name) { return copy_text(name, id_text_.name); }
char* R42Device::i_d_query_sex(int32_t) { return id_text_.sex; }
int16_t R42Device::i_d_query_sex_2(int32_t, char* sex) { return copy_text(sex, id_text_.sex); }
char* R42Device::i_d_query_nation(int32_t) { return id_text_.nation; }
int16_t R42Device::i_d_query_nation_2(int32_t, char* nation) {
  return copy_text(nation, id_text_.nation);
}
char* R42Device::i_d_query_birth(int32_t) { return id_text_.birth_date; }
int16_t R42Device::i_d_query_birth_2(int32_t, char* birth) {
  return copy_text(birth, id_text_.birth_date);
}
char* R42Device::i_d_query_address(int32_t) { return id_text_.address; }
int16_t R42Device::i_d_query_address_2(int32_t, char* address) {
  return copy_text(address, id_text_.address);
}
char* R42Device::i_d_query_id_number(int32_t) { return id_text_.card_number; }
int16_t R42Device::i_d_query_id_number_2(int32_t, char* id_number) {
  return copy_text(id_number, id_text_.card_number);
}
char* R42Device::i_d_query_department(int32_t) { return id_text_.department; }
int16_t R42Device::i_d_query_department_2(int32_t, char* department) {
  return copy_text(department, id_text_.department);
}

char* R42Device::i_d_query_expire_day(int32_t) {
  copy_fixed_text(id_validity_text_, (std::string(id_text_.start_date) + id_text_.end_date).c_str());
  return id_validity_text_;
}

int16_t R42Device::i_d_query_expire_day_2(int32_t, char* expire_day) {
  return copy_text(expire_day, (std::string(id_text_.start_date) + id_text_.end_date).c_str());
}

unsigned char* R42Device::i_d_query_photo(int32_t) { return id_photo_; }
int16_t R42Device::i_d_query_photo_2(int32_t, unsigned char* photo) {
  return copy_bytes(photo, id_photo_, id_photo_length_);
}
int32_t R42Device::i_d_query_photo_len(int32_t) { return int32_t(id_photo_length_); }

unsigned char* R42Device::i_d_query_finger(int32_t) { return id_finger_; }
int16_t R42Device::i_d_query_finger_2(int32_t, unsigned char* finger) {
  return copy_bytes(finger, id_finger_, id_finger_length_);
}
int32_t R42Device::i_d_query_finger_len(int32_t) { return int32_t(id_finger_length_); }

int16_t R42Device::i_d_query_finger_file(int32_t, const char*) { return -1; }
int16_t R42Device::i_d_query_finger_bmp_buffer(int32_t, unsigned char*, int32_t*) { return -1; }

void R42Device::end_i_d(int32_t) {}

int16_t R42Device::getuid_i_d(int32_t, unsigned char* uid) {
  R42Request request(r42_cmd::kIdCardUid);
  return fixed_reply(request, uid, r42_cmd::kIdUidReply - r42_cmd::kReplyHead);
}
