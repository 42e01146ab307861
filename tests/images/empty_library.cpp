// A shared library with no functions at all, built under libpng's file name
// (see tests/CMakeLists.txt): found first through LD_LIBRARY_PATH, it is a
// libpng that opens but cannot be used, so the PNG codec must refuse with a
// Kel error rather than call through a missing function.
