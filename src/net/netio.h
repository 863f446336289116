// Internals of the network code shared by its source files and its tests.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/extras.h"
#include "net/net.h"
#include "net/presencestate.h"
#include "net/syncstate.h"
#include "net/wire.h"

// One connection slot ("tunnel"): the peer's inbound and outbound
// connections share the index; every module's per-peer state hangs on it.
struct Peer {
  int connectedSocket = -1;      // inbound, accepted; -1 when free
  int clientSocket = -1;         // outbound, opened by us; -1 when free
  bool clientReady = false;      // outbound handshake done: actions go there
  bool clientPending = false;    // outbound being opened
  char clientNames[256] = {0};   // user name of the peer served on the slot
  NetHost inHost;                // inbound peer address (none: not set)
  uint16_t inPort = 0;
  NetHost outHost;               // outbound target
  uint16_t outPort = 0;          // and its port
  std::thread* littleServerThread = nullptr;  // the receiving loop
  struct SendQueue* out = nullptr;     // the outbound socket's send queue and thread
  bool dropping = false;         // being dropped: sockets shut, the main thread frees it
  unsigned extensions = 0;       // bits of the extension words the peer announced
  bool joinedThere = false;      // this editor joined the peer (not the other way)
  unsigned gen = 0;              // bumped whenever the slot is freed
  bool byKey = false;            // proved the session key on its inbound connection
  bool viewer = false;           // proved our view key (either connection): its edits are dropped
  bool asViewer = false;         // admitted us by its view key: we edit nothing while linked
  // Each module's part of the peer, reset with the slot (resetPeer).
  PeerSync sync;                 // the project sync's (main thread only)
  PeerPresence presence;         // where the peer is and what it wrote lately
  IncomingSidecar sidecar;       // a sidecar on its way (main thread only)
  int queued = 0;                // its received actions in the queue (queueLock); counts the
                                 // slot's events, so it outlives a reset
};
extern Peer peers[MAX_PEERS];

// Waits of the network code, in milliseconds.
enum {
  POLL_MS = 20,               // flags are checked at least this often
  HANDSHAKE_MS = 5000,        // the whole handshake, from the first block to the token
  STALL_MS = 10000,           // no byte moved for this long inside a received action: cut off
  SEND_STALL_MS = 3000,       // a peer that takes nothing for this long is dropped
  PROJECT_WAIT_MS = 8000,     // a peer waits this long for the project to load
  JOIN_MS = 3000,             // a join target is tried this long
  CONNECT_TRY_MS = 500,       // one connection attempt
  JOIN_SPACING_MS = 250,      // pause between attempts
};

// Bounds of the queues between the editor and its peers.
enum {
  SEND_QUEUE_MAX = 4096,      // actions waiting for one peer; more: the peer is dropped
  RECV_QUEUE_MAX = 16384,     // received actions of one peer not yet applied; more: dropped
  PUMP_BUDGET_MS = 8,         // netPump applies actions for at most this long per call
};
const size_t WRITE_BLOCK = 1u << 20;  // received image bytes looked at per read and written at once

// Longest body a log line repeats: every body of the base protocol, not
// the map data of a sync.
enum { LOGGED_BODY_MAX = SYSNAME_BODY_LEN };

// Guards `peers` (never held while waiting on the network).
extern std::mutex peersLock;

// One action for one peer's send thread. The pass conditions that follow
// "ADDLAYER"/"SENDPC" are read once on the main thread and shared.
struct SendJob {
  std::string header, body;
  std::string chipset;
  std::shared_ptr<const std::vector<unsigned char>> pass;
  bool bare = false;  // header block only ("DISCONNECT! 0")
  bool quiet = false; // a quiet word (wire.h): not network activity, not logged
};

// A peer's ordered send queue, served by its own thread on the outbound
// socket. Owned by the slot; created when the outbound handshake ends and
// ended by the main thread when the slot is freed.
struct SendQueue {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<SendJob> jobs;
  bool quit = false;       // drop what is left and end
  bool last = false;       // end once the queue is empty (disconnect)
  std::thread thread;
};

// Sockets. Every block is moved whole, through the socket's session
// channel once it has one (net/secure.h); false when the peer closed, an error
// occurred, `stop` was set, or nothing moved for stallMs (-1: no limit).
// A receive also gives up when *quit becomes true.
bool sendAll(int s, const void* p, size_t n, int stallMs = STALL_MS);
bool recvAll(int s, void* p, size_t n, int firstMs, int stallMs = STALL_MS,
             const std::atomic<bool>* quit = nullptr);
// Copies up to cap bytes waiting on s without taking them, waiting for the
// first as recvAll does: the count, or -1 where recvAll would fail.
long peekSome(int s, void* p, size_t cap, int ms, const std::atomic<bool>* quit);
// Takes n bytes that peekSome showed off the socket (p: room for them).
bool takePeeked(int s, void* p, size_t n);
// Listens on `host` (none: every address of both families, where the
// system has IPv6; else IPv4 only), on `port` (0: any, *bound tells).
int netListen(const NetHost& host, int port, int* bound);
int netAccept(int listener, int waitMs, NetAddress* from);
int netConnect(const NetAddress& to, int timeoutMs);
void netShutdown(int s);
void netClose(int s);

