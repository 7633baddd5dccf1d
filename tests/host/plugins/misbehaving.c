/* An analyzer plug-in that misbehaves on request, for the tests of the helper
 * process the plug-ins run in. It claims a mail whose header has the line
 * "X-Claim: mis"; a line "X-Misbehave: WHAT" in the header does WHAT in
 * IsOrder, a line "Misbehave: WHAT" in the body does it in ParseOrder:
 *   abort   abort()
 *   hang    never return
 *   heap    overrun a block and free it twice (glibc then aborts)
 *   segv    write to an address that is never mapped
 * ParseOrder otherwise fills OrderID with "MIS-" and the body's "Order: " value. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "quenbell/analyzer.h"

static void Misbehave(const char* text, const char* key) {
  const char* at = strstr(text, key);
  if (!at) return;
  at += strlen(key);
  if (strncmp(at, "abort", 5) == 0) abort();
  if (strncmp(at, "hang", 4) == 0)
    for (;;) pause();
  if (strncmp(at, "heap", 4) == 0) {
    /* Overrun into the next chunk, then free twice: glibc aborts. */
    char* volatile p = (char*)malloc(40);
    char* volatile q = (char*)malloc(40);
    memset(p, 0x5a, 64);
    free(q);
    free(p);
    free(p);
  }
  if (strncmp(at, "segv", 4) == 0) *(int* volatile)16 = 1; /* not null: the sanitizers let it through */
}

QNB_EXPORT int32_t QNB_CALL GetResellerName(char* name) {
  strcpy(name, "Misbehaving");
  return AS_NORMAL;
}

QNB_EXPORT int32_t QNB_CALL IsOrder(const char* header) {
  Misbehave(header, "X-Misbehave: ");
  return strstr(header, "X-Claim: mis\r\n") ? AS_NORMAL : AS_ERROR;
}

QNB_EXPORT int32_t QNB_CALL ParseOrder(const char* body, const char* header, TOriginData* od) {
  (void)header;
  Misbehave(body, "Misbehave: ");
  const char* at = strstr(body, "Order: ");
  if (!at) return AS_ERROR;
  at += 7;
  size_t n = strcspn(at, "\r\n");
  if (n > 40) n = 40;
  memcpy(od->OrderID, "MIS-", 4);
  memcpy(od->OrderID + 4, at, n);
  od->OrderID[4 + n] = 0;
  return AS_NORMAL;
}
