/* quor.h: the C interface of Quor (libquor.so.0 on Linux, quor.dll with its
 * import library quor.lib / libquor.dll.a on Windows).
 *
 * Source folder: CApi/ (this header, the library's sources, the committed
 * export list CApi/quor.exports). Installed as <quor.h>; CMake target
 * Quor::quor, pkg-config module quor-c.
 *
 * The header compiles as C99 and as C++; no C++ type crosses it. Every
 * function returns at once (hang-up excepted: it waits for RAS to finish the
 * hang-up, as the component does) and reports through its int result:
 * QUOR_OK (0), one of the interface's own negative QUOR_E_* codes, or a
 * positive RAS error number passed through unchanged (quor_error_text gives
 * RAS's text for it).
 *
 * Threads: a dialler belongs to the thread that created it. Every call on a
 * dialler from another thread fails with QUOR_E_WRONG_THREAD and changes
 * nothing. The loop functions serve the calling thread.
 *
 * Events: the callbacks set with quor_on_* run only inside quor_loop_dispatch
 * or quor_loop_run, on the dialler's thread. An event raised while no
 * dispatch runs (the "Dialing ..." notice of quor_connect, the
 * "Disconnecting..." notice of quor_hang_up) is kept, and the loop descriptor
 * becomes readable, until the next dispatch delivers it, in order. Inside a
 * callback every function may be called, including quor_dialer_free on the
 * dialler whose callback runs (the handle is dead from then on, the callback
 * may still use what it holds; no later event of that dialler is delivered);
 * only the loop functions refuse with QUOR_E_IN_CALLBACK.
 *
 * Texts: every text in and out is UTF-8. RAS works in the system's 8-bit code
 * page (UTF-8 on Linux, the ANSI code page on Windows): a text that is not
 * valid UTF-8 or that the code page cannot hold is refused with
 * QUOR_E_NOT_REPRESENTABLE, never changed; a text holding a zero byte
 * (through the _n setters) with QUOR_E_EMBEDDED_NUL; one longer than RAS's
 * field for it with QUOR_E_TOO_LONG. A refused setter leaves the old value.
 *
 * Texts out: the getters copy into the caller's buffer (size in bytes,
 * including the terminating zero). *length (when not null) receives the
 * text's length without the zero, also when the buffer is too small: then the
 * result is QUOR_E_BUFFER_TOO_SMALL and the buffer holds "" (when size > 0).
 *
 * Handles: a quor_dialer* is a handle, not a pointer to memory: a freed
 * dialler's handle (or any value that was never one) is detected and refused
 * with QUOR_E_INVALID_DIALER; a handle is never reused for another dialler
 * within the process.
 *
 * Compatibility promise: within one major version of this interface
 * (QUOR_API_VERSION_MAJOR, the number in the library's SONAME libquor.so.0 and
 * in quor.dll's export list) functions, callback types, constants and
 * structure members are only ever added: no function is removed or changes
 * its signature or meaning, no constant changes its value, and structures
 * only grow at their end (each starts with its size, which the caller sets,
 * so an older caller's smaller structure is still filled correctly). A
 * program built against an older header of the same major version runs with
 * a newer library. Anything else is a new major version with a new SONAME.
 */
#ifndef QUOR_H
#define QUOR_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(QUOR_C_BUILDING)
#define QUOR_C_API __declspec(dllexport)
#else
#define QUOR_C_API __declspec(dllimport)
#endif
#define QUOR_CALL __cdecl
#else
#define QUOR_C_API __attribute__((visibility("default")))
#define QUOR_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The interface's version: major (the SONAME's number) and minor (grows with
 * every addition). */
#define QUOR_API_VERSION_MAJOR 0
#define QUOR_API_VERSION_MINOR 1

/* ------------------------------------------------------------ errors */

