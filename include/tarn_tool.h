/* Tarn_Tool: the file-access layer the MOBI library reads books through. */
#ifndef TARN_TOOL_H
#define TARN_TOOL_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARN_TOOL_BUILD)
#define TARN_TOOL_API __attribute__((visibility("default")))
#else
#define TARN_TOOL_API
#endif

/* One handle per FilesOpen call. `streams` holds one entry per path; an entry
 * is null when that path could not be opened. */
typedef struct FILES {
  FILE **streams;
  size_t count;
} FILES;

#define FILES_SEEK_SET 0
#define FILES_SEEK_CUR 1
#define FILES_SEEK_END 2

/* Opens `count` paths with the stdio `mode`. Never returns null: an open
 * failure shows as a null entry in `streams` (and a failed allocation as a
 * handle with no streams at all, count 0). The paths are not kept. */
TARN_TOOL_API FILES *FilesOpen(const char *const *paths, size_t count, const char *mode);

/* Reads size*count bytes from the first stream; returns the number of bytes
 * read, fewer than asked at the end of the file, 0 on a handle that failed. */
TARN_TOOL_API size_t FilesRead(void *buffer, size_t size, size_t count, FILES *files);

/* Moves the first stream; origin is FILES_SEEK_SET, _CUR or _END. Returns 0 on
 * success, -1 on failure. */
TARN_TOOL_API int FilesSeek(FILES *files, uint64_t offset, int origin);

/* Current position of the first stream; 0 on a handle that failed. */
TARN_TOOL_API uint64_t FilesTell(FILES *files);

/* Closes every stream and releases the handle; null is allowed. */
TARN_TOOL_API int FilesClose(FILES *files);

/* Folder holding `path`: the text before the last "/", "." when there is none,
 * "/" for an entry of the root. A new malloc'd string the caller frees; null
 * only when memory runs out. */
TARN_TOOL_API char *PathGetFolder(const char *path);

/* Non-zero when `path` (a file or folder, with or without a final "/") exists. */
TARN_TOOL_API int PathExists(const char *path);

/* Creates the folder `path` (a final "/" is allowed). Returns 0 when the folder
 * exists afterwards, -1 otherwise. */
TARN_TOOL_API int PathCreateFolder(const char *path);

#ifdef __cplusplus
}
#endif

#endif
