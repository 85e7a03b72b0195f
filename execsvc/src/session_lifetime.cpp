#include "session_lifetime.h"

#include <cstring>
#include <new>

#include "device_session.h"
#include "port_device_name.h"
#include "sequor_errors.h"

namespace q7m {

namespace {

// The last error SEQUOR_Open reports when the port driver cannot open.
void ReportOpenFailure(uint32_t code) {
  switch (code) {
    case PDLNK_DEVICE_NOT_FOUND:
      Q7M_SetLastError(Q7M_ERROR_FILE_NOT_FOUND);
      break;
    case PDLNK_HANDLE_SLOTS_FULL:
      Q7M_SetLastError(Q7M_ERROR_TOO_MANY_OPEN_FILES);
      break;
    case PDLNK_NOT_SUPPORTED:
      Q7M_SetLastError(Q7M_ERROR_INVALID_FUNCTION);
      break;
    default:
      break;  // the port driver's own last error stands
  }
}

// Gives back what an open obtained so far, leaving `lastError` for the caller.
SEQUOR_HANDLE FailOpen(int port, MemObject* memory, DeviceSession* session, uint32_t lastError) {
  if (session != nullptr) {
    delete[] session->name;
    delete session;
  }
  delete memory;
  if (port >= 0) PDLNK_Close(port);
  Q7M_SetLastError(lastError);
  return nullptr;
}

char* CopyName(const char* text) {
  const size_t length = std::strlen(text);
  char* copy = new (std::nothrow) char[length + 1];
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

void DestroySession(DeviceSession* session) {
  delete session->memory;
  delete[] session->name;
  delete session;
}

}  // namespace

SEQUOR_HANDLE OpenSession(const char* name, const SEQUOR_OPEN_PARAMS* params) {
  PortDeviceName portName;
  const uint32_t nameError = BuildPortDeviceName(name, params, &portName);
  if (nameError != 0) {
    Q7M_SetLastError(nameError);
    return nullptr;
  }

  int port = -1;
  uint32_t r = PDLNK_Open(&port, portName.text, /*share=*/1);
  if (r != PDLNK_SUCCESS) {
    ReportOpenFailure(r);
    return nullptr;
  }

  PDLNK_DEVICE_INFO info{};
  r = PDLNK_GetDeviceInfo(port, &info, static_cast<int>(sizeof info));
  if (r != PDLNK_SUCCESS) {
    const uint32_t error = r == PDLNK_INVALID_HANDLE   ? Q7M_ERROR_INVALID_HANDLE
                           : r == PDLNK_DEVICE_REMOVED ? Q7M_ERROR_DEVICE_NOT_CONNECTED
                                                       : Q7M_GetLastError();
    return FailOpen(port, nullptr, nullptr, error);
  }

  auto* memory = new (std::nothrow) MemObject();
  if (memory == nullptr) return FailOpen(port, nullptr, nullptr, Q7M_ERROR_OUTOFMEMORY);
  // Without its cancel event a session could not be cancelled.
  if (!memory->usable()) return FailOpen(port, memory, nullptr, Q7M_GetLastError());
  r = memory->OpenSharedData(info.devicePath);
  if (r != SEQUOR_SUCCESS) {
    const uint32_t error =
        (r == SEQUOR_INVALID_HANDLE || r == SEQUOR_INVALID_PARAMETER) ? Q7M_ERROR_INVALID_NAME : r;
    return FailOpen(port, memory, nullptr, error);
  }

  auto* session = new (std::nothrow) DeviceSession();
  if (session == nullptr) return FailOpen(port, memory, nullptr, Q7M_ERROR_OUTOFMEMORY);
  // A USB session is known by the serial number it was opened with (or that
  // the reader reports); a serial one by its device path.
  const char* sessionName = portName.serial                ? info.devicePath
                            : name != nullptr              ? name
                            : info.serialNumber != nullptr ? info.serialNumber
                                                           : "";
  session->name = CopyName(sessionName);
  if (session->name == nullptr) return FailOpen(port, memory, session, Q7M_ERROR_OUTOFMEMORY);
  session->port.store(port);
  session->memory = memory;
  if (!sessions::Add(session)) return FailOpen(port, memory, session, Q7M_ERROR_OUTOFMEMORY);
  return ToHandle(session);
}

uint32_t CloseSession(SEQUOR_HANDLE handle) {
  if (handle == nullptr) return SEQUOR_INVALID_HANDLE;
  bool inUse = false;
  DeviceSession* session = sessions::BeginClose(handle, &inUse);
  if (session == nullptr) return SEQUOR_INVALID_PARAMETER;  // not an open session

  const int port = session->port.load();
  if (port >= 0 && inUse) {
    // Calls of this session still run (an asynchronous exchange's worker,
    // or a caller that closes too early): interrupt their exchange and let
    // them leave before the port's handle can be reused by another open.
    PDLNK_CancelIO(port);
    sessions::WaitUnused(session);
    PDLNK_ResetIO(port);
  }
  if (port >= 0) {
    const uint32_t r = PDLNK_Close(port);
    if (r != PDLNK_SUCCESS) {
      sessions::AbortClose(session);
      return r == PDLNK_INVALID_HANDLE ? SEQUOR_INVALID_PARAMETER : SEQUOR_SYSTEM_ERROR;
    }
    // A later attempt after a failure below must not close the port twice
    // (its number may belong to another device by then).
    session->port.store(-1);
  }
  sessions::WaitUnused(session);
  const uint32_t r = session->memory->CloseSharedData();
  if (r != SEQUOR_SUCCESS) {
    sessions::AbortClose(session);
    return r;
  }
  sessions::Remove(session);
  DestroySession(session);
  return SEQUOR_SUCCESS;
}

void CloseIdleSessions() {
  while (DeviceSession* session = sessions::TakeIdle()) {
    const int port = session->port.load();
    if (port >= 0) PDLNK_Close(port);
    DestroySession(session);
  }
}

}  // namespace q7m
