// Decimal text as the settings store it, read as the system reads it.
#include "src/support/decimal_text.h"

#include <cmath>
#include <string>

namespace velmora {
namespace {

bool IsDigit(WCHAR c) { return c >= '0' && c <= '9'; }

}  // namespace

double ReadDecimalText(WStringView text) {
  text = text.substr(0, std::min(text.size(), kDecimalTextChars));
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;

  // Collect the longest prefix that forms a number, in plain ASCII, for strtod.
  std::string number;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.push_back(static_cast<char>(text[i++]));
  std::size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) number.push_back(static_cast<char>(text[i++])), ++digits;
  if (i < text.size() && text[i] == '.') {
    number.push_back('.');
    ++i;
    while (i < text.size() && IsDigit(text[i])) number.push_back(static_cast<char>(text[i++])), ++digits;
  }
  if (digits == 0) return 0.0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent.push_back(static_cast<char>(text[j++]));
    if (j < text.size() && IsDigit(text[j])) {
      while (j < text.size() && IsDigit(text[j])) exponent.push_back(static_cast<char>(text[j++]));
      number += exponent;
    }
  }
  // The collected text uses '.' as its decimal point; parse it without the C locale's
  // decimal separator getting in the way.
  double whole = 0.0;
  double scale = 1.0;
  bool negative = false;
  bool fraction = false;
  int exponent = 0;
  std::size_t k = 0;
  if (number[k] == '+' || number[k] == '-') negative = number[k++] == '-';
  for (; k < number.size() && number[k] != 'e'; ++k) {
    if (number[k] == '.') {
      fraction = true;
      continue;
    }
    whole = whole * 10 + (number[k] - '0');
    if (fraction) scale *= 10;
  }
  if (k < number.size()) exponent = std::stoi(number.substr(k + 1));
  const double value = whole / scale * std::pow(10.0, exponent);
  return negative ? -value : value;
}

}  // namespace velmora
