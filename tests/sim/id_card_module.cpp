#include "sim/id_card_module.h"

#include <algorithm>

#include "sim/sim_replies.h"

namespace {

using Bytes = IdCardModule::Bytes;

constexpr uint8_t kPreamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
const Bytes kFound = {0x00, 0x00, 0x9F};
const Bytes kDone = {0x00, 0x00, 0x90};
const Bytes kRefused = {0x00, 0x00, 0x41};
const Bytes kNoCard = {0x00, 0x00, 0x80};
const Bytes kBadFrame = {0x00, 0x00, 0x10};

void put16(Bytes& out, size_t value) {
  out.push_back(uint8_t(value >> 8));
  out.push_back(uint8_t(value));
}

void append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// [L BE16][data], as the record, fingerprint and tunnel replies carry it.
Bytes sized(const Bytes& data, int added = 0) {
  Bytes out;
  put16(out, size_t(int(data.size()) + added));
  append(out, data);
  return out;
}

uint8_t xor_of(const uint8_t* p, size_t n) {
  uint8_t x = 0;
  for (size_t i = 0; i < n; ++i) x ^= p[i];
  return x;
}

}  // namespace

IdCard id_card(const std::vector<std::pair<std::u16string, size_t>>& fields, Bytes photo,
               Bytes finger, Bytes uid, Bytes extra) {
  IdCard card;
  for (const auto& [chars, width] : fields) {
    card.fields.push_back(chars);
    for (size_t i = 0; i < width; ++i) {
      const char16_t c = i < chars.size() ? chars[i] : u' ';
      card.text.push_back(uint8_t(c & 0xFF));
      card.text.push_back(uint8_t(c >> 8));
    }
  }
  card.text.resize(256, 0x00);
  card.photo = std::move(photo);
  card.finger = std::move(finger);
  card.uid = std::move(uid);
  card.extra = std::move(extra);
  return card;
}

Bytes id_pattern(size_t n, unsigned m, unsigned c) {
  Bytes out(n);
  for (size_t i = 0; i < n; ++i) out[i] = uint8_t(m * i + c);
  return out;
}

IdCard IdCard::a() {
  return id_card({{u"张三", 15},
                  {u"1", 1},
                  {u"01", 2},
                  {u"19800101", 8},
                  {u"测试省样例市示范路8号", 35},
                  {u"110101198001011232", 18},
                  {u"样例市公安局", 15},
                  {u"20150101", 8},
                  {u"20350101", 8},
                  {u"", 18}},
                 id_pattern(1024, 7, 3), id_pattern(1024, 13, 5), id_pattern(8, 1, 1),
                 id_pattern(70, 3, 1));
}

IdCard IdCard::b() {
  return id_card({{u"李四", 15},
                  {u"2", 1},
                  {u"98", 2},
                  {u"19751203", 8},
                  {u"样例省测试市演示街2号", 35},
                  {u"44030019751203108X", 18},
                  {u"测试市公安局", 15},
                  {u"20100101", 8},
                  {u"长期", 8},
                  {u"", 18}},
                 id_pattern(1024, 5, 1), id_pattern(1024, 11, 2), id_pattern(8, 1, 0x11),
                 id_pattern(70, 5, 2));
}

IdCard IdCard::foreigner() {
  return id_card({{u"SAMPLE, JOHN EXAMPLE", 60},
                  {u"1", 1},
                  {u"USA110080010112", 15},
                  {u"USA", 3},
                  {u"约翰", 15},
                  {u"20200101", 8},
                  {u"20300101", 8},
                  {u"19800101", 8},
                  {u"02", 2},
                  {u"1100", 4},
                  {u"I", 1},
                  {u"R9Z", 3}},
                 id_pattern(1024, 3, 9), {}, id_pattern(8, 1, 0x21), id_pattern(70, 1, 0));
}

IdCard IdCard::hkMoTw() {
  return id_card({{u"陈大文", 15},
                  {u"1", 1},
                  {u"R1", 2},
                  {u"19900215", 8},
                  {u"广东省深圳市福田区样例路1号", 35},
                  {u"810000199002150018", 18},
                  {u"深圳市公安局", 15},
                  {u"20190101", 8},
                  {u"20240101", 8},
                  {u"H12345678", 9},
                  {u"03", 2},
                  {u"R2X", 3},
                  {u"J", 1},
                  {u"R3Y", 3}},
                 id_pattern(1024, 9, 7), id_pattern(512, 17, 4), id_pattern(8, 1, 0x31),
                 id_pattern(70, 7, 3));
}

void IdCardModule::attach(R42ReaderModel& model) {
  for (uint16_t code : {0x0420, 0x0421, 0x0422, 0x0424, 0x0425, 0x0426, 0x042D})
    model.addCommand(code, [this](const Bytes& request) { return answer(request); });
}

IdCardModule::State IdCardModule::snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}

