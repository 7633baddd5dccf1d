// OpenSSL is not built with ThreadSanitizer: it sees only the calls of the C
// library that OpenSSL makes (strcmp, memcpy, malloc), not OpenSSL's own
// atomics, and reports races inside OpenSSL's algorithm caches when a client
// and the test server set up TLS in two threads at once. Those reports are
// about OpenSSL's internals; races in our code stay reported.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libcrypto.so.3\n"
         "called_from_lib:libssl.so.3\n";
}
