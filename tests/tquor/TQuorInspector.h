// Test access to TQuor's private state and operations.
#pragma once

#include "TQuorComponent/TQuorComponent.h"

class TQuorInspector {
 public:
  static TTimer* LookForWindow(TQuor& Q) { return Q.tmrLookForWindow; }
  static TTimer* Redial(TQuor& Q) { return Q.tmrRedial; }
  static TTimer* CheckStatus(TQuor& Q) { return Q.tmrCheckStatus; }
  static TTimer* DialTimeout(TQuor& Q) { return Q.tmrDialTimeout; }
  static TTimer* Reconnect(TQuor& Q) { return Q.tmrReconnect; }
  static THRasConn& hRas(TQuor& Q) { return Q.hRas; }
  static TRasDialParams& DialParams(TQuor& Q) { return Q.dialparams; }
  static Word& RASEvent(TQuor& Q) { return Q.RASEvent; }
  static Integer& RedialCount(TQuor& Q) { return Q.RedialCount; }
  static Word& ConnectState(TQuor& Q) { return Q.ConnectState; }
  static const String& fDeviceType(TQuor& Q) { return Q.fDeviceType; }
  static const String& fDeviceName(TQuor& Q) { return Q.fDeviceName; }
  static const String& fPhoneBookPath(TQuor& Q) { return Q.fPhoneBookPath; }
  static Byte fRedialPause(TQuor& Q) { return Q.fRedialPause; }

  static String StatusString(TQuor& Q, Integer State, Integer Error) { return Q.StatusString(State, Error); }
  static Integer DoConnect(TQuor& Q) { return Q.DoConnect(); }
  static void ConnectFail(TQuor& Q, Integer Err, const String& Text) { Q.ConnectFail(Err, Text); }
  static void NotifyConnect(TQuor& Q) { Q.NotifyConnect(); }
  static void FireCheckStatus(TQuor& Q) { Q.tmrCheckStatusTimer(nullptr); }
  static void FireLookForWindow(TQuor& Q) { Q.tmrLookForWindowTimer(nullptr); }
  static void FireRedial(TQuor& Q) { Q.tmrRedialTimer(nullptr); }
};