Bytes IdCardModule::tunnel_reply(const Bytes& body) {
  Bytes frame(kPreamble, kPreamble + 5);
  put16(frame, body.size() + 1);
  append(frame, body);
  frame.push_back(xor_of(frame.data() + 5, frame.size() - 5));
  return sim_ok(sized(frame));
}

Bytes IdCardModule::answer(const Bytes& request) {
  std::lock_guard<std::mutex> lock(mu_);
  State& s = state_;
  const uint16_t code = uint16_t(request[0] << 8 | request[1]);
  const size_t params = request.size() - 3;
  if (code == 0x0424) return tunnel(request.data() + 3, params);
  if (code == 0x042D) return parts(request.data() + 3, params);
  if (params != (code == 0x0422 ? 1u : 0u) || (code == 0x0422 && request[3] != 0x0B))
    return sim_refused(0x6A80);
  if (!s.card) return sim_refused(s.no_card_status);
  const IdCard& card = *s.card;
  switch (code) {
    case 0x0421:
    case 0x0426:
      return sim_ok();
    case 0x0425:
      return sim_ok(card.uid);
    case 0x0422:
      if (card.finger.empty()) return sim_refused(s.no_card_status);
      return sim_ok(sized(card.finger));
    default: {  // 0x0420
      Bytes record = kDone;
      put16(record, s.text_length.value_or(uint16_t(card.text.size())));
      put16(record, card.photo.size());
      append(record, card.text);
      append(record, card.photo);
      record.resize(record.size() - std::min(s.record_cut, record.size()));
      return sim_ok(sized(record, s.record_length_added));
    }
  }
}

Bytes IdCardModule::tunnel(const uint8_t* frame, size_t size) {
  State& s = state_;
  // Preamble, length L (command word, data and check byte), check byte.
  const bool well_formed = size >= 10 && std::equal(kPreamble, kPreamble + 5, frame) &&
                           size_t(frame[5] << 8 | frame[6]) + 7 == size &&
                           xor_of(frame + 5, size - 5) == 0;
  if (!well_formed) {
    ++s.bad_host_frames;
    return moduleFrame(0, kBadFrame);
  }
  const uint16_t command = uint16_t(frame[7] << 8 | frame[8]);
  if (command == 0x12FF) {
    Bytes body = kDone;
    append(body, s.module_serial);
    return moduleFrame(command, body);
  }
  if (!s.card) return moduleFrame(command, kNoCard);
  const IdCard& card = *s.card;
  const auto fault = s.frame_faults.find(command);
  const int photo_added = fault == s.frame_faults.end() ? 0 : fault->second.photo_overstated;
  Bytes body;
  switch (command) {
    case 0x2001:
      body = kFound;
      body.resize(7, 0x00);
      break;
    case 0x2002:
      body = kDone;
      body.resize(11, 0x00);
      break;
    case 0x3010:
    case 0x3001:
      if (command == 0x3010 && card.finger.empty()) return moduleFrame(command, kRefused);
      body = kDone;
      put16(body, card.text.size());
      put16(body, size_t(int(card.photo.size()) + photo_added));
      if (command == 0x3010) put16(body, card.finger.size());
      append(body, card.text);
      append(body, card.photo);
      if (command == 0x3010) append(body, card.finger);
      break;
    case 0x3003:
      body = kDone;
      append(body, card.extra);
      break;
    default:
      body = kBadFrame;
      break;
  }
  return moduleFrame(command, body);
}

Bytes IdCardModule::parts(const uint8_t* params, size_t size) {
  State& s = state_;
  if (size != 2) return sim_refused(0x6A80);
  if (!s.card) return sim_refused(s.no_card_status);
  if (params[1] == 0) return sim_ok();
  const IdCard& card = *s.card;
  Bytes data;
  put16(data, card.text.size());
  put16(data, card.photo.size());
  put16(data, card.finger.size());
  put16(data, size_t(int(card.extra.size()) + s.parts_length_added));
  for (const Bytes* part : {&card.text, &card.photo, &card.finger, &card.extra})
    append(data, *part);
  return sim_ok(data);
}

Bytes IdCardModule::moduleFrame(uint16_t command, Bytes body) const {
  const auto fault = state_.frame_faults.find(command);
  if (fault == state_.frame_faults.end()) return tunnel_reply(body);
  const FrameFault& f = fault->second;
  if (f.status) std::copy(f.status->begin(), f.status->end(), body.begin());
  Bytes frame(kPreamble, kPreamble + 5);
  if (f.bad_preamble) frame[4] = 0x68;
  put16(frame, f.length.value_or(uint16_t(body.size() + 1)));
  append(frame, body);
  uint8_t check = xor_of(frame.data() + 5, frame.size() - 5);
  frame.push_back(f.bad_check ? uint8_t(~check) : check);
  frame.resize(frame.size() - std::min(f.cut, frame.size()));
  return sim_ok(sized(frame));
}
