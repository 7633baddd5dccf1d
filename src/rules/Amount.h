#pragma once
// Amounts, currencies and dates as mails write them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qnb::rules {

// An amount in any of the usual forms ("$1,234.56", "1.234,56 €", "1 234,56 EUR",
// "¥1,200", "$14.95 USD", "-12.50") as the value times 10000. A separator
// followed by exactly three digits groups thousands; one or two digits after
// the last separator make the decimals. False when the text holds no number.
bool ParseAmount(std::string_view text, int64_t& value);

// The ISO 4217 code named by a text: a code ("EUR"), a symbol ("€", "US$",
// "£"), or a currency word ("euro"). A lone "$" or "kr" gives fallback when
// that is a currency using the sign, else "USD" or "SEK". Empty when the text
// names none.
std::string CurrencyCode(std::string_view text, std::string_view fallback = {});

// True for a known ISO 4217 code (upper case).
bool IsCurrencyCode(std::string_view code);

// A date and time read with a strftime-like format: %Y %y %m %d %e %H %I %M %S
// %p, %B and %b (month names in English, German, French, Spanish, Italian,
// Dutch and Portuguese), %A and %a (a weekday name, skipped), %Z (a zone name
// or offset, skipped), %%; a space matches any run of white space, other
// characters match themselves regardless of case. Text after the format is
// ignored. The result counts days since 1899-12-30; false when the text does
// not fit or the date is impossible.
bool ParseDate(std::string_view text, std::string_view format, double& days);

}  // namespace qnb::rules
