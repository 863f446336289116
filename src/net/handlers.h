// The appliers of received words, named by the wire table (wire.cpp). Each
// runs on the main thread (netPump), checks its body and applies it.
#pragma once

// The open map of that name, its slot in listeMaps, or -1 (logged). A map
// this editor has only as a file is opened for the edit (it stays open
// until the peers leave it and is saved with the others), so an edit to a
// map closed here is applied, never dropped.
int openMapNamed(const char* header, const char* name);

// Base protocol and layer edits (interpreter.cpp).
void onPartThis(const char* header, const char* corps, int slot);
void onDrawSquare(const char* header, const char* corps, int slot);
void onAddLayer(const char* header, const char* corps, int slot);
void onDeleteLayer(const char* header, const char* corps, int slot);
void onPassConditions(const char* header, const char* corps, int slot);
void onBackground(const char* header, const char* corps, int slot);
void onSilentOpen(const char* header, const char* corps, int slot);
void onNewMap(const char* header, const char* corps, int slot);
void onRename(const char* header, const char* corps, int slot);
void onExtensions(const char* header, const char* corps, int slot);
void onLayerDelete(const char* header, const char* corps, int slot);
void onLayerMove(const char* header, const char* corps, int slot);
void onMembers(const char* header, const char* corps, int slot);
void onCells(const char* header, const char* corps, int slot);
// Roles (roles.cpp).
void onViewOnly(const char* header, const char* corps, int slot);
void onLeftOut(const char* header, const char* corps, int slot);
// Project sync (sync.cpp).
void onStamp(const char* header, const char* corps, int slot);
void onSyncList(const char* header, const char* corps, int slot);
void onSyncTileset(const char* header, const char* corps, int slot);
void onSyncMap(const char* header, const char* corps, int slot);
void onSyncData(const char* header, const char* corps, int slot);
void onSyncCheck(const char* header, const char* corps, int slot);
void onSyncWant(const char* header, const char* corps, int slot);
// Presence (presence.cpp).
void onPresence(const char* header, const char* corps, int slot);
// Layer names, map sizes and sidecars (extras.cpp).
void onLayerName(const char* header, const char* corps, int slot);
void onMapResize(const char* header, const char* corps, int slot);
// Entities (entitynet.cpp).
void onEntityPlace(const char* header, const char* corps, int slot);
void onEntityMove(const char* header, const char* corps, int slot);
void onEntityField(const char* header, const char* corps, int slot);
void onEntityDelete(const char* header, const char* corps, int slot);
void onEntityModel(const char* header, const char* corps, int slot);
void onEntityModelDelete(const char* header, const char* corps, int slot);
void onEntityModelRename(const char* header, const char* corps, int slot);
void onSyncSidecar(const char* header, const char* corps, int slot);
