// The card text of the identity cards: 256 bytes of UCS-2 characters (low
// byte first), each field at a fixed place and padded with spaces. One
// layout per card kind, in characters, and the decoding shared by the
// reader's own record read and the text parsers.
#pragma once

#include <cstddef>
#include <cstdint>

// The decoded fields of the last resident card read: GBK texts with their
// NUL. Sex and nation hold words, not codes.
struct IdCardText {
  char name[64];
  char sex[32];
  char nation[32];
  char birth_date[32];
  char address[128];
  char card_number[64];
  char department[64];
  char start_date[32];
  char end_date[32];
};

// Bytes of a card text; shorter texts are refused.
inline constexpr size_t kIdCardTextSize = 256;

// One field: its first character and its length, in characters.
struct IdCardField {
  uint8_t offset;
  uint8_t chars;
};

// Layouts in output order. The resident card: name, sex, nation, birth day,
// address, identity number, department, validity start and end, reserved.
extern const IdCardField kResidentCardLayout[10];
// The permanent-residence card for foreigners: English name, sex, identity
// number, citizenship, Chinese name, validity start and end, birth day,
// version, department code, type sign, reserved.
extern const IdCardField kForeignerCardLayout[12];
// The residence card of Hong Kong, Macau and Taiwan residents: name, sex,
// reserved, birth day, address, identity number, department, validity start
// and end, pass number, sign count, reserved, type sign, reserved.
extern const IdCardField kHkMoTwCardLayout[14];

// A resident card text of kIdCardTextSize bytes into `out`, every field
// written; sex and nation become their words ("无" for an unknown nation).
void decode_resident_text(const uint8_t* text, IdCardText& out);

// Writes field i of `layout` into outputs[i]: charset 0 as GBK text and a
// NUL (at most 2n + 1 bytes for n characters), charset 1 as the trimmed
// UCS-2 characters and a 16-bit zero, low byte first (at most 2n + 2).
// -1 with nothing written for another charset, info_len below
// kIdCardTextSize, or a null info or output.
int16_t parse_card_text(int32_t charset, int32_t info_len, const uint8_t* info,
                        const IdCardField* layout, char* const* outputs, size_t count);
template <size_t N>
int16_t parse_card_text(int32_t charset, int32_t info_len, const uint8_t* info,
                        const IdCardField (&layout)[N], char* const (&outputs)[N]) {
  return parse_card_text(charset, info_len, info, layout, outputs, N);
}
