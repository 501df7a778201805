/* Re-encodes a JPEG, GIF or PNG picture as PNG. Written in C because libjpeg
 * reports fatal errors by longjmp, which must never unwind C++ frames. */
#include "tarn_png.h"

#include <setjmp.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

/* The largest picture held in memory: 64 mega-pixels, 256 MiB as RGBA. */
#define MAX_PIXELS (64u * 1024u * 1024u)

/* A decoded picture: rows of 8-bit RGB (3 channels) or RGBA (4), top first. */
typedef struct Picture {
  unsigned char *pixels;
  uint32_t width;
  uint32_t height;
  uint32_t channels;
} Picture;

static int AllocatePicture(Picture *picture, uint32_t width, uint32_t height, uint32_t channels) {
  if (width == 0 || height == 0 || (uint64_t)width * height > MAX_PIXELS)
    return TARN_PNG_ERR_MEMORY;
  picture->pixels = calloc((size_t)width * height, channels);
  if (picture->pixels == NULL)
    return TARN_PNG_ERR_MEMORY;
  picture->width = width;
  picture->height = height;
  picture->channels = channels;
  return TARN_PNG_OK;
}

static void FreePicture(Picture *picture) {
  free(picture->pixels);
  picture->pixels = NULL;
}

/* ---- JPEG ---------------------------------------------------------------- */

typedef struct JpegFailure {
  struct jpeg_error_mgr manager;
  jmp_buf jump;
} JpegFailure;

static void JpegFatal(j_common_ptr info) { longjmp(((JpegFailure *)info->err)->jump, 1); }

/* Warnings are silent, except that a file ending before its picture does is a
 * failure: the rest of such a picture would be invented grey. */
static void JpegMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF)
    longjmp(((JpegFailure *)info->err)->jump, 1);
}

/* Files with Adobe's marker store CMYK inverted (255 minus the ink); others
 * store the ink itself. */
static void CmykRowToRgb(const JSAMPLE *cmyk, unsigned char *rgb, uint32_t width, int inverted) {
  for (uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
    unsigned paper[4];
    for (int i = 0; i < 4; ++i)
      paper[i] = inverted ? cmyk[i] : 255u - cmyk[i];
    rgb[0] = (unsigned char)(paper[0] * paper[3] / 255);
    rgb[1] = (unsigned char)(paper[1] * paper[3] / 255);
    rgb[2] = (unsigned char)(paper[2] * paper[3] / 255);
  }
}

/* Only `file` and `picture` (through its pointer, so in memory) live across
 * the jump; both are set before setjmp or re-read after it. */
static int DecodeJpeg(FILE *file, Picture *picture) {
  struct jpeg_decompress_struct info;
  JpegFailure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = JpegFatal;
  failure.manager.emit_message = JpegMessage;
  if (setjmp(failure.jump)) {
    jpeg_destroy_decompress(&info);
    FreePicture(picture);
    return TARN_PNG_ERR_DECODE;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  const int cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&info);
  if (AllocatePicture(picture, info.output_width, info.output_height, 3) != TARN_PNG_OK) {
    jpeg_destroy_decompress(&info);
    return TARN_PNG_ERR_MEMORY;
  }
  JSAMPARRAY cmykRow = NULL;
  if (cmyk)
    cmykRow = (*info.mem->alloc_sarray)((j_common_ptr)&info, JPOOL_IMAGE, info.output_width * 4, 1);
  const size_t stride = (size_t)picture->width * 3;
  while (info.output_scanline < info.output_height) {
    unsigned char *target = picture->pixels + stride * info.output_scanline;
    if (cmyk) {
      jpeg_read_scanlines(&info, cmykRow, 1);
      CmykRowToRgb(cmykRow[0], target, picture->width, info.saw_Adobe_marker);
    } else {
      jpeg_read_scanlines(&info, &target, 1);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return TARN_PNG_OK;
}

/* ---- GIF ----------------------------------------------------------------- */

/* The first frame's bounds and transparent colour, read from the records
 * before it. */
typedef struct GifFrame {
  int transparent; /* colour index, or NO_TRANSPARENT_COLOR */
  GifImageDesc desc;
} GifFrame;

static int SkipGifExtension(GifFileType *gif, GifFrame *frame) {
  int code = 0;
  GifByteType *block = NULL;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK)
    return 0;
  if (code == GRAPHICS_EXT_FUNC_CODE && block != NULL) {
    GraphicsControlBlock control;
    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK)
      frame->transparent = control.TransparentColor;
  }
  while (block != NULL)
    if (DGifGetExtensionNext(gif, &block) != GIF_OK)
      return 0;
  return 1;
}

