/*
 * Quenbell analyzer plug-in SDK.
 *
 * An analyzer plug-in is a shared library (".so" on Linux, ".dll" on Windows)
 * placed in the folder "OMAnalyze" beside the Quenbell executable. Each one
 * serves one payment service or reseller: it tells the program whether a mail
 * is one of its notifications and fills a TOriginData record from it.
 *
 * Exports (C names, the calling convention QNB_CALL, 32-bit signed results):
 *
 *   GetResellerName(name)          called once when the library is loaded. Write
 *                                  a zero-terminated name of at most 50 characters
 *                                  into the 51-byte buffer and return AS_NORMAL;
 *                                  any other result rejects the library. The host
 *                                  keeps the first 30 characters.
 *   IsOrder(header)                the mail's header lines, each followed by CR LF,
 *                                  exactly as the server sent them (folded lines stay
 *                                  separate lines). Return AS_NORMAL if the mail is
 *                                  one you can parse. Plug-ins are asked in load
 *                                  order; the first one that answers AS_NORMAL
 *                                  claims the mail.
 *   IsOrderEx(header)              looked up and kept, never called.
 *   ParseOrder(body, header, od)   the decoded body text and the header lines, each
 *                                  line followed by CR LF, and a record the host
 *                                  zero-filled once per mail. Fill the fields you
 *                                  find and return AS_NORMAL, AS_FUN_NOFIND to be
 *                                  called again through ParseOrderEx with the whole
 *                                  mail, anything else on failure. When the claiming
 *                                  plug-in fails, the plug-ins after it are asked in
 *                                  turn with the same record (it is not cleared in
 *                                  between).
 *   ParseOrderEx(source, od)       the whole mail as retrieved (lines followed by
 *                                  CR LF) and the same record; AS_NORMAL on success.
 *
 * What the host relies on:
 *   - Only AS_NORMAL counts as success; AS_FUN_NOFIND matters only as the result
 *     of ParseOrder, every other value is a refusal or a failure.
 *   - Text arguments and the record belong to the host and are valid only during
 *     the call: never change, free or keep them.
 *   - Text fields are UTF-8 (plug-ins written for single-byte text may also
 *     write Latin-1: a field that is not valid UTF-8 is shown as Latin-1). Write
 *     at most size - 1 bytes and a zero byte, and cut UTF-8 text only between
 *     characters; the host reads a field up to its first zero byte or, failing
 *     one, the whole array.
 *   - Currency fields hold the amount times 10000. PurchaseDate counts days since
 *     1899-12-30 (the fraction is the time of day); 0 means "not given", and the
 *     host then takes the mail's Date header.
 *   - A plug-in that crashes or throws inside a call is treated as refusing the
 *     mail (IsOrder) or failing (ParseOrder, ParseOrderEx), and the host goes on
 *     with the next plug-in. It is a last resort, not a contract: state the crash
 *     left behind (a held lock, a half-written record field) stays as it is.
 *   - Calls come from the program's mail-check thread, one at a time; a plug-in
 *     needs no locking of its own for that but must not rely on a particular thread.
 *   - The library stays loaded until the program ends.
 */
#ifndef QUENBELL_ANALYZER_H
#define QUENBELL_ANALYZER_H

#include <stddef.h>
#include <stdint.h>

/* stdcall only where the interface was born: 32-bit Windows. */
#if defined(_WIN32) && !defined(_WIN64)
#define QNB_CALL __stdcall
#else
#define QNB_CALL
#endif

#if defined(_WIN32)
#define QNB_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define QNB_EXPORT __attribute__((visibility("default")))
#else
#define QNB_EXPORT
#endif

/* 64-bit fields sit on 8-byte boundaries even where the ABI aligns them to 4
   (32-bit x86 outside Windows), so the record has one layout everywhere. */
#if defined(__GNUC__)
#define QNB_ALIGN8 __attribute__((aligned(8)))
#else
#define QNB_ALIGN8
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of the exports. */
#define AS_ERROR (-1)      /* failure */
#define AS_NORMAL 0        /* success */
#define AS_DLL_NOFIND 1    /* failure */
#define AS_FUN_NOFIND 2    /* from ParseOrder: call ParseOrderEx with the whole mail */

/* US English; named by the interface for plug-ins, not used by the host. */
#define STD_LCID 1033

