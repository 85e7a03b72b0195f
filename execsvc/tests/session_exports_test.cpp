// Sessions and the exported interface against the scripted port driver: the
// device name handed to the port driver, the last error of every refused
// open, what a close gives back, and the forwarding exports.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "device_session.h"
#include "fake_port_driver.h"
#include "q7m/sequor.h"

namespace {

// Opens with the given name and parameters on a fresh script; the name the
// port driver was asked for ("" when it was not asked).
std::string PortNameOf(const char* name, const SEQUOR_OPEN_PARAMS* params,
                       SEQUOR_HANDLE* handle = nullptr) {
  fakepd::Reset();
  SEQUOR_HANDLE h = SEQUOR_Open(name, params);
  if (handle != nullptr) {
    *handle = h;
  } else if (h != nullptr) {
    EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS);
  }
  const fakepd::Record record = fakepd::Recorded();
  return record.openNames.empty() ? "" : record.openNames.back();
}

SEQUOR_OPEN_PARAMS UsbParams(const std::vector<uint16_t>& ids, uintptr_t count) {
  return SEQUOR_OPEN_PARAMS{reinterpret_cast<uintptr_t>(ids.data()), count};
}

// Opens on `script` and answers the last error of a refused open (0 when it
// opened, which closes again).
uint32_t OpenFailure(const fakepd::Script& script, const char* name = nullptr) {
  fakepd::Reset(script);
  Q7M_SetLastError(0);
  SEQUOR_HANDLE h = SEQUOR_Open(name, nullptr);
  if (h != nullptr) {
    SEQUOR_Close(h);
    return 0;
  }
  return Q7M_GetLastError();
}

const char* SessionName(SEQUOR_HANDLE handle) {
  return reinterpret_cast<q7m::DeviceSession*>(handle)->name;
}

}  // namespace

TEST(SessionOpen, BuildsThePortDriversDeviceName) {
  const SEQUOR_OPEN_PARAMS speed9600{0, 9600};
  EXPECT_EQ(PortNameOf("COM3", &speed9600), "COM3:9600");
  const SEQUOR_OPEN_PARAMS defaultSpeed{0, 0};
  EXPECT_EQ(PortNameOf("COM12", &defaultSpeed), "COM1:0") << "one digit names the port";
  EXPECT_EQ(PortNameOf(nullptr, nullptr), "USB:");

  const std::vector<uint16_t> ids{52, 83};
  const SEQUOR_OPEN_PARAMS rdaxDefault = UsbParams(ids, 2);
  EXPECT_EQ(PortNameOf("A1", &rdaxDefault), "USB:A1,52 83 ");
  const SEQUOR_OPEN_PARAMS noCount = UsbParams(ids, 0x10000);  // low 16 bits: 0
  EXPECT_EQ(PortNameOf("A1", &noCount), "USB:A1");
  const SEQUOR_OPEN_PARAMS noList{0, 5};
  EXPECT_EQ(PortNameOf("A1", &noList), "USB:A1");
  EXPECT_EQ(PortNameOf("com3", &speed9600), "USB:com3") << "the serial prefix is case-sensitive";

  const std::vector<uint16_t> many(128, 65535);
  const SEQUOR_OPEN_PARAMS most = UsbParams(many, 128);
  std::string expected = "USB:,";
  for (int i = 0; i < 128; ++i) expected += "65535 ";
  EXPECT_EQ(PortNameOf("", &most), expected);

  const std::string longest(259, 'n');
  EXPECT_EQ(PortNameOf(longest.c_str(), nullptr), "USB:" + longest);
}

