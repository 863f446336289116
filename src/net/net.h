// Network collaboration: peer connections, actions and transfers.
//
// Threads: the listening thread accepts peers; one receiving thread per peer
// reads its actions and file transfers from the socket and queues them;
// netPump, on the main thread, applies the queue. The senders run on the
// main thread and hand each action to one send thread per peer.
#pragma once
#include <stdint.h>

#include <atomic>
#include <thread>
#include <vector>

#include "model/model.h"
#include "net/address.h"

// Sizes the wire fixes.
enum {
  NET_PORT = 34567,        // every editor listens and joins on it
  HEADER_BLOCK = 32,       // "%s %d": command word and body size
  NAME_BLOCK = 256,        // handshake: user name
  VERSION_BLOCK = 16,      // handshake: protocol version
  TOKEN_BLOCK = 8,         // handshake: "REPEAT!" or "THANKS!"
  REPLY_BLOCK = 7,         // tileset offer: "SENDIT" or "LEFTME"
  SIZE_BLOCK = 16,         // "%ld" byte count of the data that follows
  CHUNK_MAX = 16384,       // largest tileset image chunk
  RECV_BUFFER = 32767,     // largest body a receiver takes
  BODY_LEN = 256,          // body buffer of the senders
  SYSNAME_BODY_LEN = 1024, // body buffer of "SENDMAPSYSNAME"
};

// Limits of what a peer may send before it is cut off.
const long PASS_MAX_BYTES = 4L << 20;       // pass conditions of a 16384x16384 tileset
const long TILESET_MAX_BYTES = 64L << 20;   // one tileset image
const long long DISK_MARGIN = 64LL << 20;   // free disk space received files never take
                                            // (a twentieth of a smaller disk)

extern std::atomic<bool> disco;        // disconnect in progress
extern std::atomic<bool> antenneWifi;  // an action is being sent or received
extern std::atomic<bool> refreshMenu;  // the panel is to be redrawn

// The port listened on, and joined when the join names none (the settings'
// `port`, tests may change it before initNet), and the local address the
// listening socket binds (none: any, both families). The editor joined connects back to its
// joiner on its own port: the editors of a session listen on one port.
extern int netPort;
extern NetHost netListenHost;


// Protocol extensions. Right after its handshake each side announces the
// extension words it speaks in one "EXTENSIONS" action, the first on its
// outbound connection (its body: the words separated by blanks). An editor
// of the base protocol logs it and ignores it like any unknown word. Bit k
// stands for extensionWords[k]; anything new on the wire goes only to peers
// that announced its word.
enum { EXTENSION_COUNT = 11 };
extern const char* const extensionWords[EXTENSION_COUNT + 1];  // null-terminated
const unsigned EXT_AUTH = 1u << 0;  // "AUTH": session-key exchange (net/auth.h)
// "SYNC": maps compared and sent on join and after a quiet second, stamped cell writes.
const unsigned EXT_SYNC = 1u << 1;
// "LAYERS": layer deletions name the map by its file name ("LAYERDEL"), and
// layer moves are sent ("LAYERMOVE"); base peers keep "DELETELAYER".
const unsigned EXT_LAYERS = 1u << 2;
// "MEMBERS": a newly admitted peer is told the session's other members
// ("MEMBERS host:port..."), and joins those it is not linked with, so every
// editor of a session talks to every other whatever the order of joins.
const unsigned EXT_MEMBERS = 1u << 3;
// "CELLS": a large edit (a paste, a cut) goes as blocks of cells of any
// values ("CELLS"), instead of a rectangle per run of equal cells.
const unsigned EXT_CELLS = 1u << 4;
// "PRESENCE": where the user is ("PRESENCE" actions, net/presence.h); never
// shown as network activity, never logged one by one.
const unsigned EXT_PRESENCE = 1u << 5;
// "MERGE": the join's lists name each map's base (the state last shared), and
// a map both sides changed since the same base is merged three-way on both.
const unsigned EXT_MERGE = 1u << 6;
// "NAMES": layer names ("LAYERNAME"), and with "SYNC" each map's sidecar
// (model/sidecar.h) goes with its copy ("SYNCSIDECAR") and into its digest.
const unsigned EXT_NAMES = 1u << 7;
// "RESIZE": a map resized everywhere at once ("MAPRESIZE"); refused while a
// peer lacking it is connected.
const unsigned EXT_RESIZE = 1u << 8;
// "ROLES": a keyed editor may also prove a view key (the joined side's proof
// of each key, net/auth.h), and a peer left out is told so ("LEFTOUT").
const unsigned EXT_ROLES = 1u << 9;
// "ENTITIES": entity definitions and instances, one action per change
// (net/entitynet.h); instances go with the sidecar of "NAMES".
const unsigned EXT_ENTITIES = 1u << 10;
const unsigned LOCAL_EXTENSIONS = (1u << EXTENSION_COUNT) - 1;  // all of them
// The peer on `slot` announced every extension of `ext`.
bool peerHas(int slot, unsigned ext);
// Connected peers that lack some extension of `ext`.
int peersLacking(unsigned ext);
// Queues an action for the peers that announced every extension of `ext`
// only, through their send queues like any action.
void actionSendTo(unsigned ext, const char* header, const char* corps);
// Queues an action for the connected peers that lack some extension of `ext`.
void actionSendWithout(unsigned ext, const char* header, const char* corps);
// Queues an action for the peer on `slot` alone.
void actionSendToPeer(int slot, const char* header, const char* corps);
// Actions waiting in the send queue of the peer on `slot`.
int sendQueuedFor(int slot);

