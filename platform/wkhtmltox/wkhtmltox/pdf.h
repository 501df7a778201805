/* libwkhtmltox: the C interface of wkhtmltopdf's HTML-to-PDF converter.
 *
 * This build renders with one of two engines found on the search path: the
 * `wkhtmltopdf` program, run as a child process with the settings below as
 * its options, or headless Chromium, one browser driven over a pipe with the
 * same settings (it renders one object per converter). The engine is chosen
 * at the first conversion after wkhtmltopdf_init, from the pages of every
 * converter created by then: Chromium where wkhtmltopdf is missing or a page
 * holds right-to-left text it cannot lay out; wkhtmltopdf_deinit closes the
 * browser. Settings are name/value texts; a name the layer does not know is
 * refused (the setter returns 0). The converter takes ownership of the global
 * settings given to wkhtmltopdf_create_converter and of every object settings
 * given to wkhtmltopdf_add_object. */
#ifndef WKHTMLTOX_PDF_H
#define WKHTMLTOX_PDF_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(WKHTMLTOX_BUILD)
#define CAPI(type) __attribute__((visibility("default"))) type
#else
#define CAPI(type) type
#endif

struct wkhtmltopdf_global_settings;
typedef struct wkhtmltopdf_global_settings wkhtmltopdf_global_settings;

struct wkhtmltopdf_object_settings;
typedef struct wkhtmltopdf_object_settings wkhtmltopdf_object_settings;

struct wkhtmltopdf_converter;
typedef struct wkhtmltopdf_converter wkhtmltopdf_converter;

typedef void (*wkhtmltopdf_str_callback)(wkhtmltopdf_converter *converter, const char *str);
typedef void (*wkhtmltopdf_int_callback)(wkhtmltopdf_converter *converter, const int val);
typedef void (*wkhtmltopdf_void_callback)(wkhtmltopdf_converter *converter);

/* 1 on success. `use_graphics` is accepted and ignored: rendering is headless. */
CAPI(int) wkhtmltopdf_init(int use_graphics);
CAPI(int) wkhtmltopdf_deinit(void);
/* 0: the program is built without wkhtmltopdf's patched toolkit. */
CAPI(int) wkhtmltopdf_extended_qt(void);
CAPI(const char *) wkhtmltopdf_version(void);

CAPI(wkhtmltopdf_global_settings *) wkhtmltopdf_create_global_settings(void);
CAPI(void) wkhtmltopdf_destroy_global_settings(wkhtmltopdf_global_settings *settings);

CAPI(wkhtmltopdf_object_settings *) wkhtmltopdf_create_object_settings(void);
CAPI(void) wkhtmltopdf_destroy_object_settings(wkhtmltopdf_object_settings *settings);

/* Global settings: "out", "load.cookieJar", "size.paperSize", "size.width",
 * "size.height", "orientation", "colorMode", "dpi", "documentTitle",
 * "useCompression", "imageDPI", "imageQuality", "copies", "collate",
 * "margin.top", "margin.bottom", "margin.left", "margin.right" (each 10mm
 * unless set). Returns 1 when the name is known, 0 otherwise. */
CAPI(int) wkhtmltopdf_set_global_setting(wkhtmltopdf_global_settings *settings, const char *name,
                                         const char *value);
/* Copies the value into `value` (at most `vs` bytes with the final NUL);
 * 1 when the setting has a value. */
CAPI(int) wkhtmltopdf_get_global_setting(wkhtmltopdf_global_settings *settings, const char *name,
                                         char *value, int vs);

/* Object settings: "page", "web.defaultEncoding", "web.enableJavascript",
 * "web.loadImages", "web.printMediaType", "web.enableIntelligentShrinking",
 * "web.minimumFontSize", "web.userStyleSheet", "load.blockLocalFileAccess",
 * "load.allowed.append" (or "load.allowed[N]"), "load.username",
 * "load.password", "load.jsdelay", "load.zoomFactor", "load.stopSlowScripts",
 * "load.loadErrorHandling", "load.mediaLoadErrorHandling", "load.proxy",
 * "useExternalLinks", "useLocalLinks", "produceForms". */
CAPI(int) wkhtmltopdf_set_object_setting(wkhtmltopdf_object_settings *settings, const char *name,
                                         const char *value);
CAPI(int) wkhtmltopdf_get_object_setting(wkhtmltopdf_object_settings *settings, const char *name,
                                         char *value, int vs);

CAPI(wkhtmltopdf_converter *) wkhtmltopdf_create_converter(wkhtmltopdf_global_settings *settings);
CAPI(void) wkhtmltopdf_destroy_converter(wkhtmltopdf_converter *converter);

CAPI(void) wkhtmltopdf_set_debug_callback(wkhtmltopdf_converter *converter,
                                          wkhtmltopdf_str_callback cb);
CAPI(void) wkhtmltopdf_set_warning_callback(wkhtmltopdf_converter *converter,
                                            wkhtmltopdf_str_callback cb);
CAPI(void) wkhtmltopdf_set_error_callback(wkhtmltopdf_converter *converter,
                                          wkhtmltopdf_str_callback cb);
CAPI(void) wkhtmltopdf_set_phase_changed_callback(wkhtmltopdf_converter *converter,
                                                  wkhtmltopdf_void_callback cb);
CAPI(void) wkhtmltopdf_set_progress_changed_callback(wkhtmltopdf_converter *converter,
                                                     wkhtmltopdf_int_callback cb);
CAPI(void) wkhtmltopdf_set_finished_callback(wkhtmltopdf_converter *converter,
                                             wkhtmltopdf_int_callback cb);

/* Runs the conversion; 1 only when a PDF was really written. */
CAPI(int) wkhtmltopdf_convert(wkhtmltopdf_converter *converter);
/* Adds a page. With `data` null the page is read from the "page" setting;
 * otherwise `data` is the page's HTML text. */
CAPI(void) wkhtmltopdf_add_object(wkhtmltopdf_converter *converter,
                                  wkhtmltopdf_object_settings *setting, const char *data);

CAPI(int) wkhtmltopdf_current_phase(wkhtmltopdf_converter *converter);
CAPI(int) wkhtmltopdf_phase_count(wkhtmltopdf_converter *converter);
/* A text owned by the converter, valid until it is destroyed; "" for a phase
 * out of range. */
CAPI(const char *) wkhtmltopdf_phase_description(wkhtmltopdf_converter *converter, int phase);
CAPI(const char *) wkhtmltopdf_progress_string(wkhtmltopdf_converter *converter);
/* The HTTP error code the page load ended with, 0 when there was none. */
CAPI(int) wkhtmltopdf_http_error_code(wkhtmltopdf_converter *converter);
/* With "out" empty, the PDF is kept in memory: points `data` at it (owned by
 * the converter) and returns its length. */
CAPI(long) wkhtmltopdf_get_output(wkhtmltopdf_converter *converter, const unsigned char **data);

#ifdef __cplusplus
}
#endif

#endif
