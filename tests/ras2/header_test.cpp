// The declarations header on its own: it is included first, with nothing
// before it, and its named constants carry the values of ras.h/raserror.h.
#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "Ras2/Ras2.h"

TEST(Ras2Header, ConnectionStatesKeepTheirNamedValues) {
  EXPECT_EQ(RASCS_OpenPort, 0u);
  EXPECT_EQ(RASCS_ConnectDevice, 2u);
  EXPECT_EQ(RASCS_DeviceConnected, 3u);
  EXPECT_EQ(RASCS_Authenticate, 5u);
  EXPECT_EQ(RASCS_Authenticated, 14u);
  EXPECT_EQ(RASCS_Projected, 18u);
  EXPECT_EQ(RASCS_LogonNetwork, 21u);
  EXPECT_EQ(RASCS_PAUSED, 0x1000u);
  EXPECT_EQ(RASCS_DONE, 0x2000u);
  EXPECT_EQ(RASCS_Interactive, RASCS_PAUSED);
  EXPECT_EQ(RASCS_RetryAuthentication, 0x1001u);
  EXPECT_EQ(RASCS_PasswordExpired, 0x1003u);
  EXPECT_EQ(RASCS_Connected, RASCS_DONE);
  EXPECT_EQ(RASCS_Disconnected, 0x2001u);

  EXPECT_FALSE(RasIsPausedState(RASCS_LogonNetwork));
  EXPECT_TRUE(RasIsPausedState(RASCS_Interactive));
  EXPECT_TRUE(RasIsPausedState(0x1FFF));
  EXPECT_FALSE(RasIsPausedState(RASCS_Connected));
  EXPECT_FALSE(RasIsFinalState(0x1FFF));
  EXPECT_TRUE(RasIsFinalState(RASCS_Connected));
  EXPECT_TRUE(RasIsFinalState(RASCS_Disconnected));
}

TEST(Ras2Header, ErrorNumbersKeepTheirNamedValues) {
  EXPECT_EQ(SUCCESS, 0u);
  EXPECT_EQ(PENDING, 600u);
  EXPECT_EQ(ERROR_INVALID_PORT_HANDLE, 601u);
  EXPECT_EQ(ERROR_BUFFER_TOO_SMALL, 603u);
  EXPECT_EQ(ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, 623u);
  EXPECT_EQ(ERROR_USER_DISCONNECTION, 631u);
  EXPECT_EQ(ERROR_INVALID_SIZE, 632u);
  EXPECT_EQ(ERROR_PORT_NOT_AVAILABLE, 633u);
  EXPECT_EQ(WARNING_MSG_ALIAS_NOT_ADDED, 644u);
  EXPECT_EQ(ERROR_NO_CONNECTION, 668u);
  EXPECT_EQ(ERROR_LINE_BUSY, 676u);
  EXPECT_EQ(ERROR_NO_ANSWER, 678u);
  EXPECT_EQ(ERROR_NO_CARRIER, 679u);
  EXPECT_EQ(ERROR_NO_DIALTONE, 680u);
  EXPECT_EQ(ERROR_AUTHENTICATION_FAILURE, 691u);
  EXPECT_EQ(ERROR_PPP_TIMEOUT, 718u);
  EXPECT_EQ(ERROR_BAD_PHONE_NUMBER, 749u);
  EXPECT_EQ(ERROR_WRONG_MODULE, 750u);
  EXPECT_EQ(RASBASEEND, 750u);
}

TEST(Ras2Header, NeutralNamesAreTheAnsiDeclarations) {
  EXPECT_TRUE((std::is_same_v<TRasConn, TRasConnA>));
  EXPECT_TRUE((std::is_same_v<TRasDialParams, TRasDialParamsA>));
  EXPECT_TRUE((std::is_same_v<TRasEntryName, TRasEntryNameA>));
  EXPECT_TRUE((std::is_same_v<LpRaspppNbf, TRasPppNbfA*>));
  EXPECT_TRUE((std::is_same_v<TRasDial, TRasDialA>));
  EXPECT_TRUE((std::is_same_v<TRasHangUp, TRasHangUpA>));
  EXPECT_TRUE((std::is_same_v<decltype(&RasGetEntryProperties), TRasGetEntryPropertiesA>));
  EXPECT_TRUE((std::is_same_v<decltype(&RasEnumDevices), TRasEnumDevicesA>));
  EXPECT_EQ(WM_RASDIALEVENT, 0xCCCDu);
  EXPECT_STREQ(RASDIALEVENT, "RasDialEvent");
  EXPECT_STREQ(RASDT_Modem, "modem");
}
