/* Tarn_Mobi: unpacks a MOBI book into one UTF-8 HTML file and a folder of
 * images.
 *
 * Usage: CreateMobiService(); Init(data, book); MobiToHtml(data, html); any of
 * the getters; ClearUp(data); FreeMobiService(table). Every function takes the
 * table's own `data` as its first argument. Texts returned by the getters and by
 * GetMobiCopyright are fresh malloc'd buffers the caller releases with free(). */
#ifndef TARN_MOBI_H
#define TARN_MOBI_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(TARN_MOBI_BUILD)
#define TARN_MOBI_API __attribute__((visibility("default")))
#else
#define TARN_MOBI_API
#endif

/* Result codes of Init and MobiToHtml. */
#define MOBI_OK 0
#define MOBI_ERR_OPEN 1        /* Init: book not opened; MobiToHtml: HTML file not created */
#define MOBI_ERR_WRITE 2       /* MobiToHtml: writing the HTML file failed */
#define MOBI_ERR_MEMORY 3      /* out of memory */
#define MOBI_ERR_NOT_MOBI 4    /* Init: not a BOOKMOBI Palm database */
#define MOBI_ERR_NO_FOLDER 5   /* MobiToHtml: the HTML file's folder does not exist */
#define MOBI_ERR_ENCODING 6    /* MobiToHtml: text encoding neither 1252 nor 65001; files written */
#define MOBI_ERR_COMPRESSION 7 /* MobiToHtml: unsupported compression */
#define MOBI_ERR_RECORD_SIZE 8 /* MobiToHtml: text record size 0 */
#define MOBI_ERR_ENCRYPTED 9   /* MobiToHtml: encrypted, or unusable HUFF/CDIC records or text */
#define MOBI_ERR_NOT_OPEN 10   /* MobiToHtml called without a successful Init */
#define MOBI_ERR_DAMAGED 11    /* MobiToHtml: record 0 missing or too short for its headers */
#define MOBI_ERR_KF8 12        /* MobiToHtml: a KF8-only book whose KF8 rendition cannot be read */
#define MOBI_ERR_INTERNAL 13   /* an unexpected failure inside the library (not out of memory) */
#define MOBI_ERR_RESOURCE 14   /* MobiToHtml: a picture or font file (or its folder) not written */
#define MOBI_ERR_TEXT_SIZE 15  /* MobiToHtml: the text decodes to more than any book holds */

/* The id of the hidden <nav> in which MobiToHtml writes the book's contents,
 * as nested <ol> lists of links, when the book has a contents index. */
#define MOBI_CONTENTS_NAV_ID "bookconv-contents"

/* The handle record; opaque to callers. */
typedef struct MobiData MobiData;

typedef struct MobiService {
  MobiData *data;
  int (*Init)(MobiData *data, const char *bookPath);
  void (*ClearUp)(MobiData *data);
  int (*MobiToHtml)(MobiData *data, const char *htmlPath);
  char *(*GetTitle)(MobiData *data);
  char *(*GetAuthor)(MobiData *data);
  char *(*GetCoverImageName)(MobiData *data);
  /* One fact of the book after MobiToHtml, by name, as UTF-8 text; null when
   * the book states none. Several records of one fact (subjects) are joined
   * by newlines. The names and the EXTH records they come from:
   *   "publisher" 101, "description" 103, "isbn" 104, "subject" 105,
   *   "date" 106, "asin" 113, "fixed-layout" 122, "orientation-lock" 124,
   *   "original-resolution" 126, "language" 524, "primary-writing-mode" 525,
   *   "page-progression-direction" 527.
   * And "start": the id of the HTML element where reading starts (the
   * guide's "text" reference, else EXTH 116), when it lies in the text;
   * "dictionary": "true" for a book with a look-up index of its own (or
   * EXTH's dictionary marks), else none; "cover-copies": the pictures
   * written with the same bytes as the cover, under other names. */
  char *(*GetMetadata)(MobiData *data, const char *name);
} MobiService;

/* A new table with an empty handle record, or null when memory runs out. */
TARN_MOBI_API MobiService *CreateMobiService(void);

/* Releases the table and its handle record; call ClearUp first. Null is allowed. */
TARN_MOBI_API void FreeMobiService(MobiService *service);

/* The library's notice text, as a malloc'd copy. */
TARN_MOBI_API char *GetMobiCopyright(void);

#ifdef __cplusplus
}
#endif

#endif
