// The one copy of the templates that lean_runtime.h declares for every source
// of the stub, compiled with the stub's flags. It sits in the stub's library,
// so the Windows-side tests link the same copy as the program.
template class std::__cxx11::basic_string<char>;
template class std::vector<unsigned char>;
template class std::vector<std::__cxx11::basic_string<char>>;
