/* Tarn_Png: re-encodes a JPEG, GIF or PNG file as PNG. */
#ifndef TARN_PNG_H
#define TARN_PNG_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARN_PNG_BUILD)
#define TARN_PNG_API __attribute__((visibility("default")))
#else
#define TARN_PNG_API
#endif

/* Results of jpg2png. */
#define TARN_PNG_OK 0
#define TARN_PNG_ERR_READ 1    /* the source cannot be opened or read */
#define TARN_PNG_ERR_FORMAT 2  /* the source is neither JPEG, GIF nor PNG */
#define TARN_PNG_ERR_DECODE 3  /* the source is damaged or truncated */
#define TARN_PNG_ERR_WRITE 4   /* the destination cannot be written */
#define TARN_PNG_ERR_MEMORY 5  /* out of memory, or a picture too large to hold */

/* Decodes `src` by its content (JPEG, GIF: first frame with its transparency,
 * or PNG) and writes it as a PNG file at `dst`. The picture is decoded in full
 * before `dst` is opened, so `dst` may name `src` itself. On any failure the
 * result is non-zero and no file is left at `dst`. */
TARN_PNG_API int jpg2png(const char *src, const char *dst);

#ifdef __cplusplus
}
#endif

#endif
