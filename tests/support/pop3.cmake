# target_sources(quenbell_testsupport PRIVATE ...) for the POP3 fixtures
