// Entities between editors that announced "ENTITIES" (entitynet.cpp): each
// change applied here, stamped with the logical clock and site id, then sent
// as its own action. Main thread only.
#pragma once
#include <string>

#include "model/entities.h"

// A fresh stamp: the clock moved on, this editor's site.
EntityStamp entityStampNext();
// Each returns false (logged; why for the panel where given) when refused.
bool action_entityPlace(Map* m, const Entity& e, const char** why);
bool action_entityMove(Map* m, uint64_t id, int32_t x, int32_t y);
bool action_entitySetField(Map* m, uint64_t id, const std::string& field, const nlohmann::json& v);
bool action_entityDelete(Map* m, uint64_t id);
// A definition written (and sent), or removed with its instances on every open map.
bool action_entityModel(const EntityModel& d, std::string* why);
// A definition renamed: its instances on every map follow (how many in moved).
bool action_entityModelRename(const std::string& from, const EntityModel& to, int* moved, std::string* why);
bool action_entityModelDelete(const std::string& name, int* removed, std::string* why);