enum {
  QUOR_OK = 0,
  QUOR_E_NULL_ARGUMENT = -1,     /* a required pointer is null */
  QUOR_E_INVALID_DIALER = -2,    /* freed, or never a dialler */
  QUOR_E_WRONG_THREAD = -3,      /* called from a thread other than the dialler's */
  QUOR_E_TOO_LONG = -4,          /* longer than RAS's field for it */
  QUOR_E_EMBEDDED_NUL = -5,      /* a text holding a zero byte */
  QUOR_E_NOT_REPRESENTABLE = -6, /* not UTF-8, or not in RAS's 8-bit code page */
  QUOR_E_IN_CALLBACK = -7,       /* a loop function called inside a callback */
  QUOR_E_BUFFER_TOO_SMALL = -8,  /* *length tells the size wanted */
  QUOR_E_OUT_OF_RANGE = -9,      /* a number outside the setting's range */
  QUOR_E_NO_MEMORY = -10,
  QUOR_E_NO_RAS = -11,          /* no RAS library could be loaded */
  QUOR_E_NO_ENTRY = -12,        /* the operation needs an entry name and none is set */
  QUOR_E_FAILED = -13,          /* RAS refused and gave no number */
  QUOR_E_UNKNOWN_SETTING = -14, /* a quor_text / quor_setting value this library does not know */
  QUOR_E_READ_ONLY = -15        /* a setting that can only be read */
};

/* The text of an error: RAS's own text for a positive number (while a
 * dialler exists, RAS is loaded; "RAS error N" when RAS has none), the
 * interface's for its own codes, "" for QUOR_OK. UTF-8, never null; valid
 * until the next quor_error_text call on the same thread; any thread. */
QUOR_C_API const char* QUOR_CALL quor_error_text(int error);

/* The library's version ("0.2.0"), static storage. */
QUOR_C_API const char* QUOR_CALL quor_version(void);
/* QUOR_API_VERSION_MAJOR * 1000 + QUOR_API_VERSION_MINOR of the library. */
QUOR_C_API int QUOR_CALL quor_api_version(void);

/* ------------------------------------------------------------ dialler */

typedef struct quor_dialer quor_dialer;

/* Creates a dialler (one TQuor component) on the calling thread, bound to the
 * RAS library. *out receives its handle (null on failure). QUOR_E_NO_RAS
 * when no RAS library could be loaded (the dialler is not created). */
QUOR_C_API int QUOR_CALL quor_dialer_new(quor_dialer** out);
/* Frees the dialler: a call it still holds is hung up (waiting for RAS, no
 * event delivered), its texts are wiped (the password's storage too) and its
 * kept events dropped. A null handle is QUOR_E_NULL_ARGUMENT, a freed one
 * QUOR_E_INVALID_DIALER. */
QUOR_C_API int QUOR_CALL quor_dialer_free(quor_dialer* dialer);

/* ------------------------------------------------------------ settings */

/* Text settings (the `which` of quor_set_text/quor_get_text), with RAS's limits (bytes in the 8-bit code page, without
 * the terminating zero). */
typedef enum quor_text {
  QUOR_TEXT_ENTRY = 1,           /* phonebook entry to dial, <= 256 */
  QUOR_TEXT_PHONE_NUMBER = 2,    /* "" = the entry's own number, <= 128 */
  QUOR_TEXT_CALLBACK_NUMBER = 3, /* <= 128 */
  QUOR_TEXT_USER = 4,            /* <= 256 */
  QUOR_TEXT_PASSWORD = 5,        /* <= 256; copied; wiped on overwrite and free */
  QUOR_TEXT_DOMAIN = 6,          /* <= 15 */
  QUOR_TEXT_DEVICE_NAME = 7,     /* read only: the device of the last status read */
  QUOR_TEXT_DEVICE_TYPE = 8      /* read only */
} quor_text;

QUOR_C_API int QUOR_CALL quor_set_text(quor_dialer* dialer, int which, const char* utf8);
/* The same with an explicit length (a zero byte inside is refused). */
QUOR_C_API int QUOR_CALL quor_set_text_n(quor_dialer* dialer, int which, const char* utf8, size_t length);
QUOR_C_API int QUOR_CALL quor_get_text(quor_dialer* dialer, int which, char* buffer, size_t size, size_t* length);

