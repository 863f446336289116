// Internals of the network code shared by its source files and its tests.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <mutex>
#include <string>
#include <vector>

#include "net/net.h"

// Waits of the network code, in milliseconds.
enum {
  POLL_MS = 20,               // flags are checked at least this often
  HANDSHAKE_MS = 10000,       // each handshake block
  STALL_MS = 10000,           // no byte moved for this long inside an action: cut off
  PROJECT_WAIT_MS = 8000,     // a peer waits this long for the project to load
  JOIN_MS = 3000,             // a join target is tried this long
  CONNECT_TRY_MS = 500,       // one connection attempt
  JOIN_SPACING_MS = 250,      // pause between attempts
};

// Guards `peers` (never held while waiting on the network).
extern std::mutex peersLock;

// Sockets. Every block is moved whole; false when the peer closed, an error
// occurred, `stop` was set, or nothing moved for stallMs (-1: no limit).
// A receive also gives up when *quit becomes true.
bool sendAll(int s, const void* p, size_t n, int stallMs = STALL_MS);
bool recvAll(int s, void* p, size_t n, int firstMs, int stallMs = STALL_MS,
             const std::atomic<bool>* quit = nullptr);
int gSend(int s, const char* buffer, int size);  // size, or 0
int gRecv(int s, char* buffer, int size);        // size, or 0
int netListen(uint32_t host, int port, int* bound);
int netAccept(int listener, int waitMs, uint32_t* host, uint16_t* port);
int netConnect(uint32_t host, int port, int timeoutMs);
void netShutdown(int s);
void netClose(int s);

// Framing.
void formatHeader(char block[HEADER_BLOCK], const char* command, int n);
// Reads the command word (room for HEADER_BLOCK bytes) and the body size;
// false for a block without NUL, a missing number or a size out of range.
bool parseHeader(const char block[HEADER_BLOCK], char* command, int* n);
// A size block holding "%ld"; parseSizeBlock refuses anything but a number
// from 0 to max.
void formatSizeBlock(char block[SIZE_BLOCK], long n);
bool parseSizeBlock(const char block[SIZE_BLOCK], long max, long* n);

// Transfers. The sending side of a tileset offer after an "ADDLAYER" body;
// `pass` is the tileset's pass conditions as sendPC sends them.
bool offerTileset(int s, const char* chipset, const std::vector<unsigned char>& pass);
// The pass-conditions bytes of a tileset as sendPC sends them (main thread).
std::vector<unsigned char> passConditionsOf(const char* chipset);
bool sendPC(const std::vector<unsigned char>& pass, int s);
// Receiving sides, on a receiving thread; false: the connection is unusable.
bool receiveTileset(int s, const char* corps);
bool receivePC(int s, const char* corps);

// The receiving thread's hand-over to the main thread.
enum NetEventKind { EV_ACTION, EV_SERVE, EV_END };
struct NetEvent {
  NetEventKind kind;
  int slot;
  unsigned gen;
  bool release;         // EV_END: release the peer's map as after "DISCONNECT!"
  std::string header, body;
};
void netQueue(NetEvent e);
// The queue's length (tests).
size_t netQueued();

// The receiving side of the handshake and the loop (body of the thread).
int littleServer(void* slot);
// Frees slot i after its receiving thread ended (main thread).
void endSlot(int i, unsigned gen, bool release);
// Releases the map peer i has open here unless another peer or the editor uses it.
void releasePeerMap(int i);
// The joining side, on a given outbound slot (-1: the lowest free one).
int clientOn(uint32_t host, bool repeat, int slot);
// Resets every table (tests).
void netReset();
