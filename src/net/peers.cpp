// Peer connection tables.
#include "net/net.h"

#include "model/model.h"

std::atomic<bool> disco{false};
std::atomic<bool> antenneWifi{false};
std::atomic<bool> refreshMenu{false};

#include <SDL/SDL_net.h>
#include <stdio.h>

// Outbound and inbound sockets of each peer slot.
static TCPsocket peerOut[MAX_PEERS];
static TCPsocket peerIn[MAX_PEERS];

void initNet() {
  if (SDLNet_Init() < 0) printf("SDLNet_Init: %s\n", SDLNet_GetError());
}

int connectedPeers() {
  int n = 0;
  for (int i = 0; i < MAX_PEERS; i++)
    if (peerOut[i]) n++;
  return n;
}

void disconnect(bool all) {
  disco = true;
  for (int i = 0; i < MAX_PEERS; i++) {
    if (peerOut[i]) SDLNet_TCP_Close(peerOut[i]);
    if (peerIn[i]) SDLNet_TCP_Close(peerIn[i]);
    peerOut[i] = peerIn[i] = nullptr;
  }
  disco = false;
}

// Received actions are applied here, on the main thread; none arrive yet.
void netPump() {}
