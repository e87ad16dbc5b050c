/* A library named like the homepage library that exports nothing the
   program looks for. */
__attribute__((visibility("default"))) int KovhpurlPlaceholder(void) { return 0; }
