/* One analyzer plug-in source, built many times with different behaviour for
 * the host tests:
 *   TP_RESELLER        name given by GetResellerName; TP_RESELLER_RESULT its result
 *   TP_TAG             IsOrder claims a mail whose header has the line "X-Claim: TAG"
 *   TP_PARSE_...       what ParseOrder does (default TP_PARSE_ECHO)
 *   TP_HAS_EX          export ParseOrderEx (echoes the whole mail)
 *   TP_NO_RESELLER, TP_NO_ISORDER, TP_NO_PARSEORDER   leave that export out
 *   TP_ISORDER_CRASH   IsOrder crashes on every mail
 *
 * The echo parser reads lines "Field: value" and writes value into the record
 * field of that name, byte for byte, without a terminating zero when the value
 * fills the field. "Echo: header" / "Echo: body" / "Echo: source" put that
 * whole text into Comments. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "quenbell/analyzer.h"

#ifndef TP_RESELLER_RESULT
#define TP_RESELLER_RESULT AS_NORMAL
#endif
#ifndef TP_TAG
#define TP_TAG "none"
#endif

enum { K_TEXT, K_DATE, K_MONEY };
struct Field {
  const char* name;
  size_t offset, size;
  int kind;
};
#define TEXT(f) {#f, offsetof(TOriginData, f), sizeof(((TOriginData*)0)->f), K_TEXT}
#define MONEY(f) {#f, offsetof(TOriginData, f), 8, K_MONEY}
static const struct Field kFields[] = {
    TEXT(OrderFrom), TEXT(OrderID), {"PurchaseDate", offsetof(TOriginData, PurchaseDate), 8, K_DATE},
    TEXT(Company), TEXT(Name), TEXT(LastName), TEXT(FirstName), TEXT(RegName), TEXT(Email), TEXT(Address),
    TEXT(Address2), TEXT(City), TEXT(State), TEXT(PostCode), TEXT(Country), TEXT(Phone), TEXT(Fax),
    TEXT(Quantity), MONEY(Amount), TEXT(Currency), TEXT(ProductName), TEXT(Version), TEXT(RegCode),
    TEXT(Comments), MONEY(VAT), MONEY(Unit_Price), TEXT(Delivery_Method), TEXT(IPAddress),
    TEXT(URL_for_Receipt), TEXT(Affiliate_ID), MONEY(Commission)};
#define FIELD_COUNT (sizeof kFields / sizeof kFields[0])

static void SetText(char* field, size_t size, const char* value, size_t len) {
  memcpy(field, value, len < size ? len : size);
  if (len < size) field[len] = 0;
}

static void SetField(TOriginData* od, const struct Field* f, const char* value, size_t len) {
  char* at = (char*)od + f->offset;
  char buf[64];
  size_t n = len < sizeof buf - 1 ? len : sizeof buf - 1;
  memcpy(buf, value, n);
  buf[n] = 0;
  if (f->kind == K_TEXT) {
    SetText(at, f->size, value, len);
  } else if (f->kind == K_DATE) {
    double d = strtod(buf, NULL);
    memcpy(at, &d, sizeof d);
  } else {
    int64_t v = strtoll(buf, NULL, 10);
    memcpy(at, &v, sizeof v);
  }
}

static void Echo(const char* text, TOriginData* od, const char* header, const char* body, const char* source) {
  const char* line = text;
  while (*line) {
    const char* end = strstr(line, "\r\n");
    size_t len = end ? (size_t)(end - line) : strlen(line);
    const char* colon = memchr(line, ':', len);
    if (colon && (size_t)(colon - line) + 1 < len && colon[1] == ' ') {
      size_t keyLen = (size_t)(colon - line);
      const char* value = colon + 2;
      size_t valueLen = len - keyLen - 2;
      if (keyLen == 4 && memcmp(line, "Echo", 4) == 0) {
        const char* what = NULL;
        if (valueLen == 6 && memcmp(value, "header", 6) == 0) what = header;
        if (valueLen == 4 && memcmp(value, "body", 4) == 0) what = body;
        if (valueLen == 6 && memcmp(value, "source", 6) == 0) what = source;
        if (what) SetText(od->Comments, sizeof od->Comments, what, strlen(what));
      }
      for (size_t i = 0; i < FIELD_COUNT; ++i)
        if (strlen(kFields[i].name) == keyLen && memcmp(kFields[i].name, line, keyLen) == 0)
          SetField(od, &kFields[i], value, valueLen);
    }
    if (!end) break;
    line = end + 2;
  }
}

static int HasLine(const char* text, const char* wanted) {
  size_t n = strlen(wanted);
  for (const char* p = text; (p = strstr(p, wanted)) != NULL; p += n)
    if ((p == text || p[-1] == '\n') && p[n] == '\r' && p[n + 1] == '\n') return 1;
  return 0;
}

#ifndef TP_NO_RESELLER
int32_t QNB_CALL GetResellerName(char* name) {
#ifdef TP_PARSE_FILL
  /* The whole buffer, no terminating zero. */
  memset(name, 'R', 51);
