/* Example Quenbell analyzer plug-in for PayNimbus payment notifications.
 *
 * PayNimbus sends one plain-text mail per payment, usually quoted-printable:
 *
 *   From: PayNimbus <notify@paynimbus.example>
 *   Subject: PayNimbus payment received - Order PN-100234
 *   Content-Type: text/plain; charset=UTF-8
 *   Content-Transfer-Encoding: quoted-printable
 *
 *   Order ID: PN-100234
 *   Date: 2026-12-08 21:05:09
 *   Buyer name: Ann Lee
 *   Amount: 23.68
 *   ...
 *
 * A single-part mail reaches ParseOrder with its body still encoded, so the
 * plug-in decodes quoted-printable itself. It fills only what the mail says:
 * the host splits the buyer name into first and last name, and takes the
 * mail's Date header when the body has no date.
 *
 * Outside this source tree it builds with just the SDK header, e.g.
 *   cc -std=c11 -O2 -shared -fPIC -fvisibility=hidden -I<quenbell>/include \
 *      -o OMAnalyze/paynimbus.so paynimbus.c */
#include <ctype.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quenbell/analyzer.h"

#define RESELLER "PayNimbus"

/* Copies at most size - 1 bytes and a zero, as the host expects. */
static void Put(char* field, size_t size, const char* value, size_t len) {
  if (len > size - 1) len = size - 1;
  memcpy(field, value, len);
  field[len] = 0;
}

static int StartsNoCase(const char* s, size_t len, const char* prefix) {
  size_t n = strlen(prefix);
  if (len < n) return 0;
  for (size_t i = 0; i < n; ++i)
    if (tolower((unsigned char)s[i]) != tolower((unsigned char)prefix[i])) return 0;
  return 1;
}

/* The header line named name (e.g. "From:"), or NULL; *len gets its length. */
static const char* HeaderLine(const char* header, const char* name, size_t* len) {
  for (const char* line = header; *line;) {
    const char* end = strstr(line, "\r\n");
    size_t n = end ? (size_t)(end - line) : strlen(line);
    if (StartsNoCase(line, n, name)) {
      *len = n;
      return line;
    }
    if (!end) break;
    line = end + 2;
  }
  return NULL;
}

static int Contains(const char* s, size_t len, const char* needle) {
  size_t n = strlen(needle);
  for (size_t i = 0; i + n <= len; ++i)
    if (memcmp(s + i, needle, n) == 0) return 1;
  return 0;
}

int32_t QNB_CALL GetResellerName(char* name) {
  strcpy(name, RESELLER);
  return AS_NORMAL;
}

int32_t QNB_CALL IsOrder(const char* header) {
  size_t fromLen = 0, subjectLen = 0;
  const char* from = HeaderLine(header, "From:", &fromLen);
  const char* subject = HeaderLine(header, "Subject:", &subjectLen);
  if (!from || !subject || !Contains(from, fromLen, "<notify@paynimbus.example>")) return AS_ERROR;
  return Contains(subject, subjectLen, "PayNimbus payment received") ? AS_NORMAL : AS_ERROR;
}

static int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* Quoted-printable to bytes: "=XX" is a byte, "=" at a line end joins lines. */
static char* DecodeQuotedPrintable(const char* in) {
  char* out = malloc(strlen(in) + 1);
  char* o = out;
  if (!out) return NULL;
  for (const char* p = in; *p; ++p) {
    if (*p != '=') {
      *o++ = *p;
    } else if (p[1] == '\r' && p[2] == '\n') {
      p += 2;
    } else if (p[1] && p[2] && HexValue(p[1]) >= 0 && HexValue(p[2]) >= 0) {
      *o++ = (char)(HexValue(p[1]) * 16 + HexValue(p[2]));
      p += 2;
    } else {
      *o++ = '=';
    }
  }
  *o = 0;
  return out;
}

