// The body of POST /api/event: shallow, or refused whole. (Bodies that are not JSON: the
// garbage table of WebServerTest.)
#include "web/EventBody.h"

#include <gtest/gtest.h>

namespace voryx::web {
namespace {

// `levels` arrays, or objects, one inside the other, around a 0.
std::string nested(int levels, bool objects = false) {
  std::string out;
  for (int i = 0; i < levels; ++i) out += objects ? R"({"a":)" : "[";
  out += "0";
  return out + std::string(levels, objects ? '}' : ']');
}

TEST(EventBodyTest, TakesShallowJsonOnly) {
  const std::string touch =
      R"({"version":1,"target":"window","action":"touch","value":{"x":1,"y":2,"tapCount":1,"inList":true}})";
  struct Case { const char* name; std::string body; bool taken; };
  const Case kCases[] = {
      {"a touch", touch, true},
      {"a value as deep as allowed", R"({"value":)" + nested(kDeepestEventBody - 1) + "}", true},
      {"a level deeper", R"({"value":)" + nested(kDeepestEventBody) + "}", false},
      {"32,000 levels, the most 64 KiB can hold", R"({"value":)" + nested(32000) + "}", false},
      {"objects a level too deep", R"({"value":)" + nested(kDeepestEventBody, true) + "}", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(!parseEventBody(c.body).is_discarded(), c.taken);
  }
}

}  // namespace
}  // namespace voryx::web