/* Reads up to the first image descriptor; 1 when one was found. */
static int FindFirstGifFrame(GifFileType *gif, GifFrame *frame) {
  GifRecordType type;
  frame->transparent = NO_TRANSPARENT_COLOR;
  do {
    if (DGifGetRecordType(gif, &type) != GIF_OK)
      return 0;
    if (type == EXTENSION_RECORD_TYPE && !SkipGifExtension(gif, frame))
      return 0;
    if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) != GIF_OK)
        return 0;
      frame->desc = gif->Image;
      return 1;
    }
  } while (type != TERMINATE_RECORD_TYPE);
  return 0;
}

/* Paints one decoded row of colour indexes onto the canvas, clipped to it. */
static void PaintGifRow(Picture *picture, const GifFrame *frame, const ColorMapObject *colours,
                        const GifPixelType *row, uint32_t y) {
  const uint32_t top = (uint32_t)frame->desc.Top + y;
  if (top >= picture->height)
    return;
  for (uint32_t x = 0; x < (uint32_t)frame->desc.Width; ++x) {
    const uint32_t left = (uint32_t)frame->desc.Left + x;
    if (left >= picture->width)
      break;
    const int index = row[x];
    if (index == frame->transparent || index >= colours->ColorCount)
      continue; /* stays fully transparent */
    unsigned char *pixel = picture->pixels + ((size_t)top * picture->width + left) * 4;
    pixel[0] = colours->Colors[index].Red;
    pixel[1] = colours->Colors[index].Green;
    pixel[2] = colours->Colors[index].Blue;
    pixel[3] = 255;
  }
}

static int DecodeGifFrame(GifFileType *gif, const GifFrame *frame, Picture *picture) {
  static const uint32_t interlaceStart[] = {0, 4, 2, 1};
  static const uint32_t interlaceStep[] = {8, 8, 4, 2};
  const ColorMapObject *colours = frame->desc.ColorMap ? frame->desc.ColorMap : gif->SColorMap;
  const uint32_t width = (uint32_t)frame->desc.Width;
  const uint32_t height = (uint32_t)frame->desc.Height;
  if (colours == NULL || width == 0 || height == 0)
    return TARN_PNG_ERR_DECODE;
  /* The canvas is the logical screen; a frame larger than it widens it. */
  uint32_t canvasWidth = (uint32_t)gif->SWidth, canvasHeight = (uint32_t)gif->SHeight;
  if (canvasWidth < (uint32_t)frame->desc.Left + width)
    canvasWidth = (uint32_t)frame->desc.Left + width;
  if (canvasHeight < (uint32_t)frame->desc.Top + height)
    canvasHeight = (uint32_t)frame->desc.Top + height;
  int result = AllocatePicture(picture, canvasWidth, canvasHeight, 4);
  if (result != TARN_PNG_OK)
    return result;
  GifPixelType *row = malloc(width);
  if (row == NULL) {
    FreePicture(picture);
    return TARN_PNG_ERR_MEMORY;
  }
  const int passes = frame->desc.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes && result == TARN_PNG_OK; ++pass) {
    const uint32_t start = frame->desc.Interlace ? interlaceStart[pass] : 0;
    const uint32_t step = frame->desc.Interlace ? interlaceStep[pass] : 1;
    for (uint32_t y = start; y < height; y += step) {
      if (DGifGetLine(gif, row, (int)width) != GIF_OK) {
        result = TARN_PNG_ERR_DECODE;
        break;
      }
      PaintGifRow(picture, frame, colours, row, y);
    }
  }
  free(row);
  if (result != TARN_PNG_OK)
    FreePicture(picture);
  return result;
}

