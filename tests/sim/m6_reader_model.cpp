#include "sim/m6_reader_model.h"

namespace {

constexpr uint8_t kGetVersion = 0x80;
constexpr uint8_t kReadSerial = 0xFC;
constexpr size_t kSerialLength = 32;

}  // namespace

M6ReaderModel::Reply M6ReaderModel::answer(const Bytes& command) {
  std::lock_guard<std::mutex> lock(mu_);
  if (command.empty()) return {Reply::Kind::kSilence, {}};
  commands_.push_back(command);
  Reply reply = answerLocked(command);
  replies_.push_back(reply.kind == Reply::Kind::kPayload ? reply.bytes : Bytes());
  return reply;
}

M6ReaderModel::Reply M6ReaderModel::answerLocked(const Bytes& command) {
  const size_t seen = ++counts_[command[0]];
  if (!script_.empty()) {
    Reply scripted = std::move(script_.front());
    script_.pop_front();
    if (scripted.kind == Reply::Kind::kPayload && scripted.bytes.empty())
      scripted.bytes.push_back(0x00);
    return scripted;
  }
  auto by_code = by_code_.find({command[0], seen});
  if (by_code != by_code_.end()) {
    Reply scripted{Reply::Kind::kPayload, std::move(by_code->second)};
    by_code_.erase(by_code);
    return scripted;
  }
  for (const auto& attachment : state_.attachments)
    if (auto payload = attachment->respond(command)) return {Reply::Kind::kPayload, *payload};
  Reply reply{Reply::Kind::kPayload, {0x00}};
  if (command[0] == kGetVersion) {
    reply.bytes.insert(reply.bytes.end(), state_.version, state_.version + 2);
  } else if (command[0] == kReadSerial) {
    reply.bytes.insert(reply.bytes.end(), state_.serial.begin(), state_.serial.end());
  } else {
    reply.bytes.insert(reply.bytes.end(), command.begin() + 1, command.end());
  }
  return reply;
}

void M6ReaderModel::setVersion(uint8_t high, uint8_t low) {
  std::lock_guard<std::mutex> lock(mu_);
  state_.version[0] = high;
  state_.version[1] = low;
}

void M6ReaderModel::setSerial(const std::string& serial32) {
  std::lock_guard<std::mutex> lock(mu_);
  state_.serial = serial32;
  state_.serial.resize(kSerialLength, '0');
}

void M6ReaderModel::pushReply(Bytes payload) {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back({Reply::Kind::kPayload, std::move(payload)});
}

void M6ReaderModel::pushRaw(Bytes bytes) {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back({Reply::Kind::kRaw, std::move(bytes)});
}

void M6ReaderModel::scriptReply(uint8_t code, Bytes payload, int nth) {
  std::lock_guard<std::mutex> lock(mu_);
  by_code_[{code, counts_[code] + size_t(nth < 1 ? 1 : nth)}] = std::move(payload);
}

void M6ReaderModel::pushSilence() {
  std::lock_guard<std::mutex> lock(mu_);
  script_.push_back({Reply::Kind::kSilence, {}});
}

std::vector<M6ReaderModel::Bytes> M6ReaderModel::commands() const {
  std::lock_guard<std::mutex> lock(mu_);
  return commands_;
}

std::vector<M6ReaderModel::Bytes> M6ReaderModel::replies() const {
  std::lock_guard<std::mutex> lock(mu_);
  return replies_;
}

M6ReaderModel::State M6ReaderModel::snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
}
