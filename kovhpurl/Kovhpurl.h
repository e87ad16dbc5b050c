#pragma once
/*
 * Kovhpurl: the maker's homepage address, as a small shared library
 * (libKovhpurl.so) that the program loads only when the user asks for the
 * homepage. The program starts and runs without it.
 *
 *   char* GetHP_URL(void);
 *       No arguments. Returns the homepage address as a NUL-terminated string
 *       in code page 932 (plain ASCII for an ordinary web address), in a
 *       buffer the library allocates and the caller owns. An empty string
 *       means the library knows no address. NULL means the address could not
 *       be produced (out of memory, or an address the code page cannot hold).
 *
 *   void FreeHP_URL(char* address);
 *       Frees a buffer returned by GetHP_URL. The caller must free through
 *       this call, never with its own allocator: the library and the caller
 *       need not share one. NULL is accepted and ignored.
 *
 * Both use the platform's C calling convention and are exported unmangled.
 * The address is fixed when the library is built (the CMake cache variable
 * KOVHPURL_HOMEPAGE_URL).
 */
#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KOVHPURL_API __declspec(dllexport)
#else
#define KOVHPURL_API __attribute__((visibility("default")))
#endif

KOVHPURL_API char* GetHP_URL(void);
KOVHPURL_API void FreeHP_URL(char* address);

/* The two entry points as function pointer types, for callers that look
   them up at run time. */
typedef char* (*GetHP_URL_Function)(void);
typedef void (*FreeHP_URL_Function)(char*);

#ifdef __cplusplus
}
#endif
