// KX_PRINTF_FORMAT(f, a): the compiler checks a printf-style call's arguments
// (format string at parameter f, arguments from a). mingw reads plain
// `printf` as the Microsoft printf, which lacks %zu and %lld; the project's
// formatting is the C99 one (__USE_MINGW_ANSI_STDIO), which GCC calls
// gnu_printf. Clang knows only `printf`, which is the C99 one there.
#pragma once

#if defined(__MINGW32__)
#define KX_PRINTF_FORMAT(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define KX_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#endif
