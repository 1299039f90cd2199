// Qt Quick 6.4 keeps the first image an Image item shows in a window (decoded pixels and the
// texture made from them) past the end of the program, with the software scene graph used by
// these tests; a bare QQuickView with one Image shows the same. LeakSanitizer reads this list
// in addition to .ci/lsan.supp, in every test program with windows. The suppressions match frames of
// Qt's libraries, which have no frame pointers: allocations are traced with the full unwinder.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QQuickPixmap::load\n"
           "leak:QQuickImage::updatePaintNode\n";
}

extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