/* "23.68" or "-0.5" as currency (amount x 10000); 0 when it is not a number. */
static int64_t Money(const char* s, size_t len) {
  int64_t units = 0, scale = 10000;
  int negative = 0, dot = 0, digits = 0;
  size_t i = 0;
  if (i < len && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  for (; i < len; ++i) {
    if (s[i] == '.' && !dot) {
      dot = 1;
    } else if (isdigit((unsigned char)s[i])) {
      if (!dot) {
        if (units > INT64_MAX / 100 - 10) return 0;
        units = units * 10 + (s[i] - '0');
      } else if (scale > 1) {
        scale /= 10;
        units = units * 10 + (s[i] - '0');
      }
      ++digits;
    } else {
      return 0;
    }
  }
  if (!digits) return 0;
  units *= scale;
  return negative ? -units : units;
}

/* "YYYY-MM-DD HH:MM:SS" as days since 1899-12-30; 0 when unreadable. */
static double DateTime(const char* s, size_t len) {
  char buf[32];
  int y, mo, d, h = 0, mi = 0, sec = 0;
  if (len >= sizeof buf) return 0;
  memcpy(buf, s, len);
  buf[len] = 0;
  if (sscanf(buf, "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &mi, &sec) < 3) return 0;
  static const int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 1900 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1]) return 0;
  if (mo == 2 && d == 29 && !(y % 4 == 0 && (y % 100 != 0 || y % 400 == 0))) return 0;
  if (h < 0 || h > 23 || mi < 0 || mi > 59 || sec < 0 || sec > 59) return 0;
  /* Day count of the civil date (March-based year), shifted to 1899-12-30. */
  int ya = mo <= 2 ? y - 1 : y;
  long days = 365L * ya + ya / 4 - ya / 100 + ya / 400 + (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  days -= 693899; /* the same count for 1899-12-30 */
  return (double)days + (h * 3600 + mi * 60 + sec) / 86400.0;
}

/* Which record field each "Key: value" line of the mail fills. */
#define TEXT_FIELD(key, field) {key, offsetof(TOriginData, field), sizeof(((TOriginData*)0)->field)}
static const struct {
  const char* key;
  size_t offset, size;
} kTextFields[] = {
    TEXT_FIELD("Order ID", OrderID),          TEXT_FIELD("Buyer name", Name),
    TEXT_FIELD("Company", Company),           TEXT_FIELD("Email", Email),
    TEXT_FIELD("Address", Address),           TEXT_FIELD("Address 2", Address2),
    TEXT_FIELD("City", City),                 TEXT_FIELD("State", State),
    TEXT_FIELD("Postal code", PostCode),      TEXT_FIELD("Country", Country),
    TEXT_FIELD("Phone", Phone),               TEXT_FIELD("Product", ProductName),
    TEXT_FIELD("Version", Version),           TEXT_FIELD("Quantity", Quantity),
    TEXT_FIELD("Currency", Currency),         TEXT_FIELD("Licensed to", RegName),
    TEXT_FIELD("Registration code", RegCode), TEXT_FIELD("Delivery", Delivery_Method),
    TEXT_FIELD("IP address", IPAddress),      TEXT_FIELD("Receipt", URL_for_Receipt),
    TEXT_FIELD("Affiliate", Affiliate_ID),    TEXT_FIELD("Note", Comments),
};

static void TakeLine(const char* key, size_t keyLen, const char* value, size_t len, TOriginData* od) {
  for (size_t i = 0; i < sizeof kTextFields / sizeof kTextFields[0]; ++i) {
    if (strlen(kTextFields[i].key) == keyLen && memcmp(kTextFields[i].key, key, keyLen) == 0) {
      Put((char*)od + kTextFields[i].offset, kTextFields[i].size, value, len);
      return;
    }
  }
#define IS_KEY(k) (keyLen == sizeof(k) - 1 && memcmp(key, k, keyLen) == 0)
  if (IS_KEY("Amount")) od->Amount = Money(value, len);
  else if (IS_KEY("VAT")) od->VAT = Money(value, len);
  else if (IS_KEY("Unit price")) od->Unit_Price = Money(value, len);
  else if (IS_KEY("Commission")) od->Commission = Money(value, len);
  else if (IS_KEY("Date")) od->PurchaseDate = DateTime(value, len);
#undef IS_KEY
}

int32_t QNB_CALL ParseOrder(const char* body, const char* header, TOriginData* od) {
  size_t cteLen = 0;
  const char* cte = HeaderLine(header, "Content-Transfer-Encoding:", &cteLen);
  int qp = cte && Contains(cte, cteLen, "quoted-printable");
  char* text = qp ? DecodeQuotedPrintable(body) : NULL;
  if (qp && !text) return AS_ERROR;

  for (const char* line = qp ? text : body; *line;) {
    const char* end = strstr(line, "\r\n");
    size_t len = end ? (size_t)(end - line) : strlen(line);
    const char* colon = memchr(line, ':', len);
    if (colon && colon > line) {
      const char* value = colon + 1;
      size_t valueLen = len - (size_t)(value - line);
      while (valueLen && (*value == ' ' || *value == '\t')) ++value, --valueLen;
      while (valueLen && (value[valueLen - 1] == ' ' || value[valueLen - 1] == '\t')) --valueLen;
      TakeLine(line, (size_t)(colon - line), value, valueLen, od);
    }
    if (!end) break;
    line = end + 2;
  }
  free(text);

  if (!od->OrderID[0]) return AS_ERROR; /* not a notification we understand */
  Put(od->OrderFrom, sizeof od->OrderFrom, RESELLER, strlen(RESELLER));
  return AS_NORMAL;
}
