// What the publish manager hands on to the parts of the server around it: the
// publish queue (the publish task), the P2P core's share list and the FTP
// share list. Each is set once at start-up; an unset one does nothing.
#pragma once
#include <cstdint>
#include <string>

#include "server/control/p2p_api.h"
#include "server/publish/codec/publish_records.h"

class IPublishQueue {
 public:
  virtual ~IPublishQueue() = default;
  // Queues one publishable file in state 6 (waiting), unless it is queued already.
  virtual void AddTask(const CPublishDir& dir, const std::wstring& path) = 0;
  // Marks the queued file with this id (32 upper-case hex digits) cancelled.
  virtual void CancelTask(const std::string& idHex) = 0;
  // A copy of the queued record for this id; false when none is queued.
  virtual bool FindTask(const std::string& idHex, CPublishItem* item) = 0;
  // Stops the publish (and report) threads at shutdown.
  virtual void Stop() = 0;
};

class IShareCore {
 public:
  virtual ~IShareCore() = default;
  virtual bool IsLoggedIn() = 0;
  // p2p_add_share: a P2P_SHARE_* result.
  virtual int AddShare(const wchar_t* path, uint64_t size, const uint8_t fid[16]) = 0;
  // p2p_delete_share_byfid.
  virtual void DeleteShare(const uint8_t fid[16]) = 0;
};

class IFtpShares {
 public:
  virtual ~IFtpShares() = default;
  virtual void AddShare(const std::wstring& dir) = 0;
  virtual void RemoveShare(const std::wstring& dir) = 0;
};
