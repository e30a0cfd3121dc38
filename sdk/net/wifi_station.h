// The station side of the abandon handshake, for the operations that end a
// waiting connection (ZQSDK_WifiExit, ZQSDK_WifiCreateAp).
#pragma once

namespace zq::wifi {

// When a station connection is claimed, asks it to give up and polls every
// 30 ms (board clock) until it has finished, its supplicant and DHCP client
// killed. Returns at once when none is. Must not be called with
// g_ModeMutex held unless no connection can be in its set-up.
void AbandonStationWait();

}  // namespace zq::wifi
