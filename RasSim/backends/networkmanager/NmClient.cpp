// libnm on a thread of its own: the thread runs a GLib main context that owns
// the NMClient and every libnm object; callers hand it work and wait, with a
// bound, for the answer. The thread starts with the first operation; the
// client is made then, and again by a later operation when NetworkManager was
// not there (it may start after the dialler).
#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm::detail {

Backend& B() {
  static Backend* b = new Backend();
  return *b;
}

namespace {

void RunJob(std::function<void()>* job) {
  (*job)();
}

gboolean JobTrampoline(gpointer data) {
  RunJob(static_cast<std::function<void()>*>(data));
  return G_SOURCE_REMOVE;
}

void JobFree(gpointer data) {
  delete static_cast<std::function<void()>*>(data);
}

// The client being made is ready, or could not be made (NetworkManager's bus is
// not there, or the start was cancelled): the next call makes another.
void ClientReady(GObject*, GAsyncResult* res, gpointer) {
  GError* err = nullptr;
  NMClient* c = nm_client_new_finish(res, &err);
  g_clear_error(&err);
  Backend& b = B();
  std::lock_guard<std::mutex> held(b.m);
  b.starting = false;
  g_clear_object(&b.startCancel);
  if (b.stopping) {
    if (c) g_object_unref(c);
    g_main_loop_quit(b.loop);
  } else if (c) {
    b.client = c;
    b.running = nm_client_get_nm_running(c);
    ConnectClientSignals(c);
  }
  b.startChanged.notify_all();
}

void MakeClient() {
  Backend& b = B();
  {
    std::lock_guard<std::mutex> held(b.m);
    b.startCancel = g_cancellable_new();
  }
  // Without asking NetworkManager for the caller's permissions, which nothing
  // here reads (and which cost a round trip through polkit at every start).
  g_async_initable_new_async(NM_TYPE_CLIENT, G_PRIORITY_DEFAULT, b.startCancel, ClientReady, nullptr,
                             NM_CLIENT_INSTANCE_FLAGS,
                             static_cast<guint>(NM_CLIENT_INSTANCE_FLAGS_NO_AUTO_FETCH_PERMISSIONS), nullptr);
}

void Untrack(gpointer, GObject* gone) {
  B().held.erase(gone);
}

}  // namespace

void Post(std::function<void()> job) {
  g_main_context_invoke_full(B().ctx, G_PRIORITY_DEFAULT, JobTrampoline, new std::function<void()>(std::move(job)),
                             JobFree);
}

void After(guint ms, std::function<void()> job) {
  GSource* t = g_timeout_source_new(ms);
  g_source_set_callback(t, JobTrampoline, new std::function<void()>(std::move(job)), JobFree);
  g_source_attach(t, B().ctx);
  g_source_unref(t);
}

DWORD Start() {
  Backend& b = B();
  std::unique_lock<std::mutex> held(b.m);
  if (!b.threadUp) {
    b.threadUp = true;
    b.stopping = false;
    b.ctx = g_main_context_new();
    b.loop = g_main_loop_new(b.ctx, FALSE);
    b.thread = std::thread([] {
      Backend& bb = B();
      g_main_context_push_thread_default(bb.ctx);
      g_main_loop_run(bb.loop);
      g_main_context_pop_thread_default(bb.ctx);
    });
    b.loopId = b.thread.get_id();
  }
  if (b.client) return b.running ? 0 : ERROR_RASMAN_CANNOT_INITIALIZE;
  // No client yet (NetworkManager's bus was not there, or answered late): make one,
  // or wait for the one being made. A start that overruns fails this call only.
  if (!b.starting) {
    b.starting = true;
    Post(MakeClient);
  }
  if (std::this_thread::get_id() == b.loopId) return ERROR_RASMAN_CANNOT_INITIALIZE;
  b.startChanged.wait_for(held, std::chrono::milliseconds(kStartMs), [&] { return !b.starting; });
  if (b.client) return b.running ? 0 : ERROR_RASMAN_CANNOT_INITIALIZE;
  return ERROR_RASMAN_CANNOT_INITIALIZE;
}

DWORD Request(std::function<void(std::shared_ptr<Waiter>)> job, int ms) {
  if (DWORD e = Start()) return e;
  auto w = std::make_shared<Waiter>();
  // On the loop thread itself (a job asking again) the job runs in place: waiting would deadlock.
  if (std::this_thread::get_id() == B().loopId) {
    job(w);
    return w->done ? w->result : ERROR_REQUEST_TIMEOUT;
  }
  Post([job, w] { job(w); });
  return w->Wait(ms);
}

