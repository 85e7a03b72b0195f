// The library as its callers see it: loaded by name, its 15 exports, and
// the answers that need no reader.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "q7m/pdlnk.h"
#include "q7m/platform_sys.h"
#include "q7m_test.h"
#include "sim_reader.h"

namespace {

TEST(PdlnkExports, AllFifteenNamesAreExported) {
  const std::string path = q7mtest::BuildLibDir() + "/libPDLNK.so";
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  for (const char* name :
       {"PDLNK_Open", "PDLNK_Close", "PDLNK_Send", "PDLNK_Receive", "PDLNK_GetCryptoMode",
        "PDLNK_CancelIO", "PDLNK_ResetIO", "PDLNK_ImportSessionKey", "PDLNK_Exists",
        "PDLNK_GetDeviceInfo", "PDLNK_DeviceReset", "PDLNK_GenarateExchangeKey", "PDLNK_FindFirst",
        "PDLNK_FindNext", "PDLNK_FindClose"})
    EXPECT_NE(dlsym(library, name), nullptr) << name;
  dlclose(library);
}

TEST(PdlnkExports, RecordSizesOnThisPlatform) {
  // Records with pointers keep the natural layout; callers pass sizeof.
  EXPECT_EQ(sizeof(PDLNK_DEVICE_INFO), sizeof(void*) == 8 ? 48u : 32u);
  EXPECT_EQ(sizeof(PDLNK_FIND_INFO), sizeof(void*) == 8 ? 56u : 36u);
}

TEST(PdlnkExports, UnknownHandlesAnswerInvalidHandle) {
  char buffer[8];
  int received = 7, mode = 7;
  PDLNK_DEVICE_INFO info;
  for (int handle : {-1, 0, 3, 1 << 30}) {
    EXPECT_EQ(PDLNK_Close(handle), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_Send(handle, "C10", 3, 10), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_Receive(handle, buffer, sizeof buffer, &received, 10), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(received, 0);
    EXPECT_EQ(PDLNK_GetCryptoMode(handle, &mode), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_CancelIO(handle), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_ResetIO(handle), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_ImportSessionKey(handle, nullptr, nullptr, 1), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_Exists(handle), PDLNK_INVALID_HANDLE);
    EXPECT_EQ(PDLNK_GetDeviceInfo(handle, &info, sizeof info), PDLNK_INVALID_HANDLE);
    // The device reset looks at no handle at all.
    EXPECT_EQ(PDLNK_DeviceReset(handle), PDLNK_SUCCESS);
  }
}

TEST(PdlnkExports, ArgumentsThatCannotBeUsed) {
  EXPECT_EQ(PDLNK_Open(nullptr, "COM1", 0), PDLNK_SYSTEM_ERROR);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_INVALID_PARAMETER);
  PDLNK_DEVICE_INFO info;
  EXPECT_EQ(PDLNK_GetDeviceInfo(0, &info, 36), PDLNK_WRONG_RECORD_SIZE);
  EXPECT_EQ(PDLNK_GetDeviceInfo(0, nullptr, sizeof info), PDLNK_SYSTEM_ERROR);
}

TEST(PdlnkExports, WithoutAUsbReaderNoneIsFound) {
  // The test process's HID bus is empty (and no hidraw reader is listed in
  // the test environment).
  for (const char* name : {"USB:", "USB:123456,52", "", "1234"}) {
    int handle = 5;
    EXPECT_EQ(PDLNK_Open(&handle, name, 1), PDLNK_DEVICE_NOT_FOUND) << name;
    EXPECT_EQ(handle, -1);
  }
  int handle = 5;
  EXPECT_EQ(PDLNK_Open(&handle, nullptr, 0), PDLNK_DEVICE_NOT_FOUND);

  PDLNK_FIND_INFO find;
  std::memset(&find, 0xA5, sizeof find);
  EXPECT_EQ(PDLNK_FindFirst(&find, 32), PDLNK_WRONG_RECORD_SIZE);
  EXPECT_EQ(find.recordSize, 0xA5A5A5A5u);  // nothing written
  EXPECT_EQ(PDLNK_FindFirst(&find, sizeof find), PDLNK_DEVICE_NOT_FOUND);
  EXPECT_EQ(find.searchHandle, nullptr);
  // A record without a search is not followed.
  EXPECT_EQ(PDLNK_FindNext(&find), PDLNK_INVALID_HANDLE);
  EXPECT_EQ(PDLNK_FindNext(nullptr), PDLNK_INVALID_HANDLE);
  PDLNK_FindClose(&find);
  PDLNK_FindClose(nullptr);
}

TEST(PdlnkExports, NamesStartingWithCOrMChooseTheSerialPort) {
  const std::string dir = q7mtest::EnterFreshWorkingDirectory();
  // No such port: the open fails in the system, not as a missing USB reader.
  // The numbered ports point into the scratch directory: a machine may well
  // have a /dev/ttyS2, and its open would fail otherwise or not at all.
  q7mtest::WriteFile("PDLNK.INI", "[COM3]\nDevicePath=" + dir +
                                      "/no-port\n[COM250]\nDevicePath=" + dir + "/no-port\n");
  for (const char* name : {"COM3:19200", "M", "COM250", "OM7"}) {
    int handle = 5;
    EXPECT_EQ(PDLNK_Open(&handle, name, 1), PDLNK_SYSTEM_ERROR) << name;
    EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILE_NOT_FOUND) << name;
    EXPECT_EQ(handle, -1);
  }
  // A port name too long for a device path.
  const std::string longName = "COM" + std::string(300, '9');
  int handle = 5;
  EXPECT_EQ(PDLNK_Open(&handle, longName.c_str(), 0), PDLNK_SYSTEM_ERROR);
  EXPECT_EQ(Q7M_GetLastError(), Q7M_ERROR_FILENAME_EXCED_RANGE);
}

