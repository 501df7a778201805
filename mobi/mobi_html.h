// Post-pass over the written HTML file: image references to extracted files.
#pragma once

#include <string>
#include <vector>

// Rewrites the image references of the HTML file at `path`; 0 on success, 1
// when the file cannot be read or written again.
int MobiHtmlProcess2(const char *path, std::vector<std::string> &imageNames);
