// Which relaxation a test_cloth binary links: test_cloth.cpp is compiled once
// for both, this file once for each.
#ifdef ONE_THREAD_BUILD
extern const bool one_thread_build = true;
#else
extern const bool one_thread_build = false;
#endif