/* Number settings (the `which` of quor_set_int/quor_get_int). Booleans are 0/1 (any non-zero sets 1). */
typedef enum quor_setting {
  QUOR_SET_REDIAL_ATTEMPTS = 1,      /* 0..1000000, default 1 */
  QUOR_SET_REDIAL_PAUSE = 2,         /* seconds 0..60, default 10 (the component's default) */
  QUOR_SET_SYNCHRONOUS_DIAL = 3,     /* boolean */
  QUOR_SET_MINIMIZE_DIAL_WINDOW = 4, /* boolean */
  /* Opt-in policies (off by default: the classic behaviour). */
  QUOR_SET_REDIAL_BACKOFF_MAX = 5, /* seconds, 0 = no ceiling (factor: quor_set_redial_backoff) */
  QUOR_SET_DIAL_TIMEOUT = 6,       /* seconds 0..86400, 0 = no bound */
  QUOR_SET_RECONNECT = 7,          /* boolean: dial again after the line was lost */
  QUOR_SET_RECONNECT_HOLDOFF = 8,  /* seconds 0..86400 before a reconnect */
  QUOR_SET_RECONNECT_MAX_FAIL = 9, /* reconnects in a row that may fail, 0 = no limit, 0..1000000 */
  QUOR_SET_FAST_HANGUP = 10,       /* boolean: wait for RAS to forget the call, not a fixed 2000 ms */
  QUOR_SET_WATCH_EVENTS = 11,      /* boolean: RAS signals a lost line at once */
  /* Read only. */
  QUOR_SET_RECONNECT_PENDING = 12, /* a reconnect waits for its hold-off */
  QUOR_SET_ATTEMPT = 13            /* number of the current or last attempt (1 = first) */
} quor_setting;

QUOR_C_API int QUOR_CALL quor_set_int(quor_dialer* dialer, int which, int64_t value);
QUOR_C_API int QUOR_CALL quor_get_int(quor_dialer* dialer, int which, int64_t* value);
/* Back-off: the pause before redial n is pause x factor^(n-1) seconds, at
 * most max_seconds (0: none). factor 1..10, else QUOR_E_OUT_OF_RANGE. */
QUOR_C_API int QUOR_CALL quor_set_redial_backoff(quor_dialer* dialer, double factor, uint32_t max_seconds);
QUOR_C_API int QUOR_CALL quor_get_redial_backoff(quor_dialer* dialer, double* factor, uint32_t* max_seconds);

/* ------------------------------------------------------------ dial, hang-up, status */

/* Dials the entry (asynchronously unless QUOR_SET_SYNCHRONOUS_DIAL): the
 * progress arrives as events. *handle (may be null) receives RAS's
 * connection handle, 0 when the dial did not start (the reason arrives as a
 * notice and connect-fail). QUOR_E_NO_ENTRY when no entry is set.
 * Connection handles are 64 bits wide on every target: RAS's handles are
 * pointer-wide, and a 64-bit RAS gives them an upper half. */
QUOR_C_API int QUOR_CALL quor_connect(quor_dialer* dialer, uint64_t* handle);
/* Hangs up the current call and waits for RAS to finish the hang-up; the
 * result is RAS's (0 when there was no call). */
QUOR_C_API int QUOR_CALL quor_hang_up(quor_dialer* dialer);

/* Status of the dialler's call. Set size = sizeof(quor_status) first. */
typedef struct quor_status {
  uint32_t size;
  uint32_t state;        /* RAS connection state (RASCS_*: 8192 connected, 8193 disconnected) */
  int32_t error;         /* RAS's error for the call, 0 = none */
  int32_t connected;     /* 1 while the call is up */
  uint64_t connected_ms; /* milliseconds since it came up, 0 when not */
  char state_text[512];  /* the component's text for state and error (UTF-8) */
  char ip_address[16];   /* dotted IPv4 address, "" when none */
} quor_status;

/* Reads the call's status from RAS (the component's GetConnectStatus). With
 * no call the status reads state 0, no error, not connected. */
QUOR_C_API int QUOR_CALL quor_get_status(quor_dialer* dialer, quor_status* status);

/* ------------------------------------------------------------ connections and phonebook */

/* Called once per item, synchronously inside the enumerating call; return 0
 * to go on, non-zero to stop (the enumeration then returns QUOR_OK). */
typedef int(QUOR_CALL* quor_connection_fn)(void* user, const char* entry_utf8, uint64_t handle);
typedef int(QUOR_CALL* quor_entry_fn)(void* user, const char* entry_utf8);

