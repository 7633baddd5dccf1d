# target_sources(quenbell_testsupport PRIVATE ...) for the analyzer host tests
target_sources(quenbell_testsupport PRIVATE PayNimbusMail.cpp PayNimbusMail.h)