TEST(PdlnkExports, KeyExportsWithoutAProvider) {
  int size = 1234;
  unsigned char record[256];
  std::memset(record, 0x5A, sizeof record);
  for (int bits : {768, 512, 1024, 0, -1}) {
    EXPECT_EQ(PDLNK_GenarateExchangeKey(record, &size, bits), PDLNK_NOT_SUPPORTED) << bits;
    EXPECT_EQ(size, 1234);
  }
  for (unsigned char b : record) ASSERT_EQ(b, 0x5A);
  EXPECT_EQ(PDLNK_GenarateExchangeKey(nullptr, &size, 512), PDLNK_NOT_SUPPORTED);
  EXPECT_EQ(PDLNK_GenarateExchangeKey(nullptr, nullptr, 512), PDLNK_NOT_SUPPORTED);
}

class CryptoExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    q7mtest::EnterFreshWorkingDirectory();
    ASSERT_TRUE(sim_.Start(4));
    ASSERT_EQ(PDLNK_Open(&handle_, "COM4", 0), PDLNK_SUCCESS);
  }
  void TearDown() override {
    PDLNK_Close(handle_);
    sim_.Stop();
  }
  q7mtest::SimReader sim_;
  int handle_ = -1;
};

TEST_F(CryptoExportsTest, ModeStaysPlainAndKeyImportsAreNotSupported) {
  int mode = 7;
  EXPECT_EQ(PDLNK_GetCryptoMode(handle_, &mode), PDLNK_SUCCESS);
  EXPECT_EQ(mode, PDLNK_CRYPTO_PLAIN);
  EXPECT_EQ(PDLNK_ImportSessionKey(handle_, nullptr, nullptr, 1), PDLNK_SUCCESS);
  EXPECT_EQ(PDLNK_GetCryptoMode(handle_, &mode), PDLNK_SUCCESS);
  EXPECT_EQ(mode, PDLNK_CRYPTO_PLAIN);

  const unsigned char key[24] = {1, 2, 3};
  const unsigned char exchangeKey[64] = {4, 5, 6};
  for (int type : {1, 3, 2, 0})
    EXPECT_EQ(PDLNK_ImportSessionKey(handle_, key, exchangeKey, type), PDLNK_NOT_SUPPORTED) << type;
  EXPECT_EQ(PDLNK_GetCryptoMode(handle_, &mode), PDLNK_SUCCESS);
  EXPECT_EQ(mode, PDLNK_CRYPTO_PLAIN);
  EXPECT_EQ(PDLNK_GetCryptoMode(handle_, nullptr), PDLNK_SYSTEM_ERROR);
}

}  // namespace