TEST(SessionOpen, RefusesBadNamesAndParametersBeforeThePortDriver) {
  struct Case {
    const char* what;
    std::string name;
    bool nullName;
    SEQUOR_OPEN_PARAMS params;
    bool nullParams;
    uint32_t error;
  };
  const std::vector<uint16_t> many(129, 1);
  const std::vector<Case> cases = {
      {"serial without parameters", "COM3", false, {}, true, Q7M_ERROR_INVALID_DATA},
      {"129 identifiers", "", true, UsbParams(many, 129), false, Q7M_ERROR_INVALID_DATA},
      {"260 characters", std::string(260, 'n'), false, {}, true, Q7M_ERROR_INVALID_NAME},
      {"no digit after COM", "COMX", false, {0, 9600}, false, Q7M_ERROR_INVALID_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fakepd::Reset();
    Q7M_SetLastError(0);
    EXPECT_EQ(
        SEQUOR_Open(c.nullName ? nullptr : c.name.c_str(), c.nullParams ? nullptr : &c.params),
        nullptr);
    EXPECT_EQ(Q7M_GetLastError(), c.error);
    EXPECT_TRUE(fakepd::Recorded().openNames.empty());
  }
}

TEST(SessionOpen, ReportsEachPortDriverFailureAsItsLastError) {
  struct Case {
    uint32_t open, info, infoLastError, expected;
  };
  for (const Case& c :
       {Case{8, 0, 0, Q7M_ERROR_FILE_NOT_FOUND}, Case{10, 0, 0, Q7M_ERROR_TOO_MANY_OPEN_FILES},
        Case{12, 0, 0, Q7M_ERROR_INVALID_FUNCTION}, Case{1000, 0, 0, Q7M_ERROR_ACCESS_DENIED},
        Case{0, 1, 0, Q7M_ERROR_INVALID_HANDLE}, Case{0, 7, 0, Q7M_ERROR_DEVICE_NOT_CONNECTED},
        Case{0, 1000, Q7M_ERROR_GEN_FAILURE, Q7M_ERROR_GEN_FAILURE}}) {
    SCOPED_TRACE(std::to_string(c.open) + "/" + std::to_string(c.info));
    fakepd::Script script;
    script.openResult = c.open;
    script.openLastError = Q7M_ERROR_ACCESS_DENIED;
    script.infoResult = c.info;
    script.infoLastError = c.infoLastError;
    EXPECT_EQ(OpenFailure(script), c.expected);
    // A port that was opened is closed again.
    EXPECT_EQ(fakepd::Recorded().closeCalls, c.open == 0 ? 1 : 0);
  }
}

TEST(SessionOpen, DevicePathTheSharedStateCannotUseIsAnInvalidName) {
  fakepd::Script script;
  script.devicePath = std::string(261, 'p');
  EXPECT_EQ(OpenFailure(script), Q7M_ERROR_INVALID_NAME);
  script.devicePath = "\\\\";
  EXPECT_EQ(OpenFailure(script), Q7M_ERROR_INVALID_NAME);
  EXPECT_EQ(fakepd::Recorded().closeCalls, 1);
}

TEST(SessionOpen, SessionIsNamedBySerialNumberOrDevicePath) {
  SEQUOR_HANDLE h = nullptr;
  PortNameOf(nullptr, nullptr, &h);
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(SessionName(h), "SN-FAKE") << "the reader's serial number";
  EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS);

  PortNameOf("A1", nullptr, &h);
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(SessionName(h), "A1");
  EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS);

  const SEQUOR_OPEN_PARAMS speed{0, 0};
  PortNameOf("COM2", &speed, &h);
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(SessionName(h), "/dev/fake-reader");
  EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS);
}

TEST(SessionClose, AnswersForNullUnknownAndClosedHandles) {
  EXPECT_EQ(SEQUOR_Close(nullptr), SEQUOR_INVALID_HANDLE);
  int notASession = 0;
  EXPECT_EQ(SEQUOR_Close(reinterpret_cast<SEQUOR_HANDLE>(&notASession)), SEQUOR_INVALID_PARAMETER);
  SEQUOR_HANDLE h = nullptr;
  PortNameOf(nullptr, nullptr, &h);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS);
  EXPECT_EQ(SEQUOR_Close(h), SEQUOR_INVALID_PARAMETER);
  EXPECT_EQ(SEQUOR_XfsLock(h), SEQUOR_INVALID_HANDLE) << "a closed handle is not followed";
}

TEST(SessionClose, RefusedPortCloseLeavesTheSessionOpen) {
  for (const uint32_t refusal : {PDLNK_INVALID_HANDLE, PDLNK_SYSTEM_ERROR}) {
    fakepd::Script script;
    script.closeResult = refusal;
    fakepd::Reset(script);
    SEQUOR_HANDLE h = SEQUOR_Open(nullptr, nullptr);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(SEQUOR_Close(h),
              refusal == PDLNK_INVALID_HANDLE ? SEQUOR_INVALID_PARAMETER : SEQUOR_SYSTEM_ERROR);
    EXPECT_EQ(SEQUOR_Exists(h), PDLNK_SUCCESS) << "still open";
    EXPECT_EQ(SEQUOR_IsApiLocked(h), SEQUOR_SUCCESS);
    fakepd::SetCloseResult(PDLNK_SUCCESS);
    EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS) << "and can be closed again";
    EXPECT_EQ(fakepd::Recorded().closeCalls, 2);
  }
}

