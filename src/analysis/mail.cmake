# target_sources(quenbell_analysis PRIVATE ...) for the mail reader
