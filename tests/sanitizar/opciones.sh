# Sanitizer options for scripts/sanitizar and scripts/fuzz (sourced): stop at
# the first error of any kind, and report leaks, less the third-party ones
# listed with their reasons in lsan.supp. strict_string_checks stays off: it
# takes strndup() of a buffer with no terminating NUL for an overflow, and
# libxkbcommon-x11 does exactly that (legally) whenever Qt opens an X display.
sanitizar_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$sanitizar_dir/lsan.supp:print_suppressions=0"
