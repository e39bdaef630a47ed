#include "RasSim/backends/sim/SimBackend.h"

#include <atomic>

namespace rassim {

namespace {

std::atomic<bool> g_closed{false};

BackendOps MakeOps() {
  BackendOps ops;
  ops.name = "sim";
  ops.description = "simulated RAS service: phonebook files, scenarios, dialling on Quor's clock";
  ops.Open = Open;
  ops.Close = CloseSim;
  ops.EnumEntries = EnumEntries;
  ops.ValidateEntryName = ValidateEntryName;
  ops.RenameEntry = RenameEntry;
  ops.DeleteEntry = DeleteEntry;
  ops.GetEntryProperties = GetEntryProperties;
  ops.SetEntryProperties = SetEntryProperties;
  ops.EnumDevices = EnumDevices;
  ops.Dial = Dial;
  ops.HangUp = HangUp;
  ops.GetConnectStatus = GetConnectStatus;
  ops.EnumConnections = EnumConnections;
  ops.GetProjection = GetProjection;
  ops.CreatePhonebookEntry = CreatePhonebookEntry;
  ops.EditPhonebookEntry = EditPhonebookEntry;
  ops.GetEntryDialParams = GetEntryDialParams;
  ops.SetEntryDialParams = SetEntryDialParams;
  static const BackendControl control{Reset, DropConnection, QueueFailure, SetStepDelay, ConnectionWindow, CloseSim};
  ops.control = &control;
  return ops;
}

}  // namespace

const BackendOps& SimBackendOps() {
  static const BackendOps ops = MakeOps();
  return ops;
}

void CloseSim() {
  if (g_closed.exchange(true)) return;
  Shutdown();
  FreeState();
}

}  // namespace rassim