// Extension words: the bits of the words of `table` (null-terminated) that
// a body names, unknown words ignored; and the body announcing `bits`.
unsigned parseExtensions(const char* body, const char* const* table = extensionWords);
void formatExtensions(char* out, size_t cap, unsigned bits, const char* const* table = extensionWords);

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
bool offerTileset(int s, const char* chipset, const std::vector<unsigned char>& pass,
                  int stallMs = STALL_MS);
// The pass-conditions bytes of a tileset as sendPC sends them (main thread).
std::vector<unsigned char> passConditionsOf(const char* chipset);
bool sendPC(const std::vector<unsigned char>& pass, int s, int stallMs = STALL_MS);
// The tileset's image is in the project's "layers" folder.
bool tilesetPresent(const char* chipset);
// Room on the project's disk for `bytes` more, keeping a margin free (logged when not).
bool diskRoom(long long bytes);
// Receiving sides, on a receiving thread; false: the connection is unusable.
bool receiveTileset(int s, const char* corps);
bool receivePC(int s, const char* corps);
// A viewer's transfer, declined: a tileset offer answered "LEFTME", pushed
// pass conditions read and dropped; false: the connection is unusable.
bool declineTransfer(int s, WireTransfer t);

// The receiving thread's hand-over to the main thread.
enum NetEventKind { EV_ACTION, EV_SERVE, EV_END };
struct NetEvent {
  NetEventKind kind;
  int slot;
  unsigned gen;
  bool release;         // EV_END: release the peer's map as after "DISCONNECT!"
  std::string header, body;
};
// False (the event is not queued) when the peer has RECV_QUEUE_MAX actions
// waiting already; the end of a connection is always queued.
bool netQueue(NetEvent e);
// The queue's length (tests); emptied (tests).
size_t netQueued();
void queueClear();

// The receiving side of the handshake and the loop (body of the thread).
int littleServer(void* slot);

// A network thread running body(arg); threadWait waits for it and frees it
// (null: nothing), threadIsCurrent tells whether the caller is that thread.
std::thread* threadStart(int (*body)(void*), void* arg);
void threadWait(std::thread* t);
bool threadIsCurrent(const std::thread* t);
// Shuts a slot's sockets: every thread waiting on them wakes and fails.
void shutSlot(const Peer& p);
// The listening thread: started (a failure logs and raises `stop`) and
// waited for, once, whoever asks first.
void startServer();
void endServer();
// Clears slot i's record, every module's part with it, for its next peer
// (main thread, peersLock held, the slot's threads ended).
void resetPeer(int i);
// Frees slot i after its receiving thread ended (main thread).
void endSlot(int i, unsigned gen, bool release);
// Releases the map peer i has open here unless another peer or the editor uses it.
void releasePeerMap(int i);
// The joining side. A join (repeat) takes the lowest free slot and is
// refused when that host is served or joined already; the reverse
// connection goes on `slot`, the slot of its own inbound peer, or nowhere.
// The targets are addresses of one editor (one name's), tried in turn at
// each attempt; a port 0 is netPort. 1 joined, 0 failed, -1 the reverse
// connection is refused.
int clientOn(const NetAddress* to, int count, bool repeat, int slot);
// Starts slot i's send queue on its outbound socket (peersLock held).
void startSender(int i);
// The peer on `slot` admitted this editor as a viewer (roles.cpp).
bool viewingPeer(int slot);
// A peer announced its extensions: a viewer is told it is one (roles.cpp).
void rolesPeerAnnounced(int slot);
// The editor at host left this one out this session (main thread, roles.cpp):
// it refuses our joins, and a failed join says so.
bool rolesLeftUsOut(const NetHost& host);
// Queues slot i's "EXTENSIONS" action (peersLock held).
void announceExtensions(int i);
// Ends a send queue's thread and frees it (main thread, peersLock not held):
// with `drain` once every queued action went out, else at once.
void stopSender(SendQueue* q, bool drain);
// Drops peer i from any thread: its sockets are shut, its sender stops and
// the main thread frees the slot and releases its map. Logged with `why`.
void dropPeer(int i, unsigned gen, const char* why);
// An edit for every peer that announced all of `need` and none of
// `without`, `stamp` before it for stamping peers, queued now (the outbox
// sends its slices through it).
void sendEdit(unsigned need, unsigned without, const char* header, const char* corps, const char* stamp);
// Some connected peer announced every extension of `ext`.
bool anyPeerHas(unsigned ext);
// While a large edit is still going out in slices to some peers, an edit
// for them goes behind it (true: taken; the others get it at once).
bool outboxDefer(unsigned need, unsigned without, const char* header, const char* corps, const char* stamp);
// Actions waiting in every send queue.
int sendPending();
// Resets every table (tests).
void netReset();
