// Reading a scene file's JSON: each value with its path in the document
// ("$.objects[1].motion.keys[0]"), so that every fault names where it is, and
// every number checked against the scene's limits. A fault is thrown as a
// SceneFault and caught once, where the file is parsed.
#ifndef VESTREL_REFERENCE_HOST_PLAY_SCENE_NODE_H
#define VESTREL_REFERENCE_HOST_PLAY_SCENE_NODE_H

#include <math.h>
#include <stdint.h>

#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hostkit/scene.h"

namespace vhost {

// A fault in the scene: where (a JSON path) and what.
struct SceneFault {
  std::string where;
  std::string what;
};

inline const char* TypeName(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::null: return "null";
    case nlohmann::json::value_t::boolean: return "a boolean";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned: return "an integer";
    case nlohmann::json::value_t::number_float: return "a number with a fraction";
    case nlohmann::json::value_t::string: return "a string";
    case nlohmann::json::value_t::array: return "an array";
    case nlohmann::json::value_t::object: return "an object";
    default: return "something else";
  }
}

// One value of the document together with its path, for messages.
class SceneNode {
 public:
  SceneNode(const nlohmann::json& value, std::string path, const SceneLimits& limits)
      : value_(value), path_(std::move(path)), limits_(limits) {}

  const nlohmann::json& value() const { return value_; }
  const std::string& path() const { return path_; }
  const SceneLimits& limits() const { return limits_; }

  [[noreturn]] void Fail(const std::string& what) const { throw SceneFault{path_, what}; }

  void ExpectObject() const {
    if (!value_.is_object()) Fail(std::string("expected an object, got ") + TypeName(value_));
  }

  // Refuses keys that the format does not have: a typo would otherwise be
  // silently ignored. "comment" is allowed everywhere.
  void AllowOnly(std::initializer_list<const char*> keys) const {
    ExpectObject();
    for (auto it = value_.begin(); it != value_.end(); ++it) {
      if (it.key() == "comment") continue;
      bool known = false;
      for (const char* key : keys) known = known || it.key() == key;
      if (!known) {
        std::string list;
        for (const char* key : keys) list += std::string(list.empty() ? "" : ", ") + key;
        Child(it.key()).Fail("unknown key \"" + it.key() + "\" (expected one of: " + list + ")");
      }
    }
  }

  bool Has(const char* key) const { return value_.is_object() && value_.contains(key); }

  SceneNode Child(const std::string& key) const {
    return SceneNode(value_.at(key), path_ + "." + key, limits_);
  }

  SceneNode Required(const char* key) const {
    ExpectObject();
    if (!value_.contains(key)) Fail(std::string("missing \"") + key + "\"");
    return Child(key);
  }

  SceneNode Element(size_t index) const {
    return SceneNode(value_.at(index), path_ + "[" + std::to_string(index) + "]", limits_);
  }

  size_t ArraySize(size_t minimum, size_t maximum) const {
    if (!value_.is_array()) Fail(std::string("expected an array, got ") + TypeName(value_));
    if (value_.size() < minimum)
      Fail("expected at least " + std::to_string(minimum) + " elements, got " +
           std::to_string(value_.size()));
    if (value_.size() > maximum)
      Fail("at most " + std::to_string(maximum) + " elements are allowed, got " +
           std::to_string(value_.size()));
    return value_.size();
  }

  int64_t Integer(int64_t minimum, int64_t maximum) const {
    if (!value_.is_number_integer())
      Fail(std::string("expected an integer, got ") + TypeName(value_));
    if (value_.is_number_unsigned() &&
        value_.get<uint64_t>() > uint64_t(std::numeric_limits<int64_t>::max())) {
      Fail("the integer is out of range (" + std::to_string(minimum) + " to " +
           std::to_string(maximum) + ")");
    }
    int64_t number = value_.get<int64_t>();
    if (number < minimum || number > maximum) {
      Fail(std::to_string(number) + " is out of range (" + std::to_string(minimum) + " to " +
           std::to_string(maximum) + ")");
    }
    return number;
  }

  int32_t Int32() const { return static_cast<int32_t>(Integer(INT32_MIN, INT32_MAX)); }

  double Number(double minimum, double maximum) const {
    if (!value_.is_number()) Fail(std::string("expected a number, got ") + TypeName(value_));
    double number = value_.get<double>();
    if (!(number >= minimum && number <= maximum)) {
      std::ostringstream text;
      text << number << " is out of range (" << minimum << " to " << maximum << ")";
      Fail(text.str());
    }
    return number;
  }

  double Coordinate() const { return Number(-limits_.maxCoordinate, limits_.maxCoordinate); }

  bool Boolean() const {
    if (!value_.is_boolean()) Fail(std::string("expected true or false, got ") + TypeName(value_));
    return value_.get<bool>();
  }

  std::string Text(size_t maximum = 1 << 16) const {
    if (!value_.is_string()) Fail(std::string("expected a string, got ") + TypeName(value_));
    const std::string& text = value_.get_ref<const std::string&>();
    if (text.size() > maximum)
      Fail("the text is longer than " + std::to_string(maximum) + " bytes");
    return text;
  }

  // A button value: an integer (stored as it is) or a boolean (1 or 0).
  int32_t ButtonValue() const {
    return value_.is_boolean() ? (value_.get<bool>() ? 1 : 0) : Int32();
  }

  Vec3 Position() const {
    ArraySize(3, 3);
    return {Element(0).Coordinate(), Element(1).Coordinate(), Element(2).Coordinate()};
  }

 private:
  const nlohmann::json& value_;
  std::string path_;
  const SceneLimits& limits_;
};

}  // namespace vhost

#endif
