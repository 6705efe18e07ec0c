/* A library that loads but is no plug-in: it has none of the exports. */
int not_a_plugin(void) { return 0; }
