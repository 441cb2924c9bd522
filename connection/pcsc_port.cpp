#include "connection/pcsc_port.h"

#include <cctype>

namespace {

constexpr DWORD kResponseCapacity = 8192;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Drops a trailing " <open>...<close>" group from `text`, when there is one.
void strip_group(std::string& text, char open, char close) {
  if (text.empty() || text.back() != close) return;
  const std::string opener = std::string(" ") + open;
  const size_t at = text.rfind(opener);
  if (at != std::string::npos) text.erase(at);
}

// Whether the pcsc-lite reader name `reader` belongs to base name `base`.
bool reader_has_base(const std::string& reader, const std::string& base) {
  const size_t n = reader.size();
  if (base.empty() || n < 6) return false;
  // pcsc-lite appends " XX YY": reader number and slot, in hex.
  if (reader[n - 6] != ' ' || !is_hex(reader[n - 5]) || !is_hex(reader[n - 4]) ||
      reader[n - 3] != ' ' || !is_hex(reader[n - 2]) || !is_hex(reader[n - 1])) {
    return false;
  }
  std::string core = reader.substr(0, n - 6);
  strip_group(core, '(', ')');
  strip_group(core, '[', ']');
  if (core == base) return true;
  // One vendor word may stand in front of the base name.
  if (core.size() <= base.size() + 1) return false;
  const size_t vendor_end = core.size() - base.size() - 1;
  if (core.compare(vendor_end, std::string::npos, " " + base) != 0) return false;
  return core.find(' ') == vendor_end;
}

struct IndexedName {
  std::string base;
  int index;
};

// The ways `name` can be a base name plus an index suffix, most specific
// first: " ii ii" (the same index twice), then " i" or " ii".
std::vector<IndexedName> index_forms(const std::string& name) {
  std::vector<IndexedName> forms;
  const size_t n = name.size();
  if (n >= 7 && name[n - 6] == ' ' && is_digit(name[n - 5]) && is_digit(name[n - 4]) &&
      name[n - 3] == ' ' && name[n - 5] == name[n - 2] && name[n - 4] == name[n - 1]) {
    forms.push_back({name.substr(0, n - 6), (name[n - 2] - '0') * 10 + (name[n - 1] - '0')});
  }
  if (n >= 3 && name[n - 2] == ' ' && is_digit(name[n - 1])) {
    forms.push_back({name.substr(0, n - 2), name[n - 1] - '0'});
  } else if (n >= 4 && name[n - 3] == ' ' && is_digit(name[n - 2]) && is_digit(name[n - 1])) {
    forms.push_back({name.substr(0, n - 3), (name[n - 2] - '0') * 10 + (name[n - 1] - '0')});
  }
  return forms;
}

// The names in a pcsc-lite multi-string, read only within its `length`.
std::vector<std::string> split_multi_string(const char* text, DWORD length) {
  std::vector<std::string> names;
  size_t start = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] != '\0') continue;
    if (i == start) break;  // the empty name ends the list
    names.emplace_back(text + start, i - start);
    start = i + 1;
  }
  return names;
}

}  // namespace

std::string pcsc_pick_reader(const std::vector<std::string>& listed, const std::string& name) {
  for (const std::string& reader : listed) {
    if (reader == name) return reader;
  }
  for (const IndexedName& form : index_forms(name)) {
    int seen = 0;
    for (const std::string& reader : listed) {
      if (!reader_has_base(reader, form.base)) continue;
      if (seen++ == form.index) return reader;
    }
  }
  return "";
}

PcscPort::PcscPort(const ParamMap& params, bool* opened)
    : PortBase("PcscPort:", DataLines::kWritten) {
  scope_ = get_param(params, "scope");
  name_ = get_param(params, "name");
  openAndReport(opened);
}

PcscPort::~PcscPort() { close(); }

bool PcscPort::openDevice() {
  open_ = false;
  DWORD scope;
  if (scope_ == "user") {
    scope = SCARD_SCOPE_USER;
  } else if (scope_ == "system") {
    scope = SCARD_SCOPE_SYSTEM;
  } else {
    return false;
  }
  SCARDCONTEXT context = 0;
  if (SCardEstablishContext(scope, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;

  // Every failing step from here on gives the context back, as a failed
  // connect does.
  DWORD length = 0;
  std::string reader;
  if (SCardListReaders(context, nullptr, nullptr, &length) == SCARD_S_SUCCESS && length > 0) {
    std::vector<char> names(length);
    if (SCardListReaders(context, nullptr, names.data(), &length) == SCARD_S_SUCCESS) {
      if (length > names.size()) length = static_cast<DWORD>(names.size());
      reader = pcsc_pick_reader(split_multi_string(names.data(), length), name_);
    }
  }
  SCARDHANDLE card = 0;
  DWORD protocol = 0;
  if (reader.empty() ||
      SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED,
                   SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) != SCARD_S_SUCCESS) {
    SCardReleaseContext(context);
    return false;
  }
  context_ = context;
  card_ = card;
  protocol_ = protocol;
  open_ = true;
  rx_.clear();
  return true;
}

void PcscPort::closeDevice() {
  SCardDisconnect(card_, SCARD_LEAVE_CARD);
  SCardReleaseContext(context_);
  card_ = 0;
  context_ = 0;
  protocol_ = 0;
  open_ = false;
}

// The port never waits: the bytes are there from the transmission, or not.
bool PcscPort::readBytes(uint8_t* buffer, int32_t length, int32_t /*timeout_ms*/) {
  if (rx_.size() < static_cast<size_t>(length)) return false;
  for (int32_t i = 0; i < length; ++i) {
    buffer[i] = rx_.front();
    rx_.pop_front();
  }
  return true;
}

bool PcscPort::writeBytes(const uint8_t* buffer, int32_t length, int32_t /*timeout_ms*/) {
  const SCARD_IO_REQUEST* pci;
  DWORD send_length = static_cast<DWORD>(length);
  if (protocol_ == SCARD_PROTOCOL_T0) {
    pci = SCARD_PCI_T0;
    // A case-2 header with Le 0 goes out as its four header bytes over T=0.
    if (length == 5 && buffer[4] == 0) send_length = 4;
  } else if (protocol_ == SCARD_PROTOCOL_T1) {
    pci = SCARD_PCI_T1;
  } else {
    return false;
  }
  std::vector<uint8_t> response(kResponseCapacity);
  DWORD response_length = kResponseCapacity;
  if (SCardTransmit(card_, pci, buffer, send_length, nullptr, response.data(), &response_length) !=
      SCARD_S_SUCCESS) {
    return false;
  }
  if (response_length > kResponseCapacity) response_length = kResponseCapacity;
  rx_.insert(rx_.end(), response.begin(), response.begin() + response_length);
  return true;
}

void PcscPort::purge() { rx_.clear(); }

int32_t PcscPort::available() { return static_cast<int32_t>(rx_.size()); }

bool PcscPort::isOpen() { return open_; }
