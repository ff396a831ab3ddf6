// Included ahead of every source of the stub (-include, see stub/CMakeLists.txt).
// The C++ library declares its string and stream templates as instantiated
// inside the library; calling those copies links the library's objects, which
// are built with exceptions and bring the unwinder and the thread runtime with
// them. With the declarations off, each template the stub uses is compiled
// here, with the stub's flags, and its faults end in lean_runtime.cpp.
#pragma once
#ifdef __cplusplus
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
#endif
