// Three-way merge of map sidecars: entities by id and field, layer names
// along the merged layers, unknown sections whole; broken input refused.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "model/sidecarmerge.h"

using nlohmann::json;

namespace {
const char* const A = "00000000000000a1";
const char* const B = "a100000000000000";  // the same digits elsewhere: another instance

json ent(const char* id, int x, int y, json fields = json::object(), const char* model = "Door") {
  json e = {{"id", id}, {"model", model}, {"x", x}, {"y", y}};
  if (!fields.empty()) e["fields"] = fields;
  return e;
}
std::string doc(json entities, json names = nullptr, json extra = json::object()) {
  json d = extra;
  if (!entities.empty()) d["entities"] = entities;
  if (!names.is_null()) d["layerNames"] = names;
  return d.empty() ? "" : d.dump();
}
json named(const char* name) { return {{"name", name}, {"tileset", "t"}}; }

// Two layers on tileset "t" in every copy; theirs added a third on top.
SidecarLayers twoLayers(bool theirsAdded) {
  SidecarLayers L;
  L.base = L.ours = {"t", "t"};
  L.theirs = theirsAdded ? std::vector<std::string>{"t", "t", "t"} : L.base;
  L.merged = L.theirs;
  L.origins = {{0, 0, 0}, {1, 1, 1}};
  if (theirsAdded) L.origins.push_back({-1, -1, 2});
  return L;
}
}  // namespace

TEST(SidecarMerge, FollowsTheThreeWayRuleByIdAndFieldAndLayer) {
  const json hp1 = {{"hp", 1}}, hp2 = {{"hp", 2}}, hp3 = {{"hp", 3}};
  const std::string base = doc({ent(A, 16, 16, hp1)});
  struct Case {
    const char* what;
    std::string base, ours, theirs;
    MergeSide winner;
    SidecarLayers layers;
    std::string want;     // the merged document
    size_t conflicts;
    const char* line;     // the first conflict's report line ("" for none)
  } cases[] = {
      {"added on either side", base, doc({ent(A, 16, 16, hp1), ent(B, 0, 0)}), doc({ent(A, 16, 16, hp1), ent("00000000000000b2", 1, 1)}),
       MERGE_OURS, {}, doc({ent(A, 16, 16, hp1), ent(B, 0, 0), ent("00000000000000b2", 1, 1)}), 0, ""},
      {"deleted, left alone there", base, "", base, MERGE_OURS, {}, "", 0, ""},
      {"deleted, moved there: kept", base, doc({ent(A, 32, 16, hp1)}), "", MERGE_OURS, {}, doc({ent(A, 32, 16, hp1)}), 1,
       "m entity 00000000000000a1: base present, ours changed, theirs deleted"},
      {"a field changed on one side", base, base, doc({ent(A, 16, 16, hp2)}), MERGE_OURS, {}, doc({ent(A, 16, 16, hp2)}), 0, ""},
      {"a field set alike", base, doc({ent(A, 16, 16, hp2)}), doc({ent(A, 16, 16, hp2)}), MERGE_OURS, {}, doc({ent(A, 16, 16, hp2)}), 0, ""},
      {"a field set differently", base, doc({ent(A, 16, 16, hp2)}), doc({ent(A, 16, 16, hp3)}), MERGE_OURS, {},
       doc({ent(A, 16, 16, hp2)}), 1, "m entity 00000000000000a1 field hp: base 1, ours 2, theirs 3"},
      {"the same, theirs winning", base, doc({ent(A, 16, 16, hp2)}), doc({ent(A, 16, 16, hp3)}), MERGE_THEIRS, {},
       doc({ent(A, 16, 16, hp3)}), 1, ""},
      {"a field back to its default there", base, doc({ent(A, 48, 16, hp1)}), doc({ent(A, 16, 16)}), MERGE_OURS, {},
       doc({ent(A, 48, 16)}), 0, ""},
      {"x moved here, y there: one position", base, doc({ent(A, 48, 16, hp1)}), doc({ent(A, 16, 48, hp1)}), MERGE_OURS, {},
       doc({ent(A, 48, 16, hp1)}), 1, "m entity 00000000000000a1 position: base [16,16], ours [48,16], theirs [16,48]"},
      {"a value alike in text, not in type", base, doc({ent(A, 16, 16, {{"hp", "1"}})}), doc({ent(A, 16, 16, hp2)}),
       MERGE_OURS, {}, doc({ent(A, 16, 16, {{"hp", "1"}})}), 1, "m entity 00000000000000a1 field hp: base 1, ours \"1\", theirs 2"},
      {"one id added on both sides", "", doc({ent(A, 0, 0, hp1)}), doc({ent(A, 0, 0, hp2)}), MERGE_OURS, {},
       doc({ent(A, 0, 0, hp1)}), 1, "m entity 00000000000000a1 field hp: base -, ours 1, theirs 2"},
      {"names on two layers, and on a layer added", "", doc({}, {named("North"), nullptr}),
       doc({}, {nullptr, named("East"), named("Top")}), MERGE_OURS, twoLayers(true),
       doc({}, {named("North"), named("East"), named("Top")}), 0, ""},
      {"one layer named differently", doc({}, {named("Road"), nullptr}), doc({}, {named("North"), nullptr}),
       doc({}, {named("South"), nullptr}), MERGE_OURS, twoLayers(false), doc({}, {named("North"), nullptr}), 1,
       "m layer 0 name: base \"Road\", ours \"North\", theirs \"South\""},
      {"a name back to the default there", doc({}, {named("Road"), nullptr}), doc({}, {named("Road"), named("Wall")}),
       "", MERGE_OURS, twoLayers(false), doc({}, {nullptr, named("Wall")}), 0, ""},
      {"an unknown section changed on one side", doc({}, nullptr, {{"notes", 1}}), doc({}, nullptr, {{"notes", 1}}),
       doc({}, nullptr, {{"notes", 2}, {"more", true}}), MERGE_OURS, {}, doc({}, nullptr, {{"notes", 2}, {"more", true}}), 0, ""},
      {"an unknown section changed on both", doc({}, nullptr, {{"notes", 1}}), doc({}, nullptr, {{"notes", 5}}),
       doc({}, nullptr, {{"notes", 2}}), MERGE_OURS, {}, doc({}, nullptr, {{"notes", 5}}), 1, "m section notes: base 1, ours 5, theirs 2"},
  };
  for (const Case& c : cases) {
    std::string out, why;
    SidecarMergeReport r;
    ASSERT_TRUE(mergeSidecars(c.base, c.ours, c.theirs, c.layers, c.winner, &out, &r, &why)) << c.what << ": " << why;
    EXPECT_EQ(out.empty() ? json() : json::parse(out), c.want.empty() ? json() : json::parse(c.want)) << c.what;
    EXPECT_EQ(r.total, c.conflicts) << c.what;
    if (c.line[0] && !r.conflicts.empty()) {
      EXPECT_EQ(sidecarConflictText("m", r.conflicts[0]), c.line) << c.what;
    }
    // One side as the base: the merge is the other side, order included.
    ASSERT_TRUE(mergeSidecars(c.base, c.base, c.theirs, c.layers, c.winner, &out, &r, &why));
    if (!c.layers.merged.size() || c.layers.merged.size() == c.layers.theirs.size()) {
      EXPECT_EQ(out.empty() ? json() : json::parse(out), c.theirs.empty() ? json() : json::parse(c.theirs)) << c.what;
    }
  }
}

