// Code tables of the identity cards: sex, nation and country codes to the
// Chinese words that stand for them, as GBK text.
#pragma once

#include <cstddef>

// One row of a code table: the code as the card stores it, and its name.
struct IdCodeName {
  const char* code;
  const char* name;
};

// A table's rows in code order (strcmp), each code once.
struct IdCodeTable {
  const IdCodeName* rows;
  size_t count;
};

// The word for "none" ("无"), given for a code that is in no table.
extern const char kIdNoName[];

// "男" for exactly "1", "女" for any other code (an empty one included).
const char* id_sex_word(const char* code);

// The name of a two-digit nation code ("01" to "59", "97", "98"), or null.
const char* id_nation_name(const char* code);
// The short name of an ISO 3166-1 alpha-3 code (upper case), or null.
const char* id_country_name(const char* code);

IdCodeTable id_nation_table();
IdCodeTable id_country_table();
