// Walks over the image folder the library writes beside the HTML file: one
// re-encodes its JPEG and GIF files as PNG, the other empties it. Both list
// what they meet on standard output, indented five spaces per `depth`, and
// neither descends into sub-folders.
#pragma once

#include <functional>
#include <string>

// Re-encodes every "*.jpg" and "*.gif" file (case-sensitive) as PNG under its
// old name. A file that cannot be re-encoded, or whose ".png" twin already
// exists, keeps its original content.
void ConvertFolderImages(const std::string &folder, int depth);
// The same for the files whose names `converts` picks; the others are listed
// and left as they are.
void ConvertFolderImages(const std::string &folder, int depth,
                         const std::function<bool(const std::string &name)> &converts);

// Removes every file of `folder` and every empty sub-folder.
void ClearFolder(const std::string &folder, int depth);
