// Command codes of reader family r42 and the reply lengths the commands need.
//
// A request starts with its code (u16 big-endian) and a zero byte; a reply
// with the status word (u16 big-endian) and one spare byte, then its data.
// The codes are grouped by their high byte, which names the part of the
// reader they drive; within a group they stay in code order, one per line.
#pragma once

#include <cstddef>
#include <cstdint>

namespace r42_cmd {

// --- 01: buzzer ---
inline constexpr uint16_t kBeep = 0x0101;  // u16 BE duration in 10 ms units
inline constexpr uint16_t kBuzzerPattern = 0x0102;  // beep ms, pause ms, count (BE16 each)

// --- 02: LEDs ---
inline constexpr uint16_t kLed = 0x0200;            // LED, on/off
inline constexpr uint16_t kLedSecondForm = 0x0201;  // LED
inline constexpr uint16_t kLedDisplay = 0x0202;     // number, mode, value
inline constexpr uint16_t kLedControl = 0x0203;     // mode

// --- 03: contact processor cards and SAM slots ---
inline constexpr uint16_t kContactCardStatus = 0x0300;  // slot
inline constexpr uint16_t kContactPowerUp = 0x0301;     // slot, baud selector, voltage
inline constexpr uint16_t kContactHotReset = 0x0302;    // slot
inline constexpr uint16_t kContactPowerDown = 0x0303;   // slot
inline constexpr uint16_t kContactApdu = 0x0304;        // slot, APDU
inline constexpr uint16_t kContactCardPosition = 0x0305;
inline constexpr uint16_t kCardMakeAndLock = 0x0306;   // flag
inline constexpr uint16_t kContactCardState = 0x0308;  // slot

// --- 04: radio field and contactless sector cards ---
inline constexpr uint16_t kFieldReset = 0x0400;
inline constexpr uint16_t kFollowUpRequest = 0x0401;  // mode byte
inline constexpr uint16_t kAuthenticate = 0x0404;     // key byte, block, key
inline constexpr uint16_t kReadBlock = 0x0405;        // block
inline constexpr uint16_t kWriteBlock = 0x0406;       // block, 16 bytes
inline constexpr uint16_t kInitValue = 0x0407;        // block, value BE32
inline constexpr uint16_t kReadValue = 0x0408;        // block
inline constexpr uint16_t kIncrement = 0x0409;        // block, value BE32
inline constexpr uint16_t kDecrement = 0x040A;        // block, value BE32
inline constexpr uint16_t kTransfer = 0x040B;         // source block, destination block
inline constexpr uint16_t kProcessorHalt = 0x040C;    // u16 BE 100
inline constexpr uint16_t kFieldOff = 0x040D;
inline constexpr uint16_t kIdReadRecord = 0x0420;     // identity card: header, text, photo
inline constexpr uint16_t kIdFindCard = 0x0421;
inline constexpr uint16_t kIdReadFinger = 0x0422;     // 0B
inline constexpr uint16_t kIdModuleTunnel = 0x0424;   // one security-module frame
inline constexpr uint16_t kIdCardUid = 0x0425;
inline constexpr uint16_t kIdFindCardFast = 0x0426;
inline constexpr uint16_t kReadRfConfig = 0x0427;      // kind, register
inline constexpr uint16_t kWriteRfConfig = 0x0428;     // kind, register, value
inline constexpr uint16_t kIdReadRaw = 0x0429;         // time BE16 (ms)
inline constexpr uint16_t kMultiAntenna = 0x042B;      // antenna mask BE32, flag
inline constexpr uint16_t kAntennaCardStatus = 0x042C;
inline constexpr uint16_t kIdReadParts = 0x042D;       // mode, type
inline constexpr uint16_t kLegacyActivation = 0x0410;
inline constexpr uint16_t kBlockApdu = 0x0411;  // length BE16, APDU
inline constexpr uint16_t kReadRfRegister = 0x0431;   // register
inline constexpr uint16_t kWriteRfRegister = 0x0432;  // register, value
inline constexpr uint16_t kCardRequest = 0x0433;    // mode byte
inline constexpr uint16_t kAnticollision = 0x0434;  // cascade level
inline constexpr uint16_t kSelect = 0x0435;         // cascade level, 04, UID
inline constexpr uint16_t kRawFrame = 0x0436;       // 0A 01, length BE16, frame
inline constexpr uint16_t kHalt = 0x0437;
inline constexpr uint16_t kReadAts = 0x043B;
inline constexpr uint16_t kRfCardType = 0x0442;
inline constexpr uint16_t kActivation = 0x0443;
inline constexpr uint16_t kTypeAbCardStatus = 0x0446;
inline constexpr uint16_t kRfWave = 0x0447;             // mode
inline constexpr uint16_t kReadChipRegisters = 0x0448;
inline constexpr uint16_t kSetChipRegister = 0x0449;    // register, value
inline constexpr uint16_t kCardPresence = 0x044A;
inline constexpr uint16_t kMultiCardStatus = 0x044B;
inline constexpr uint16_t kRequestMultiCard = 0x044C;
inline constexpr uint16_t kActivateCard = 0x044D;      // UID length, UID
inline constexpr uint16_t kMultiRequest = 0x044E;
inline constexpr uint16_t kNfcInit = 0x0450;
inline constexpr uint16_t kNfcActivate = 0x0451;
inline constexpr uint16_t kNfcDeactivate = 0x0452;
inline constexpr uint16_t kNfcPush = 0x0453;           // data for the peer
inline constexpr uint16_t kNfcService = 0x0454;        // flag
inline constexpr uint16_t kRfCrcMode = 0x0455;         // send CRC, receive CRC
inline constexpr uint16_t kNfcReceive = 0x0456;
inline constexpr uint16_t kNfcCardEmulation = 0x0460;  // mode

// --- 05: reader memories and identity ---
inline constexpr uint16_t kReadEeprom = 0x0500;        // chunk offset BE32, length BE32
inline constexpr uint16_t kWriteEeprom = 0x0501;       // chunk offset, length, data
inline constexpr uint16_t kReadInfoArea = 0x0502;      // as kReadEeprom
inline constexpr uint16_t kWriteInfoArea = 0x0503;     // as kWriteEeprom
inline constexpr uint16_t kEraseFlashSector = 0x0507;  // sector BE16
inline constexpr uint16_t kReadFlash = 0x0508;         // as kReadEeprom
inline constexpr uint16_t kWriteFlash = 0x0509;        // as kWriteEeprom
inline constexpr uint16_t kReadOutEeprom = 0x050A;     // as kReadEeprom
inline constexpr uint16_t kWriteOutEeprom = 0x050B;    // as kWriteEeprom
inline constexpr uint16_t kRfMarch = 0x050E;
inline constexpr uint16_t kReadSd = 0x0510;            // as kReadEeprom
inline constexpr uint16_t kWriteSd = 0x0511;           // as kWriteEeprom
inline constexpr uint16_t kEraseMultiFlash = 0x0516;   // type, sector BE32
inline constexpr uint16_t kReadMultiFlash = 0x0517;    // type, offset 2 x BE32, 0 BE32, length BE32
inline constexpr uint16_t kWriteMultiFlash = 0x0518;   // as kReadMultiFlash, data
inline constexpr uint16_t kMultiFlashSize = 0x0519;    // type
inline constexpr uint16_t kReadCustomSerial = 0x051A;  // number
inline constexpr uint16_t kWriteCustomSerial = 0x051B;  // number, text

// --- 06: PIN entry on the reader ---
inline constexpr uint16_t kKeyValueEntry = 0x0600;  // seconds
inline constexpr uint16_t kReaderPinEntry = 0x0601;  // seconds
inline constexpr uint16_t kPinEntry = 0x0602;        // seconds

// --- 07: magnetic stripe ---
inline constexpr uint16_t kReadStripe = 0x0700;   // seconds
inline constexpr uint16_t kWriteStripe = 0x0701;  // seconds, three [length][track]
inline constexpr uint16_t kStartStripe = 0x0701;  // no parameters: the reader waits for a swipe
inline constexpr uint16_t kStopStripe = 0x0702;
inline constexpr uint16_t kPollStripe = 0x0703;
inline constexpr uint16_t kSetStripe = 0x0710;     // mode, track 1, track 2, track 3
inline constexpr uint16_t kSetMagFormat = 0x0712;  // format
inline constexpr uint16_t kGetMagFormat = 0x0713;
inline constexpr uint16_t kGetMagSettings = 0x0714;
inline constexpr uint16_t kSelfServiceMagConfig = 0x0715;  // mode
inline constexpr uint16_t kRfFormat = 0x0720;  // mode, block, offset, length

// --- 08: display ---
inline constexpr uint16_t kLcdClear = 0x0800;       // line
inline constexpr uint16_t kLcdText = 0x0801;        // line, column, mode, characters
inline constexpr uint16_t kBacklight = 0x0802;  // on/off
inline constexpr uint16_t kShow2dCode = 0x0803;     // x, y, length BE16, text
inline constexpr uint16_t kMainScreen = 0x0806;
inline constexpr uint16_t kScreenImage = 0x0807;    // x, y, w, h (BE16), seconds BE32, FFFFFFFF, image
inline constexpr uint16_t kScreenClear = 0x0808;    // x, y, w, h, seconds BE32
inline constexpr uint16_t kScreenLoadBg = 0x0809;   // number, FFFFFFFF, image
inline constexpr uint16_t kScreenShowBg = 0x080A;   // number, x, y, w, h
inline constexpr uint16_t kScreenConfig = 0x080B;   // 01 tag (get) or 00 tag length value (set)
inline constexpr uint16_t kScreenText = 0x080C;     // font, fg, bg, x, y, seconds, flags, text
inline constexpr uint16_t kScreenFill = 0x080D;     // colour, x, y, w, h
inline constexpr uint16_t kLcdCharsetText = 0x0810;  // line, column, mode, charset, text

// --- 09: self-service card device ---
inline constexpr uint16_t kCardDevicePosition = 0x0900;
inline constexpr uint16_t kCardDeviceInject = 0x0901;  // seconds, mode
inline constexpr uint16_t kCardDeviceEject = 0x0902;   // seconds, mode
inline constexpr uint16_t kCardDeviceMove = 0x0903;    // seconds, mode
inline constexpr uint16_t kCardDeviceSensors = 0x0904;
inline constexpr uint16_t kCardDeviceConfig = 0x0905;       // mode
inline constexpr uint16_t kCardDeviceFrontConfig = 0x0906;  // mode
inline constexpr uint16_t kCardDeviceBackConfig = 0x0907;   // mode
inline constexpr uint16_t kCardDevicePlaceConfig = 0x0908;  // mode
inline constexpr uint16_t kCardDeviceCardType = 0x0909;
inline constexpr uint16_t kCardDeviceReset = 0x090A;
inline constexpr uint16_t kCardDeviceShake = 0x090B;        // mode
inline constexpr uint16_t kCardDeviceSetFront = 0x090C;     // mode
inline constexpr uint16_t kCardDeviceGetFront = 0x090D;
inline constexpr uint16_t kCardDeviceRecover = 0x090E;      // type

// --- 0F: the reader itself ---
inline constexpr uint16_t kUpdate = 0x0F00;
inline constexpr uint16_t kCommand0F01 = 0x0F01;
inline constexpr uint16_t kGetVersion = 0x0F10;
inline constexpr uint16_t kQuery0F13 = 0x0F13;
inline constexpr uint16_t kClearDeviceConfig = 0x0F18;  // 68 parameter bytes
inline constexpr uint16_t kResetDevice = 0x0F20;
inline constexpr uint16_t kSetBaud = 0x0F24;  // speed code
inline constexpr uint16_t kSetUsbMode = 0x0F25;  // mode
inline constexpr uint16_t kSetCpuCard616C = 0x0F26;  // option
inline constexpr uint16_t kGetCpuCard616C = 0x0F27;
inline constexpr uint16_t kGetDeviceBaud = 0x0F28;
inline constexpr uint16_t kGetUsbMode = 0x0F29;
inline constexpr uint16_t kSetCpuCardPps = 0x0F31;  // option
inline constexpr uint16_t kGetCpuCardPps = 0x0F32;
inline constexpr uint16_t kChipId = 0x0F40;

// --- 10: SLE4442 memory cards ---
inline constexpr uint16_t kPowerDown4442 = 0x1001;
inline constexpr uint16_t kRead4442 = 0x1002;             // chunk offset BE32, length BE32
inline constexpr uint16_t kWrite4442 = 0x1003;            // chunk offset, length, data
inline constexpr uint16_t kReadProtection4442 = 0x1004;   // offset, length
inline constexpr uint16_t kWriteProtection4442 = 0x1005;  // offset, length, bytes
inline constexpr uint16_t kReadPin4442 = 0x1006;
inline constexpr uint16_t kChangePin4442 = 0x1007;  // new PSC, 3 bytes
inline constexpr uint16_t kVerifyPin4442 = 0x1008;  // PSC, 3 bytes

// --- 11: SLE4428 memory cards ---
inline constexpr uint16_t kPowerDown4428 = 0x1101;
inline constexpr uint16_t kRead4428 = 0x1102;   // offset BE32, length BE32, 0 data / 1 protection
inline constexpr uint16_t kWrite4428 = 0x1103;  // as kRead4428, data
inline constexpr uint16_t kReadPin4428 = 0x1104;
inline constexpr uint16_t kChangePin4428 = 0x1105;  // new PSC, 2 bytes
inline constexpr uint16_t kVerifyPin4428 = 0x1106;  // PSC, 2 bytes

// --- 12: 24Cxx EEPROM cards ---
inline constexpr uint16_t kRead24c = 0x1210;     // chunk offset BE32, length BE32
inline constexpr uint16_t kWrite24c = 0x1211;    // chunk offset, length, data
inline constexpr uint16_t kRead24c64 = 0x1212;   // as kRead24c
inline constexpr uint16_t kWrite24c64 = 0x1213;  // as kWrite24c

// --- 13: AT88SC102 memory cards ---
inline constexpr uint16_t kCheck102 = 0x1300;
inline constexpr uint16_t kPowerDown102 = 0x1301;
inline constexpr uint16_t kRead102 = 0x1302;           // offset, length
inline constexpr uint16_t kWrite102 = 0x1303;          // offset, length, data
inline constexpr uint16_t kCheckPassword102 = 0x1304;  // address, length, password
inline constexpr uint16_t kBlowFuse102 = 0x1305;

// --- 14: AT88SC1604 memory cards ---
inline constexpr uint16_t kCheck1604 = 0x1400;
inline constexpr uint16_t kPowerDown1604 = 0x1401;
inline constexpr uint16_t kRead1604 = 0x1402;           // chunk offset BE32, length BE32
inline constexpr uint16_t kWrite1604 = 0x1403;          // chunk offset, length, data
inline constexpr uint16_t kCheckPassword1604 = 0x1404;  // address BE32, 2 BE32, password
inline constexpr uint16_t kBlowFuse1604 = 0x1405;

// --- 16: clock ---
inline constexpr uint16_t kSetClock = 0x1600;  // year BE16, month, day, hour, minute, second
inline constexpr uint16_t kGetClock = 0x1601;

// --- 17: voice ---
inline constexpr uint16_t kPlayVoice = 0x1700;       // prompt
inline constexpr uint16_t kLoadVoice = 0x1701;       // flag BE16, length BE16, data
inline constexpr uint16_t kVoiceAndDisplay = 0x1702;  // mode, kind
inline constexpr uint16_t kTtsPlay = 0x1710;         // kind, content
inline constexpr uint16_t kTtsConfig = 0x1711;       // kind, value

// --- 18: AT88SC1608 memory cards ---
inline constexpr uint16_t kCheck1608 = 0x1800;
inline constexpr uint16_t kPowerDown1608 = 0x1801;
inline constexpr uint16_t kRead1608 = 0x1802;           // zone kind, address, count
inline constexpr uint16_t kWrite1608 = 0x1803;          // zone kind, address, count, data
inline constexpr uint16_t kSelectZone1608 = 0x1804;     // zone
inline constexpr uint16_t kCheckPassword1608 = 0x1805;  // zone, 0 write / 1 read, password
inline constexpr uint16_t kInitAuth1608 = 0x1806;       // 8 bytes
inline constexpr uint16_t kCheckAuth1608 = 0x1807;      // 8 bytes
inline constexpr uint16_t kWriteFuse1608 = 0x1808;
inline constexpr uint16_t kReadFuse1608 = 0x1809;

// --- 19: AT88SC153 memory cards and short messages ---
inline constexpr uint16_t kCheck153 = 0x1900;
inline constexpr uint16_t kPowerDown153 = 0x1901;
inline constexpr uint16_t kRead153 = 0x1902;           // zone kind, address, count
inline constexpr uint16_t kWrite153 = 0x1903;          // zone kind, address, count, data
inline constexpr uint16_t kSelectZone153 = 0x1904;     // zone
inline constexpr uint16_t kCheckPassword153 = 0x1905;  // zone, 0 write / 1 read, password
inline constexpr uint16_t kInitAuth153 = 0x1906;       // 8 bytes
inline constexpr uint16_t kCheckAuth153 = 0x1907;      // 8 bytes
inline constexpr uint16_t kWriteFuse153 = 0x1908;
inline constexpr uint16_t kReadFuse153 = 0x1909;
inline constexpr uint16_t kSendSms = 0x190A;  // length BE16, tagged phone and text

// --- 1A: file download ---
inline constexpr uint16_t kDownloadFile = 0x1A00;  // type, size, flag (BE32 each), data

// --- 20: modules behind the reader ---
inline constexpr uint16_t kBtMode = 0x2000;             // mode
inline constexpr uint16_t kBtBaudrate = 0x2001;         // 00 (read) or flag, value
inline constexpr uint16_t kBtPassword = 0x2002;         // 00 (read) or flag, text
inline constexpr uint16_t kBtAddress = 0x2003;          // 00 (read) or flag, length, bytes
inline constexpr uint16_t kBtName = 0x2004;             // 00 (read) or flag, text
inline constexpr uint16_t kBtUserArea = 0x2005;         // flag, offset, length (, bytes)
inline constexpr uint16_t kBtReset = 0x2006;
inline constexpr uint16_t kBtLoopTest = 0x2007;         // length, bytes
inline constexpr uint16_t kBtReaderBaudrate = 0x2008;   // as kBtBaudrate
inline constexpr uint16_t kBtCommand = 0x2009;          // length BE16, bytes
inline constexpr uint16_t kModuleMacAddress = 0x200A;   // 00 type (read), 01 type length text
inline constexpr uint16_t kBtSignal = 0x200B;
inline constexpr uint16_t kBtReceived = 0x200C;
inline constexpr uint16_t kBtTransmit = 0x200D;         // bytes
inline constexpr uint16_t kWake = 0x200E;  // 01
inline constexpr uint16_t kBattery = 0x200F;

// --- 25: fingerprint module ---
inline constexpr uint16_t kFingerprintModule = 0x2501;  // seconds, length BE16, request

// --- 26: wireless network module ---
inline constexpr uint16_t kWirelessPower = 0x2600;     // value
inline constexpr uint16_t kTcpOpen = 0x2601;           // type, address, port (each counted)
inline constexpr uint16_t kTcpClose = 0x2602;
inline constexpr uint16_t kWirelessStatus = 0x2603;
inline constexpr uint16_t kWirelessSend = 0x2604;      // type, data
inline constexpr uint16_t kWirelessReceive = 0x2605;   // type, mode, tenths of a second
inline constexpr uint16_t kWifiConfig = 0x2610;        // type, SSID, password (each counted)
inline constexpr uint16_t kTcpInfo = 0x261F;           // type

// --- 28: GPS receiver ---
inline constexpr uint16_t kGpsInfo = 0x2800;  // time BE16 (ms)

// --- 21: 2.4 GHz card module ---
inline constexpr uint16_t kRadio24Baud = 0x2100;     // 01 code (set) or 00 (get)
inline constexpr uint16_t kRadio24Command = 0x2101;  // seconds, length BE16, module frame

// --- 22: PIN pad on the reader's second line ---
inline constexpr uint16_t kPinpadBaud = 0x2200;           // 01 speed (set) or 00 (get)
inline constexpr uint16_t kPinpadRelay = 0x2201;          // seconds, count, pad frame
inline constexpr uint16_t kPinpadCommunication = 0x2202;  // tenths BE16, count BE16, data

// --- 24: receipt printer ---
inline constexpr uint16_t kPrinterSettings = 0x2400;  // 01 six settings (set) or 00 (get)
inline constexpr uint16_t kPrintText = 0x2401;        // characters
inline constexpr uint16_t kPrintBarcode = 0x2402;     // height, show text, font, data
inline constexpr uint16_t kPrintPicture = 0x2403;     // width, height, alignment, margins, data
inline constexpr uint16_t kPrinterStatus = 0x2404;
inline constexpr uint16_t kPrintFeed = 0x2405;  // row pitch

// --- 27: 2D barcode scanner ---
inline constexpr uint16_t kBarcodeConfig = 0x2700;   // content
inline constexpr uint16_t kBarcodeScan = 0x2701;     // milliseconds BE16
inline constexpr uint16_t kBarcodeSession = 0x2702;  // 00 mode (start), 01 (fetch), 02 (stop)

// --- 40: keypad modules behind the reader ---
inline constexpr uint16_t kKeypadModule = 0x4000;  // inner code BE16, body

// --- A0: EMV kernel and reader-side ciphers ---
inline constexpr uint16_t kSetEmvParameters = 0xA009;  // count BE16, data
inline constexpr uint16_t kGet55Data = 0xA201;         // data
inline constexpr uint16_t kIssuerScript = 0xA202;      // data
inline constexpr uint16_t kMacCheck = 0xA306;          // key, mode, count BE32, data
inline constexpr uint16_t kCalculateBlock = 0xA307;    // key, mode, count BE16, data

// --- AF: diagnostics ---
inline constexpr uint16_t kSelectAntenna = 0xAF00;  // antenna
inline constexpr uint16_t kReadNicMac = 0xAF01;
inline constexpr uint16_t kWriteNicMac = 0xAF02;     // data
inline constexpr uint16_t kTestNic = 0xAF03;         // data
inline constexpr uint16_t kTestUsb = 0xAF04;         // data
inline constexpr uint16_t kTestSerialLine = 0xAF05;  // line, count, data
inline constexpr uint16_t kConfigTempIp = 0xAF06;    // data

// --- B0: payment terminal and wallet ---
inline constexpr uint16_t kFlashCard = 0xB000;
inline constexpr uint16_t kWalletBalance = 0xB001;
inline constexpr uint16_t kConsumeWallet = 0xB002;   // amount BE32, 3-byte secret
inline constexpr uint16_t kTransferWallet = 0xB003;  // amount BE32
inline constexpr uint16_t kAuthenticationKey = 0xB004;  // 8 bytes, 8 bytes
inline constexpr uint16_t kTerminalNumber = 0xB005;     // 01 set / 00 get, length, data
inline constexpr uint16_t kMerchantCode = 0xB006;       // as kTerminalNumber
inline constexpr uint16_t kTransactionType = 0xB007;    // 01 type (set) or 00 (get)
inline constexpr uint16_t kTradeSecretKey = 0xB008;     // 01 key (set) or 00 (get)
inline constexpr uint16_t kHardwareSerial = 0xB009;     // as kTerminalNumber
inline constexpr uint16_t kResetFactory = 0xB010;
inline constexpr uint16_t kSignParameters = 0xB011;  // length
inline constexpr uint16_t kGetRecord = 0xB012;       // table, record

// --- C0: keypad keys and single-block ciphers ---
inline constexpr uint16_t kSetKbKeyId = 0xC001;     // key id
inline constexpr uint16_t kInstallKbKey = 0xC002;   // flag, mode, length, key
inline constexpr uint16_t kGetEnPass = 0xC003;      // seconds, length, account number
inline constexpr uint16_t kCipherBlock = 0xC004;    // key type, mode, 8 or 16 bytes
inline constexpr uint16_t kPinPadStart = 0xC010;    // seconds, 00 length card number | 01
inline constexpr uint16_t kPinPadFetch = 0xC011;
inline constexpr uint16_t kPinPadCancel = 0xC012;

// --- D0: encrypting keypad tunnel ---
inline constexpr uint16_t kKeypadTunnel = 0xD001;  // inner command
inline constexpr uint16_t kCpyKey = 0xD010;              // 00 (read) or 10 and 16 key bytes
inline constexpr uint16_t kCpyContactApdu = 0xD011;      // slot, APDU
inline constexpr uint16_t kCpyContactlessApdu = 0xD012;  // length BE16, APDU

// The most an LCD text of kLcdCharsetText takes, its terminator included:
// what a request of 2048 bytes holds after the code, its zero byte and the
// four parameters. A text without a terminator within it is refused.
inline constexpr size_t kLcdCharsetTextRoom = 2041;

// Status words that some commands answer with in place of success.
// PIN entry (kReaderPinEntry, kPinEntry, kGetEnPass): the entry was
// refused, or the cardholder cancelled it.
inline constexpr uint16_t kStatusPinRefused = 0x0601;
inline constexpr uint16_t kStatusPinCancelled = 0x0602;
// Key-value entry (kKeyValueEntry): nothing was entered. The same word as
// kStatusPinRefused, which it means only after a PIN entry.
inline constexpr uint16_t kStatusNoKeyValue = 0x0601;

// Shortest reply each command accepts, in bytes from the status word on.
// Shorter replies with status 0 fail with -1; a non-zero status decides
// first, so even a 2-byte reply can carry it.
inline constexpr size_t kStatusOnly = 2;
// Status word and spare byte; the data of a reply starts here.
inline constexpr size_t kReplyHead = 3;
inline constexpr size_t kDataReply = kReplyHead;                // data of any length, even none
// A module behind the reader puts its own status word (BE16) before its data.
inline constexpr size_t kModuleReplyHead = kReplyHead + 2;
inline constexpr size_t kVersionReply = kReplyHead;             // the text may be empty
inline constexpr size_t kClockReply = kReplyHead + 7;           // year BE16, five bytes
inline constexpr size_t kMultiFlashSizeReply = kReplyHead + 8;  // two BE32 halves
inline constexpr size_t kCardAnswerReply = kReplyHead + 2;      // ATQA, low byte first
inline constexpr size_t kAnticollisionReply = kReplyHead + 5;   // one byte, UID
inline constexpr size_t kValueReply = kReplyHead + 4;  // value BE32
inline constexpr size_t kIdLengthReply = kReplyHead + 2;  // data length BE16, then the data
inline constexpr size_t kIdUidReply = kReplyHead + 8;
inline constexpr size_t kAnswerToResetReply = kReplyHead + 1;  // one byte, the ATR
inline constexpr size_t kCardPresenceReply = kReplyHead + 2;

}  // namespace r42_cmd
