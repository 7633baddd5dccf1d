# target_sources(quenbell_mailcheck PRIVATE ...) for sockets, POP3 session, message memory