static int DecodeGif(const char *src, Picture *picture) {
  int error = 0;
  GifFileType *gif = DGifOpenFileName(src, &error);
  if (gif == NULL)
    return TARN_PNG_ERR_DECODE;
  GifFrame frame;
  const int result =
      FindFirstGifFrame(gif, &frame) ? DecodeGifFrame(gif, &frame, picture) : TARN_PNG_ERR_DECODE;
  DGifCloseFile(gif, &error);
  return result;
}

/* ---- PNG (libpng's simplified interface, which never jumps out) ---------- */

static int DecodePng(const char *src, Picture *picture) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, src))
    return TARN_PNG_ERR_DECODE;
  const uint32_t channels = (image.format & PNG_FORMAT_FLAG_ALPHA) ? 4 : 3;
  image.format = channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  const int result = AllocatePicture(picture, image.width, image.height, channels);
  if (result != TARN_PNG_OK) {
    png_image_free(&image);
    return result;
  }
  if (!png_image_finish_read(&image, NULL, picture->pixels, 0, NULL)) {
    FreePicture(picture);
    return TARN_PNG_ERR_DECODE;
  }
  return TARN_PNG_OK;
}

static int WritePng(const char *dst, const Picture *picture) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = picture->width;
  image.height = picture->height;
  image.format = picture->channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  if (png_image_write_to_file(&image, dst, 0, picture->pixels, 0, NULL))
    return TARN_PNG_OK;
  remove(dst);
  return TARN_PNG_ERR_WRITE;
}

/* ---- Entry point --------------------------------------------------------- */

typedef enum Format { FORMAT_UNKNOWN, FORMAT_JPEG, FORMAT_GIF, FORMAT_PNG } Format;

static Format FormatOf(const unsigned char *head, size_t size) {
  static const unsigned char jpeg[] = {0xFF, 0xD8, 0xFF};
  static const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= sizeof jpeg && memcmp(head, jpeg, sizeof jpeg) == 0)
    return FORMAT_JPEG;
  if (size >= 6 && (memcmp(head, "GIF87a", 6) == 0 || memcmp(head, "GIF89a", 6) == 0))
    return FORMAT_GIF;
  if (size >= sizeof png && memcmp(head, png, sizeof png) == 0)
    return FORMAT_PNG;
  return FORMAT_UNKNOWN;
}

static int Decode(const char *src, Picture *picture) {
  FILE *file = fopen(src, "rb");
  if (file == NULL)
    return TARN_PNG_ERR_READ;
  unsigned char head[8];
  const size_t size = fread(head, 1, sizeof head, file);
  int result = TARN_PNG_ERR_FORMAT;
  switch (FormatOf(head, size)) {
  case FORMAT_JPEG:
    rewind(file);
    result = DecodeJpeg(file, picture);
    break;
  case FORMAT_GIF:
    result = DecodeGif(src, picture);
    break;
  case FORMAT_PNG:
    result = DecodePng(src, picture);
    break;
  case FORMAT_UNKNOWN:
    break;
  }
  fclose(file);
  return result;
}

TARN_PNG_API int jpg2png(const char *src, const char *dst) {
  if (src == NULL || dst == NULL)
    return TARN_PNG_ERR_READ;
  Picture picture = {NULL, 0, 0, 0};
  int result = Decode(src, &picture);
  if (result == TARN_PNG_OK)
    result = WritePng(dst, &picture);
  FreePicture(&picture);
  return result;
}