/* Filled by a plug-in; 3864 bytes, little-endian, natural alignment. */
typedef struct TOriginData {
  char OrderFrom[51];          /* the seller or payment service */
  char OrderID[51];            /* order or transaction number */
  double PurchaseDate QNB_ALIGN8; /* days since 1899-12-30; 0 = not given */
  char Company[101];
  char Name[101];              /* buyer's full name */
  char LastName[51];
  char FirstName[51];
  char RegName[101];           /* name the item is registered to */
  char Email[101];
  char Address[101];
  char Address2[101];
  char City[101];
  char State[51];
  char PostCode[51];
  char Country[51];            /* name or code as the mail gives it */
  char Phone[51];
  char Fax[51];
  char Quantity[11];           /* decimal digits */
  int64_t Amount QNB_ALIGN8;   /* currency x 10000 */
  char Currency[31];
  char ProductName[101];
  char Version[11];
  char RegCode[1001];          /* registration code delivered with the order */
  char Comments[1001];
  int64_t VAT QNB_ALIGN8;      /* currency x 10000 */
  int64_t Unit_Price QNB_ALIGN8; /* currency x 10000 */
  char Delivery_Method[201];
  char IPAddress[31];
  char URL_for_Receipt[151];
  char Affiliate_ID[101];
  int64_t Commission QNB_ALIGN8; /* currency x 10000 */
} TOriginData;

/* The layout is binding to the byte: a plug-in built against a header that
   disagrees must not compile. */
#ifdef __cplusplus
#define QNB_LAYOUT_CHECK(cond, what) static_assert(cond, what)
#else
#define QNB_LAYOUT_CHECK(cond, what) _Static_assert(cond, what)
#endif
QNB_LAYOUT_CHECK(sizeof(TOriginData) == 3864, "TOriginData must be 3864 bytes");
QNB_LAYOUT_CHECK(offsetof(TOriginData, OrderFrom) == 0, "OrderFrom offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, OrderID) == 51, "OrderID offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, PurchaseDate) == 104, "PurchaseDate offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Company) == 112, "Company offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Name) == 213, "Name offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, LastName) == 314, "LastName offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, FirstName) == 365, "FirstName offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, RegName) == 416, "RegName offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Email) == 517, "Email offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Address) == 618, "Address offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Address2) == 719, "Address2 offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, City) == 820, "City offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, State) == 921, "State offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, PostCode) == 972, "PostCode offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Country) == 1023, "Country offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Phone) == 1074, "Phone offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Fax) == 1125, "Fax offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Quantity) == 1176, "Quantity offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Amount) == 1192, "Amount offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Currency) == 1200, "Currency offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, ProductName) == 1231, "ProductName offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Version) == 1332, "Version offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, RegCode) == 1343, "RegCode offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Comments) == 2344, "Comments offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, VAT) == 3352, "VAT offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Unit_Price) == 3360, "Unit_Price offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Delivery_Method) == 3368, "Delivery_Method offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, IPAddress) == 3569, "IPAddress offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, URL_for_Receipt) == 3600, "URL_for_Receipt offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Affiliate_ID) == 3751, "Affiliate_ID offset");
QNB_LAYOUT_CHECK(offsetof(TOriginData, Commission) == 3856, "Commission offset");
#undef QNB_LAYOUT_CHECK

/* The host's names for the exports' types. */
typedef int32_t(QNB_CALL* TGetResellerNameFunc)(char* name);
typedef int32_t(QNB_CALL* TIsOrderFunc)(const char* header);
typedef int32_t(QNB_CALL* TIsOrderExFunc)(const char* header);
typedef int32_t(QNB_CALL* TParseOrderFunc)(const char* body, const char* header, TOriginData* od);
typedef int32_t(QNB_CALL* TParseOrderExFunc)(const char* source, TOriginData* od);

/* A plug-in defines these (IsOrderEx and ParseOrderEx may be left out); the
   declarations make a definition with the wrong signature fail to compile and
   export the definitions even when symbols are hidden by default. */
QNB_EXPORT int32_t QNB_CALL GetResellerName(char* name);
QNB_EXPORT int32_t QNB_CALL IsOrder(const char* header);
QNB_EXPORT int32_t QNB_CALL IsOrderEx(const char* header);
QNB_EXPORT int32_t QNB_CALL ParseOrder(const char* body, const char* header, TOriginData* od);
QNB_EXPORT int32_t QNB_CALL ParseOrderEx(const char* source, TOriginData* od);

#ifdef __cplusplus
}
#endif

#endif /* QUENBELL_ANALYZER_H */
