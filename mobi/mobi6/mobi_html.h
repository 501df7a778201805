// Post-pass over the written HTML file: image references to extracted files.
#pragma once

#include <string>
#include <vector>

// Rewrites the image references of the HTML file at `path`: an img tag with
// recindex N becomes an image element naming entry N of `imageNames` (empty
// when there is none), and the first "< image" element tag becomes the cover
// picture, after which entry 0 is emptied. The file is replaced whole or not
// at all. 0 on success, 1 when it cannot be read or a new file cannot be
// made beside it, 2 when writing the new file fails.
int MobiHtmlProcess2(const char *path, std::vector<std::string> &imageNames);