/* The machine's active connections (all of them, not only this dialler's). */
QUOR_C_API int QUOR_CALL quor_enum_connections(quor_dialer* dialer, quor_connection_fn fn, void* user);
/* The default phonebook's entries. */
QUOR_C_API int QUOR_CALL quor_enum_entries(quor_dialer* dialer, quor_entry_fn fn, void* user);
/* The handle of the active connection of an entry (names compared without
 * case); *handle 0 when it has none. */
QUOR_C_API int QUOR_CALL quor_connection_handle(quor_dialer* dialer, const char* entry_utf8, uint64_t* handle);

QUOR_C_API int QUOR_CALL quor_rename_entry(quor_dialer* dialer, const char* old_utf8, const char* new_utf8);
QUOR_C_API int QUOR_CALL quor_delete_entry(quor_dialer* dialer, const char* entry_utf8);
/* Reads the entry's stored dial parameters into the dialler's user,
 * password, phone number, domain and callback number (entry_utf8 null or "":
 * the dialler's entry; otherwise it becomes the dialler's entry). */
QUOR_C_API int QUOR_CALL quor_load_dial_params(quor_dialer* dialer, const char* entry_utf8);
/* Stores the dialler's user, password, phone number, domain and callback
 * number as its entry's dial parameters. */
QUOR_C_API int QUOR_CALL quor_save_dial_params(quor_dialer* dialer);

/* ------------------------------------------------------------ events */

/* notify, disconnect and connect-fail: the RAS error (or 0) and a text. */
typedef void(QUOR_CALL* quor_text_event_fn)(void* user, quor_dialer* dialer, int32_t error, const char* text_utf8);
typedef void(QUOR_CALL* quor_event_fn)(void* user, quor_dialer* dialer);
/* state change: state and error exactly as RAS gave them. */
typedef void(QUOR_CALL* quor_state_event_fn)(void* user, quor_dialer* dialer, uint32_t state, uint32_t error);

/* Setting a callback replaces the previous one; fn null removes it. */
QUOR_C_API int QUOR_CALL quor_on_notify(quor_dialer* dialer, quor_text_event_fn fn, void* user);
QUOR_C_API int QUOR_CALL quor_on_connect(quor_dialer* dialer, quor_event_fn fn, void* user);
QUOR_C_API int QUOR_CALL quor_on_disconnect(quor_dialer* dialer, quor_text_event_fn fn, void* user);
QUOR_C_API int QUOR_CALL quor_on_connect_fail(quor_dialer* dialer, quor_text_event_fn fn, void* user);
QUOR_C_API int QUOR_CALL quor_on_state_change(quor_dialer* dialer, quor_state_event_fn fn, void* user);

/* ------------------------------------------------------------ message loop (the calling thread's) */

/* Linux: a descriptor that becomes readable when Quor has work for this
 * thread (poll/epoll/GLib/asyncio add_reader on it, then call
 * quor_loop_dispatch). Owned by the library; the same for every call on the
 * thread; -1 where there is none (Windows). */
QUOR_C_API int QUOR_CALL quor_loop_fd(void);
/* Windows: a waitable handle (HANDLE) signalled when Quor has work beside the
 * thread's messages: wait on it with MsgWaitForMultipleObjects(...,
 * QS_ALLINPUT), then call quor_loop_dispatch. Owned by the library; null
 * where there is none (Linux). */
QUOR_C_API void* QUOR_CALL quor_loop_handle(void);
/* Runs everything that is due now (events, timers, RAS's messages) and
 * returns without waiting. QUOR_E_IN_CALLBACK inside a callback. */
QUOR_C_API int QUOR_CALL quor_loop_dispatch(void);
/* Runs the loop for timeout_ms of clock time (waiting between the work),
 * then returns. QUOR_E_IN_CALLBACK inside a callback. */
QUOR_C_API int QUOR_CALL quor_loop_run(uint32_t timeout_ms);
/* Milliseconds until the next timer the loop has armed is due (0: work is
 * due now), or -1 when none is armed: a program's own loop may use it as its
 * wait's timeout instead of the descriptor. */
QUOR_C_API int64_t QUOR_CALL quor_loop_timeout(void);

/* Tests and deterministic demos: on (non-zero) switches the process's clock
 * to virtual time, where it stands still and quor_loop_run(ms) moves it on by
 * ms at once, without waiting; off returns to the real clock. */
QUOR_C_API int QUOR_CALL quor_clock_virtual(int on);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif /* QUOR_H */
