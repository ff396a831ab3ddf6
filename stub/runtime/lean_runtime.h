// Included ahead of every source of the stub (-include, see stub/CMakeLists.txt).
// The C++ library declares its string and stream templates as instantiated
// inside the library; calling those copies links the library's objects, which
// are built with exceptions and bring the unwinder and the thread runtime with
// them. With the declarations off, each template the stub uses is compiled
// with the stub's flags, and its faults end in lean_runtime.cpp.
#pragma once
#ifdef __cplusplus
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE 0
// The texts the library passes to its throw functions: lean_runtime.cpp ends
// the run without reading them, and every source would keep its own copy.
#undef __N
#define __N(msgid) ("")

// The string and the vectors the whole stub uses are compiled once, in
// lean_templates.cpp, instead of once in every source that uses them.
#include <string>
#include <vector>
extern template class std::__cxx11::basic_string<char>;
extern template class std::vector<unsigned char>;
extern template class std::vector<std::__cxx11::basic_string<char>>;
#endif