#else
  strcpy(name, TP_RESELLER);
#endif
  return TP_RESELLER_RESULT;
}
#endif

#ifndef TP_NO_ISORDER
int32_t QNB_CALL IsOrder(const char* header) {
#ifdef TP_ISORDER_CRASH
  /* A read, so that threads crashing at once do not look like a data race. */
  const int* volatile nowhere = (const int*)16;
  if (*nowhere == header[0]) return AS_ERROR;
#endif
  return HasLine(header, "X-Claim: " TP_TAG) ? AS_NORMAL : AS_ERROR;
}
#endif

#ifdef TP_PARSE_STACK
static int Recurse(volatile char* previous) {
  volatile char frame[512];
  frame[0] = previous ? previous[0] : 1;
  return Recurse(frame) + frame[1];
}
#endif

#ifdef TP_PARSE_FPE
#if defined(__clang__)
__attribute__((no_sanitize("integer-divide-by-zero")))
#elif defined(__GNUC__)
__attribute__((no_sanitize_undefined))
#endif
static int Divide(int a, int b) { return a / b; }
#endif

#ifndef TP_NO_PARSEORDER
int32_t QNB_CALL ParseOrder(const char* body, const char* header, TOriginData* od) {
  SetText(od->OrderFrom, sizeof od->OrderFrom, TP_RESELLER, strlen(TP_RESELLER));
#if defined(TP_PARSE_FAIL)
  strcpy(od->Affiliate_ID, "left by " TP_RESELLER);
  return AS_ERROR;
#elif defined(TP_PARSE_ASK_FULL)
  (void)body;
  (void)header;
  return AS_FUN_NOFIND;
#elif defined(TP_PARSE_FILL)
  (void)body;
  (void)header;
  for (size_t i = 0; i < FIELD_COUNT; ++i) {
    char* at = (char*)od + kFields[i].offset;
    if (kFields[i].kind == K_TEXT) memset(at, 'a' + (int)(i % 26), kFields[i].size);
  }
  od->PurchaseDate = 46364.5;
  od->Amount = 1;
  od->VAT = 2;
  od->Unit_Price = 3;
  od->Commission = -4;
  return AS_NORMAL;
#elif defined(TP_PARSE_SEGV) || defined(TP_PARSE_TRAP) || defined(TP_PARSE_FPE) || defined(TP_PARSE_STACK)
  (void)header;
  strcpy(od->Comments, "written before the crash");
#if defined(TP_PARSE_SEGV)
  const int* volatile nowhere = (const int*)16;
  od->Quantity[0] = (char)(*nowhere + body[0]);
#elif defined(TP_PARSE_TRAP)
  if (body) __builtin_trap();
#elif defined(TP_PARSE_FPE)
  volatile int zero = 0;
  od->Quantity[0] = (char)Divide(body[0], zero);
#else
  (void)body;
  od->Quantity[0] = (char)Recurse(NULL);
#endif
  return AS_NORMAL;
#else
  Echo(body, od, header, body, NULL);
  return AS_NORMAL;
#endif
}
#endif

#ifdef TP_HAS_EX
int32_t QNB_CALL ParseOrderEx(const char* source, TOriginData* od) {
  Echo(source, od, NULL, NULL, source);
  return AS_NORMAL;
}
#endif
