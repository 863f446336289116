// Session members: every editor of a session links with every other.
//
// A newly admitted peer that announced "MEMBERS" is told the addresses of
// this editor's other peers ("MEMBERS host:port host:port..."); it joins
// each one it is not linked with yet, with the usual handshake, key proof
// and allow rules, on a thread of its own so the editor never waits. Since
// each side of every new link tells the other, two sessions joined at any
// point become one mesh, and every edit reaches every editor directly.
#pragma once
#include <stdint.h>

// A peer's "EXTENSIONS" was applied (main thread): it is told the members.
void membersPeerAnnounced(int slot);
// A received "MEMBERS" body of the peer on `slot` (main thread).
void membersReceived(int slot, const char* corps);
// Waits for the member joins under way; they give up on `stop` or `disco`.
void membersStop();
// The addresses a "MEMBERS" body names that are worth a join: well formed
// ("a.b.c.d:port", a port from 1024), not linked yet, not tried within
// MEMBER_RETRY_MS (tests).
enum { MEMBERS_MAX = 63, MEMBER_RETRY_MS = 30000 };
int membersToJoin(const char* corps, struct NetAddress* out, int cap);
// Forgets the addresses tried (tests).
void membersReset();
