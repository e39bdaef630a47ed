// The machine-wide (per-user) registry of RAS connections, shared by every
// process that loads the simulated RAS service, so that a connection dialled
// by one process is listed, inspected and hung up from another, as on Windows.
//
// It lives in the state folder (QUOR_RAS_STATE_DIR, else the per-user
// default), opened as a private folder (platform::PrivateDir: ours, 0700,
// no links followed): one small file per connection ("conn-<handle in hex>"), the handle
// counter ("handles"), the latest call of each entry ("entry-<hash>", a
// handle) and the per-entry attempt counters ("attempt-<hash>"), so that a
// dial reads a few small files however many connections there are. Every
// change is made under the folder's lock file ("registry.lock"). Files are
// created by a new file and a rename, and then, as each keeps its length
// (numbers of fixed width, records padded to 512 bytes), overwritten in
// place: a connection's record ends with a check of its text, so that a
// reader without the lock that meets a rewrite half done reads it again
// under the lock; the counters and the latest-call files are read under the
// lock only. The record of a call that ended is kept as a spare
// ("spare-<n>", counted by "spares", at most 16,384) and renamed into place
// for the next call, so that a dial in a folder in use creates no file (but
// a process's first, its owner mark). A
// record whose owner process is gone is stale: it is skipped and retired by
// whoever meets it. An owner is known by its mark ("owner-<tag>", a lock
// file it holds while it lives; see platform::HoldOwnerMark), never by its
// process id, which means nothing in another process-id namespace and is
// handed on once the owner is gone.
#pragma once

#include <string>
#include <vector>

#include "Ras2/RasContract.h"
#include "RasSim/common/Handles.h"

namespace rassim::registry {

struct ConnRecord {
  THRasConn handle = 0;
  std::string entry;
  std::string phonebook;
  std::string deviceType, deviceName;
  TRasConnState state = RASCS_OpenPort;
  DWORD error = 0;
  uint32_t ownerPid = 0;  // in the owner's process-id namespace: for people to read
  // The owner's mark (platform::OwnerTag): the record is live while the owner
  // holds it. Empty in records of older versions, whose owner is told by its
  // process id alone.
  std::string owner;
  bool hungUp = false;  // hung up (by any process); the owner ends the call on seeing it
  std::string ipAddress, serverIpAddress;
  std::string line;  // the backend's figures of the line, of a length fixed for the call
  // A line lost for a reason (MarkLost): the reason, and when (wall-clock
  // seconds). Such a record is no connection any more (not listed), but it
  // outlives its owner's hang-up and its owner for kLostReasonKeptSeconds, so that
  // another process asking about the handle hears why the line went.
  DWORD lostReason = 0;
  uint64_t lostAt = 0;
};

// A new handle, unique on this machine for this user; 0 when the state
// folder is refused or the handle counter cannot be written.
THRasConn AllocateHandle();

// Writes the owner's view of a connection. A hang-up already recorded by
// another process is kept: the result is then true and `rec.hungUp` is set.
// When the record cannot be written, `*error` (if given) says so. A new
// call's record is refused with ERROR_DIAL_ALREADY_IN_PROGRESS, under the
// same lock as the write, when its entry's latest call is live and has not
// failed: of two dials started together, one makes the call.
bool Publish(ConnRecord& rec, DWORD* error = nullptr);
// Reads a record; false when there is none, or its owner is gone (then it is removed).
bool Read(THRasConn handle, ConnRecord& rec);
void Remove(THRasConn handle);
// Every live record, by ascending handle (dialling order); 0, or an error
// when the state folder is refused or cannot be opened.
DWORD List(std::vector<ConnRecord>& out);
std::vector<ConnRecord> List();
// Records a hang-up asked for by a process other than the owner (or, of a
// lost line, by its owner). False when there is no such connection.
bool MarkHungUp(THRasConn handle);
// The line of `handle` is lost for `reason` (a RAS error): the record says
// so and is kept, unlisted, for kLostReasonKeptSeconds.
void MarkLost(THRasConn handle, DWORD reason);
// What a call about the handle of a lost line's record answers: its loss
// reason, but ERROR_INVALID_HANDLE in an owner that has hung it up (there
// the handle is gone); 0 for the record of a line that was not lost.
DWORD LossAnswer(const ConnRecord& rec);

// The latest call of an entry of a phonebook (any process), looked up
// without listing the folder: false when there is none that is live. The
// phonebook is named canonically (platform::CanonicalPath), as in records; a
// record without one (older versions) is of the default phonebook.
bool LatestOfEntry(const std::string& phonebook, bool isDefault, const std::string& entry, ConnRecord& rec);

// Attempt counters: the number of the attempt now being made (1, 2, ...);
// 0 when the state folder is refused or the counter cannot be written.
uint64_t NextAttempt(const std::string& key);
void ResetAttempts();

}  // namespace rassim::registry