void initNet();
void disconnect(bool retour);
// Joins the editor at `to` (port 0: netPort); 1 when joined.
int client(const NetAddress& to, bool repeat);
// Join command: resolves `ipServer` ("host" or "host:port", a name or an
// address, "v6" or "[v6]:port"; netPort without a port), refuses an address already served.
// 1 joined, 0 no editor answered or refused, -1 the text names no address,
// JOIN_LEFT_OUT refused by an editor that left this one out this session.
enum { JOIN_LEFT_OUT = -2 };
int joinServer(const char* address);
int connectedPeers();
// Copies the name of the peer on slot i (for the peer list); false when free.
bool peerName(int i, char* out, int cap);
// What the client list shows of the peer on slot i, once our connection to
// it is up; false otherwise.
struct PeerInfo {
  char name[256];
  char address[ADDRESS_TEXT_LEN];  // its address as text
  char map[256];     // the map it shows (its presence), else the one it has open here ("" none)
  bool byKey;        // admitted by the session key
  uint32_t colour;   // 0xRRGGBB: told by the peer, else from its name
  bool viewer;       // admitted as a viewer: nothing it sends changes the project
};
bool peerInfo(int i, PeerInfo* out);
// Roles. The peer on `slot` proved only the view key: its edits are dropped.
bool peerIsViewer(int slot);
// Some connected peer admitted this editor by its view key: edits are refused here.
bool netViewOnly();
// Leaves the peer on `slot` out (main thread): it is told ("LEFTOUT"), its
// connection closes, and its address is refused (or asked, with `allow ask`)
// for the rest of this session. False when the slot holds no peer.
bool leavePeerOut(int slot);
// A peer left this editor out since the last call: its name (for the panel).
bool takeLeftOutBy(char* out, size_t cap);
// Applies, on the main thread, the actions received since the last call.
void netPump();
// Waits up to `micros` for received work to apply (returns at once when
// some is queued): the main thread sleeps without polling.
void netWaitQueued(int64_t micros);

// Action senders: send to every peer when `net` is on and a peer is
// connected; the first five also apply the change here. Nothing waits on a
// peer: each has its own ordered, bounded send queue and thread.
void action_SetElementAbsolute(const char* map, int layer, unsigned long x, unsigned long y,
                               int element);
void action_SetElementSquare(const char* map, int layer, unsigned long x1, unsigned long y1,
                             unsigned long x2, unsigned long y2, int element);
// Writes runs of cells (values in `after`) into layer `layer` of m and sends
// them as base actions: rectangles over runs of equal tiles ("DRAWSQUARE",
// one cell "PARTTHIS!"). What the peers' queues cannot take at once goes out
// in slices from netPump, every later action behind it. Calls no model hook
// (the caller records the edit). Sorts and joins `runs`; returns the cells
// written.
size_t action_setCells(Map* m, int layer, std::vector<CellRun>& runs);
// Actions of large edits still waiting to go out; outboxFlush (netPump) sends
// the next slice.
size_t outboxPending();
void outboxFlush();
void action_addLayer(long map, const char* chipset, bool bg);
void action_deleteLayer(long map, long l);
// Moves layer `from` of map slot `map` to index `to`, the layers between
// shifting by one (for neighbours, a swap); false when either index is not a
// layer. Applied here only for now: the layer order is this editor's own.
bool action_moveLayer(long map, int from, int to);
// Sends "NEWMAP" and creates the map file here; false when it was refused.
bool action_newMap(const char* smap, unsigned long w, unsigned long h);
void action_setLayerBGXY(const char* map, int layer, char bg, int x, int y);
void action_sendMapSysname(const char* filename, const char* sysname);
void action_sendPC(const char* chipset);
// Names layer `layer` of the open map in slot `map` here and on the peers
// that announced "NAMES"; false (logged) when refused.
bool action_setLayerName(long map, int layer, const char* name);
// Resizes the open map in slot `map` here and on the peers that announced
// "RESIZE"; false with the reason (for the panel) when a connected peer
// lacks it or the model refuses the size.
bool action_resizeMap(long map, unsigned long w, unsigned long h, char* why, size_t cap);
void action_silentopen(const char* map);
// Moves layer `from` of the open map in slot `map` to index `to` (the
// layers between shift by one) here and on the peers that announced
// "LAYERS"; false when refused.
bool action_moveLayer(long map, int from, int to);

// Sends a cell write to every peer, without applying it here ("PARTTHIS!"
// for one cell, "DRAWSQUARE" for a rectangle), stamped for the peers that
// order writes by stamps.
void actionSendCells(const char* map, int layer, unsigned long x1, unsigned long y1, unsigned long x2,
                     unsigned long y2, int element);
// Queues one action for every connected peer, in order; returns at once.
void actionSend(const char* header, const char* corps);
// Interprets one received action of the peer on slot i (main thread).
void readActions(const char* header, const char* corps, int i);
