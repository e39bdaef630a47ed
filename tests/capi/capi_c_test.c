/* A plain C99 program that drives the simulated RAS service through libquor:
 * every event of a dial that connects, of a line that is lost and of a dial
 * that fails, plus the interface's refusals. Virtual time: quor_loop_run
 * moves the clock on without waiting. Argument: a folder of its own. */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L
#endif
#include <quor.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
static void set_env(const char* name, const char* value) {
  _putenv_s(name, value);
}
#else
#include <poll.h>
static void set_env(const char* name, const char* value) {
  setenv(name, value, 1);
}
#endif

static int failures = 0;
#define CHECK(cond)                                                     \
  do {                                                                  \
    if (!(cond)) {                                                      \
      fprintf(stderr, "%s:%d: CHECK(%s)\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                       \
    }                                                                   \
  } while (0)

/* What the callbacks saw, in order: one letter per event. */
typedef struct record {
  char order[256];
  size_t n;
  int connects, fails, disconnects, states, notifies;
  int32_t last_error;
  char first_notice[128];
  char last_notice[128];
  char disconnect_text[128];
  char fail_text[128];
  int free_in_connect;
} record;

static void add(record* r, char kind) {
  if (r->n + 1 < sizeof(r->order)) r->order[r->n++] = kind;
  r->order[r->n] = '\0';
}

static void copy_text(char* to, size_t size, const char* text) {
  strncpy(to, text, size - 1);
  to[size - 1] = '\0';
}

static void on_notify(void* user, quor_dialer* d, int32_t error, const char* text) {
  record* r = (record*)user;
  (void)d;
  add(r, 'N');
  if (r->notifies++ == 0) copy_text(r->first_notice, sizeof(r->first_notice), text);
  copy_text(r->last_notice, sizeof(r->last_notice), text);
  r->last_error = error;
}

static void on_connect(void* user, quor_dialer* d) {
  record* r = (record*)user;
  add(r, 'C');
  ++r->connects;
  if (r->free_in_connect) CHECK(quor_dialer_free(d) == QUOR_OK);
}

static void on_disconnect(void* user, quor_dialer* d, int32_t error, const char* text) {
  record* r = (record*)user;
  (void)d;
  (void)error;
  add(r, 'D');
  ++r->disconnects;
  copy_text(r->disconnect_text, sizeof(r->disconnect_text), text);
}

static void on_fail(void* user, quor_dialer* d, int32_t error, const char* text) {
  record* r = (record*)user;
  (void)d;
  add(r, 'F');
  ++r->fails;
  r->last_error = error;
  copy_text(r->fail_text, sizeof(r->fail_text), text);
}

static void on_state(void* user, quor_dialer* d, uint32_t state, uint32_t error) {
  record* r = (record*)user;
  (void)d;
  (void)state;
  (void)error;
  add(r, 'S');
  ++r->states;
}

static quor_dialer* new_dialer(const char* entry, record* r) {
  quor_dialer* d = NULL;
  CHECK(quor_dialer_new(&d) == QUOR_OK);
  if (d == NULL) exit(1);
  memset(r, 0, sizeof(*r));
  CHECK(quor_set_text(d, QUOR_TEXT_ENTRY, entry) == QUOR_OK);
  CHECK(quor_on_notify(d, on_notify, r) == QUOR_OK);
  CHECK(quor_on_connect(d, on_connect, r) == QUOR_OK);
  CHECK(quor_on_disconnect(d, on_disconnect, r) == QUOR_OK);
  CHECK(quor_on_connect_fail(d, on_fail, r) == QUOR_OK);
  CHECK(quor_on_state_change(d, on_state, r) == QUOR_OK);
  return d;
}

/* Runs the loop in steps of 100 ms until *counter is set (at most ms). */
static int run_until(const int* counter, uint32_t ms) {
  uint32_t t;
  for (t = 0; t < ms && *counter == 0; t += 100) CHECK(quor_loop_run(100) == QUOR_OK);
  return *counter != 0;
}

static int count_entry(void* user, const char* entry) {
  (void)entry;
  ++*(int*)user;
  return 0;
}

static int find_office(void* user, const char* entry, uint64_t handle) {
  if (strcmp(entry, "Office") == 0 && handle != 0) *(int*)user = 1;
  return 0;
}

static void dial_connect_and_hang_up(void) {
  record r;
  quor_dialer* d = new_dialer("Office", &r);
  quor_status s;
  uint64_t handle = 0;
  int entries = 0, listed = 0;
  CHECK(quor_connect(d, &handle) == QUOR_OK);
  CHECK(handle != 0);
  CHECK(r.notifies == 0); /* kept for the dispatch */
#if !defined(_WIN32)
  {
    struct pollfd p;
    p.fd = quor_loop_fd();
    p.events = POLLIN;
    CHECK(p.fd >= 0);
    CHECK(poll(&p, 1, 0) == 1); /* the kept notice makes the loop readable */
  }
#endif
  CHECK(quor_loop_dispatch() == QUOR_OK);
  CHECK(strcmp(r.first_notice, "Dialing Office...") == 0);
  CHECK(run_until(&r.connects, 30000));
  CHECK(strchr(r.order, 'S') != NULL);
  CHECK(strstr(r.order, "CN") != NULL); /* connect, then the "Connected" notice */
  CHECK(strcmp(r.last_notice, "Connected") == 0);
  memset(&s, 0, sizeof(s));
  s.size = sizeof(s);
  CHECK(quor_get_status(d, &s) == QUOR_OK);
  CHECK(s.connected == 1 && s.state == 8192u && s.error == 0);
  CHECK(strcmp(s.state_text, "Connected") == 0);
  CHECK(quor_enum_entries(d, count_entry, &entries) == QUOR_OK && entries == 4);
  CHECK(quor_enum_connections(d, find_office, &listed) == QUOR_OK && listed == 1);
  CHECK(quor_hang_up(d) == 0);
  CHECK(quor_loop_dispatch() == QUOR_OK);
  CHECK(strcmp(r.last_notice, "Disconnecting...") == 0);
  CHECK(r.fails == 0);
  CHECK(quor_dialer_free(d) == QUOR_OK);
}

static void lost_line_is_a_disconnect(void) {
  record r;
  quor_dialer* d = new_dialer("Drop", &r);
  CHECK(quor_connect(d, NULL) == QUOR_OK);
  CHECK(run_until(&r.connects, 30000));
  CHECK(run_until(&r.disconnects, 30000));
  CHECK(strcmp(r.disconnect_text, "Connection to server lost.") == 0);
  CHECK(quor_dialer_free(d) == QUOR_OK);
}

static void failing_dial_reports_connect_fail(void) {
  record r;
  quor_dialer* d = new_dialer("Busy", &r);
  CHECK(quor_set_int(d, QUOR_SET_REDIAL_ATTEMPTS, 0) == QUOR_OK);
  CHECK(quor_connect(d, NULL) == QUOR_OK);
  CHECK(run_until(&r.fails, 30000));
  CHECK(r.connects == 0);
  CHECK(r.last_error == 676);
  CHECK(strstr(r.fail_text, quor_error_text(676)) != NULL); /* RAS's own text for 676 */
  CHECK(quor_dialer_free(d) == QUOR_OK);
}

static void refusals(void) {
  record r;
  quor_dialer* d = new_dialer("Office", &r);
  char text[8];
  size_t length = 0;
  char long_text[300];
  memset(long_text, 'x', sizeof(long_text) - 1);
  long_text[sizeof(long_text) - 1] = '\0';
  CHECK(quor_set_text(NULL, QUOR_TEXT_USER, "joe") == QUOR_E_NULL_ARGUMENT);
  CHECK(quor_set_text(d, QUOR_TEXT_USER, long_text) == QUOR_E_TOO_LONG);
  CHECK(quor_set_text_n(d, QUOR_TEXT_USER, "jo\0e", 4) == QUOR_E_EMBEDDED_NUL);
  CHECK(quor_set_text(d, QUOR_TEXT_USER, "jo\xC3") == QUOR_E_NOT_REPRESENTABLE);
  CHECK(quor_get_text(d, QUOR_TEXT_ENTRY, text, 4, &length) == QUOR_E_BUFFER_TOO_SMALL && length == 6);
  CHECK(quor_get_text(d, QUOR_TEXT_ENTRY, text, sizeof(text), &length) == QUOR_OK && strcmp(text, "Office") == 0);
  CHECK(quor_set_int(d, QUOR_SET_REDIAL_PAUSE, 61) == QUOR_E_OUT_OF_RANGE);
  CHECK(strlen(quor_error_text(QUOR_E_WRONG_THREAD)) > 0);
  /* Freed from inside its own connect callback: no later event, a dead handle. */
  r.free_in_connect = 1;
  CHECK(quor_connect(d, NULL) == QUOR_OK);
  CHECK(run_until(&r.connects, 30000));
  CHECK(quor_loop_run(5000) == QUOR_OK);
  CHECK(strcmp(r.order + r.n - 1, "C") == 0);
  CHECK(quor_dialer_free(d) == QUOR_E_INVALID_DIALER);
  CHECK(quor_set_text(d, QUOR_TEXT_USER, "joe") == QUOR_E_INVALID_DIALER);
}

int main(int argc, char** argv) {
  char path[1024];
  FILE* f;
  if (argc < 2) {
    fprintf(stderr, "usage: capi_c_test <folder>\n");
    return 2;
  }
  snprintf(path, sizeof(path), "%s/rasphone.pbk", argv[1]);
  f = fopen(path, "w");
  if (f == NULL) return 2;
  fputs(
      "[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n"
      "[Drop]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0101\nQuorDropAfter=5\n"
      "[Busy]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0102\nQuorOutcome=busy\n"
      "[Home]\nDEVICE=isdn\nDevice=Sim ISDN\nPhoneNumber=555-0200\n",
      f);
  fclose(f);
  set_env("QUOR_RAS_PHONEBOOK", path);
  snprintf(path, sizeof(path), "%s/credentials.dat", argv[1]);
  set_env("QUOR_RAS_CREDENTIALS", path);
  snprintf(path, sizeof(path), "%s/state", argv[1]);
  set_env("QUOR_RAS_STATE_DIR", path);

  CHECK(quor_api_version() == QUOR_API_VERSION_MAJOR * 1000 + QUOR_API_VERSION_MINOR);
  CHECK(quor_clock_virtual(1) == QUOR_OK);
  dial_connect_and_hang_up();
  lost_line_is_a_disconnect();
  failing_dial_reports_connect_fail();
  refusals();
  printf("capi_c_test (%s): %d failure(s)\n", quor_version(), failures);
  return failures == 0 ? 0 : 1;
}
