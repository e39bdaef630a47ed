// The machine-wide watch: every active connection NetworkManager adds or
// removes, whichever process asked for it (nmcli's included), is reported to
// the edge, which signals the events RasConnectionNotification registered for
// every connection. This process's own calls report themselves as they
// connect and end (NmDialState.cpp); they are not reported twice here.
#include "RasSim/backends/networkmanager/NmInternal.h"

namespace rasnm::detail {

namespace {

// The handle of an active connection that is not one of this process's calls, or 0.
THRasConn ForeignHandle(NMActiveConnection* ac) {
  const char* path = nm_object_get_path(NM_OBJECT(ac));
  THRasConn h = path ? HandleOfActivePath(path) : 0;
  return h && !FindCall(h) ? h : 0;
}

void OnAdded(NMClient*, NMActiveConnection* ac, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  if (THRasConn h = ForeignHandle(ac); h && B().edge.ConnectionMade) B().edge.ConnectionMade(h);
}

void OnRemoved(NMClient*, NMActiveConnection* ac, gpointer) {
  std::lock_guard<std::mutex> held(B().m);
  if (THRasConn h = ForeignHandle(ac); h && B().edge.ConnectionEnded) B().edge.ConnectionEnded(h);
}

}  // namespace

void ConnectWatchSignals(NMClient* c) {
  g_signal_connect(c, NM_CLIENT_ACTIVE_CONNECTION_ADDED, G_CALLBACK(OnAdded), nullptr);
  g_signal_connect(c, NM_CLIENT_ACTIVE_CONNECTION_REMOVED, G_CALLBACK(OnRemoved), nullptr);
}

}  // namespace rasnm::detail
