# target_sources(quenbell_mailcheck PRIVATE ...) for the check worker
