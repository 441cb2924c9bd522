#include "family_r42/idcard_codes.h"

#include <algorithm>
#include <cstring>
#include <iterator>

// GBK bytes; the UTF-8 form of each text stands in its comment.
const char kIdNoName[] = "\xCE\xDE";  // 无

namespace {

const char kMale[] = "\xC4\xD0";    // 男
const char kFemale[] = "\xC5\xAE";  // 女

// Codes 57 and 97 share one name; 58 and 59 are the recognised groups
// without a nation of their own, 98 the foreign-born citizens.
const IdCodeName kNations[] = {
    {"01", "\xBA\xBA"},                          // 汉
    {"02", "\xC3\xC9\xB9\xC5"},                  // 蒙古
    {"03", "\xBB\xD8"},                          // 回
    {"04", "\xB2\xD8"},                          // 藏
    {"05", "\xCE\xAC\xCE\xE1\xB6\xFB"},          // 维吾尔
    {"06", "\xC3\xE7"},                          // 苗
    {"07", "\xD2\xCD"},                          // 彝
    {"08", "\xD7\xB3"},                          // 壮
    {"09", "\xB2\xBC\xD2\xC0"},                  // 布依
    {"10", "\xB3\xAF\xCF\xCA"},                  // 朝鲜
    {"11", "\xC2\xFA"},                          // 满
    {"12", "\xB6\xB1"},                          // 侗
    {"13", "\xD1\xFE"},                          // 瑶
    {"14", "\xB0\xD7"},                          // 白
    {"15", "\xCD\xC1\xBC\xD2"},                  // 土家
    {"16", "\xB9\xFE\xC4\xE1"},                  // 哈尼
    {"17", "\xB9\xFE\xC8\xF8\xBF\xCB"},          // 哈萨克
    {"18", "\xB4\xF6"},                          // 傣
    {"19", "\xC0\xE8"},                          // 黎
    {"20", "\xC0\xFC\xCB\xDB"},                  // 傈僳
    {"21", "\xD8\xF4"},                          // 佤
    {"22", "\xEE\xB4"},                          // 畲
    {"23", "\xB8\xDF\xC9\xBD"},                  // 高山
    {"24", "\xC0\xAD\xEC\xEF"},                  // 拉祜
    {"25", "\xCB\xAE"},                          // 水
    {"26", "\xB6\xAB\xCF\xE7"},                  // 东乡
    {"27", "\xC4\xC9\xCE\xF7"},                  // 纳西
    {"28", "\xBE\xB0\xC6\xC4"},                  // 景颇
    {"29", "\xBF\xC2\xB6\xFB\xBF\xCB\xD7\xCE"},  // 柯尔克孜
    {"30", "\xCD\xC1"},                          // 土
    {"31", "\xB4\xEF\xCE\xD3\xB6\xFB"},          // 达斡尔
    {"32", "\xD8\xEF\xC0\xD0"},                  // 仫佬
    {"33", "\xC7\xBC"},                          // 羌
    {"34", "\xB2\xBC\xC0\xCA"},                  // 布朗
    {"35", "\xC8\xF6\xC0\xAD"},                  // 撒拉
    {"36", "\xC3\xAB\xC4\xCF"},                  // 毛南
    {"37", "\xD8\xEE\xC0\xD0"},                  // 仡佬
    {"38", "\xCE\xFD\xB2\xAE"},                  // 锡伯
    {"39", "\xB0\xA2\xB2\xFD"},                  // 阿昌
    {"40", "\xC6\xD5\xC3\xD7"},                  // 普米
    {"41", "\xCB\xFE\xBC\xAA\xBF\xCB"},          // 塔吉克
    {"42", "\xC5\xAD"},                          // 怒
    {"43", "\xCE\xDA\xD7\xCE\xB1\xF0\xBF\xCB"},  // 乌孜别克
    {"44", "\xB6\xED\xC2\xDE\xCB\xB9"},          // 俄罗斯
    {"45", "\xB6\xF5\xCE\xC2\xBF\xCB"},          // 鄂温克
    {"46", "\xB5\xC2\xB0\xBA"},                  // 德昂
    {"47", "\xB1\xA3\xB0\xB2"},                  // 保安
    {"48", "\xD4\xA3\xB9\xCC"},                  // 裕固
    {"49", "\xBE\xA9"},                          // 京
    {"50", "\xCB\xFE\xCB\xFE\xB6\xFB"},          // 塔塔尔
    {"51", "\xB6\xC0\xC1\xFA"},                  // 独龙
    {"52", "\xB6\xF5\xC2\xD7\xB4\xBA"},          // 鄂伦春
    {"53", "\xBA\xD5\xD5\xDC"},                  // 赫哲
    {"54", "\xC3\xC5\xB0\xCD"},                  // 门巴
    {"55", "\xE7\xF3\xB0\xCD"},                  // 珞巴
    {"56", "\xBB\xF9\xC5\xB5"},                  // 基诺
    {"57", "\xC6\xE4\xCB\xFB"},                  // 其他
    {"58", "\xB8\xEF\xBC\xD2\xC8\xCB"},          // 革家人
    {"59", "\xB4\xA9\xC7\xE0\xC8\xCB"},          // 穿青人
    {"97", "\xC6\xE4\xCB\xFB"},                  // 其他
    {"98",
     "\xCD\xE2\xB9\xFA\xD1\xAA\xCD\xB3\xD6\xD0\xB9\xFA\xBC\xAE\xC8\xCB\xCA\xBF"},  // 外国血统中国籍人士
};

const IdCodeName kCountries[] = {
#include "family_r42/country_names.inc"
};

// Exact, whole-text lookup in a table sorted by code.
const char* find_name(const IdCodeName* begin, const IdCodeName* end, const char* code) {
  if (code == nullptr) return nullptr;
  const IdCodeName* at = std::lower_bound(
      begin, end, code,
      [](const IdCodeName& row, const char* c) { return std::strcmp(row.code, c) < 0; });
  return at != end && std::strcmp(at->code, code) == 0 ? at->name : nullptr;
}

}  // namespace

const char* id_sex_word(const char* code) {
  return code != nullptr && std::strcmp(code, "1") == 0 ? kMale : kFemale;
}

const char* id_nation_name(const char* code) {
  return find_name(std::begin(kNations), std::end(kNations), code);
}

const char* id_country_name(const char* code) {
  return find_name(std::begin(kCountries), std::end(kCountries), code);
}

IdCodeTable id_nation_table() { return {kNations, std::size(kNations)}; }
IdCodeTable id_country_table() { return {kCountries, std::size(kCountries)}; }
