# target_sources(quenbell_analysis PRIVATE ...) for the order record and plug-in host
