// Network collaboration: peer connections, actions and transfers.
#pragma once
#include <atomic>

extern std::atomic<bool> disco;        // disconnect in progress
extern std::atomic<bool> antenneWifi;  // an action is being sent or received
extern std::atomic<bool> refreshMenu;  // the panel is to be redrawn

void initNet();
void disconnect(bool all);
int connectedPeers();
// Applies, on the main thread, the actions received since the last call.
void netPump();
