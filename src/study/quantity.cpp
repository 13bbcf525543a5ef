#include "study/quantity.hpp"

#include <charconv>
#include <cmath>

#include "format/number_parse.hpp"

namespace diffusim {

namespace {

struct Unit {
  std::string_view suffix;
  double factor;  // multiply by it, or (divide) divide by it: a power of ten
  bool divide;
  int decimalShift = 0;  // divide: log10 of the factor
};

constexpr Unit TIME_UNITS[] = {
    {"", 1, false}, {"s", 1, false}, {"min", 60, false}, {"h", 3600, false}, {"d", 86400, false}};
constexpr Unit LENGTH_UNITS[] = {{"", 1, false},           {"m", 1, false},
                                 {"cm", 100, true, 2},     {"mm", 1000, true, 3},
                                 {"um", 1000000, true, 6}, {"\xC2\xB5m", 1000000, true, 6}};
constexpr Unit COMPOSITION_UNITS[] = {{"", 1, false}, {"%", 100, true, 2}};
constexpr Unit TEMPERATURE_UNITS[] = {{"", 1, false}, {"K", 1, false}};

// Degrees Celsius and Fahrenheit, with or without the degree sign: kelvin
// by their offsets, T = C + 273.15 = (F + 459.67) 5 / 9.
bool applyTemperatureScale(std::string_view suffix, double number, double& value) {
  constexpr std::string_view DEGREE = "\xC2\xB0";
  if (suffix.substr(0, DEGREE.size()) == DEGREE) suffix.remove_prefix(DEGREE.size());
  if (suffix == "C") {
    value = number + 273.15;
  } else if (suffix == "F") {
    value = ((number + 459.67) * 5.0) / 9.0;
  } else {
    return false;
  }
  return std::isfinite(value);
}
constexpr Unit PLAIN_UNITS[] = {{"", 1, false}};

// A difference of degrees Celsius is one of kelvin; of Fahrenheit, 5/9 K.
bool applyDifferenceScale(std::string_view suffix, double number, double& value) {
  constexpr std::string_view DEGREE = "\xC2\xB0";
  if (suffix.substr(0, DEGREE.size()) == DEGREE) suffix.remove_prefix(DEGREE.size());
  if (suffix == "C") {
    value = number;
  } else if (suffix == "F") {
    value = (number * 5.0) / 9.0;
  } else {
    return false;
  }
  return std::isfinite(value);
}

template <std::size_t N>
bool applyUnit(const Unit (&units)[N], std::string_view suffix, std::string_view text,
               double number, double& value) {
  for (const Unit& u : units) {
    if (u.suffix != suffix) continue;
    value = u.divide ? number / u.factor : number * u.factor;
    // A sub-unit is a shift of the decimal point: "0.35%" reads as 0.35e-2,
    // the double nearest 0.0035, as typing 0.0035 gives (dividing the double
    // 0.35 by 100 would not).
    if (u.divide && text.find_first_of("eE") == std::string_view::npos) {
      std::string shifted(text);
      shifted += "e-" + std::to_string(u.decimalShift);
      double exact = 0.0;
      if (parseReal(shifted, exact)) value = exact;
    }
    return std::isfinite(value);
  }
  return false;
}

bool isSuffixByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '%' || u >= 0x80;
}

}  // namespace

bool parseQuantity(std::string_view text, Quantity quantity, double& value) {
  std::size_t split = text.size();
  while (split > 0 && isSuffixByte(text[split - 1])) --split;
  // An exponent belongs to the number: "5e-7" has no suffix, "5e" is not a number.
  const std::string_view number = text.substr(0, split);
  const std::string_view suffix = text.substr(split);
  double parsed = 0.0;
  if (number.empty() || !parseReal(number, parsed)) return false;
  switch (quantity) {
    case Quantity::Time:
      return applyUnit(TIME_UNITS, suffix, number, parsed, value);
    case Quantity::Length:
      return applyUnit(LENGTH_UNITS, suffix, number, parsed, value);
    case Quantity::Composition:
      return applyUnit(COMPOSITION_UNITS, suffix, number, parsed, value);
    case Quantity::Temperature:
      return applyUnit(TEMPERATURE_UNITS, suffix, number, parsed, value) ||
             applyTemperatureScale(suffix, parsed, value);
    case Quantity::TemperatureDifference:
      return applyUnit(TEMPERATURE_UNITS, suffix, number, parsed, value) ||
             applyDifferenceScale(suffix, parsed, value);
    case Quantity::Plain:
      return applyUnit(PLAIN_UNITS, suffix, number, parsed, value);
  }
  return false;
}

std::string describeQuantity(Quantity quantity) {
  switch (quantity) {
    case Quantity::Time:
      return "a time in seconds or with a unit, such as 3600, 90s, 30min, 4h or 2d";
    case Quantity::Length:
      return "a length in metres or with a unit, such as 0.0005, 1e-3m, 2cm, 0.5mm or 500um";
    case Quantity::Composition:
      return "a fraction such as 0.008, or a percentage such as 0.8%";
    case Quantity::Temperature:
      return "a temperature in kelvin or with a unit, such as 1173, 1173K, 900C or 1652F";
    case Quantity::TemperatureDifference:
      return "a temperature difference in kelvin or with a unit, such as 30, 30K, 30C or 54F";
    case Quantity::Plain:
      return "a finite number such as 4.529e-7";
  }
  return "a number";
}

}  // namespace diffusim