TEST(SessionClose, ReleasesTheLocksItHolds) {
  fakepd::Reset();
  SEQUOR_HANDLE a = SEQUOR_Open(nullptr, nullptr);
  SEQUOR_HANDLE b = SEQUOR_Open(nullptr, nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SEQUOR_XfsUnlock(a), SEQUOR_NOT_LOCKED_BY_SELF);
  EXPECT_EQ(SEQUOR_XfsLock(a), SEQUOR_SUCCESS);
  EXPECT_EQ(SEQUOR_XfsLock(a), SEQUOR_LOCKED_BY_SELF);
  EXPECT_EQ(SEQUOR_ApiLock(a), SEQUOR_SUCCESS);
  EXPECT_EQ(SEQUOR_ApiLock(a), SEQUOR_LOCKED_BY_SELF);
  EXPECT_EQ(SEQUOR_IsApiLocked(a), SEQUOR_LOCKED_BY_SELF);
  std::thread([&] {
    EXPECT_EQ(SEQUOR_IsXfsLocked(b), SEQUOR_LOCKED_BY_OTHER);
    EXPECT_EQ(SEQUOR_XfsLock(b), SEQUOR_LOCKED_BY_OTHER);
    EXPECT_EQ(SEQUOR_ApiLock(b), SEQUOR_LOCKED_BY_OTHER) << "the check answers first";
  }).join();
  EXPECT_EQ(SEQUOR_Close(a), SEQUOR_SUCCESS);
  std::thread([&] {
    EXPECT_EQ(SEQUOR_XfsLock(b), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_ApiLock(b), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_ApiUnlock(b), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_XfsUnlock(b), SEQUOR_SUCCESS);
    EXPECT_EQ(SEQUOR_XfsUnlock(b), SEQUOR_NOT_LOCKED_BY_SELF);
  }).join();
  EXPECT_EQ(SEQUOR_Close(b), SEQUOR_SUCCESS);
}

TEST(ForwardingExports, PassThroughOrAnswerForMissingArguments) {
  fakepd::Reset();
  SEQUOR_HANDLE h = SEQUOR_Open(nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  uint32_t mode = 77;
  EXPECT_EQ(SEQUOR_CreateNewSessionKey(nullptr, 1, 2, 3), SEQUOR_NOT_SUPPORTED);
  EXPECT_EQ(SEQUOR_CreateNewSessionKey(h, 1, 2, 3), SEQUOR_NOT_SUPPORTED);
  EXPECT_EQ(SEQUOR_GetCryptoMode(h, &mode), SEQUOR_NOT_SUPPORTED);
  EXPECT_EQ(mode, 77u);
  EXPECT_EQ(SEQUOR_DeviceReset(nullptr), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_DeviceReset(h), PDLNK_SUCCESS);
  EXPECT_EQ(SEQUOR_Exists(nullptr), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_Exists(h), PDLNK_SUCCESS);

  PDLNK_DEVICE_INFO info{};
  EXPECT_EQ(SEQUOR_GetDeviceInfo(h, nullptr), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_GetDeviceInfo(nullptr, &info), SEQUOR_INVALID_HANDLE);
  ASSERT_EQ(SEQUOR_GetDeviceInfo(h, &info), PDLNK_SUCCESS);
  EXPECT_STREQ(info.devicePath, "/dev/fake-reader");

  PDLNK_FIND_INFO find{};
  EXPECT_EQ(SEQUOR_FindFirst(nullptr), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_FindFirst(&find), PDLNK_NO_MORE_DEVICES) << "the record's size is passed";
  EXPECT_EQ(SEQUOR_FindNext(nullptr), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_FindNext(&find), PDLNK_NO_MORE_DEVICES);
  EXPECT_EQ(SEQUOR_FindClose(nullptr), SEQUOR_SUCCESS);
  EXPECT_EQ(fakepd::Recorded().findCloseCalls, 0);
  EXPECT_EQ(SEQUOR_FindClose(&find), SEQUOR_SUCCESS);
  EXPECT_EQ(fakepd::Recorded().findCloseCalls, 1);

  for (auto lockExport : {SEQUOR_XfsLock, SEQUOR_XfsUnlock, SEQUOR_IsXfsLocked, SEQUOR_ApiLock,
                          SEQUOR_ApiUnlock, SEQUOR_IsApiLocked, SEQUOR_Cancel}) {
    EXPECT_EQ(lockExport(nullptr), SEQUOR_INVALID_HANDLE);
  }
  uint32_t length, result;
  char buffer[8];
  EXPECT_EQ(SEQUOR_GetResult(nullptr, buffer, 8, &length, &result), SEQUOR_INVALID_HANDLE);
  EXPECT_EQ(SEQUOR_Close(h), SEQUOR_SUCCESS);
}