TEST(SidecarMerge, RefusesBrokenCopiesAndBoundsTheValuesItShows) {
  const std::string good = doc({ent(A, 0, 0)});
  const std::string broken[] = {
      "{\"entities\": [", "[1, 2]", doc({ent("00000000000000A1", 0, 0)}), doc({ent(A, 0, 0), ent(A, 16, 0)}),
      doc({ent(A, -1, 0)}), doc({ent(A, 0, 0, json::object(), "../up")}), doc({}, {{{"name", 5}}}),
      std::string(20, '[') + std::string(20, ']'), "{\"entities\": \"all\"}",
  };
  for (const std::string& b : broken)
    for (int side = 0; side < 3; side++) {
      std::string out = "left", why;
      SidecarMergeReport r;
      EXPECT_FALSE(mergeSidecars(side == 0 ? b : good, side == 1 ? b : good, side == 2 ? b : good, {}, MERGE_OURS,
                                 &out, &r, &why))
          << b << " as side " << side;
      EXPECT_FALSE(why.empty()) << b;
      EXPECT_TRUE(out.empty()) << b;
    }
  // A long value merges whole and is shown shortened.
  const std::string longText(100000, 'x');
  std::string out, why;
  SidecarMergeReport r;
  ASSERT_TRUE(mergeSidecars(good, doc({ent(A, 0, 0, {{"note", longText}})}), doc({ent(A, 0, 0, {{"note", "y"}})}), {},
                            MERGE_OURS, &out, &r, &why))
      << why;
  EXPECT_EQ(json::parse(out)["entities"][0]["fields"]["note"], longText);
  ASSERT_EQ(r.total, 1u);
  EXPECT_LE(sidecarConflictText("m", r.conflicts[0]).size(), 200u);
}
