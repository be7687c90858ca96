// LeakSanitizer of clang 14 crashes while it scans the thread-local storage of
// libraries that Firebird's client loads at run time for character set
// conversion (ICU), before it has looked at any leak. Thread-local storage is
// therefore not scanned in this executable, and the one block the C library
// keeps there (the text behind dlerror) is not a leak. Ignored by builds
// without the sanitizer.
extern "C" const char *__lsan_default_options() {
    return "use_tls=0";
}
extern "C" const char *__lsan_default_suppressions() {
    return "leak:_dlerror_run\nleak:_dl_exception_create_format\n";
}