void Track(gpointer object) {
  if (B().held.insert(G_OBJECT(object)).second) g_object_weak_ref(G_OBJECT(object), Untrack, nullptr);
}

// The RAS error of a failed request: refused (access), unknown profile, settings refused
// (a bad parameter), no device, no secrets (authentication), timeouts, no service.
DWORD ErrorOf(const GError* err) {
  if (!err) return 0;
  if (g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_PERMISSION_DENIED) ||
      g_error_matches(err, NM_SETTINGS_ERROR, NM_SETTINGS_ERROR_PERMISSION_DENIED) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED) ||
      g_error_matches(err, G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED))
    return ERROR_ACCESS_DENIED;
  if (g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_UNKNOWN_CONNECTION))
    return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
  // Settings NetworkManager will not take (a property missing or out of range, a profile
  // that does not verify): the caller's parameters, not a missing entry.
  if (err->domain == NM_CONNECTION_ERROR ||
      g_error_matches(err, NM_SETTINGS_ERROR, NM_SETTINGS_ERROR_INVALID_CONNECTION) ||
      g_error_matches(err, NM_SETTINGS_ERROR, NM_SETTINGS_ERROR_INVALID_ARGUMENTS) ||
      g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_INVALID_ARGUMENTS))
    return ERROR_INVALID_PARAMETER;
  if (g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_UNKNOWN_DEVICE) ||
      g_error_matches(err, NM_MANAGER_ERROR, NM_MANAGER_ERROR_CONNECTION_NOT_AVAILABLE))
    return ERROR_DEVICE_DOES_NOT_EXIST;
  if (g_error_matches(err, NM_AGENT_MANAGER_ERROR, NM_AGENT_MANAGER_ERROR_NO_SECRETS) ||
      g_error_matches(err, NM_SECRET_AGENT_ERROR, NM_SECRET_AGENT_ERROR_NO_SECRETS))
    return ERROR_AUTHENTICATION_FAILURE;
  if (g_error_matches(err, G_IO_ERROR, G_IO_ERROR_TIMED_OUT) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY))
    return ERROR_REQUEST_TIMEOUT;
  if (g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
      g_error_matches(err, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
    return ERROR_RASMAN_CANNOT_INITIALIZE;
  return ERROR_UNKNOWN;
}

}  // namespace rasnm::detail

namespace rasnm {

using namespace detail;

DWORD Inspect(Holdings& out) {
  auto result = std::make_shared<Holdings>();
  DWORD r = Request([result](std::shared_ptr<Waiter> w) {
    std::lock_guard<std::mutex> held(B().m);
    std::set<Call*> distinct;
    for (auto& [h, c] : B().calls) distinct.insert(c.get());
    result->calls = distinct.size();
    result->handles = B().calls.size();
    result->liveCalls = LiveCalls();
    result->objects = B().held.size();
    for (GObject* o : B().held) {
      result->refs += o->ref_count;
      result->hookups += static_cast<size_t>(HookupsOn(o));
    }
    w->Finish(0);
  });
  if (r == 0) out = *result;
  return r;
}

}  // namespace rasnm

namespace rasnm::detail {

void Shutdown() {
  Backend& b = B();
  {
    std::lock_guard<std::mutex> held(b.m);
    if (!b.threadUp) return;
  }
  auto w = std::make_shared<Waiter>();
  Post([w] {
    Backend& bb = B();
    std::lock_guard<std::mutex> held(bb.m);
    ReleaseAllCallsLocked();
    if (bb.client) g_object_unref(bb.client);
    bb.client = nullptr;
    bb.running = false;
    if (bb.starting) {
      // The loop ends once the client being made has answered its cancellation.
      bb.stopping = true;
      g_cancellable_cancel(bb.startCancel);
    } else {
      g_main_loop_quit(bb.loop);
    }
    w->Finish(0);
  });
  w->Wait(kRequestMs);
  if (b.thread.joinable()) b.thread.join();
  g_main_loop_unref(b.loop);
  g_main_context_unref(b.ctx);
  std::lock_guard<std::mutex> held(b.m);
  b.loop = nullptr;
  b.ctx = nullptr;
  b.threadUp = false;
  b.stopping = false;
}

}  // namespace rasnm::detail
