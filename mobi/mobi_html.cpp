#include "mobi_html.h"

int MobiHtmlProcess2(const char *, std::vector<std::string> &) { return 0; }
