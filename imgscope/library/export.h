// Export macro of the imgscope shared library.
#pragma once

#if defined(_WIN32) || defined(__CYGWIN__)
#  if defined(IMGSCOPE_BUILDING)
#    define IMGSCOPE_API __declspec(dllexport)
#  else
#    define IMGSCOPE_API __declspec(dllimport)
#  endif
#else
#  define IMGSCOPE_API __attribute__((visibility("default")))
#endif
