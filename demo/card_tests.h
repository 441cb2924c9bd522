// The card tests behind Trelview's buttons, one member per button. Each runs
// its fixed sequence of reader-library calls on the calling thread and
// writes what it got, or why it stopped, to a TextSink; nothing here needs a
// display.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

// Where a test's results go.
class TextSink {
 public:
  virtual ~TextSink() = default;
  // Adds UTF-8 text at the end of the received text.
  virtual void append(std::string_view utf8) = 0;
  virtual void clear() = 0;
  // Brings the end of the received text into view.
  virtual void scroll() = 0;
  // Shows the BMP file at `path` as the photo; false when it cannot be
  // loaded.
  virtual bool photo(const std::string& path) = 0;
  // Shows the start-up picture in place of a photo.
  virtual void placeholder() = 0;
};

// What the contact-slot test of the card-type detection appends, and
// whether it ended the test as a failure.
struct CardTypeLines {
  std::string text;
  bool failed = false;
};

// The lines of the card-type detection for presence flags F0 and F1;
// `check_card` is called only when F1 shows a contact card and gives the
// kind of card in the contact slot (negative: not recognised).
CardTypeLines card_type_lines(uint8_t f0, uint8_t f1, const std::function<int()>& check_card);

// The time-out field of the stripe test: an unsigned decimal, blanks around
// it allowed; anything else, or more than 32 bits hold, gives 0.
uint32_t parse_timeout_field(std::string_view text);

class CardTests {
 public:
  struct Settings {
    int16_t port = 100;  // the first USB reader
    int32_t baud = 115200;
    std::string photo_path;  // where the identity-card photo is written
  };

  CardTests(TextSink& sink, Settings settings) : sink_(sink), settings_(std::move(settings)) {}

  void sectorCard(std::string_view key_field);      // 1005
  void identityCard();                              // 1006
  void bankCard();                                  // 1007
  void socialSecurityEf05();                        // 1008
  void socialSecurityEf06();                        // 1009
  void healthCardEf05();                            // 1011
  void healthCardEf06();                            // 1012
  void clearPane();                                 // 1013
  void sle4442Card();                               // 1014
  void eepromCard();                                // 1015
  void cardType();                                  // 1016
  void fm11rf005Card();                             // 1017
  void scanOnce();                                  // 1019
  void samCard();                                   // 1023
  void scannerSerialNumber();                       // 1025
  void socialSecurityDriver();                      // 1027
  void magneticStripe(std::string_view timeout_field);  // 1028

  int32_t handle() const { return handle_; }

 private:
  bool open();
  void fail(std::string_view message);
  void succeed();

  TextSink& sink_;
  const Settings settings_;
  int32_t handle_ = 0;  // the reader of the last test that opened one
};
