// A stdio file that is closed when it goes out of scope.
#pragma once

#include <cstdio>
#include <memory>

struct CFileCloser {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using CFile = std::unique_ptr<std::FILE, CFileCloser>;
